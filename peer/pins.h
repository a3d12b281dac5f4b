#pragma once
// Keys pinned on first use, between two copies of Dizaruz: the capability
// words that carry a copy's key, the verification code both users compare,
// and what a message from a name or an address may do given the pins. Pure
// functions on their inputs: no sockets, no files, any thread.
//
// A copy that can encrypt adds two words to its capability message:
//
//     Dizaruz_Can=BigFiles|NoTick|Tls|<64 hex digits>
//
// `Tls`, and right after it the SHA-256 fingerprint of its certificate
// (DER) in 64 hex digits, lowercase when sent, either case when read. The
// fingerprint is the word after `Tls`, nothing else; a `Tls` without one is
// not an offer (an older or damaged copy: it stays clear).

#include <optional>
#include <string>
#include <string_view>

namespace dz::peer {

inline constexpr const char *kTlsWord = "Tls";

// "Tls|<fingerprint>": the words to append, after a '|', to the capability
// message. fingerprint: 64 lowercase hex digits.
std::string TlsCapabilityWords(const std::string &fingerprint);

// The fingerprint in a word of exactly 64 hex digits, lowercased; "" for
// any other word.
std::string FingerprintOfWord(std::string_view word);

struct TTlsCapability {
    bool tls = false;        // the word `Tls` was there
    std::string fingerprint; // the word after it, lowercased; "" when not a fingerprint
    bool Offered() const { return tls && !fingerprint.empty(); }
};
// The TLS offer in a capability message ("Dizaruz_Can=..."), read as the
// core reads its words: split on '=' and '|', words 2 to 255, up to the
// first empty one.
TTlsCapability ParseTlsCapability(const std::string &message);

// The code both users compare: SHA-256 of the two fingerprints' texts, the
// smaller first (so both sides compute the same), of which the first 48
// bits are shown as 12 hex digits in three groups: "3f9a-01c2-7be4". ""
// when either is not a fingerprint.
std::string VerificationCode(const std::string &fingerprintA, const std::string &fingerprintB);

// A name pinned to a key.
struct TPin {
    std::string fingerprint; // 64 lowercase hex digits
    bool confirmed = false;  // the user compared the codes
    std::string address;     // dotted IPv4 where the peer was last seen, or ""
    bool operator==(const TPin &) const = default;
};

enum class TChannel { Clear, Tls };
enum class TMessageKind {
    Message,    // any message of the protocol: an introduction, chat, the rest
    Capability, // the capability message, after an accepted introduction
};

// What is known when a message arrives.
struct TPinFacts {
    TMessageKind kind = TMessageKind::Message;
    std::optional<TPin> namePin;    // the pin of the name the message claims
    std::optional<TPin> addressPin; // a pin of another name whose address is the source's
    TChannel channel = TChannel::Clear;
    std::string linkFingerprint;    // the certificate the TLS link showed
    TTlsCapability capability;      // the capability message's offer (Capability only)
};

enum class TPinAction {
    Accept,    // handle the message
    Pin,       // handle it, and pin the name to `fingerprint` at once
    Refuse,    // drop it (nothing stored, no chat line shown) and tell the user
    AskNewKey, // drop it, tell the user, and let them accept `fingerprint`
               // as the name's new key after comparing the codes
};

// What the user is told.
enum class TPinNotice {
    None,
    OlderCopy,              // the peer does not encrypt: the link is shown clear
    ClearClaimsPinnedName,  // a clear message under a pinned name
    ClearFromPinnedAddress, // a clear message from a pinned peer's address
    KeyChanged,             // a pinned name came with another key
    Downgrade,              // a pinned peer's capabilities lack its key
    AnnouncedKeyMismatch,   // the announced key is not the one the link showed
};

// What the window shows beside the remote name.
enum class TLinkState { Clear, EncryptedUnconfirmed, EncryptedConfirmed };

struct TPinVerdict {
    TPinAction action = TPinAction::Refuse;
    TPinNotice notice = TPinNotice::None;
    TLinkState state = TLinkState::Clear;
    std::string fingerprint; // Pin: the key to pin; AskNewKey: the key offered
    bool operator==(const TPinVerdict &) const = default;
};

// The rules: between pinned peers everything is TLS with the pinned key; a
// clear message that claims a pinned name or comes from a pinned peer's
// address is refused; a pinned name with another key is asked about; a
// pinned peer without its offer is a downgrade; a first offer over a clear
// link (or a link showing the same key) is pinned, and so is the key of a
// TLS link under a name not yet pinned.
TPinVerdict DecidePin(const TPinFacts &facts);

} // namespace dz::peer
