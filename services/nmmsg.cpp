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
    // The connection threads stop (or are cut loose with their own copies
    // of the handlers) before the handlers go.
    StopServing(std::chrono::milliseconds(ShutdownWait));
    BeginDestroy();
}

std::unique_ptr<net::TNMGeneralServer> TNMMSGServ::NewInstance(TNMGeneralServer *owner)
{
    auto connection = std::make_unique<TNMMSGServ>(owner);
    connection->OnRequest = OnRequest;
    connection->OnMSG = OnMSG;
    return connection;
}

void TNMMSGServ::ServeConnection()
{
    TMessageFraming framing;
    ReadFraming(*this, framing);
    MarkRequestComplete();
    // The handlers are this connection's own copies, made when it was
    // accepted: they live as long as this thread.
    std::function<void()> afterReply;
    if (OnRequest)
        afterReply = OnRequest(this, framing.From(), framing.Msg());
    Write(kReply);
    if (afterReply)
        afterReply();
    if (OnMSG)
        OnMSG(this, framing.From(), framing.Msg());
    WaitForClientClose();
}

} // namespace dz::services
