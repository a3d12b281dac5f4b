#pragma once
// What the message and stream clients share: one exchange per connection
// (connect, the counted sender name, the body, the 16-byte reply,
// disconnect), serialised across threads.

#include "net/powersock.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace dz::services {

class TNMClient : public net::TPowersock {
public:
    TNMClient(); // Port 6711
    ~TNMClient() override;

    std::string FromName;            // the sender's name that goes with every exchange
    net::TNotifyEvent OnMessageSent; // after the body is written, before the reply is read
    // With both set, every exchange is encrypted: TLS 1.3 right after the
    // connect, presenting this side's certificate and taking the server's
    // only with exactly this fingerprint (64 lowercase hex digits); the
    // session is kept under it for resumption. A refused key raises
    // net::ETlsRefused before anything of the request has gone.
    std::shared_ptr<net::TTlsContext> TlsContext;
    std::string TlsFingerprint;

    // Cancels the exchange in progress and cuts the connection with a reset
    // (when connected). Any thread.
    void Abort() override;

protected:
    // Connects to Host:Port, writes the counted FromName, runs writeBody and
    // reads the 16-byte reply. After the reply the connection is closed in
    // order; on every failure after connecting (an error, a cancel, the idle
    // limit) it is reset, so the server never takes a cut exchange for a
    // complete one. A server that closes without a reply raises ESockError
    // kNoReply. A name over 9999 bytes is refused before connecting.
    // preamble: bytes written before the name, in the same write.
    std::string Exchange(const std::function<void()> &writeBody, const std::string &preamble = {});

private:
    std::recursive_mutex exchangeMutex_;
};

} // namespace dz::services
