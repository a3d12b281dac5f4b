// The TLS capability words, the verification code, the pin decisions over
// every combination of name, address, key and capability, and the pins in
// the settings store.

#include "peer/pinstore.h"
#include "peer/pins.h"

#include <gtest/gtest.h>

#include <QFile>

#include <filesystem>
#include <regex>
#include <unistd.h>

using namespace dz;
using namespace dz::peer;

namespace {

const std::string kKeyA(64, 'a');
const std::string kKeyB = [] {
    std::string k;
    for (int i = 0; i < 4; ++i)
        k += "0123456789abcdef";
    return k;
}();
const std::string kKeyC(64, 'c');

} // namespace

TEST(TlsCapability, ReadsTheKeyAfterTheWordOnly)
{
    const std::string upper = "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF";
    struct Case {
        std::string message;
        bool tls;
        std::string fingerprint;
    } cases[] = {
        {"Dizaruz_Can=BigFiles|NoTick|" + TlsCapabilityWords(kKeyB), true, kKeyB},
        {"Dizaruz_Can=Tls|" + upper + "|Later", true, kKeyB},  // either case, more words after
        {"Dizaruz_Can=" + kKeyB + "|Tls", true, ""},          // the key before the word is no key
        {"Dizaruz_Can=Tls|" + kKeyB.substr(1), true, ""},     // 63 digits
        {"Dizaruz_Can=Tls|" + kKeyB + "0", true, ""},         // 65 digits
        {"Dizaruz_Can=Tls|" + kKeyB.substr(1) + "g", true, ""},
        {"Dizaruz_Can=Tls||" + kKeyB, true, ""},               // runs of delimiters act as one, but
        {"Dizaruz_Can=BigFiles| |Tls|" + kKeyB, false, ""},    // a blank word ends the list
        {"Dizaruz_Can=Tls|" + kKeyB + "|Tls|" + kKeyC, true, kKeyB}, // the first offer counts
        {"Dizaruz_Can=tls|" + kKeyB, false, ""},
        {"Dizaruz_Can=BigFiles|NoTick", false, ""},
    };
    // "Tls||key": ExtractField treats the run "||" as one delimiter.
    cases[6].fingerprint = kKeyB;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        const TTlsCapability offer = ParseTlsCapability(c.message);
        EXPECT_EQ(offer.tls, c.tls);
        EXPECT_EQ(offer.fingerprint, c.fingerprint);
    }
    // The 255th word is the last the parser reads, as in the core.
    std::string many = "Dizaruz_Can=";
    for (int i = 2; i < 255; ++i)
        many += "W|";
    EXPECT_TRUE(ParseTlsCapability(many + "Tls|" + kKeyB).tls);
    EXPECT_EQ(ParseTlsCapability(many + "Tls|" + kKeyB).fingerprint, "");
}

TEST(VerificationCode, SameOnBothSidesAndFromBothKeys)
{
    // SHA-256 of kKeyB + kKeyA (the smaller first), computed apart with sha256sum.
    EXPECT_EQ(VerificationCode(kKeyA, kKeyB), "69d8-2e8e-1b75");
    EXPECT_EQ(VerificationCode(kKeyB, kKeyA), "69d8-2e8e-1b75");
    std::string upperA = kKeyA;
    for (char &c : upperA)
        c = static_cast<char>(std::toupper(c));
    EXPECT_EQ(VerificationCode(upperA, kKeyB), "69d8-2e8e-1b75");
    EXPECT_NE(VerificationCode(kKeyA, kKeyC), VerificationCode(kKeyA, kKeyB));
    EXPECT_TRUE(std::regex_match(VerificationCode(kKeyA, kKeyC), std::regex("[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}")));
    EXPECT_EQ(VerificationCode(kKeyA, ""), "");
    EXPECT_EQ(VerificationCode(kKeyA.substr(1), kKeyB), "");
}

