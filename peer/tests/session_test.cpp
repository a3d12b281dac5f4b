// Sessions on real loopback sockets, without a window: the core's state is
// current when each reply goes out, its effects come in the order of the
// replies, its own messages go out after the reply, streams are stored on
// their connection thread, and the outbox keeps one connection at a time.

#include "peer/sendrun.h"
#include "peer/session.h"
#include "peer/tests/sessiontools.h"

#include "net/stream.h"
#include "net/tests/testutil.h"
#include "services/nmmsg.h"
#include "services/nmstrm.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

namespace {

using dz::peer::TEffect;
using dz::peer::TPeerSession;
using dz::test::PumpUntil;
using dz::test::RawConnect;
using dz::test::RawFd;
using Strings = std::vector<std::string>;

const std::string kReply = "OK" + std::string(14, ' ');

std::string Framed(const std::string &from, const std::string &text)
{
    char len[16];
    std::snprintf(len, sizeof len, "%.4d", static_cast<int>(from.size()));
    std::string out = len + from;
    std::snprintf(len, sizeof len, "%.4d", static_cast<int>(text.size()));
    return out + len + text;
}

// One copy without a window: what it shows is recorded in order, each
// outcome ended by "--".
struct TSide : dz::test::TSessionSide {
    TSide(const std::string &name, const std::string &folder) : TSessionSide(name, folder, true) {}
};

// A message server of plain sockets on its own thread that records every
// message and how many connections were open at once.
class TRecorder {
public:
    explicit TRecorder(int replyDelayMs = 0) : delay_(replyDelayMs)
    {
        thread_ = std::thread([this] { Run(); });
    }
    ~TRecorder()
    {
        stop_ = true;
        thread_.join();
    }
    int port() const { return listener_.port(); }
    Strings texts() const
    {
        std::lock_guard lock(mutex_);
        return texts_;
    }
    int mostAtOnce() const { return most_; }

private:
    void Run()
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!stop_ && std::chrono::steady_clock::now() < end) {
            RawFd fd = listener_.Accept(20);
            if (!fd.valid())
                continue;
            // Anything else already waiting means two connections at once.
            pollfd p {listener_.fd(), POLLIN, 0};
            if (::poll(&p, 1, 0) > 0)
                most_ = 2;
            const std::string len = fd.Recv(4);
            const std::string from = fd.Recv(static_cast<std::size_t>(std::atoi(len.c_str())));
            const std::string tlen = fd.Recv(4);
            const std::string text = fd.Recv(static_cast<std::size_t>(std::atoi(tlen.c_str())));
            {
                std::lock_guard lock(mutex_);
                texts_.push_back(text);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(delay_));
            fd.Send(kReply);
            fd.WaitClosed(2000);
        }
    }

    dz::test::RawListener listener_;
    int delay_;
    mutable std::mutex mutex_;
    Strings texts_;
    std::atomic<int> most_{1};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class SessionTest : public dz::test::TFolderTest {};

// Sends one message from a raw client on a thread of its own (accepts need
// this thread to pump), and runs atReply there the moment the reply came.
template <typename F>
std::string Exchange(int port, const std::string &text, F atReply, const char *from = "127.0.0.1")
{
    std::string reply;
    std::atomic<bool> done{false};
    std::thread client([&] {
        RawFd fd = dz::test::RawConnectFrom(port, from);
        if (fd.valid() && fd.Send(Framed("ALPHA", text)))
            reply = fd.Recv(16);
        atReply();
        done = true;
    });
    PumpUntil([&] { return done.load(); });
    client.join();
    return reply;
}

TEST_F(SessionTest, TheCoreIsCurrentWhenTheReplyArrives)
{
    TSide b("127.0.0.2", Folder("b"));
    ASSERT_EQ(Exchange(b.MsgPort(), "ItsMe=ALPHA|127.0.0.1", [] {}), kReply);
    bool free = true;
    std::string pending;
    EXPECT_EQ(Exchange(b.MsgPort(), "Send_Start", [&] { free = b.session->Core().FreeFlag(); }), kReply);
    EXPECT_EQ(Exchange(b.MsgPort(), "File_Start|one.txt", [&] { pending = b.session->Core().Pending(); }), kReply);
    EXPECT_FALSE(free);
    EXPECT_EQ(pending, "one.txt");
    EXPECT_TRUE(PumpUntil([&] { return b.Shows("Pending=one.txt"); }));
}

