#pragma once
// The stream service: the whole contents of one stream with its sender's
// name per TCP connection, acknowledged by the 16-byte reply.
//
// Wire format: "%.4d" length + sender name (one write), the size in
// "%10d" (a second write), then the bytes; the server answers "OK" + 14
// spaces; the client closes.

#include "net/generalserver.h"
#include "net/stream.h"
#include "services/client.h"

namespace dz::services {

class TNMStrm : public TNMClient {
public:
    // Connects to Host:Port, sends FromName, the size and the stream from
    // its first byte (whatever its position), reads the reply and
    // disconnects (on every path once connected). BytesSent counts up to
    // BytesTotal; OnPacketSent reports each send. Returns the reply, or ""
    // when the server closed without one. The caller keeps the stream.
    // Blocks and pumps; calls from several threads are served one at a time.
    std::string PostStream(net::TStream &stream);
};

class TNMStrmServ;
// Sender: the connection object of the transfer. strm holds exactly the
// bytes received, at position 0, and is freed when the handler returns.
using TStrmEvent = std::function<void(TNMStrmServ *Sender, const std::string &sFrom, net::TStream &strm)>;

class TNMStrmServ : public net::TNMGeneralServer {
public:
    explicit TNMStrmServ(TNMGeneralServer *owner = nullptr); // Port 6711
    ~TNMStrmServ() override;

    // Raised on the connection's thread after the reply has been sent, only
    // for a stream that arrived whole. Set it on the listening server
    // before Loaded.
    TStrmEvent OnMSG;
    // Raised on the connection's thread once a whole stream has arrived,
    // before the reply: the reply then means "stored". An exception it
    // raises sends no reply.
    TStrmEvent OnStore;

    void ServeConnection() override;

protected:
    std::unique_ptr<TNMGeneralServer> NewInstance(TNMGeneralServer *owner) override;
};

} // namespace dz::services
