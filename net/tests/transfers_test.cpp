#include "net/powersock.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <future>
#include <random>
#include <thread>

namespace dz::net {
namespace {

using test::ExceptionText;
using test::PumpUntil;
using test::RawFd;
using test::RawListener;

// A connected component and the plain socket at the other end.
class TransfersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sock.Host = "127.0.0.1";
        sock.Port = listener.port();
        auto accepted = std::async(std::launch::async, [&] { return listener.Accept(); });
        sock.Connect();
        peer = accepted.get();
        ASSERT_TRUE(peer.valid());
    }
    // Bytes waiting in the component's socket.
    std::size_t Waiting()
    {
        char buf[65536];
        const ssize_t n = ::recv(sock.SocketHandle(), buf, sizeof buf, MSG_PEEK | MSG_DONTWAIT);
        return n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    RawListener listener;
    TPowersock sock;
    RawFd peer;
};

TEST_F(TransfersTest, ReadTakesExactlyNAndLeavesTheRest)
{
    peer.Send("0123456789");
    EXPECT_EQ(sock.Read(4), "0123");
    EXPECT_TRUE(PumpUntil([&] { return Waiting() == 6; }, 1000));
    EXPECT_EQ(sock.Read(6), "456789");
}

TEST_F(TransfersTest, ReadOfAClosedConnectionIsEmpty)
{
    peer.Close();
    EXPECT_EQ(sock.Read(16), "");
}

TEST_F(TransfersTest, ReadEndsWhenThePeerClosesShortOfN)
{
    peer.Send("abc");
    peer.Close();
    EXPECT_EQ(sock.Read(16), "");
}

TEST_F(TransfersTest, ReadAssemblesATrickle)
{
    // One byte at a time: framing that survives this survives the network.
    std::thread trickle([&] {
        for (char c : std::string("0016abcdefghijklmnop")) {
            peer.Send(std::string(1, c));
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    });
    EXPECT_EQ(sock.Read(4), "0016");
    EXPECT_EQ(sock.Read(16), "abcdefghijklmnop");
    trickle.join();
}

TEST_F(TransfersTest, ReadAfterTheComponentClosedItsSocketIsNotConnected)
{
    sock.Disconnect();
    EXPECT_EQ(ExceptionText([&] { sock.Read(4); }), "10057:Socket is not connected");
}

TEST_F(TransfersTest, WriteStopsAtAZeroByteAndEmptyWriteSendsNothing)
{
    sock.Write(std::string("ab\0cd", 5));
    sock.Write("");
    sock.Write("!");
    EXPECT_EQ(peer.Recv(3, 1000), "ab!");
    EXPECT_EQ(ExceptionText([&] { sock.Write(std::string(65536, 'x')); }), "Range check error");
    sock.Write(std::string(65535, 'y'));
    EXPECT_EQ(peer.Recv(65535).size(), 65535u);
}

TEST_F(TransfersTest, WritelnAndReadLnKeepTheLineEnd)
{
    sock.Writeln("line");
    EXPECT_EQ(peer.Recv(6), "line\r\n");
    peer.Send("abc\r\nrest");
    EXPECT_EQ(sock.ReadLn(), "abc\r\n");
    EXPECT_TRUE(PumpUntil([&] { return Waiting() == 4; }, 1000));
    peer.Send("\n");
    EXPECT_EQ(sock.ReadLn(), "rest\n");
}

TEST_F(TransfersTest, ReadLnAcrossManyPieces)
{
    std::thread trickle([&] {
        for (char c : std::string("piece by piece\r\n")) {
            peer.Send(std::string(1, c));
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    EXPECT_EQ(sock.ReadLn(), "piece by piece\r\n");
    trickle.join();
}

TEST_F(TransfersTest, ReadLnEndsOnCloseAndOnAnOverlongLine)
{
    peer.Send("no line end");
    peer.Close();
    EXPECT_EQ(sock.ReadLn(), "");
}

TEST_F(TransfersTest, ReadLnRefusesALineLongerThanTheBuffer)
{
    std::thread writer([&] { peer.Send(std::string(70000, 'z') + "\n"); });
    EXPECT_EQ(ExceptionText([&] { sock.ReadLn(); }), "Socket readln line too long");
    writer.join();
}

TEST_F(TransfersTest, TransactionReplyNumbers)
{
    struct Case { std::string reply; int number; std::string error; } cases[] = {
        {"250 OK\r\n", 250, ""},
        {"OK\r\n", 0, ""},
        {"00042-x\n", 42, ""},
        {"99999999999 big\r\n", 0, ""}, // does not fit 32 bits: counts as 0
        {"40000 over\r\n", 0, "Range check error"},
    };
    for (const auto &c : cases) {
        peer.Send(c.reply);
        std::string got;
        const std::string error = ExceptionText([&] { got = sock.Transaction("CMD"); });
        EXPECT_EQ(peer.Recv(5), "CMD\r\n");
        if (c.error.empty()) {
            EXPECT_EQ(error, "<no exception>");
            EXPECT_EQ(got, c.reply);
            EXPECT_EQ(sock.ReplyNumber(), c.number) << c.reply;
        } else {
            EXPECT_EQ(error, c.error);
        }
    }
}

TEST_F(TransfersTest, SendStreamOfAnEmptyStream)
{
    TMemoryStream empty;
    int packets = 0;
    sock.OnPacketSent = [&](TPowersock *) { ++packets; };
    sock.SendStream(empty);
    EXPECT_EQ(sock.BytesTotal(), 0);
    EXPECT_EQ(sock.BytesSent(), 0);
    EXPECT_EQ(packets, 0);
    sock.Disconnect();
    EXPECT_EQ(peer.RecvUntilClose(2000), "");
}

TEST_F(TransfersTest, SendStreamFromItsStartAndCaptureBeyondTheTarget)
{
    std::string data(200000, '\0');
    std::mt19937 rng(7);
    for (auto &c : data)
        c = static_cast<char>(rng());
    TMemoryStream out;
    out.Write(data.data(), static_cast<std::int64_t>(data.size()));
    EXPECT_EQ(out.Position(), out.Size()); // at its end: still sent whole
    int packets = 0;
    sock.OnPacketSent = [&](TPowersock *) { ++packets; };
    auto received = std::async(std::launch::async, [&] { return peer.Recv(data.size()); });
    sock.SendStream(out);
    EXPECT_EQ(received.get(), data);
    EXPECT_EQ(sock.BytesSent(), 200000);
    EXPECT_EQ(sock.BytesTotal(), 200000);
    EXPECT_GE(packets, 4); // at most 64 KiB a block

    // The peer sends 150 bytes at once; a capture of 100 takes them all.
    peer.Send(std::string(150, 'q'));
    PumpUntil([&] { return Waiting() == 150; }, 1000);
    TMemoryStream in;
    int blocks = 0;
    sock.OnPacketRecvd = [&](TPowersock *) { ++blocks; };
    sock.CaptureStream(in, 100);
    EXPECT_EQ(in.Size(), 150);
    EXPECT_EQ(sock.BytesRecvd(), 150);
    EXPECT_EQ(blocks, 1);
}

// A stream kept in one string: any stream that is not a memory stream
// goes through the I/O buffer instead of being reached in place.
class TStringStream : public TStream {
public:
    std::int64_t Size() const override { return static_cast<std::int64_t>(bytes.size()); }
    std::int64_t Position() const override { return position; }
    void SetPosition(std::int64_t p) override { position = std::clamp<std::int64_t>(p, 0, Size()); }
    std::int64_t Read(void *buffer, std::int64_t count) override
    {
        const std::int64_t n = std::min(count, Size() - position);
        std::memcpy(buffer, bytes.data() + position, static_cast<std::size_t>(n));
        position += n;
        return n;
    }
    std::int64_t Write(const void *buffer, std::int64_t count) override
    {
        if (position + count > Size())
            bytes.resize(static_cast<std::size_t>(position + count));
        std::memcpy(bytes.data() + position, buffer, static_cast<std::size_t>(count));
        position += count;
        return count;
    }
    std::string bytes;
    std::int64_t position = 0;
};

// More than a memory block each way, through either kind of stream: every
// byte arrives in order and the counters agree.
TEST_F(TransfersTest, StreamsOfEitherKindTravelWhole)
{
    const std::size_t size = static_cast<std::size_t>(TMemoryStream::kBlockSize) * 2 + 12345;
    std::string data(size, '\0');
    std::mt19937 rng(21);
    for (auto &c : data)
        c = static_cast<char>(rng());
    for (const bool memory : {true, false}) {
        TMemoryStream memOut, memIn;
        TStringStream strOut, strIn;
        TStream &out = memory ? static_cast<TStream &>(memOut) : strOut;
        TStream &in = memory ? static_cast<TStream &>(memIn) : strIn;
        out.Write(data.data(), static_cast<std::int64_t>(size));
        auto received = std::async(std::launch::async, [&] { return peer.Recv(size); });
        sock.SendStream(out);
        EXPECT_TRUE(received.get() == data) << memory;
        EXPECT_EQ(sock.BytesSent(), static_cast<std::int32_t>(size)) << memory;

        std::thread writer([&] { peer.Send(data); });
        sock.CaptureStream(in, static_cast<std::int32_t>(size));
        writer.join();
        EXPECT_EQ(sock.BytesRecvd(), static_cast<std::int32_t>(size)) << memory;
        std::string back(size, '\0');
        in.SetPosition(0);
        EXPECT_EQ(in.Read(back.data(), static_cast<std::int64_t>(size)), static_cast<std::int64_t>(size));
        EXPECT_TRUE(back == data) << memory;
    }
}

// A memory stream whose position is not at its end is written from the
// position, over what it already holds.
TEST_F(TransfersTest, CaptureIntoAMemoryStreamWritesFromItsPosition)
{
    TMemoryStream in;
    in.Write("0123456789", 10);
    in.SetPosition(4);
    std::thread writer([&] { peer.Send("abcdefghij"); });
    sock.CaptureStream(in, 14);
    writer.join();
    EXPECT_EQ(in.ToString(), "0123abcdefghij");
}

TEST_F(TransfersTest, CaptureEndsWhenThePeerClosesEarly)
{
    std::thread writer([&] {
        peer.Send(std::string(1000, 'a'));
        peer.Close();
    });
    TMemoryStream in;
    sock.CaptureStream(in, 5000);
    writer.join();
    EXPECT_EQ(in.Size(), 1000);
}

TEST_F(TransfersTest, SendIntoAResetConnectionRaisesItsError)
{
    linger l {1, 0};
    ::setsockopt(peer.get(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    peer.Close(); // reset
    PumpUntil([] { return false; }, 100);
    std::string error;
    for (int i = 0; i < 50 && error.empty(); ++i)
        try {
            sock.Write(std::string(60000, 'r'));
        } catch (const ESockError &e) {
            error = e.what();
        }
    EXPECT_TRUE(error == "10054:Connection reset by peer" || error == "10058:Can't send after socket shutdown" ||
                error == "10057:Socket is not connected")
        << error;
}

} // namespace
} // namespace dz::net
