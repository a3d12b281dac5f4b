// TPowersock over a TLS link.

#include "net/tlsbinding.h"

namespace dz::net {

void TPowersock::StartTls(TTlsContext &context, std::function<bool(const std::string &)> check,
                          const std::string &sessionKey)
{
    if (PumpWhileWaiting)
        throw ESockError("TLS needs a component that does not pump");
    const SockPtr sock = CurrentSock();
    if (!sock || !connected_)
        throw ESockError("Not connected");
    auto binding = std::make_shared<TTlsBinding>();
    binding->sock = sock;
    binding->link = std::make_unique<TTlsLink>(context, sock->fd(), std::move(check), sessionKey);
    binding->link->IdleLimitMs = IdleLimit;
    OnTls([&] {
        binding->link->Handshake();
        return 0;
    });
    Moved(true);
    std::lock_guard lock(stateMutex_);
    if (sock_ == sock)
        tls_ = std::move(binding);
}

std::shared_ptr<TPowersock::TTlsBinding> TPowersock::CurrentTls() const
{
    std::lock_guard lock(stateMutex_);
    return tls_;
}

bool TPowersock::Encrypted() const
{
    return CurrentTls() != nullptr;
}

std::string TPowersock::PeerFingerprint() const
{
    const auto tls = CurrentTls();
    return tls ? tls->link->PeerFingerprint() : std::string();
}

bool TPowersock::TlsResumed() const
{
    const auto tls = CurrentTls();
    return tls && tls->link->Resumed();
}

} // namespace dz::net
