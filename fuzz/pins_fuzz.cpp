// The TLS offer of a capability message, and the pin decisions for it
// under every combination of facts, checked against the rules that must
// hold whatever the message holds.
//
// Input: one byte of facts, then the capability message's words (the text
// after "Dizaruz_Can="). The facts byte, from its low bits up:
//   2 bits  the name's pin: none, the key A unconfirmed, A confirmed, none
//   1 bit   another name pinned at the source address
//   1 bit   the link: clear or TLS
//   2 bits  the key the TLS link showed: A, B, the one offered, not a key
//   1 bit   the capability message (else any other message)

#include "check.h"
#include "peer/pins.h"

#include <cstdint>
#include <string>

namespace {

using namespace dz::peer;

const std::string kKeyA(64, 'a');
const std::string kKeyB(64, 'b');

bool IsLowerFingerprint(const std::string &text)
{
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint8_t bits = data[0];
    const std::string message = "Dizaruz_Can=" + std::string(reinterpret_cast<const char *>(data + 1), size - 1);

    const TTlsCapability offer = ParseTlsCapability(message);
    FUZZ_CHECK(offer.fingerprint.empty() || IsLowerFingerprint(offer.fingerprint));
    FUZZ_CHECK(offer.fingerprint.empty() || offer.tls);
    FUZZ_CHECK(FingerprintOfWord(offer.fingerprint) == offer.fingerprint);

    TPinFacts f;
    const int namePin = bits & 3;
    if (namePin == 1 || namePin == 2)
        f.namePin = TPin {kKeyA, namePin == 2, "10.0.0.2"};
    if (bits & 4)
        f.addressPin = TPin {kKeyB, true, "10.0.0.2"};
    f.channel = (bits & 8) ? TChannel::Tls : TChannel::Clear;
    const std::string linkKeys[] = {kKeyA, kKeyB, offer.fingerprint, "not a key"};
    if (f.channel == TChannel::Tls)
        f.linkFingerprint = linkKeys[(bits >> 4) & 3];
    const bool capability = bits & 64;
    f.kind = capability ? TMessageKind::Capability : TMessageKind::Message;
    if (capability)
        f.capability = offer;

    const TPinVerdict v = DecidePin(f);
    const bool taken = v.action == TPinAction::Accept || v.action == TPinAction::Pin;
    const bool tlsWithKey = f.channel == TChannel::Tls && IsLowerFingerprint(f.linkFingerprint);
    FUZZ_CHECK(taken == (v.notice == TPinNotice::None || v.notice == TPinNotice::OlderCopy));
    if (f.namePin && taken) {
        FUZZ_CHECK(v.action == TPinAction::Accept);
        FUZZ_CHECK(tlsWithKey && f.linkFingerprint == f.namePin->fingerprint);
        FUZZ_CHECK(!capability || offer.fingerprint == f.namePin->fingerprint);
        FUZZ_CHECK((v.state == TLinkState::EncryptedConfirmed) == f.namePin->confirmed);
    }
    if (f.channel == TChannel::Clear && (f.namePin || f.addressPin))
        FUZZ_CHECK(v.action == TPinAction::Refuse);
    if (v.action == TPinAction::AskNewKey)
        FUZZ_CHECK(f.namePin && tlsWithKey && v.fingerprint == f.linkFingerprint &&
                   v.fingerprint != f.namePin->fingerprint);
    if (v.action == TPinAction::Pin) {
        FUZZ_CHECK(!f.namePin && IsLowerFingerprint(v.fingerprint));
        if (capability)
            FUZZ_CHECK(offer.Offered() && v.fingerprint == offer.fingerprint);
        FUZZ_CHECK(f.channel == TChannel::Clear ? capability : v.fingerprint == f.linkFingerprint);
    }
    // The window never shows a key that is neither pinned nor pinned now.
    if (v.state != TLinkState::Clear && !f.namePin)
        FUZZ_CHECK(v.action == TPinAction::Pin);
    if (v.state != TLinkState::Clear)
        FUZZ_CHECK(tlsWithKey || v.action == TPinAction::Pin);
    if (f.channel == TChannel::Tls && !tlsWithKey)
        FUZZ_CHECK(v.action == TPinAction::Refuse);

    // The code both users compare is the same on both sides.
    if (offer.Offered()) {
        const std::string code = VerificationCode(offer.fingerprint, kKeyA);
        FUZZ_CHECK(code == VerificationCode(kKeyA, offer.fingerprint));
        FUZZ_CHECK(code.size() == 14 && code[4] == '-' && code[9] == '-');
    }
    return 0;
}
