// Streams of any size through the real services: sent from a file, received
// into a sink, never held whole in memory; and every way a stream can fail
// ends in a reset with nothing kept.

#include "net/filestream.h"
#include "net/tests/testutil.h"
#include "services/nmstrm.h"
#include "services/wire.h"
#include "util/filesink.h"
#include "util/files.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>
#include <sys/mount.h>
#include <thread>
#include <unistd.h>

namespace dz::services {
namespace {

namespace fs = std::filesystem;
using test::ExceptionText;
using test::PumpUntil;
using test::RawFd;
using test::RawListener;

// A cheap running hash over the bytes in order (whatever the pieces).
struct Hash {
    std::uint64_t value = 1469598103934665603ull;
    std::uint64_t count = 0;
    void Add(const char *p, std::size_t n)
    {
        for (std::size_t i = 0; i < n; ++i)
            value = (value ^ static_cast<unsigned char>(p[i]) ^ (count + i)) * 1099511628211ull;
        count += n;
    }
};

// A sparse file of the given size with random marks at the offsets.
void SparseFile(const std::string &path, std::int64_t size, std::initializer_list<std::int64_t> marks)
{
    const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    std::mt19937 rng(static_cast<unsigned>(size));
    for (const std::int64_t at : marks) {
        char mark[64];
        for (auto &c : mark)
            c = static_cast<char>(rng());
        const auto n = static_cast<std::size_t>(std::min<std::int64_t>(sizeof mark, size - at));
        ASSERT_EQ(::pwrite(fd, mark, n, at), static_cast<ssize_t>(n));
    }
    ::close(fd);
}

Hash HashOfFile(const std::string &path)
{
    Hash h;
    std::ifstream in(path, std::ios::binary);
    std::vector<char> block(1 << 20);
    while (in) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        h.Add(block.data(), static_cast<std::size_t>(in.gcount()));
    }
    return h;
}

long PeakResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

// A sink that keeps only a running hash, in a room of 1 MiB.
class HashSink : public IStreamSink {
public:
    explicit HashSink(Hash &hash, std::atomic<int> &commits) : hash_(hash), commits_(commits), room_(1 << 20) {}
    std::span<char> Room() override { return room_; }
    void Filled(std::size_t n) override { hash_.Add(room_.data(), n); }
    void Commit() override { ++commits_; }
    void Abandon() noexcept override {}

private:
    Hash &hash_;
    std::atomic<int> &commits_;
    std::vector<char> room_;
};

class StreamingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        in = tmp.path().toStdString() + "/in/";
        fs::create_directory(in);
        server.Port = 0;
    }
    void Listen() { server.Loaded(); }
    int port() const { return server.LocalPort(); }
    std::string Dir() const { return tmp.path().toStdString() + "/"; }
    // Posts a stream from a worker thread while this one pumps the server.
    std::string PostFromWorker(const std::function<std::unique_ptr<net::TStream>()> &make,
                               const std::function<void(TNMStrm &)> &setUp = {})
    {
        auto done = std::async(std::launch::async, [&] {
            TNMStrm client;
            client.PumpWhileWaiting = false;
            client.Host = "127.0.0.1";
            client.Port = port();
            client.FromName = "PC1";
            if (setUp)
                setUp(client);
            std::unique_ptr<net::TStream> stream;
            return ExceptionText([&] {
                stream = make();
                client.PostStream(*stream);
            });
        });
        EXPECT_TRUE(PumpUntil([&] { return done.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                              120000));
        return done.get();
    }
    QTemporaryDir tmp;
    std::string in;
    TNMStrmServ server;
};

TEST_F(StreamingTest, AStreamLargerThanTwoGiBGoesThroughByteForByteInConstantMemory)
{
#ifdef DIZARUZ_SANITIZED
    GTEST_SKIP() << "two GiB through a sanitizer take minutes; the plain build runs this";
#endif
    const std::int64_t size = (std::int64_t {1} << 31) + (4 << 20) + 123;
    const std::string source = Dir() + "big.bin";
    SparseFile(source, size, {0, 1 << 20, (std::int64_t {1} << 31) - 20, size - 40});
    const Hash expected = HashOfFile(source);

    Hash got;
    std::atomic<int> commits {0};
    std::atomic<std::int64_t> announced {-1};
    server.OnStreamStart = [&](TNMStrmServ *, const std::string &from, std::int64_t s) -> std::unique_ptr<IStreamSink> {
        EXPECT_EQ(from, "PC1");
        announced = s;
        return std::make_unique<HashSink>(got, commits);
    };
    Listen();
    const long peakBefore = PeakResidentKiB();
    std::int64_t lastSent = 0;
    bool backwards = false;
    const std::string error = PostFromWorker([&] { return std::make_unique<net::TFileStream>(source); },
                                             [&](TNMStrm &c) {
                                                 c.OnPacketSent = [&](net::TPowersock *s) {
                                                     backwards = backwards || s->BytesSent() < lastSent;
                                                     lastSent = s->BytesSent();
                                                 };
                                             });
    EXPECT_EQ(error, "<no exception>");
    EXPECT_EQ(announced.load(), size);
    EXPECT_EQ(commits.load(), 1);
    EXPECT_EQ(got.count, static_cast<std::uint64_t>(size));
    EXPECT_EQ(got.value, expected.value) << "the bytes differ";
    EXPECT_EQ(lastSent, size);
    EXPECT_FALSE(backwards);
    EXPECT_LT(PeakResidentKiB() - peakBefore, 256 * 1024) << "the stream was held in memory";
}

