#include "net/tests/testutil.h"
#include "services/nmmsg.h"
#include "services/wire.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <condition_variable>
#include <future>
#include <algorithm>
#include <thread>

namespace dz::services {
namespace {

using test::ExceptionText;
using test::PumpUntil;
using test::RawFd;
using test::RawListener;

// What a message server's handler saw, shared with the connection threads.
struct Seen {
    std::mutex mutex;
    struct Message {
        TNMMSGServ *sender; // freed once the connection ends: compare, never use
        std::string from, msg;
        std::uint64_t acceptNumber;
        bool connectionObject = false;
        net::TNMGeneralServer *server = nullptr;
        int port = 0;
    };
    std::vector<Message> messages;
    std::size_t Count()
    {
        std::lock_guard lock(mutex);
        return messages.size();
    }
};

class MessageServer {
public:
    MessageServer()
    {
        server.Port = 0;
        server.OnMSG = [this](TNMMSGServ *sender, const std::string &from, const std::string &msg) {
            std::lock_guard lock(seen.mutex);
            seen.messages.push_back({sender, from, msg, sender->AcceptNumber(), sender->IsConnectionObject(),
                                     sender->Server(), sender->Port});
        };
        server.Loaded();
    }
    int port() const { return server.LocalPort(); }
    TNMMSGServ server;
    Seen seen;
};

TEST(MessageWire, PostTextSendsExactlyTheWorkedExample)
{
    RawListener listener;
    TNMMsg client;
    client.Host = "127.0.0.1";
    client.Port = listener.port();
    client.FromName = "PC1";
    int sent = 0;
    client.OnMessageSent = [&](TPowersock *s) {
        EXPECT_EQ(s, &client);
        ++sent;
    };
    auto peer = std::async(std::launch::async, [&] {
        RawFd fd = listener.Accept();
        const std::string request = fd.Recv(21);
        fd.Send("OK              ");
        const bool closed = fd.WaitClosed();
        return std::make_pair(request, closed);
    });
    EXPECT_EQ(client.PostText("I_Free=Yes"), "OK              ");
    const auto [request, closed] = peer.get();
    EXPECT_EQ(request, "0003PC10010I_Free=Yes");
    EXPECT_TRUE(closed) << "the client closes after the reply";
    EXPECT_EQ(sent, 1);
    EXPECT_FALSE(client.Connected());
}

TEST(MessageWire, AServerThatClosesWithoutAReplyGivesNoPartialReply)
{
    RawListener listener;
    TNMMsg client;
    client.Host = "127.0.0.1";
    client.Port = listener.port();
    for (const bool pumping : {true, false}) {
        client.PumpWhileWaiting = pumping;
        for (const std::string partial : {"", "OK  "}) {
            auto peer = std::async(std::launch::async, [&] {
                RawFd fd = listener.Accept();
                fd.Recv(9); // "0000" and "0001x"
                fd.Send(partial);
            });
            std::string reply = "unset";
            const std::string error = ExceptionText([&] { reply = client.PostText("x"); });
            peer.get();
            EXPECT_EQ(error, kNoReply) << "partial " << partial.size() << " pumping " << pumping;
            EXPECT_EQ(reply, "unset");
            EXPECT_FALSE(client.Connected());
        }
    }
}

TEST(MessageWire, RefusedTextsNeverReachTheWire)
{
    RawListener listener;
    TNMMsg client;
    client.Host = "127.0.0.1";
    client.Port = listener.port();
    EXPECT_EQ(ExceptionText([&] { client.PostText(std::string(10000, 'a')); }),
              "Text too long to send: 10000 bytes, at most 9999");
    client.FromName = std::string(10000, 'n');
    EXPECT_EQ(ExceptionText([&] { client.PostText("x"); }),
              "Sender name too long to send: 10000 bytes, at most 9999");
    client.FromName = "PC";
    EXPECT_EQ(ExceptionText([&] { client.PostText(std::string("a\0b", 3)); }),
              "Text holds a zero byte and cannot be sent");
    EXPECT_FALSE(listener.Accept(100).valid()) << "nothing may connect";
}

TEST(MessageService, RawClientGetsTheReplyAndTheHandlerTheMessage)
{
    MessageServer ms;
    RawFd fd = test::RawConnect(ms.port());
    ASSERT_TRUE(fd.Send("0003PC10010I_Free=Yes"));
    std::string reply;
    std::thread reader([&] { reply = fd.Recv(16); });
    EXPECT_TRUE(PumpUntil([&] { return ms.seen.Count() == 1; }));
    reader.join();
    EXPECT_EQ(reply, "OK              ");
    std::lock_guard lock(ms.seen.mutex);
    const auto &m = ms.seen.messages[0];
    EXPECT_EQ(m.from, "PC1");
    EXPECT_EQ(m.msg, "I_Free=Yes");
    EXPECT_NE(m.sender, &ms.server);
    EXPECT_TRUE(m.connectionObject);
    EXPECT_EQ(m.server, &ms.server);
    EXPECT_EQ(m.port, 6711);
}

TEST(MessageService, ClientAndServerRoundTrips)
{
    MessageServer ms;
    TNMMsg client;
    client.Host = "127.0.0.1";
    client.Port = ms.port();
    struct Case { std::string from, text; } cases[] = {
        {"", ""},
        {"ALPHA", "MSG|\xCF\xF0\xE8\xE2\xE5\xF2"},
        {"B", std::string(9999, 't')},
    };
    for (const auto &c : cases) {
        client.FromName = c.from;
        EXPECT_EQ(client.PostText(c.text), "OK              ");
    }
    ASSERT_TRUE(PumpUntil([&] { return ms.seen.Count() == 3; }));
    std::lock_guard lock(ms.seen.mutex);
    // The handlers run on their own threads and may finish in any order;
    // the accept numbers tell the order in which the messages came.
    auto &messages = ms.seen.messages;
    std::sort(messages.begin(), messages.end(),
              [](const Seen::Message &a, const Seen::Message &b) { return a.acceptNumber < b.acceptNumber; });
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(ms.seen.messages[i].from, cases[i].from);
        EXPECT_EQ(ms.seen.messages[i].msg, cases[i].text);
    }
    EXPECT_TRUE(PumpUntil([&] { return ms.server.ConnectionCount() == 0; })) << "threads retire their objects";
}

TEST(MessageService, MalformedRequestsRaiseNoEventAndNeverHang)
{
    struct Case {
        const char *name;
        std::string bytes;
        bool closeAfter;
        bool reply;
        std::string from, msg;
    } cases[] = {
        {"four spaces", "    0001x", false, false, "", ""},
        {"letters", "abcd0001x", false, false, "", ""},
        {"three spaces and a 5", "   5hello0002hi", false, true, "hello", "hi"},
        {"negative length", "-0010002hi", false, true, "", "hi"},
        {"plus sign", "+001N0002hi", false, true, "N", "hi"},
        {"trailing blank", "001 ", false, false, "", ""},
        {"close before anything", "", true, false, "", ""},
        {"close in a length", "00", true, false, "", ""},
        {"close in a name", "0005ab", true, false, "", ""},
        {"close in a text", "0001a0009abc", true, false, "", ""},
    };
    MessageServer ms;
    for (const auto &c : cases) {
        const std::size_t before = ms.seen.Count();
        RawFd fd = test::RawConnect(ms.port());
        ASSERT_TRUE(fd.valid());
        fd.Send(c.bytes);
        if (c.closeAfter)
            ::shutdown(fd.get(), SHUT_WR);
        std::string reply;
        std::thread reader([&] { reply = fd.Recv(16, c.reply ? 5000 : 300); });
        if (c.reply) {
            EXPECT_TRUE(PumpUntil([&] { return ms.seen.Count() == before + 1; })) << c.name;
        } else {
            PumpUntil([] { return false; }, 300);
            EXPECT_EQ(ms.seen.Count(), before) << c.name;
        }
        reader.join();
        EXPECT_EQ(reply, c.reply ? "OK              " : "") << c.name;
        if (c.reply) {
            std::lock_guard lock(ms.seen.mutex);
            EXPECT_EQ(ms.seen.messages.back().from, c.from) << c.name;
            EXPECT_EQ(ms.seen.messages.back().msg, c.msg) << c.name;
        }
        fd.Close();
        // A client that closes mid-field ends its connection at once.
        if (c.closeAfter) {
            EXPECT_TRUE(PumpUntil([&] { return ms.server.ConnectionCount() == 0; }, 2000)) << c.name;
        }
    }
    // The server still serves a well-formed client.
    TNMMsg client;
    client.Host = "127.0.0.1";
    client.Port = ms.port();
    client.FromName = "PC1";
    EXPECT_EQ(client.PostText("after"), "OK              ");
    EXPECT_TRUE(PumpUntil([&] { return ms.server.ConnectionCount() == 0; }));
}

TEST(MessageService, TwoClientsAtOnceAreServedTogether)
{
    MessageServer ms;
    // The first handler waits for the second to start: both must run at once.
    std::mutex m;
    std::condition_variable cv;
    int inHandler = 0;
    bool overlapped = false;
    ms.server.OnMSG = [&](TNMMSGServ *sender, const std::string &from, const std::string &) {
        std::unique_lock lock(m);
        ++inHandler;
        cv.notify_all();
        overlapped = cv.wait_for(lock, std::chrono::seconds(5), [&] { return inHandler >= 2; }) || overlapped;
        std::lock_guard seenLock(ms.seen.mutex);
        ms.seen.messages.push_back({sender, from, "", sender->AcceptNumber()});
    };
    RawFd a = test::RawConnect(ms.port());
    RawFd b = test::RawConnect(ms.port());
    a.Send("0001a0000");
    b.Send("0001b0000");
    EXPECT_TRUE(PumpUntil([&] { return ms.seen.Count() == 2; }, 8000));
    EXPECT_TRUE(overlapped);
    EXPECT_EQ(a.Recv(16), "OK              ");
    EXPECT_EQ(b.Recv(16), "OK              ");
    std::lock_guard lock(ms.seen.mutex);
    EXPECT_NE(ms.seen.messages[0].sender, ms.seen.messages[1].sender);
    EXPECT_NE(ms.seen.messages[0].acceptNumber, ms.seen.messages[1].acceptNumber);
}

TEST(MessageService, OneClientFromTwoThreadsIsSerialised)
{
    MessageServer ms;
    TNMMsg client;
    client.Host = "127.0.0.1";
    client.Port = ms.port();
    client.FromName = "PC";
    std::atomic<int> ok {0};
    std::atomic<int> done {0};
    auto poster = [&](const std::string &prefix) {
        for (int i = 0; i < 5; ++i)
            if (client.PostText(prefix + std::to_string(i)) == "OK              ")
                ++ok;
        ++done;
    };
    std::thread t1(poster, "a"), t2(poster, "b");
    // The client's notifications run here, on the thread that made it.
    EXPECT_TRUE(PumpUntil([&] { return done == 2; }, 15000));
    t1.join();
    t2.join();
    EXPECT_EQ(ok, 10);
    EXPECT_TRUE(PumpUntil([&] { return ms.seen.Count() == 10; }));
}

TEST(MessageService, DestroyingTheServerCancelsALiveConnection)
{
    auto ms = std::make_unique<MessageServer>();
    RawFd fd = test::RawConnect(ms->port());
    fd.Send("0003PC1"); // the server now waits for the text's length
    ASSERT_TRUE(PumpUntil([&] { return ms->server.ConnectionCount() == 1; }));
    PumpUntil([] { return false; }, 50);
    QElapsedTimer clock;
    clock.start();
    ms.reset();
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_TRUE(fd.WaitClosed(2000));
}

TEST(Wire, StrToIntAcceptsWhatTheFieldsMayHold)
{
    struct Case { std::string field; bool ok; int value; } cases[] = {
        {"0003", true, 3}, {"   5", true, 5}, {"-001", true, -1}, {"+012", true, 12},
        {"0000", true, 0}, {"   0", true, 0}, {"         5", true, 5}, {"0000000005", true, 5},
        {"    ", false, 0}, {"", false, 0}, {"abcd", false, 0}, {"12a4", false, 0},
        {"5   ", false, 0}, {" - 1", false, 0}, {"$1F", false, 0}, {"9999999999", false, 0},
    };
    for (const auto &c : cases) {
        if (c.ok)
            EXPECT_EQ(StrToInt(c.field), c.value) << '[' << c.field << ']';
        else
            EXPECT_THROW(StrToInt(c.field), EConvertError) << '[' << c.field << ']';
    }
    EXPECT_EQ(CountedText("PC1"), "0003PC1");
    EXPECT_EQ(CountedText(""), "0000");
}

} // namespace
} // namespace dz::services
