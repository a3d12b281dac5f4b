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
    // reply and disconnects (on every path once connected). Returns the
    // reply, or "" when the server closed without one. Blocks the calling
    // thread and pumps its events. Calls from several threads are served one
    // at a time. A name or text over 9999 bytes (or holding a zero byte) is
    // refused with ESockError before connecting.
    std::string PostText(const std::string &text);
};

class TNMMSGServ;
// Sender: the connection object that served the message (not the listening server).
using TMSGEvent = std::function<void(TNMMSGServ *Sender, const std::string &sFrom, const std::string &sMsg)>;
// The same, raised just before the reply is written; what it returns (if
// anything) runs once the reply has been written, and not when that fails.
using TMSGRequestEvent =
    std::function<std::function<void()>(TNMMSGServ *Sender, const std::string &sFrom, const std::string &sMsg)>;

class TNMMSGServ : public net::TNMGeneralServer {
public:
    explicit TNMMSGServ(TNMGeneralServer *owner = nullptr); // Port 6711
    ~TNMMSGServ() override;

    // Raised on the connection's thread after the reply has been sent. Set
    // it on the listening server before Loaded; connection objects look it
    // up there.
    TMSGEvent OnMSG;
    // Raised on the connection's thread when the whole message has arrived,
    // before the reply. Set it on the listening server before Loaded.
    TMSGRequestEvent OnRequest;

    void ServeConnection() override;

protected:
    std::unique_ptr<TNMGeneralServer> NewInstance(TNMGeneralServer *owner) override;
};

} // namespace dz::services
