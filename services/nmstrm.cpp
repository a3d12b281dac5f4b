#include "nmstrm.h"

#include "net/filestream.h"
#include "util/filesink.h"
#include "util/hash.h"
#include "wire.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <atomic>
#include <exception>
#include <memory>
#include <stop_token>
#include <thread>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

// Hashes a file sent with sendfile: after each send, the range just sent is
// read back from the page cache, where sendfile has just found it, so the
// disk is read once and the file still leaves without passing through this
// process. A file that changed meanwhile hashes differently, and the
// receiver refuses it.
class TSentFileHasher {
public:
    explicit TSentFileHasher(const net::TFileStream &file) : file_(file), buffer_(1u << 20) {}
    // stop: a request ends the reading early.
    void UpTo(std::int64_t end, const std::stop_token *stop = nullptr)
    {
        while (done_ < end && !(stop && stop->stop_requested())) {
            const auto want = static_cast<std::size_t>(std::min<std::int64_t>(end - done_, buffer_.size()));
            const ssize_t n = ::pread(file_.Handle(), buffer_.data(), want, done_);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                file_.ThrowUnreadable();
            if (n == 0)
                file_.ThrowChanged();
            hasher_.Update(buffer_.data(), static_cast<std::size_t>(n));
            done_ += n;
        }
    }
    std::int64_t Done() const { return done_; }
    THash128 Digest() const { return hasher_.Digest(); }

private:
    const net::TFileStream &file_;
    std::vector<char> buffer_;
    std::int64_t done_ = 0;
    THasher hasher_;
};

} // namespace

ENoSpace::ENoSpace(std::uint64_t n, std::uint64_t f, std::uint64_t r)
    : ESockError("The receiver has no room for " + std::to_string(n) + " bytes: " + std::to_string(f) + " free, " +
                 std::to_string(r) + " of them kept free"),
      needed(n), free(f), reserve(r)
{
}

namespace {

// The three numbers after kNoSpace; ESockError when they are none.
ENoSpace ReadNoSpace(net::TPowersock &sock)
{
    const std::string fields = sock.Read(static_cast<std::uint16_t>(3 * kSpaceField));
    if (fields.size() != 3 * kSpaceField)
        throw net::ESockError(kNoReply);
    std::uint64_t value[3] = {};
    for (std::size_t i = 0; i < 3; ++i) {
        const std::string field = fields.substr(i * kSpaceField, kSpaceField);
        const auto first = field.find_first_not_of(' ');
        if (first == std::string::npos || field.find_first_not_of("0123456789", first) != std::string::npos)
            throw net::ESockError("Malformed refusal from the receiver");
        value[i] = std::stoull(field.substr(first));
    }
    return ENoSpace(value[0], value[1], value[2]);
}

} // namespace

namespace {

// Nanoseconds since 1970 (0 before), as the continuation's field carries it.
std::int64_t ModifiedNs(const net::TFileStream &file)
{
    struct stat st {};
    if (::fstat(file.Handle(), &st) != 0 || st.st_mtim.tv_sec < 0)
        return 0;
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
}

constexpr std::size_t kOfferSize = kSpaceField + 16;

// Reads the receiver's offer, checked against the file's size, and answers
// that the body starts at its length: the hash after the body, which covers
// the file from its first byte, proves the kept part or refuses it.
std::int64_t TakeOffer(net::TPowersock &sock, const net::TFileStream &file)
{
    const std::string offer = sock.Read(static_cast<std::uint16_t>(kOfferSize));
    if (offer.size() != kOfferSize)
        throw net::ESockError(offer.empty() ? kNoReply : "Malformed offer from the receiver");
    const std::int64_t kept = ParseWideField(std::string_view(offer).substr(0, kSpaceField));
    if (kept < 0 || kept > file.Size())
        throw net::ESockError("Malformed offer from the receiver");
    sock.Write(WideField(kept));
    return kept;
}

} // namespace

