#pragma once
// The stream service: the whole contents of one stream with its sender's
// name per TCP connection, acknowledged by the 16-byte reply.
//
// Wire format: "%.4d" length + sender name (one write), the size in ten
// characters right-aligned ("%10d" up to 2,147,483,647, the same form up to
// 9,999,999,999) in a second write, then the bytes; the server answers
// "OK" + 14 spaces; the client closes.
//
// Between two copies that both showed Hash, the body is followed by its
// XXH3-128 (16 bytes, most significant first), and the server answers
// kHashMismatch instead of the reply when it differs from the hash of the
// bytes that arrived (nothing stored). Between two that also showed
// Resume, the header is followed by the file's modification time, the
// server offers the part it kept of the file (its length and hash), and the
// client says where the body starts (that length or 0); the hash after the
// body covers the whole file. The README gives the bytes.

#include "net/generalserver.h"
#include "net/stream.h"
#include "services/client.h"
#include "util/hash.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace dz {
class TFileSink;
}

namespace dz::services {

// The largest size the ten-character field can carry.
constexpr std::int64_t kMaxStreamSize = 9'999'999'999LL;

// What the receiver showed that changes a stream's layout.
struct TStreamLayout {
    bool hashed = false; // Hash: the body's XXH3-128 follows it
    bool awaitGo = false; // Space: the body waits for the server's kGo
    bool batch = false;   // Batch: the body is several files of a folder (see kBitBatch)
    bool resume = false;  // Resume (only with hashed): the body may continue a part the receiver kept
    // Server side, with resume: the file's modification time as the sender
    // gave it (nanoseconds since 1970). A client takes its file's own.
    std::int64_t modified = 0;
    unsigned Bits() const;
};

// The receiver refused the stream before its body: it does not fit there.
class ENoSpace : public net::ESockError {
public:
    ENoSpace(std::uint64_t needed, std::uint64_t free, std::uint64_t reserve);
    std::uint64_t needed, free, reserve; // bytes
};

class TNMStrm : public TNMClient {
public:
    // Connects to Host:Port, sends FromName, the size and the stream from
    // its first byte (whatever its position), reads the reply and closes
    // the connection. A net::TFileStream is sent from its file as the
    // transfer goes. BytesSent counts up to BytesTotal; OnPacketSent reports
    // each send. Every failure after connecting (an error, a cancel, the
    // idle limit, a file that cannot be read to the end) resets the
    // connection, so a receiver keeps nothing of a cut stream; a server that
    // closes without a reply raises ESockError kNoReply. A stream over
    // 9,999,999,999 bytes is refused with ESockError before connecting. The
    // caller keeps the stream. Blocks (pumping when PumpWhileWaiting); calls
    // from several threads are served one at a time. Returns the server's
    // 16-byte answer.
    // layout.hashed (only for a peer that showed Hash, and only for a
    // net::TFileStream): each range sendfile has sent is read back from the
    // page cache and hashed, and the XXH3-128 follows the body. layout.awaitGo (only for a peer that showed Space): the
    // body goes only after kGo; a refusal raises ENoSpace. layout.resume
    // (only with hashed, for a peer that showed Resume): the receiver offers
    // the part it kept of this file; only the rest is sent, BytesSent
    // starts at the kept length, and the file's first bytes are read into
    // the hash on a thread of the call's own while the rest flows. A kept
    // part that is not the file's beginning makes the hash differ: the
    // answer is kHashMismatch, and the receiver has dropped the part.
    std::string PostStream(net::TStream &stream, TStreamLayout layout = {});
};

// Where the stream server puts a body as it arrives.
class IStreamSink {
public:
    virtual ~IStreamSink() = default;
    // Where the next body bytes go (non-empty); the server receives
    // straight into it.
    virtual std::span<char> Room() = 0;
    // n bytes were received into Room(); may write to disk; throws to refuse.
    virtual void Filled(std::size_t n) = 0;
    // The whole body arrived: store it; throws = not stored.
    virtual void Commit() = 0;
    // Cut, refused or failed: remove whatever was written.
    virtual void Abandon() noexcept = 0;
    // The hash that came differs from the body's: called after Abandon,
    // instead of Commit; the peer then gets kHashMismatch.
    virtual void Mismatched() noexcept {}
    // For a peer that waits for the go-ahead (Layout().awaitGo): what it is
    // told instead of kGo (kNoSpace and its numbers); the body is then
    // never read, and the sink only abandoned.
    virtual std::string Refusal() const { return {}; }

