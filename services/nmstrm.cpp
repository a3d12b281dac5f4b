#include "nmstrm.h"

#include "wire.h"

#include <climits>
#include <cstdio>
#include <exception>

namespace dz::services {

std::string TNMStrm::PostStream(net::TStream &stream)
{
    if (stream.Size() > INT_MAX)
        throw net::ESockError("Stream too large to send: " + std::to_string(stream.Size()) +
                              " bytes, at most 2147483647");
    return Exchange([&] {
        char size[16];
        std::snprintf(size, sizeof size, "%10d", static_cast<int>(stream.Size()));
        Write(size);
        SendStream(stream);
    });
}

TNMStrmServ::TNMStrmServ(TNMGeneralServer *owner) : TNMGeneralServer(owner)
{
    Port = 6711;
}

TNMStrmServ::~TNMStrmServ()
{
    BeginDestroy();
}

std::unique_ptr<net::TNMGeneralServer> TNMStrmServ::NewInstance(TNMGeneralServer *owner)
{
    return std::make_unique<TNMStrmServ>(owner);
}

void TNMStrmServ::ServeConnection()
{
    try {
        // The stream grows with the bytes that arrive, never with the size
        // the peer announces.
        net::TMemoryStream strm;
        const std::string sFrom = ReadCounted(*this, StrToInt(Read(4)));
        const int size = StrToInt(Read(10));
        SetBytesRecvd(0);
        SetBytesTotal(size);
        std::exception_ptr captureError;
        if (size > 0) {
            try {
                CaptureStream(strm, size);
            } catch (...) {
                captureError = std::current_exception();
            }
        }
        auto *server = static_cast<TNMStrmServ *>(Server());
        const TStrmEvent store = server ? server->OnStore : TStrmEvent();
        if (store && !captureError && strm.Size() >= size) {
            strm.SetPosition(0);
            try {
                store(this, sFrom, strm);
            } catch (...) {
                // Not stored: no reply, and the connection ends here.
                Disconnect();
                throw;
            }
        }
        Write(kReply);
        if (captureError)
            std::rethrow_exception(captureError);
        // A transfer cut short must never become a shorter file.
        if (strm.Size() < size)
            throw net::ESockError("Stream cut short: " + std::to_string(strm.Size()) + " of " +
                                  std::to_string(size) + " bytes");
        strm.SetPosition(0);
        if (auto *server = static_cast<TNMStrmServ *>(Server())) {
            const TStrmEvent handler = server->OnMSG;
            if (handler)
                handler(this, sFrom, strm);
        }
    } catch (...) {
        WaitForClientClose();
        throw;
    }
    WaitForClientClose();
}

} // namespace dz::services
