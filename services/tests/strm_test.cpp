#include "net/tests/testutil.h"
#include "services/nmstrm.h"

#include <gtest/gtest.h>

#include <future>
#include <random>
#include <thread>

namespace dz::services {
namespace {

using test::ExceptionText;
using test::PumpUntil;
using test::RawFd;
using test::RawListener;

std::string RandomBytes(std::size_t n, unsigned seed)
{
    std::string s(n, '\0');
    std::mt19937 rng(seed);
    for (auto &c : s)
        c = static_cast<char>(rng());
    return s;
}

struct Received {
    std::string from, bytes;
    std::int64_t position;
    std::int64_t bytesTotal, bytesRecvd;
};

class StreamServer {
public:
    StreamServer()
    {
        server.Port = 0;
        server.OnMSG = [this](TNMStrmServ *sender, const std::string &from, net::TStream &strm) {
            Received r {from, {}, strm.Position(), sender->BytesTotal(), sender->BytesRecvd()};
            r.bytes.resize(static_cast<std::size_t>(strm.Size()));
            strm.Read(r.bytes.data(), strm.Size());
            std::lock_guard lock(mutex);
            received.push_back(std::move(r));
        };
        server.Loaded();
    }
    std::size_t Count()
    {
        std::lock_guard lock(mutex);
        return received.size();
    }
    int port() const { return server.LocalPort(); }
    TNMStrmServ server;
    std::mutex mutex;
    std::vector<Received> received;
};

TEST(StreamWire, PostStreamSendsExactlyTheWorkedExample)
{
    RawListener listener;
    TNMStrm client;
    client.Host = "127.0.0.1";
    client.Port = listener.port();
    client.FromName = "PC1";
    auto peer = std::async(std::launch::async, [&] {
        RawFd fd = listener.Accept();
        std::string request = fd.Recv(22);
        fd.Send("OK              ");
        fd.WaitClosed();
        return request;
    });
    net::TMemoryStream stream;
    stream.Write("hello", 5);
    EXPECT_EQ(client.PostStream(stream), "OK              ");
    EXPECT_EQ(peer.get(), "0003PC1         5hello");
    EXPECT_EQ(client.BytesTotal(), 5);
    EXPECT_EQ(client.BytesSent(), 5);
    EXPECT_EQ(stream.Position(), 5);
}

TEST(StreamService, SizesArriveByteForByte)
{
    StreamServer ss;
    TNMStrm client;
    client.Host = "127.0.0.1";
    client.Port = ss.port();
    client.FromName = "ALPHA";
    const std::size_t sizes[] = {0, 1, 65536, 65537, 3 * 1024 * 1024 + 17};
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        const std::string data = RandomBytes(sizes[i], static_cast<unsigned>(i));
        net::TMemoryStream stream;
        stream.Write(data.data(), static_cast<std::int64_t>(data.size()));
        std::int64_t progress = 0;
        client.OnPacketSent = [&](net::TPowersock *s) {
            EXPECT_GT(s->BytesSent(), progress);
            progress = s->BytesSent();
        };
        EXPECT_EQ(client.PostStream(stream), "OK              ");
        EXPECT_EQ(client.BytesSent(), static_cast<std::int32_t>(sizes[i]));
        ASSERT_TRUE(PumpUntil([&] { return ss.Count() == i + 1; }));
        std::lock_guard lock(ss.mutex);
        const Received &r = ss.received.back();
        EXPECT_EQ(r.from, "ALPHA");
        EXPECT_EQ(r.position, 0);
        EXPECT_EQ(r.bytes.size(), sizes[i]);
        EXPECT_TRUE(r.bytes == data) << sizes[i];
        EXPECT_EQ(r.bytesTotal, static_cast<std::int32_t>(sizes[i]));
        EXPECT_EQ(r.bytesRecvd, static_cast<std::int32_t>(sizes[i]));
    }
}

TEST(StreamService, LeadingZerosAndARawClient)
{
    StreamServer ss;
    RawFd fd = test::RawConnect(ss.port());
    fd.Send("0002PC0000000005abcde");
    auto reply = std::async(std::launch::async, [&] { return fd.Recv(16); });
    ASSERT_TRUE(PumpUntil([&] { return ss.Count() == 1; }));
    EXPECT_EQ(reply.get(), "OK              ");
    std::lock_guard lock(ss.mutex);
    EXPECT_EQ(ss.received[0].from, "PC");
    EXPECT_EQ(ss.received[0].bytes, "abcde");
}

TEST(StreamService, MalformedAndCutRequestsDeliverNothing)
{
    struct Case {
        const char *name;
        std::string bytes;
        bool replyMayCome; // after a cut body; it races the close notification that ends the connection
    } cases[] = {
        {"letters in the name length", "abcd", false},
        {"letters in the size", "0001a    12x456", false},
        {"close in the name length", "00", false},
        {"close in the name", "0005ab", false},
        {"close in the size", "0001a     ", false},
        {"close in the body", "0001a        10abc", true},
        {"a size of 2 GB, then a close", "0001a2000000000", true},
    };
    StreamServer ss;
    for (const auto &c : cases) {
        RawFd fd = test::RawConnect(ss.port());
        fd.Send(c.bytes);
        ::shutdown(fd.get(), SHUT_WR);
        auto reply = std::async(std::launch::async, [&] { return fd.Recv(16, 2000); });
        EXPECT_TRUE(PumpUntil([&] { return reply.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                              3000))
            << c.name;
        const std::string got = reply.get();
        if (c.replyMayCome)
            EXPECT_TRUE(got.empty() || got == "OK              ") << c.name;
        else
            EXPECT_EQ(got, "") << c.name;
        EXPECT_EQ(ss.Count(), 0u) << c.name;
        EXPECT_TRUE(PumpUntil([&] { return ss.server.ConnectionCount() == 0; }, 2000)) << c.name;
    }
    TNMStrm client;
    client.Host = "127.0.0.1";
    client.Port = ss.port();
    net::TMemoryStream stream;
    stream.Write("ok", 2);
    EXPECT_EQ(client.PostStream(stream), "OK              ");
    EXPECT_TRUE(PumpUntil([&] { return ss.Count() == 1; }));
}

TEST(StreamService, TwoTransfersAtOnceEachIntoItsOwnStream)
{
    StreamServer ss;
    const std::string a = RandomBytes(500000, 1), b = RandomBytes(700000, 2);
    auto post = [&](const std::string &name, const std::string &data) {
        RawFd fd = test::RawConnect(ss.port());
        char size[16];
        std::snprintf(size, sizeof size, "%10d", static_cast<int>(data.size()));
        fd.Send("0001" + name + size);
        fd.Send(data);
        return fd.Recv(16);
    };
    auto ra = std::async(std::launch::async, post, "a", a);
    auto rb = std::async(std::launch::async, post, "b", b);
    EXPECT_TRUE(PumpUntil([&] { return ss.Count() == 2; }, 10000));
    EXPECT_EQ(ra.get(), "OK              ");
    EXPECT_EQ(rb.get(), "OK              ");
    std::lock_guard lock(ss.mutex);
    for (const Received &r : ss.received)
        EXPECT_TRUE(r.bytes == (r.from == "a" ? a : b)) << r.from;
}

TEST(StreamService, RefusesAnOverlongName)
{
    RawListener listener;
    TNMStrm client;
    client.Host = "127.0.0.1";
    client.Port = listener.port();
    client.FromName = std::string(10000, 'n');
    net::TMemoryStream stream;
    EXPECT_EQ(ExceptionText([&] { client.PostStream(stream); }),
              "Sender name too long to send: 10000 bytes, at most 9999");
    EXPECT_FALSE(listener.Accept(100).valid());
}

} // namespace
} // namespace dz::services