TEST_F(SessionTest, TwoSessionsIntroduceThemselvesAndCarryAFile)
{
    TSide a("127.0.0.1", Folder("a"));
    TSide b("127.0.0.2", Folder("b"));
    a.SendsTo(b);
    b.SendsTo(a);

    const auto connect = a.session->Core().Connect("127.0.0.2");
    std::string error = "pending";
    a.session->Send(connect, [&](const std::string &e) {
        error = e;
        a.session->Core().Connected("127.0.0.2");
    });
    ASSERT_TRUE(PumpUntil([&] { return a.Shows("CanSend=1") && b.Shows("CanSend=1"); }));
    EXPECT_EQ(error, "");
    EXPECT_EQ(a.session->Core().RemoteIP(), "127.0.0.2");
    EXPECT_EQ(b.session->Core().RemoteName(), "127.0.0.1");
    EXPECT_EQ(b.session->Core().Hosts().msgHost, "127.0.0.1");

    const std::string src = Folder("src") + "note.txt";
    std::ofstream(src, std::ios::binary) << "contents";
    a.session->Send(a.session->Core().StartRun());
    std::string stepError = "pending";
    dz::peer::RunStep(a.session->Outbox(), a.session->Streams(), a.session->Core(), src,
                      [&](const std::string &e) { stepError = e; });
    ASSERT_TRUE(PumpUntil([&] { return stepError != "pending"; }, 10000));
    EXPECT_EQ(stepError, "");
    a.session->Send(a.session->Core().EndRun(true));
    // The row, then the batch's end, in the order the peer sent them.
    auto rowThenEnd = [&] {
        const auto row = std::find(b.shown.begin(), b.shown.end(), "Stored 127.0.0.1|note.txt");
        return row != b.shown.end() && std::find(row, b.shown.end(), "Receiving=0") != b.shown.end();
    };
    ASSERT_TRUE(PumpUntil(rowThenEnd));
    std::ifstream in(Folder("b") + "note.txt", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "contents");
}

TEST_F(SessionTest, RepliesGoOutAfterTheReplyInOrderThroughOneConnection)
{
    TRecorder peer(30);
    TSide b("127.0.0.2", Folder("b"));
    b.session->Outbox().Client().Port = peer.port();
    ASSERT_EQ(Exchange(b.MsgPort(), "ItsMe=127.0.0.1|10.0.0.1", [] {}), kReply);
    // Chat lines queued while the replies go out wait their turn behind
    // both of them: the two replies are one batch.
    ASSERT_TRUE(PumpUntil([&] { return !peer.texts().empty(); }));
    dz::peer::TOutcome chat;
    chat.send = {dz::peer::TPeerCore::ChatMessage("one"), dz::peer::TPeerCore::ChatMessage("two")};
    b.session->Send(chat);
    ASSERT_TRUE(PumpUntil([&] { return peer.texts().size() == 5; }));
    EXPECT_EQ(peer.texts(),
              (Strings{"ItsMeToo=127.0.0.2", "I_Free=Yes", "Dizaruz_Can=BigFiles|NoTick|Hash|Space|Folders|Resume", "MSG|one", "MSG|two"}));
    EXPECT_EQ(peer.mostAtOnce(), 1);
}

TEST_F(SessionTest, AFailedMessageDropsTheRestOfItsBatchOnly)
{
    TSide a("127.0.0.1", Folder("a"));
    a.session->Core().SetAllHosts("127.0.0.1");
    a.session->Outbox().Client().Port = dz::test::UnusedPort();
    std::string first = "pending";
    dz::peer::TOutcome batch;
    batch.send = {{"File_Start|x"}, {"File_End|x"}};
    a.session->Send(batch, [&](const std::string &e) { first = e; });
    ASSERT_TRUE(PumpUntil([&] { return first != "pending"; }));
    EXPECT_EQ(first, "Connection Failed");

    TRecorder peer;
    a.session->Outbox().Client().Port = peer.port();
    std::string second = "pending";
    a.session->Send(batch, [&](const std::string &e) { second = e; });
    ASSERT_TRUE(PumpUntil([&] { return second != "pending"; }));
    EXPECT_EQ(second, "");
    EXPECT_EQ(peer.texts(), (Strings{"File_Start|x", "File_End|x"}));
}

