#include "client.h"

#include "wire.h"

#include "net/tls.h"

namespace dz::services {

TNMClient::TNMClient()
{
    Port = 6711;
}

TNMClient::~TNMClient()
{
    BeginDestroy();
    try {
        TNMClient::Abort();
    } catch (...) {
    }
}

void TNMClient::Abort()
{
    if (!Connected())
        return;
    Cancel();
    ResetConnection();
}

std::string TNMClient::Exchange(const std::function<void()> &writeBody, const std::string &preamble)
{
    std::lock_guard lock(exchangeMutex_);
    CheckCountedText("Sender name", FromName);
    Connect();
    std::string reply;
    try {
        if (TlsContext && !TlsFingerprint.empty())
            StartTls(*TlsContext, net::ExpectFingerprint(TlsFingerprint), TlsFingerprint);
        Write(preamble + CountedText(FromName));
        writeBody();
        if (OnMessageSent)
            OnMessageSent(this);
        try {
            reply = Read(16);
        } catch (const net::EAbortError &) {
            throw;
        } catch (const net::ESockError &) {
            // The peer's close was handled on the pump while the reply was
            // awaited: that too is a close without a reply.
            if (Connected())
                throw;
        }
        if (reply.size() != kReply.size())
            throw net::ESockError(kNoReply);
    } catch (...) {
        ResetConnection();
        throw;
    }
    Disconnect();
    return reply;
}

} // namespace dz::services
