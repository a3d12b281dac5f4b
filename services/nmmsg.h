#pragma once
// The message service: one short text with its sender's name per TCP
// connection, acknowledged by the 16-byte reply.
//
// Wire format: "%.4d" length + sender name (one write), "%.4d" length + text
// (a second write); the server answers "OK" + 14 spaces; the client closes.

#include "net/generalserver.h"
#include "services/client.h"

namespace dz::services {

using net::TNotifyEvent;
using net::TPowersock;

class TNMMsg : public TNMClient {
public:
    // Connects to Host:Port, sends FromName and the text, reads the 16-byte
    // reply and returns it; then closes the connection. Every failure after
    // connecting resets the connection; a server that closes without a
    // reply raises ESockError kNoReply ("Connection closed by the peer
    // without a reply"), the idle limit EIdleError. Blocks the calling
    // thread (pumping its events when PumpWhileWaiting). Calls from several
    // threads are served one at a time. A name or text over 9999 bytes (or
    // holding a zero byte) is refused with ESockError before connecting.
    std::string PostText(const std::string &text);
};

class TNMMSGServ;
// Sender: the connection object that served the message (not the listening server).
using TMSGEvent = std::function<void(TNMMSGServ *Sender, const std::string &sFrom, const std::string &sMsg)>;
// Raised with the whole message just before the reply is written; the
// function it returns (if any) runs once the reply has been written, and
// not when that write fails.
using TRequestEvent =
    std::function<std::function<void()>(TNMMSGServ *Sender, const std::string &sFrom, const std::string &sMsg)>;

class TNMMSGServ : public net::TNMGeneralServer {
public:
    explicit TNMMSGServ(TNMGeneralServer *owner = nullptr); // Port 6711
    ~TNMMSGServ() override;

    // Raised on the connection's thread once the whole message has been
    // read, before the reply (see TRequestEvent). Sender->PeerAddress() tells
    // where it came from. Set it on the listening server before Loaded;
    // each connection takes a copy when it is accepted, and may call it
    // after the server has gone (see StopServing): what it captures, it
    // must own.
    TRequestEvent OnRequest;
    // Raised on the connection's thread after the reply has been sent (and
    // after OnRequest's function). Set it like OnRequest.
    TMSGEvent OnMSG;

    void ServeConnection() override;

protected:
    std::unique_ptr<TNMGeneralServer> NewInstance(TNMGeneralServer *owner) override;
};

} // namespace dz::services