std::string TNMStrm::PostStream(net::TStream &stream, TStreamLayout layout)
{
    auto *file = dynamic_cast<net::TFileStream *>(&stream);
    if (layout.hashed && !file)
        throw net::ESockError("Only a file is sent with its hash");
    const bool resume = layout.resume && layout.hashed;
    const std::int64_t size = stream.Size();
    if (size > kMaxStreamSize)
        throw net::ESockError("Stream too large to send: " + std::to_string(size) + " bytes, at most " +
                              std::to_string(kMaxStreamSize));
    const unsigned bits = layout.Bits();
    return Exchange([&] {
        char field[32];
        std::snprintf(field, sizeof field, "%10" PRId64, size);
        Write(resume ? field + WideField(ModifiedNs(*file)) : std::string(field));
        if (layout.awaitGo) {
            const std::string answer = Read(16);
            if (answer == kNoSpace)
                throw ReadNoSpace(*this);
            if (answer != kGo)
                throw net::ESockError(answer.empty() ? kNoReply : "Unexpected answer from the receiver");
        }
        if (!layout.hashed) {
            SendStream(stream);
            return;
        }
        TSentFileHasher sent(*file);
        const std::int64_t from = resume ? TakeOffer(*this, *file) : 0;
        // A continuation reads the file's first bytes once, into the hash,
        // while the rest flows; the rest is hashed behind it.
        std::atomic<bool> prefixDone {from == 0};
        std::exception_ptr prefixError;
        std::jthread prefix;
        if (from > 0)
            prefix = std::jthread([&](std::stop_token stop) {
                try {
                    ::posix_fadvise(file->Handle(), 0, from, POSIX_FADV_SEQUENTIAL);
                    sent.UpTo(from, &stop);
                } catch (...) {
                    prefixError = std::current_exception();
                }
                prefixDone = true;
            });
        const net::TNotifyEvent outer = OnPacketSent;
        OnPacketSent = [&](net::TPowersock *sender) {
            if (prefixDone)
                sent.UpTo(BytesSent());
            if (outer)
                outer(sender);
        };
        try {
            SendStream(stream, from);
        } catch (...) {
            OnPacketSent = outer;
            throw;
        }
        OnPacketSent = outer;
        if (prefix.joinable())
            prefix.join();
        if (prefixError)
            std::rethrow_exception(prefixError);
        // SendStream may end quietly on a send that took nothing: the
        // receiver then lacks bytes, and no hash goes after a short body.
        sent.UpTo(BytesSent());
        if (sent.Done() != size)
            throw net::ESockError("Stream cut short while it was sent");
        const auto digest = sent.Digest().Bytes();
        SendBuffer(reinterpret_cast<const char *>(digest.data()), static_cast<std::uint16_t>(digest.size()));
    }, bits != 0 ? TStreamFraming::Preamble(bits) : std::string());
}