// Every combination of the name's pin, the address's pin, the link and the
// capability, against the rules that must hold whatever the combination.
TEST(DecidePin, EveryCombinationKeepsTheRules)
{
    const std::optional<TPin> namePins[] = {std::nullopt, TPin {kKeyA, false, "10.0.0.2"}, TPin {kKeyA, true, "10.0.0.2"}};
    const std::optional<TPin> addressPins[] = {std::nullopt, TPin {kKeyC, true, "10.0.0.2"}};
    const std::pair<TChannel, std::string> links[] = {
        {TChannel::Clear, ""}, {TChannel::Tls, kKeyA}, {TChannel::Tls, kKeyB}, {TChannel::Tls, "not a key"}};
    const std::optional<TTlsCapability> capabilities[] = {
        std::nullopt,        TTlsCapability {false, ""}, TTlsCapability {true, ""},
        TTlsCapability {true, kKeyA}, TTlsCapability {true, kKeyB}};
    int combinations = 0;
    for (const auto &namePin : namePins)
        for (const auto &addressPin : addressPins)
            for (const auto &[channel, linkKey] : links)
                for (const auto &capability : capabilities) {
                    ++combinations;
                    TPinFacts f;
                    f.kind = capability ? TMessageKind::Capability : TMessageKind::Message;
                    f.namePin = namePin;
                    f.addressPin = addressPin;
                    f.channel = channel;
                    f.linkFingerprint = linkKey;
                    if (capability)
                        f.capability = *capability;
                    const TPinVerdict v = DecidePin(f);
                    SCOPED_TRACE(::testing::Message()
                                 << "pin " << (namePin ? namePin->confirmed + 1 : 0) << " address " << !!addressPin
                                 << " link " << static_cast<int>(channel) << linkKey.substr(0, 3) << " cap "
                                 << (capability ? std::to_string(capability->tls) + capability->fingerprint.substr(0, 3) : "-"));
                    const bool taken = v.action == TPinAction::Accept || v.action == TPinAction::Pin;
                    const bool tlsWithKey = channel == TChannel::Tls && linkKey.size() == 64;
                    // Nothing is dropped without telling the user.
                    EXPECT_EQ(taken, v.notice == TPinNotice::None || v.notice == TPinNotice::OlderCopy);
                    // A pinned name is heard only over TLS with its key, and
                    // its capabilities must offer that same key.
                    if (namePin && taken) {
                        EXPECT_TRUE(tlsWithKey && linkKey == namePin->fingerprint);
                        EXPECT_TRUE(!capability || capability->fingerprint == namePin->fingerprint);
                        EXPECT_EQ(v.action, TPinAction::Accept);
                        EXPECT_EQ(v.state == TLinkState::EncryptedConfirmed, namePin->confirmed);
                    }
                    // Clear under a pinned name or from a pinned address: refused.
                    if (channel == TChannel::Clear && (namePin || addressPin)) {
                        EXPECT_EQ(v.action, TPinAction::Refuse);
                    }
                    // A new key is offered to the user only for a pinned name
                    // over a link that proved another key.
                    if (v.action == TPinAction::AskNewKey) {
                        EXPECT_TRUE(namePin && tlsWithKey && linkKey != namePin->fingerprint);
                        EXPECT_EQ(v.fingerprint, linkKey);
                    }
                    // Pinning only at a first meeting: of the key offered, or
                    // of the key a TLS link proved; never against each other.
                    if (v.action == TPinAction::Pin) {
                        EXPECT_FALSE(namePin);
                        EXPECT_EQ(v.fingerprint, capability ? capability->fingerprint : linkKey);
                        EXPECT_TRUE(channel == TChannel::Clear ? capability.has_value() : linkKey == v.fingerprint);
                    }
                    // Shown encrypted only with a pin, or what is pinned at once.
                    if (v.state != TLinkState::Clear && !namePin) {
                        EXPECT_EQ(v.action, TPinAction::Pin);
                    }
                    // Shown encrypted only when it is.
                    if (v.state != TLinkState::Clear) {
                        EXPECT_TRUE(tlsWithKey || v.action == TPinAction::Pin);
                    }
                    // A link that showed no key never counts as TLS.
                    if (channel == TChannel::Tls && !tlsWithKey) {
                        EXPECT_EQ(v.action, TPinAction::Refuse);
                    }
                }
    EXPECT_EQ(combinations, 3 * 2 * 4 * 5);
}

