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
    const std::string sFrom = ReadCounted(*this, StrToInt(Read(4)));
    const std::string sMsg = ReadCounted(*this, StrToInt(Read(4)));
    std::function<void()> afterReply;
    if (auto *server = static_cast<TNMMSGServ *>(Server())) {
        const TMSGRequestEvent request = server->OnRequest;
        if (request)
            afterReply = request(this, sFrom, sMsg);
    }
    Write(kReply);
    if (afterReply)
        afterReply();
    if (auto *server = static_cast<TNMMSGServ *>(Server())) {
        const TMSGEvent handler = server->OnMSG;
        if (handler)
            handler(this, sFrom, sMsg);
    }
    WaitForClientClose();
}

} // namespace dz::services