TEST_F(SessionTest, StreamsAreStoredUnderThePendingNameOrReported)
{
    TSide b("127.0.0.2", Folder("b"));
    // The reply means "stored": a stream that cannot be is reset.
    auto stream = [&](const std::string &bytes, bool stored = true) {
        dz::services::TNMStrm client;
        client.Host = "127.0.0.1";
        client.Port = b.StrmPort();
        client.FromName = "PEER";
        dz::net::TMemoryStream s;
        s.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
        if (stored)
            EXPECT_EQ(client.PostStream(s), kReply);
        else
            EXPECT_THROW(client.PostStream(s), dz::net::ESockError);
        // What the core decided was queued before the reply went.
        EXPECT_TRUE(PumpUntil([&] { return b.session->Work().PendingCount() == 0; }));
    };
    auto message = [&](const std::string &text) {
        ASSERT_EQ(Exchange(b.MsgPort(), text, [] {}), kReply);
        ASSERT_TRUE(PumpUntil([&] { return b.session->Work().PendingCount() == 0; }));
    };
    message("ItsMe=PEER|127.0.0.1");
    message("File_Start|../up.txt");
    stream("payload");
    EXPECT_TRUE(std::filesystem::exists(Folder("b") + "up.txt"));
    EXPECT_TRUE(b.Shows("Stored PEER|up.txt"));
    EXPECT_EQ(b.session->Core().Pending(), "");

    // Without a pending name nothing is stored or listed; the user is told.
    EXPECT_TRUE(b.Shows("Arriving")) << "the window learns a file comes in";
    const std::size_t rows = b.shown.size();
    stream("orphan", false);
    ASSERT_EQ(b.shown.size(), rows + 4);
    EXPECT_EQ(b.shown[rows + 2], "Notice " + TPeerSession::DroppedNotice("PEER", ""));

    // A folder that refuses new files: the user is told, nothing is listed.
    b.session->Core().SetReceiveFolder("/proc/");
    message("File_Start|nowhere.txt");
    stream("lost", false);
    EXPECT_TRUE(b.Shows("Notice Cannot create file /proc/nowhere.txt"));
    EXPECT_FALSE(b.Shows("Stored PEER|nowhere.txt"));
    EXPECT_EQ(b.session->Core().Pending(), "nowhere.txt");
}

// A stream from anyone but the introduced peer gets no reply, and nobody
// is told.
TEST_F(SessionTest, AStrangersStreamIsRefusedWithoutAWord)
{
    TSide b("127.0.0.2", Folder("b"));
    ASSERT_EQ(Exchange(b.MsgPort(), "ItsMe=PEER|127.0.0.1", [] {}), kReply);
    ASSERT_EQ(Exchange(b.MsgPort(), "File_Start|planted.txt", [] {}), kReply);
    ASSERT_TRUE(PumpUntil([&] { return b.session->Work().PendingCount() == 0; }));
    const std::size_t shown = b.shown.size();
    std::string reply = "pending";
    std::atomic<bool> answered{false};
    std::thread stranger([&] {
        RawFd fd = dz::test::RawConnectFrom(b.StrmPort(), "127.0.0.9");
        fd.Send("0004EVIL         4evil");
        reply = fd.Recv(16, 10000);
        answered = true;
    });
    PumpUntil([&] { return answered.load(); }, 12000);
    stranger.join();
    EXPECT_EQ(reply, "");
    EXPECT_FALSE(std::filesystem::exists(Folder("b") + "planted.txt"));
    EXPECT_EQ(b.shown.size(), shown);
}

} // namespace
