#include "nmmsg.h"

#include "wire.h"

namespace dz::services {

TNMMsg::TNMMsg()
{
    Port = 6711;
}

TNMMsg::~TNMMsg()
{
    BeginDestroy();
    try {
        TNMMsg::Abort();
    } catch (...) {
    }
}

std::string TNMMsg::PostText(const std::string &text)
{
    std::lock_guard lock(postMutex_);
    CheckCountedText("Sender name", FromName);
    CheckCountedText("Text", text);
    Connect();
    std::string reply;
    try {
        Write(CountedText(FromName));
        Write(CountedText(text));
        if (OnMessageSent)
            OnMessageSent(this);
        reply = Read(16);
    } catch (...) {
        Disconnect();
        throw;
    }
    Disconnect();
    return reply;
}

void TNMMsg::Abort()
{
    if (!Connected())
        return;
    Cancel();
    Disconnect();
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
    Write(kReply);
    if (auto *server = static_cast<TNMMSGServ *>(Server())) {
        const TMSGEvent handler = server->OnMSG;
        if (handler)
            handler(this, sFrom, sMsg);
    }
    WaitForClientClose();
}

} // namespace dz::services
