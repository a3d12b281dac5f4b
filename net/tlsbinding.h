#pragma once
// The TLS link a TPowersock's transfers go through once StartTls has run.
// Internal to the socket layer.

#include "net/powersock.h"
#include "net/tls.h"

#include <memory>
#include <string>

namespace dz::net {

struct TPowersock::TTlsBinding {
    SockPtr sock; // keeps the descriptor open for as long as the link lives
    std::unique_ptr<TTlsLink> link;
    ~TTlsBinding() { link.reset(); } // the link before its descriptor
};

template <class F> auto TPowersock::OnTls(F &&call)
{
    try {
        return call();
    } catch (const ETlsRefused &) {
        throw;
    } catch (const ESockError &) {
        // A cancel shuts the socket's receiving side down, which the link
        // sees as a cut connection.
        if (canceled_) {
            canceled_ = false;
            throw EAbortError("Socket send aborted");
        }
        throw;
    }
}

} // namespace dz::net