    // --- Continuation (Layout().resume; the body is always hashed) ---
    // The part of this file the sink kept from a cut stream, and the running
    // hash of its bytes as they arrived; length 0 for none.
    struct TKept {
        std::int64_t length = 0;
        THasher hash;
    };
    virtual TKept Kept() { return {}; }
    // The body starts at from: Kept().length (the sink holds those bytes) or
    // 0 (the kept part is dropped). Throws to refuse.
    virtual void StartAt(std::int64_t from) { (void)from; }
    // Once the body and its hash are in: whether the kept bytes on the disk
    // still are those that arrived (false: nothing is stored, and the peer
    // is told kHashMismatch).
    virtual bool KeptIntact() { return true; }
    // The stream was cut after its body began; hash: of every byte handed
    // over so far (kept part included). Keeps them for a later
    // continuation, or abandons.
    virtual void Keep(const THasher &hash) noexcept
    {
        (void)hash;
        Abandon();
    }
};

// A sink that writes the body into a temporary file (dz::TFileSink) in
// folder and, at Commit, stores it under the path that finalPath() returns
// then (called on the connection thread; it may throw to refuse).
class TFileStreamSink : public IStreamSink {
public:
    // Raises dz::EFileError "Cannot create file <path>".
    TFileStreamSink(const std::string &folder, std::function<std::string()> finalPath);
    ~TFileStreamSink() override;
    std::span<char> Room() override;
    void Filled(std::size_t n) override;
    void Commit() override;
    void Abandon() noexcept override;

private:
    std::unique_ptr<TFileSink> file_;
    std::function<std::string()> finalPath_;
};

class TNMStrmServ;
// Sender: the connection object of the transfer. strm holds exactly the
// bytes received, at position 0, and is freed when the handler returns.
using TStrmEvent = std::function<void(TNMStrmServ *Sender, const std::string &sFrom, net::TStream &strm)>;
// Raised once the name and size have arrived (size: 0 for zero or less);
// returns where the body goes, or null to refuse the stream.
using TStrmStartEvent =
    std::function<std::unique_ptr<IStreamSink>(TNMStrmServ *Sender, const std::string &sFrom, std::int64_t size)>;

class TNMStrmServ : public net::TNMGeneralServer {
public:
    explicit TNMStrmServ(TNMGeneralServer *owner = nullptr); // Port 6711
    ~TNMStrmServ() override;

    // Streaming receive, raised on the connection's thread. When set, the
    // body goes straight into the sink it returns (never more than the
    // sink's room in memory); once all of it has arrived (and, with Hash,
    // its hash has come and matches), Commit() runs and only
    // then is the reply written; a hash that differs: Abandon(),
    // Mismatched() and kHashMismatch. A refused stream (null sink), a cut
    // one (the client closes or fails before all bytes), a Filled or Commit
    // that throws, a cancel or the idle limit: Abandon(), then a reset and
    // no reply. OnMSG is not raised for such a server. Sender->BytesTotal()
    // and BytesRecvd() show progress from any thread; Sender->CancelHandle()
    // lets another thread cancel this one stream, also after it has ended.
    // Set it on the listening server before Loaded; each connection takes a
    // copy when it is accepted, and it and its sink may outlive the server
    // (see StopServing): what they capture, they must own.
    TStrmStartEvent OnStreamStart;
    // Without OnStreamStart: the whole stream is received into memory, the
    // reply is written, and OnMSG is raised on the connection's thread,
    // only for a stream that arrived whole (a cut one is reset, unreplied).
    // Set it on the listening server before Loaded.
    TStrmEvent OnMSG;
    // Raised on the connection's thread once a whole stream has arrived,
    // before the reply: the reply then means "stored". An exception it
    // raises sends no reply.
    TStrmEvent OnStore;

    void ServeConnection() override;
    // The connection's layout, from its preamble; valid from OnStreamStart on.
    TStreamLayout Layout() const { return layout_; }

protected:
    std::unique_ptr<TNMGeneralServer> NewInstance(TNMGeneralServer *owner) override;

private:
    TStreamLayout layout_;
};

} // namespace dz::services