TEST(DecidePin, TheCasesUsersMeet)
{
    using A = TPinAction;
    using N = TPinNotice;
    using S = TLinkState;
    const TPin pinned {kKeyA, false, "10.0.0.2"};
    const TPin confirmed {kKeyA, true, "10.0.0.2"};
    const auto capability = [](bool tls, const std::string &key) {
        return TPinFacts {TMessageKind::Capability, {}, {}, TChannel::Clear, "", TTlsCapability {tls, key}};
    };
    struct Case {
        const char *name;
        TPinFacts facts;
        TPinVerdict expected;
    } cases[] = {
        {"first meeting with an encrypting copy", capability(true, kKeyA), {A::Pin, N::None, S::EncryptedUnconfirmed, kKeyA}},
        {"an older copy", capability(false, ""), {A::Accept, N::OlderCopy, S::Clear, ""}},
        {"first message over TLS before the offer", {TMessageKind::Message, {}, {}, TChannel::Tls, kKeyA, {}}, {A::Pin, N::None, S::EncryptedUnconfirmed, kKeyA}},
        {"chat from anyone unpinned", {TMessageKind::Message, {}, {}, TChannel::Clear, "", {}}, {A::Accept, N::None, S::Clear, ""}},
        {"pinned peer over TLS", {TMessageKind::Message, confirmed, {}, TChannel::Tls, kKeyA, {}}, {A::Accept, N::None, S::EncryptedConfirmed, ""}},
        {"pinned peer's capabilities", {TMessageKind::Capability, pinned, {}, TChannel::Tls, kKeyA, {true, kKeyA}}, {A::Accept, N::None, S::EncryptedUnconfirmed, ""}},
        {"clear ItsMe under a pinned name", {TMessageKind::Message, pinned, {}, TChannel::Clear, "", {}}, {A::Refuse, N::ClearClaimsPinnedName, S::Clear, ""}},
        {"clear chat from a pinned address", {TMessageKind::Message, {}, pinned, TChannel::Clear, "", {}}, {A::Refuse, N::ClearFromPinnedAddress, S::Clear, ""}},
        {"another user of the same computer", {TMessageKind::Message, pinned, {}, TChannel::Tls, kKeyB, {}}, {A::AskNewKey, N::KeyChanged, S::Clear, kKeyB}},
        {"Tls stripped from a pinned peer", {TMessageKind::Capability, pinned, {}, TChannel::Tls, kKeyA, {false, ""}}, {A::Refuse, N::Downgrade, S::Clear, ""}},
        {"pinned peer announcing another key", {TMessageKind::Capability, pinned, {}, TChannel::Tls, kKeyA, {true, kKeyB}}, {A::Refuse, N::AnnouncedKeyMismatch, S::Clear, ""}},
        {"TLS link announcing another key", {TMessageKind::Capability, {}, {}, TChannel::Tls, kKeyA, {true, kKeyB}}, {A::Refuse, N::AnnouncedKeyMismatch, S::Clear, ""}},
        {"TLS link without an offer", {TMessageKind::Capability, {}, {}, TChannel::Tls, kKeyA, {false, ""}}, {A::Refuse, N::Downgrade, S::Clear, ""}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DecidePin(c.facts), c.expected);
    }
}

TEST(PinStore, WrittenAtOnceAndReadBack)
{
    char folder[] = "/tmp/dz-pins-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/" + TSettingsStore::kFileName;
    {
        TSettingsStore settings(path);
        TPinStore pins(settings);
        EXPECT_FALSE(pins.Pin("alpha", "not a key", "10.0.0.2"));
        EXPECT_TRUE(pins.Pin("alpha", kKeyB, "10.0.0.2"));
        EXPECT_TRUE(pins.Pin("\xc1\xc5\xd2\xc0", kKeyC, "10.0.0.3")); // a Cyrillic name
        EXPECT_TRUE(pins.Confirm("ALPHA"));
        EXPECT_FALSE(pins.Confirm("gamma"));
    }
    TSettingsStore settings(path); // what the disk holds
    TPinStore pins(settings);
    EXPECT_EQ(pins.Find("Alpha"), (TPin {kKeyB, true, "10.0.0.2"}));
    EXPECT_EQ(pins.Find("\xe1\xe5\xf2\xe0"), (TPin {kKeyC, false, "10.0.0.3"})); // lower case
    const auto atAddress = pins.FindByAddress("10.0.0.3");
    ASSERT_TRUE(atAddress);
    EXPECT_EQ(atAddress->first, "\xc1\xc5\xd2\xc0");

    // The facts: a message claiming a name from another pinned peer's address.
    const TPinFacts facts = pins.Facts(TMessageKind::Message, "newcomer", "10.0.0.2", TChannel::Clear, "");
    EXPECT_FALSE(facts.namePin);
    EXPECT_TRUE(facts.addressPin);
    EXPECT_EQ(DecidePin(facts).notice, TPinNotice::ClearFromPinnedAddress);
    // ... and the pinned name itself from its own address: its own pin, not the address's.
    const TPinFacts own = pins.Facts(TMessageKind::Message, "alpha", "10.0.0.2", TChannel::Tls, kKeyB);
    EXPECT_FALSE(own.addressPin);
    EXPECT_EQ(DecidePin(own).state, TLinkState::EncryptedConfirmed);

    // An entry the user damaged counts as none; forgetting is one call.
    settings.Put(QString::fromLatin1(TPinStore::kKey),
                 QJsonObject {{QStringLiteral("ALPHA"), QStringLiteral("garbage")},
                              {QStringLiteral("BETA"), QJsonObject {{QStringLiteral("fingerprint"), 5}}}});
    EXPECT_FALSE(pins.Find("alpha"));
    EXPECT_FALSE(pins.Find("beta"));
    EXPECT_TRUE(pins.Pin("alpha", kKeyA, ""));
    EXPECT_TRUE(pins.Forget("alpha"));
    EXPECT_FALSE(TPinStore(*std::make_unique<TSettingsStore>(path)).Find("alpha"));
    std::filesystem::remove_all(folder);
}