unsigned TStreamLayout::Bits() const
{
    return (hashed ? kBitHash : 0u) | (awaitGo ? kBitSpace : 0u) | (batch ? kBitBatch : 0u) |
           (resume && hashed ? kBitResume : 0u);
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

namespace {

// The receiver's side of a continuation: offers what the sink kept, learns
// where the body starts, and counts the kept bytes as arrived. Returns the
// hash of the bytes the sink holds now.
THasher OfferKept(net::TPowersock &sock, IStreamSink &sink, TStreamFraming &framing)
{
    IStreamSink::TKept kept = sink.Kept();
    if (kept.length < 0 || kept.length > framing.Size())
        kept = {};
    std::string offer = WideField(kept.length);
    if (kept.length > 0) {
        const auto digest = kept.hash.Digest().Bytes();
        offer.append(reinterpret_cast<const char *>(digest.data()), digest.size());
    } else {
        offer.append(16, '\0');
    }
    sock.SendBuffer(offer.data(), static_cast<std::uint16_t>(offer.size()));
    const std::string choice = sock.Read(static_cast<std::uint16_t>(kSpaceField));
    if (choice.size() != kSpaceField)
        throw net::ESockError("Connection closed in the middle of a field");
    const std::int64_t from = ParseWideField(choice);
    if (from != 0 && from != kept.length)
        throw EConvertError("'" + choice + "' is not where the body may start");
    sink.StartAt(from);
    if (from == 0)
        return {};
    framing.BodyArrived(static_cast<std::size_t>(from));
    return kept.hash;
}

} // namespace

void TNMStrmServ::ServeConnection()
{
    TStreamFraming framing;
    ReadFraming(*this, framing);
    layout_ = {(framing.Bits() & kBitHash) != 0, (framing.Bits() & kBitSpace) != 0,
               (framing.Bits() & kBitBatch) != 0, (framing.Bits() & kBitResume) != 0, 0};
    if (layout_.resume) {
        const std::string field = Read(static_cast<std::uint16_t>(kSpaceField));
        layout_.modified = ParseWideField(field);
        if (field.size() != kSpaceField || layout_.modified < 0)
            throw EConvertError("'" + field + "' is not a valid modification time");
    }
    SetBytesRecvd(0);
    SetBytesTotal(framing.Size());
    // This connection's own copies of the handlers (see NewInstance).
    const TStrmStartEvent &onStart = OnStreamStart;
    const TStrmEvent &onMsg = OnMSG;
    // The stream grows with the bytes that arrive, never with the size the
    // peer announces.
    net::TMemoryStream strm;
    std::unique_ptr<IStreamSink> sink;
    THasher hasher;
    if (onStart) {
        sink = onStart(this, framing.From(), framing.Size());
        if (!sink)
            throw net::ESockError("Stream refused");
    } else {
        sink = std::make_unique<TMemorySink>(strm);
    }
    if (layout_.awaitGo) {
        // The sender waits: a refusal goes before any byte of the body.
        const std::string refusal = sink->Refusal();
        if (!refusal.empty()) {
            sink->Abandon();
            MarkRequestComplete();
            Write(refusal);
            WaitForClientClose();
            return;
        }
        Write(kGo);
    }
    const bool hashed = layout_.hashed;
    bool mismatch = false;
    // From the first byte of the body to the end of its hash, a cut leaves
    // what arrived for a continuation (when the sender can continue).
    bool keepable = false;
    try {
        if (layout_.resume) {
            hasher = OfferKept(*this, *sink, framing);
            AddBytesRecvd(framing.Size() - framing.BodyLeft());
            keepable = true;
        }
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
            if (hashed)
                hasher.Update(room.data(), got);
            sink->Filled(got);
        }
        if (hashed) {
            char sent[16];
            std::size_t have = 0;
            while (have < sizeof sent) {
                const std::size_t got = ReadSome(sent + have, sizeof sent - have);
                if (got == 0)
                    throw net::ESockError("Stream cut short before its hash");
                have += got;
            }
            const auto own = hasher.Digest().Bytes();
            mismatch = std::memcmp(sent, own.data(), own.size()) != 0;
        }
        keepable = false;
        // A kept part that went bad on the disk makes a wrong file, whatever
        // the hash of the bytes as they arrived says.
        if (!mismatch && layout_.resume && !sink->KeptIntact())
            mismatch = true;
        // Storing may take a while with nothing moving: the cap must not
        // cut it now.
        MarkRequestComplete();
        if (Canceled())
            throw net::EAbortError("Socket capture aborted");
        if (!mismatch)
            sink->Commit();
    } catch (...) {
        // The connection thread resets the connection: no reply.
        if (keepable)
            sink->Keep(hasher);
        else
            sink->Abandon();
        throw;
    }
    if (mismatch) {
        // Nothing is kept; the sender learns why, which a reset cannot say.
        sink->Abandon();
        sink->Mismatched();
        Write(kHashMismatch);
        WaitForClientClose();
        return;
    }
    Write(kReply);
    if (!onStart && onMsg) {
        strm.SetPosition(0);
        onMsg(this, framing.From(), strm);
    }
    WaitForClientClose();
}

} // namespace dz::services
