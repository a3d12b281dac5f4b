#pragma once
// TLinkGuard: the encrypted links of one copy. It holds this copy's key and
// the TLS settings of both roles, tells the clients which key a host must
// show (its pin: between pinned peers every connection is TLS from the
// first message), and judges each received message against the pins before
// the core sees it: pins a first offer (or the key a TLS link shows under a
// name not yet pinned) at once, before the window hears of it; refuses a
// clear message that claims a pinned name or comes from a pinned peer's
// address, and a pinned peer that comes back with another key or without
// its offer.
//
// One exception while two copies first meet: the pin is made when the
// peer's offer arrives, and messages the peer sent in clear before it had
// this copy's offer may still be on their way. Until the first TLS message
// from a peer pinned in this run, clear messages from the address where it
// was pinned pass (shown clear), for kSettleTime at most, under its name or
// a name not pinned; never under another pinned name. A pin found in the
// store at start has no such grace, nor has a pin made over TLS.
//
// Any thread; each call takes the guard's lock (the pin store writes on the
// calling thread).

#include "net/identity.h"
#include "net/tls.h"
#include "peer/core.h"
#include "peer/pinstore.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace dz::peer {

class TLinkGuard {
public:
    // How long after a first pin clear messages from its address still pass.
    static constexpr std::chrono::seconds kSettleTime {15};

    // identity: this copy's key; settings: where the pins are kept. Raises
    // Exception when TLS cannot be set up.
    TLinkGuard(const net::TIdentity &identity, TSettingsStore &settings);

    const std::string &OwnKey() const { return identity_.Fingerprint(); }
    const std::shared_ptr<net::TTlsContext> &ClientContext() const { return client_; }
    const std::shared_ptr<net::TTlsContext> &ServerContext() const { return server_; }
    TPinStore &Pins() { return pins_; }

    // The key a connection to host (a name, or a dotted address) must show:
    // its pin's; "" for a host that is not pinned (clear).
    std::string KeyFor(const std::string &host) const;

    struct TJudgement {
        bool pass = false;           // the core may handle the message
        std::vector<TEffect> effects; // what the window is told (link state, refusal)
    };
    // A message sFrom sent from address (IPv4, network order) over a link
    // that showed linkKey ("" in clear). sMsg: the message's text; "" for a
    // stream (judged as any message under its sender's name).
    TJudgement Judge(const std::string &sFrom, std::uint32_t address, const std::string &linkKey,
                     const std::string &sMsg);

    // The code both users compare for a peer's key.
    std::string CodeFor(const std::string &peerKey) const;
    // The user's actions; each returns whether anything changed, and the
    // link fact the window shows after it.
    bool Confirm(const std::string &name, std::vector<TEffect> &effects);
    bool Forget(const std::string &name, std::vector<TEffect> &effects);
    // Pins name to the key it last came with and was refused for.
    bool AcceptNewKey(const std::string &name, std::vector<TEffect> &effects);

private:
    TEffect LinkFact(const std::string &name, TLinkState state, const std::string &key) const;
    TEffect NoticeFact(const std::string &name, TPinNotice notice, const std::string &key) const;
    // One claimed name; decides and applies, with the lock held.
    TPinVerdict JudgeName(const std::string &name, const std::string &address, const std::string &linkKey,
                          TMessageKind kind, const TTlsCapability &offer, std::vector<TEffect> &effects);

    const net::TIdentity identity_;
    std::shared_ptr<net::TTlsContext> client_, server_;
    TPinStore pins_;
    mutable std::mutex mutex_;
    struct TSettling {
        std::string address; // where it was pinned
        std::chrono::steady_clock::time_point until;
    };
    std::map<std::string, TSettling> settling_; // upper-cased name -> a first pin of this run
    std::map<std::string, std::string> offered_;  // upper-cased name -> the new key it was refused for
    std::map<std::string, TLinkState> shown_;     // upper-cased name -> the state last told
};

} // namespace dz::peer