TEST_F(StreamingTest, TheSizeFieldForEverySizeTheTenCharactersCarry)
{
    struct Case { std::int64_t size; std::string field; } cases[] = {
        {0, "         0"}, {5, "         5"}, {2147483647, "2147483647"}, {2147483648, "2147483648"},
        {9999999999, "9999999999"},
    };
    RawListener listener;
    for (const auto &c : cases) {
        const std::string path = Dir() + "sized.bin";
        SparseFile(path, c.size, {});
        TNMStrm client;
        client.PumpWhileWaiting = false;
        client.Host = "127.0.0.1";
        client.Port = listener.port();
        client.FromName = "PC1";
        auto peer = std::async(std::launch::async, [&] {
            RawFd fd = listener.Accept();
            std::string header = fd.Recv(17);
            if (c.size == 0) {
                fd.Send(kReply);
            } else {
                linger l {1, 0};
                ::setsockopt(fd.get(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
            }
            fd.Close();
            return header;
        });
        net::TFileStream stream(path);
        const std::string error = ExceptionText([&] { client.PostStream(stream); });
        EXPECT_EQ(peer.get(), "0003PC1" + c.field) << c.size;
        if (c.size == 0)
            EXPECT_EQ(error, "<no exception>");
        else
            EXPECT_NE(error, "<no exception>") << "a reset is no reply";
    }
    // Past what the field carries: refused before any connection.
    const std::string huge = Dir() + "huge.bin";
    SparseFile(huge, 10'000'000'000LL, {});
    TNMStrm client;
    client.Host = "127.0.0.1";
    client.Port = listener.port();
    net::TFileStream stream(huge);
    EXPECT_EQ(ExceptionText([&] { client.PostStream(stream); }),
              "Stream too large to send: 10000000000 bytes, at most 9999999999");
    EXPECT_FALSE(listener.Accept(200).valid());
}

TEST_F(StreamingTest, AFileStoredThroughTheFileSinkArrivesWhole)
{
    const std::string data = std::string(5 << 20, 'a') + "tail";
    const std::string source = Dir() + "source.bin";
    std::ofstream(source, std::ios::binary) << data;
    std::atomic<int> stored {0};
    server.OnStreamStart = [&](TNMStrmServ *, const std::string &, std::int64_t) -> std::unique_ptr<IStreamSink> {
        return std::make_unique<TFileStreamSink>(in, [&] {
            ++stored;
            return in + "stored.bin";
        });
    };
    Listen();
    EXPECT_EQ(PostFromWorker([&] { return std::make_unique<net::TFileStream>(source); }), "<no exception>");
    EXPECT_EQ(stored.load(), 1);
    EXPECT_TRUE(ReadFileBytes(in + "stored.bin") == data);
    EXPECT_EQ(std::distance(fs::directory_iterator(in), fs::directory_iterator()), 1);
}

TEST_F(StreamingTest, AFileThatChangesSizeWhileSentFailsAndTheReceiverKeepsNothing)
{
    std::atomic<int> stored {0};
    server.OnStreamStart = [&](TNMStrmServ *, const std::string &, std::int64_t) -> std::unique_ptr<IStreamSink> {
        return std::make_unique<TFileStreamSink>(in, [&] {
            ++stored;
            return in + "stored.bin";
        });
    };
    Listen();
    for (const bool grow : {false, true}) {
        const std::string source = Dir() + (grow ? "grows.bin" : "shrinks.bin");
        std::ofstream(source, std::ios::binary) << std::string(16 << 20, 'x');
        bool changed = false;
        const std::string error = PostFromWorker([&] { return std::make_unique<net::TFileStream>(source); },
                                                 [&](TNMStrm &c) {
                                                     c.OnPacketSent = [&](net::TPowersock *) {
                                                         if (!changed)
                                                             fs::resize_file(source, grow ? 17 << 20 : 1 << 20);
                                                         changed = true;
                                                     };
                                                 });
        EXPECT_EQ(error, "File " + source + " changed size while it was sent") << grow;
        EXPECT_TRUE(PumpUntil([&] { return server.ConnectionCount() == 0; }));
        EXPECT_EQ(stored.load(), 0) << grow;
        EXPECT_EQ(std::distance(fs::directory_iterator(in), fs::directory_iterator()), 0) << grow;
    }
    EXPECT_EQ(ExceptionText([&] { net::TFileStream missing(Dir() + "missing.bin"); }),
              "Cannot open file " + Dir() + "missing.bin");
}

// A raw client's view of how the server ended the stream.
std::string Ending(const RawFd &fd)
{
    pollfd p {fd.get(), POLLIN, 0};
    if (::poll(&p, 1, 8000) != 1)
        return "nothing within the time";
    char buf[64];
    const ssize_t n = ::recv(fd.get(), buf, sizeof buf, 0);
    if (n < 0)
        return errno == ECONNRESET ? "reset" : std::strerror(errno);
    return n == 0 ? "orderly end" : "reply " + std::string(buf, static_cast<std::size_t>(n));
}

TEST_F(StreamingTest, CutRefusedFailedAndCancelledStreamsAreResetAndLeaveNothing)
{
    enum class Kind { Cut, Refused, FillFails, CommitFails, Cancelled };
    struct Case { const char *name; Kind kind; } cases[] = {
        {"cut by the client", Kind::Cut},     {"refused", Kind::Refused},
        {"Filled throws", Kind::FillFails},   {"Commit throws", Kind::CommitFails},
        {"cancelled by the receiver", Kind::Cancelled},
    };
    Kind kind = Kind::Cut;
    std::atomic<int> abandoned {0};
    std::shared_ptr<net::TCancelHandle> handle;
    std::atomic<bool> receiving {false};
    class Sink : public TFileStreamSink {
    public:
        Sink(const std::string &in, Kind k, std::atomic<int> &abandoned, std::atomic<bool> &receiving)
            : TFileStreamSink(in, [in, k] {
                  if (k == Kind::CommitFails)
                      throw EFileError("Cannot create file " + in + "refused.bin");
                  return in + "stored.bin";
              }),
              kind_(k), abandoned_(abandoned), receiving_(receiving)
        {
        }
        void Filled(std::size_t n) override
        {
            receiving_ = true;
            if (kind_ == Kind::FillFails)
                throw EFileError("Cannot create file (disk full)");
            TFileStreamSink::Filled(n);
        }
        void Abandon() noexcept override
        {
            ++abandoned_;
            TFileStreamSink::Abandon();
        }

    private:
        Kind kind_;
        std::atomic<int> &abandoned_;
        std::atomic<bool> &receiving_;
    };
    server.OnStreamStart = [&](TNMStrmServ *sender, const std::string &, std::int64_t) -> std::unique_ptr<IStreamSink> {
        handle = sender->CancelHandle();
        if (kind == Kind::Refused)
            return nullptr;
        return std::make_unique<Sink>(in, kind, abandoned, receiving);
    };
    Listen();
    for (const auto &c : cases) {
        kind = c.kind;
        abandoned = 0;
        receiving = false;
        RawFd fd = test::RawConnect(port());
        const std::string body(100000, 'b');
        auto ending = std::async(std::launch::async, [&] {
            fd.Send("0003PC1    100000");
            if (c.kind == Kind::Cut) {
                fd.Send(body.substr(0, 60000));
                ::shutdown(fd.get(), SHUT_WR);
            } else if (c.kind == Kind::Cancelled) {
                fd.Send(body.substr(0, 1000));
                const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
                while (!receiving && std::chrono::steady_clock::now() < deadline)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                handle->Cancel();
            } else if (c.kind != Kind::Refused) {
                fd.Send(body);
            }
            return Ending(fd);
        });
        ASSERT_TRUE(PumpUntil([&] { return ending.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                              15000))
            << c.name;
        EXPECT_EQ(ending.get(), "reset") << c.name;
        EXPECT_TRUE(PumpUntil([&] { return server.ConnectionCount() == 0; })) << c.name;
        EXPECT_EQ(abandoned.load(), c.kind == Kind::Refused ? 0 : 1) << c.name;
        EXPECT_EQ(std::distance(fs::directory_iterator(in), fs::directory_iterator()), 0) << c.name;
        handle->Cancel(); // after the connection has ended: nothing happens
    }
}

TEST_F(StreamingTest, ADiskThatFillsDuringAStreamLeavesNoFile)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small disk needs root";
    const std::string disk = Dir() + "disk/";
    fs::create_directory(disk);
    if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=4m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    server.OnStreamStart = [&](TNMStrmServ *, const std::string &, std::int64_t) -> std::unique_ptr<IStreamSink> {
        return std::make_unique<TFileStreamSink>(disk, [&] { return disk + "big.bin"; });
    };
    Listen();
    const std::string error = PostFromWorker([] {
        auto s = std::make_unique<net::TMemoryStream>();
        const std::string block(1 << 20, 'd');
        for (int i = 0; i < 16; ++i)
            s->Write(block.data(), static_cast<std::int64_t>(block.size()));
        return s;
    });
    EXPECT_TRUE(error == "10054:Connection reset by peer" || error == "10058:Can't send after socket shutdown" ||
                error == kNoReply)
        << error;
    EXPECT_TRUE(PumpUntil([&] { return server.ConnectionCount() == 0; }));
    EXPECT_EQ(std::distance(fs::directory_iterator(disk), fs::directory_iterator()), 0);
    ::umount(disk.c_str());
}

} // namespace
} // namespace dz::services
