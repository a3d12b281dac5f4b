#include "peer/links.h"

#include "util/text.h"

#include <arpa/inet.h>

namespace dz::peer {
namespace {

std::string Dotted(std::uint32_t address)
{
    in_addr a {};
    a.s_addr = address;
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

bool Passes(const TPinVerdict &verdict)
{
    return verdict.action == TPinAction::Accept || verdict.action == TPinAction::Pin;
}

} // namespace

TLinkGuard::TLinkGuard(const net::TIdentity &identity, TSettingsStore &settings)
    : identity_(identity),
      client_(std::make_shared<net::TTlsContext>(net::TTlsContext::Role::Client, &identity_)),
      server_(std::make_shared<net::TTlsContext>(net::TTlsContext::Role::Server, &identity_)), pins_(settings)
{
}

std::string TLinkGuard::KeyFor(const std::string &host) const
{
    if (host.empty())
        return {};
    if (const auto pin = pins_.Find(host))
        return pin->fingerprint;
    in_addr a {};
    if (::inet_pton(AF_INET, host.c_str(), &a) == 1)
        if (const auto atAddress = pins_.FindByAddress(host))
            return atAddress->second.fingerprint;
    return {};
}

std::string TLinkGuard::CodeFor(const std::string &peerKey) const
{
    return VerificationCode(OwnKey(), peerKey);
}

TEffect TLinkGuard::LinkFact(const std::string &name, TLinkState state, const std::string &key) const
{
    TEffect fact {TEffect::Kind::Link, name, {}, {}};
    fact.number = static_cast<int>(state);
    if (state != TLinkState::Clear) {
        fact.key = key;
        fact.value = CodeFor(key);
    }
    return fact;
}

TEffect TLinkGuard::NoticeFact(const std::string &name, TPinNotice notice, const std::string &key) const
{
    TEffect fact {TEffect::Kind::PinNotice, name, {}, {}};
    fact.number = static_cast<int>(notice);
    fact.key = key;
    if (!key.empty())
        fact.value = CodeFor(key);
    return fact;
}

TPinVerdict TLinkGuard::JudgeName(const std::string &name, const std::string &address, const std::string &linkKey,
                                  TMessageKind kind, const TTlsCapability &offer, std::vector<TEffect> &effects)
{
    const TChannel channel = linkKey.empty() ? TChannel::Clear : TChannel::Tls;
    const std::string upper = UpperText(name);
    TPinVerdict verdict = DecidePin(pins_.Facts(kind, name, address, channel, linkKey, offer));
    const bool clearRefused = verdict.action == TPinAction::Refuse &&
                              (verdict.notice == TPinNotice::ClearClaimsPinnedName ||
                               verdict.notice == TPinNotice::ClearFromPinnedAddress);
    if (clearRefused) {
        const auto now = std::chrono::steady_clock::now();
        // Only for the name pinned there, or a name not pinned at all: a
        // first meeting must not open the address to another pinned name.
        for (const auto &[settlingName, settling] : settling_)
            if (settling.address == address && now < settling.until &&
                (settlingName == upper || verdict.notice == TPinNotice::ClearFromPinnedAddress)) {
                // Sent before the peer had this copy's offer.
                verdict = {TPinAction::Accept, TPinNotice::None, TLinkState::Clear, {}};
                return verdict;
            }
    }
    const auto pinned = pins_.Find(name);
    switch (verdict.action) {
    case TPinAction::Pin:
        pins_.Pin(name, verdict.fingerprint, address);
        if (channel == TChannel::Clear)
            settling_[upper] = {address, std::chrono::steady_clock::now() + kSettleTime};
        else
            settling_.erase(upper);
        offered_.erase(upper);
        break;
    case TPinAction::Accept:
        if (channel == TChannel::Tls)
            settling_.erase(upper);
        if (pinned && channel == TChannel::Tls && pinned->address != address)
            pins_.SetAddress(name, address);
        break;
    case TPinAction::AskNewKey:
        offered_[upper] = verdict.fingerprint;
        [[fallthrough]];
    case TPinAction::Refuse:
        effects.push_back(NoticeFact(name, verdict.notice, verdict.fingerprint));
        return verdict;
    }
    if (verdict.notice != TPinNotice::None)
        effects.push_back(NoticeFact(name, verdict.notice, {}));
    // The window hears the state when it changes, and at every capability
    // message (a new introduction).
    const auto shown = shown_.find(upper);
    if (kind == TMessageKind::Capability || shown == shown_.end() || shown->second != verdict.state) {
        shown_[upper] = verdict.state;
        const std::string key = verdict.action == TPinAction::Pin ? verdict.fingerprint : linkKey;
        effects.push_back(LinkFact(name, verdict.state, key));
    }
    return verdict;
}

TLinkGuard::TJudgement TLinkGuard::Judge(const std::string &sFrom, std::uint32_t address, const std::string &linkKey,
                                         const std::string &sMsg)
{
    std::lock_guard lock(mutex_);
    const std::string command = ExtractField(DelimEqBar(), sMsg, 1);
    const bool capability = command == kCapabilityWord;
    const TMessageKind kind = capability ? TMessageKind::Capability : TMessageKind::Message;
    const TTlsCapability offer = capability ? ParseTlsCapability(sMsg) : TTlsCapability {};
    // An introduction names its sender twice: both must pass.
    std::vector<std::string> names {sFrom};
    if (command == "ItsMe") {
        const std::string introduced = ExtractField(DelimEqBar(), sMsg, 2);
        if (UpperText(introduced) != UpperText(sFrom))
            names.push_back(introduced);
    }
    TJudgement judgement;
    judgement.pass = true;
    for (const std::string &name : names) {
        if (!Passes(JudgeName(name, Dotted(address), linkKey, kind, offer, judgement.effects))) {
            judgement.pass = false;
            break;
        }
    }
    return judgement;
}

bool TLinkGuard::Confirm(const std::string &name, std::vector<TEffect> &effects)
{
    std::lock_guard lock(mutex_);
    const auto pin = pins_.Find(name);
    if (!pin || pin->confirmed)
        return false;
    pins_.Confirm(name);
    shown_[UpperText(name)] = TLinkState::EncryptedConfirmed;
    effects.push_back(LinkFact(name, TLinkState::EncryptedConfirmed, pin->fingerprint));
    return true;
}

bool TLinkGuard::Forget(const std::string &name, std::vector<TEffect> &effects)
{
    std::lock_guard lock(mutex_);
    const auto pin = pins_.Find(name);
    if (!pin)
        return false;
    pins_.Forget(name);
    client_->ForgetSessions(pin->fingerprint);
    const std::string upper = UpperText(name);
    settling_.erase(upper);
    shown_[upper] = TLinkState::Clear;
    effects.push_back(LinkFact(name, TLinkState::Clear, {}));
    return true;
}

bool TLinkGuard::AcceptNewKey(const std::string &name, std::vector<TEffect> &effects)
{
    std::lock_guard lock(mutex_);
    const std::string upper = UpperText(name);
    const auto offered = offered_.find(upper);
    if (offered == offered_.end())
        return false;
    const auto old = pins_.Find(name);
    if (old)
        client_->ForgetSessions(old->fingerprint);
    pins_.Pin(name, offered->second, old ? old->address : std::string());
    shown_[upper] = TLinkState::EncryptedUnconfirmed;
    effects.push_back(LinkFact(name, TLinkState::EncryptedUnconfirmed, offered->second));
    offered_.erase(offered);
    return true;
}

} // namespace dz::peer
