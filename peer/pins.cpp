#include "peer/pins.h"

#include "util/text.h"

#include <openssl/evp.h>

namespace dz::peer {

std::string TlsCapabilityWords(const std::string &fingerprint)
{
    return std::string(kTlsWord) + "|" + fingerprint;
}

std::string FingerprintOfWord(std::string_view word)
{
    if (word.size() != 64)
        return {};
    std::string fingerprint(word);
    for (char &c : fingerprint) {
        if (c >= 'A' && c <= 'F')
            c = static_cast<char>(c - 'A' + 'a');
        else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return {};
    }
    return fingerprint;
}

TTlsCapability ParseTlsCapability(const std::string &message)
{
    TTlsCapability offer;
    // Field 256 would be the whole text again (fields count modulo 256).
    for (int n = 2; n <= 255; ++n) {
        const std::string word = ExtractField(DelimEqBar(), message, n);
        if (word.empty())
            break;
        if (word == kTlsWord && !offer.tls) {
            offer.tls = true;
            if (n < 255)
                offer.fingerprint = FingerprintOfWord(ExtractField(DelimEqBar(), message, n + 1));
        }
    }
    return offer;
}

std::string VerificationCode(const std::string &fingerprintA, const std::string &fingerprintB)
{
    const std::string a = FingerprintOfWord(fingerprintA), b = FingerprintOfWord(fingerprintB);
    if (a.empty() || b.empty())
        return {};
    const std::string both = a < b ? a + b : b + a;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(both.data(), both.size(), digest, &size, EVP_sha256(), nullptr) != 1)
        return {};
    static const char kHex[] = "0123456789abcdef";
    std::string code;
    for (int i = 0; i < 6; ++i) {
        if (i == 2 || i == 4)
            code += '-';
        code += kHex[digest[i] >> 4];
        code += kHex[digest[i] & 15];
    }
    return code;
}

namespace {

TPinVerdict Verdict(TPinAction action, TPinNotice notice, TLinkState state = TLinkState::Clear,
                    std::string fingerprint = {})
{
    return {action, notice, state, std::move(fingerprint)};
}

TLinkState EncryptedState(const TPin &pin)
{
    return pin.confirmed ? TLinkState::EncryptedConfirmed : TLinkState::EncryptedUnconfirmed;
}

} // namespace

TPinVerdict DecidePin(const TPinFacts &facts)
{
    const bool tls = facts.channel == TChannel::Tls;
    const std::string linkKey = tls ? FingerprintOfWord(facts.linkFingerprint) : std::string();
    if (tls && linkKey.empty())
        return Verdict(TPinAction::Refuse, TPinNotice::AnnouncedKeyMismatch); // a link without a key is no TLS
    const TTlsCapability &offer = facts.capability;
    const bool capability = facts.kind == TMessageKind::Capability;

    if (facts.namePin) {
        const TPin &pin = *facts.namePin;
        if (!tls)
            return Verdict(TPinAction::Refuse, TPinNotice::ClearClaimsPinnedName);
        if (linkKey != pin.fingerprint)
            return Verdict(TPinAction::AskNewKey, TPinNotice::KeyChanged, TLinkState::Clear, linkKey);
        if (capability && !offer.Offered())
            return Verdict(TPinAction::Refuse, TPinNotice::Downgrade);
        if (capability && offer.fingerprint != pin.fingerprint)
            return Verdict(TPinAction::Refuse, TPinNotice::AnnouncedKeyMismatch);
        return Verdict(TPinAction::Accept, TPinNotice::None, EncryptedState(pin));
    }
    if (!tls && facts.addressPin)
        return Verdict(TPinAction::Refuse, TPinNotice::ClearFromPinnedAddress);
    if (!capability) {
        // A TLS link proved its key: that is a first meeting as much as an
        // offer is, and the window must never show a key that is not pinned.
        // (The peer pinned this copy first, and its offer is still on its way.)
        if (tls)
            return Verdict(TPinAction::Pin, TPinNotice::None, TLinkState::EncryptedUnconfirmed, linkKey);
        return Verdict(TPinAction::Accept, TPinNotice::None);
    }
    if (!offer.Offered()) {
        // Over TLS a copy has a key, so a capability without it is a lie.
        if (tls)
            return Verdict(TPinAction::Refuse, TPinNotice::Downgrade);
        return Verdict(TPinAction::Accept, TPinNotice::OlderCopy);
    }
    if (tls && offer.fingerprint != linkKey)
        return Verdict(TPinAction::Refuse, TPinNotice::AnnouncedKeyMismatch);
    return Verdict(TPinAction::Pin, TPinNotice::None, TLinkState::EncryptedUnconfirmed, offer.fingerprint);
}

} // namespace dz::peer
