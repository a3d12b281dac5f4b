#include "nmstrm.h"

#include "util/filesink.h"
#include "wire.h"

#include <cinttypes>
#include <cstdio>

namespace dz::services {

namespace {

// Without OnStreamStart the body is kept in memory, received straight into
// the stream's own blocks.
class TMemorySink : public IStreamSink {
public:
    explicit TMemorySink(net::TMemoryStream &stream) : stream_(stream) {}
    std::span<char> Room() override { return stream_.AppendRoom(static_cast<std::size_t>(net::TMemoryStream::kBlockSize)); }
    void Filled(std::size_t n) override { stream_.Appended(n); }
    void Commit() override {}
    void Abandon() noexcept override { stream_.Clear(); }

private:
    net::TMemoryStream &stream_;
};

} // namespace

std::string TNMStrm::PostStream(net::TStream &stream)
{
    const std::int64_t size = stream.Size();
    if (size > kMaxStreamSize)
        throw net::ESockError("Stream too large to send: " + std::to_string(size) + " bytes, at most " +
                              std::to_string(kMaxStreamSize));
    return Exchange([&] {
        char field[32];
        std::snprintf(field, sizeof field, "%10" PRId64, size);
        Write(field);
        SendStream(stream);
    });
}

TFileStreamSink::TFileStreamSink(const std::string &folder, std::function<std::string()> finalPath)
    : file_(std::make_unique<TFileSink>(folder)), finalPath_(std::move(finalPath))
{
}

TFileStreamSink::~TFileStreamSink() = default;

std::span<char> TFileStreamSink::Room()
{
    return file_->Room();
}

void TFileStreamSink::Filled(std::size_t n)
{
    file_->Filled(n);
}

void TFileStreamSink::Commit()
{
    file_->Commit(finalPath_());
}

void TFileStreamSink::Abandon() noexcept
{
    file_->Abandon();
}

TNMStrmServ::TNMStrmServ(TNMGeneralServer *owner) : TNMGeneralServer(owner)
{
    Port = 6711;
}

TNMStrmServ::~TNMStrmServ()
{
    // The connection threads stop (or are cut loose with their own copies
    // of the handlers) before the handlers go.
    StopServing(std::chrono::milliseconds(ShutdownWait));
    BeginDestroy();
}

std::unique_ptr<net::TNMGeneralServer> TNMStrmServ::NewInstance(TNMGeneralServer *owner)
{
    auto connection = std::make_unique<TNMStrmServ>(owner);
    connection->OnStreamStart = OnStreamStart;
    connection->OnMSG = OnMSG;
    connection->OnStore = OnStore;
    return connection;
}

void TNMStrmServ::ServeConnection()
{
    TStreamFraming framing;
    ReadFraming(*this, framing);
    SetBytesRecvd(0);
    SetBytesTotal(framing.Size());
    // This connection's own copies of the handlers (see NewInstance).
    const TStrmStartEvent &onStart = OnStreamStart;
    const TStrmEvent &onMsg = OnMSG;
    // The stream grows with the bytes that arrive, never with the size the
    // peer announces.
    net::TMemoryStream strm;
    std::unique_ptr<IStreamSink> sink;
    if (onStart) {
        sink = onStart(this, framing.From(), framing.Size());
        if (!sink)
            throw net::ESockError("Stream refused");
    } else {
        sink = std::make_unique<TMemorySink>(strm);
    }
    try {
        while (framing.BodyLeft() > 0) {
            const std::span<char> room = sink->Room();
            const auto most = static_cast<std::size_t>(
                std::min<std::int64_t>(framing.BodyLeft(), static_cast<std::int64_t>(room.size())));
            const std::size_t got = ReadSome(room.data(), most);
            if (got == 0)
                throw net::ESockError("Stream cut short: " + std::to_string(framing.Size() - framing.BodyLeft()) +
                                      " of " + std::to_string(framing.Size()) + " bytes");
            framing.BodyArrived(got);
            AddBytesRecvd(static_cast<std::int64_t>(got));
            sink->Filled(got);
        }
        // Storing may take a while with nothing moving: the cap must not
        // cut it now.
        MarkRequestComplete();
        if (Canceled())
            throw net::EAbortError("Socket capture aborted");
        sink->Commit();
    } catch (...) {
        // The connection thread resets the connection: no reply.
        sink->Abandon();
        throw;
    }
    Write(kReply);
    if (!onStart && onMsg) {
        strm.SetPosition(0);
        onMsg(this, framing.From(), strm);
    }
    WaitForClientClose();
}

} // namespace dz::services
