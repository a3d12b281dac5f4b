#include "nmmsg.h"

#include "wire.h"

namespace dz::services {

std::string TNMMsg::PostText(const std::string &text)
{
    CheckCountedText("Text", text);
    return Exchange([&] { Write(CountedText(text)); });
}

TNMMSGServ::TNMMSGServ(TNMGeneralServer *owner) : TNMGeneralServer(owner)
{
    Port = 6711;
}

TNMMSGServ::~TNMMSGServ()
{
    BeginDestroy();
}

std::unique_ptr<net::TNMGeneralServer> TNMMSGServ::NewInstance(TNMGeneralServer *owner)
{
    return std::make_unique<TNMMSGServ>(owner);
}

void TNMMSGServ::ServeConnection()
{
    TMessageFraming framing;
    ReadFraming(*this, framing);
    MarkRequestComplete();
    auto *server = static_cast<TNMMSGServ *>(Server());
    TRequestEvent onRequest;
    TMSGEvent onMsg;
    if (server) {
        onRequest = server->OnRequest;
        onMsg = server->OnMSG;
    }
    std::function<void()> afterReply;
    if (onRequest)
        afterReply = onRequest(this, framing.From(), framing.Msg());
    Write(kReply);
    if (afterReply)
        afterReply();
    if (onMsg)
        onMsg(this, framing.From(), framing.Msg());
    WaitForClientClose();
}

} // namespace dz::services
