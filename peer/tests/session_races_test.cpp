// Closing a session while its threads are busy: a name look-up the resolver
// never answers, a connect the peer never takes, a large stream in either
// direction. Each close ends within two seconds, and whatever a thread
// left behind touches nothing that closing freed (the sanitizer builds
// check that part).

#include "peer/session.h"
#include "peer/tests/sessiontools.h"

#include "net/filestream.h"
#include "net/tests/testutil.h"
#include "services/nmmsg.h"
#include "services/nmstrm.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using dz::peer::TPeerSession;
using dz::test::PumpUntil;
using dz::test::RawFd;

constexpr auto kCloseBound = std::chrono::seconds(2);
#ifdef DIZARUZ_SANITIZED
constexpr std::int64_t kBigFile = 64LL << 20; // the sanitizers check the teardown, not the bulk
#else
constexpr std::int64_t kBigFile = 1LL << 30;
#endif

std::unique_ptr<TPeerSession> MakeSession(const std::string &folder)
{
    dz::peer::TSessionConfig config;
    config.msgPort = 0;
    config.strmPort = 0;
    config.fallbackFolder = folder;
    auto session = std::make_unique<TPeerSession>(config, [](const std::vector<dz::peer::TEffect> &) {});
    session->Listen();
    session->Core().SetIdentity("127.0.0.2", "127.0.0.2");
    session->Core().Start();
    session->Core().SetReceiveFolder(folder);
    return session;
}

// How long destroying takes.
Clock::duration Destroy(std::unique_ptr<TPeerSession> &session)
{
    const auto start = Clock::now();
    session.reset();
    return Clock::now() - start;
}

std::string SparseFile(const std::string &path, std::int64_t size)
{
    std::ofstream(path, std::ios::binary).close();
    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(size));
    return path;
}

class SessionRaces : public dz::test::TFolderTest {};

// Run by hanging_resolver_test.sh inside a network namespace whose
// resolv.conf names 127.0.0.1 there; this test holds that port and never
// answers, so every look-up of a name not in the hosts file hangs.
TEST_F(SessionRaces, ClosingWhileANameLookupHangsIsBounded)
{
    if (!std::getenv("DZ_SILENT_RESOLVER"))
        GTEST_SKIP() << "needs the namespace of hanging_resolver_test.sh";
    RawFd dns(::socket(AF_INET, SOCK_DGRAM, 0));
    sockaddr_in at {};
    at.sin_family = AF_INET;
    at.sin_port = htons(53);
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(dns.get(), reinterpret_cast<const sockaddr *>(&at), sizeof at), 0);

    auto session = MakeSession(Folder("in"));
    session->Core().SetAllHosts("beta-nowhere");
    std::atomic<int> invalidHost{0};
    session->Outbox().SetInvalidHostHandler([&](bool &) { ++invalidHost; });
    dz::peer::TOutcome chat;
    chat.send = {dz::peer::TPeerCore::ChatMessage("hello")};
    session->Send(chat, [](const std::string &) { ADD_FAILURE() << "a done callback after the close"; });
    session->Streams().Open(SparseFile(Folder("src") + "f.bin", 1000), [](const std::string &, std::int64_t) {});
    session->Streams().Send({});
    // Both senders are inside their look-ups once both queries came.
    int queries = 0;
    for (const auto end = Clock::now() + std::chrono::seconds(5); queries < 2 && Clock::now() < end;) {
        pollfd p {dns.get(), POLLIN, 0};
        if (::poll(&p, 1, 100) > 0) {
            char buf[512];
            if (::recv(dns.get(), buf, sizeof buf, 0) > 0)
                ++queries;
        }
        dz::net::Pump();
    }
    ASSERT_GE(queries, 2);
    EXPECT_LT(Destroy(session), kCloseBound);
    EXPECT_EQ(invalidHost.load(), 0);
}

// The peer's listen queue is full: its kernel drops the connect's SYN, and
// the connect waits for ever. Closing cuts it.
TEST_F(SessionRaces, ClosingWhileAConnectHangsIsBounded)
{
    dz::test::RawListener busy(0);
    std::vector<RawFd> fillers;
    bool hanging = false;
    for (int i = 0; i < 8 && !hanging; ++i) {
        RawFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<std::uint16_t>(busy.port()));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd.get(), reinterpret_cast<const sockaddr *>(&to), sizeof to);
        pollfd p {fd.get(), POLLOUT, 0};
        hanging = ::poll(&p, 1, 300) == 0;
        fillers.push_back(std::move(fd));
    }
    ASSERT_TRUE(hanging) << "the listen queue never filled";

    auto session = MakeSession(Folder("in"));
    session->Core().SetAllHosts("127.0.0.1");
    session->Outbox().Client().Port = busy.port();
    dz::peer::TOutcome chat;
    chat.send = {dz::peer::TPeerCore::ChatMessage("hello")};
    session->Send(chat);
    // A dotted address needs no look-up: the connect starts when the job does.
    ASSERT_TRUE(PumpUntil([&] { return !session->Outbox().WaitIdle(std::chrono::milliseconds(0)); }));
    EXPECT_LT(Destroy(session), kCloseBound);
}

// Closing the sending side in the middle of a large file: the file's
// thread lets go, and the receiver keeps nothing.
TEST_F(SessionRaces, ClosingWhileAStreamGoesOutIsBounded)
{
    dz::services::TNMStrmServ receiver;
    receiver.Port = 0;
    receiver.IdleLimit = 10000;
    std::atomic<std::int64_t> got{0};
    std::atomic<bool> abandoned{false};
    struct TCounting : dz::services::IStreamSink {
        std::atomic<std::int64_t> &got;
        std::atomic<bool> &abandoned;
        std::vector<char> room = std::vector<char>(1 << 16);
        TCounting(std::atomic<std::int64_t> &g, std::atomic<bool> &a) : got(g), abandoned(a) {}
        std::span<char> Room() override { return room; }
        void Filled(std::size_t n) override { got += static_cast<std::int64_t>(n); }
        void Commit() override {}
        void Abandon() noexcept override { abandoned = true; }
    };
    receiver.OnStreamStart = [&](dz::services::TNMStrmServ *, const std::string &, std::int64_t) {
        return std::make_unique<TCounting>(got, abandoned);
    };
    receiver.Loaded();

    auto session = MakeSession(Folder("in"));
    session->Core().SetAllHosts("127.0.0.1");
    session->Streams().Client().Port = receiver.LocalPort();
    session->Streams().Open(SparseFile(Folder("src") + "big.bin", kBigFile), [](const std::string &, std::int64_t) {});
    session->Streams().Send([](const std::string &) { ADD_FAILURE() << "a done callback after the close"; });
    ASSERT_TRUE(PumpUntil([&] { return got > (8 << 20); }, 20000));
    EXPECT_LT(Destroy(session), kCloseBound);
    EXPECT_TRUE(PumpUntil([&] { return abandoned.load(); }));
    EXPECT_LT(got.load(), kBigFile);
}

// Closing the receiving side in the middle of a large file: the
// connection's thread lets go of its file, and nothing is left in the
// receive folder.
TEST_F(SessionRaces, ClosingWhileAStreamComesInIsBounded)
{
    const std::string in = Folder("in");
    auto session = MakeSession(in);
    const int msgPort = session->MsgServer().LocalPort();
    const int strmPort = session->StrmServer().LocalPort();
    auto message = [&](const std::string &text) {
        std::string reply;
        std::atomic<bool> done{false};
        std::thread client([&] {
            RawFd fd = dz::test::RawConnectFrom(msgPort, "127.0.0.1");
            char len[8];
            std::snprintf(len, sizeof len, "%.4d", static_cast<int>(text.size()));
            fd.Send("0004PEER" + std::string(len) + text);
            reply = fd.Recv(16);
            done = true;
        });
        PumpUntil([&] { return done.load(); });
        client.join();
        return reply;
    };
    ASSERT_FALSE(message("ItsMe=PEER|127.0.0.1").empty());
    ASSERT_FALSE(message("File_Start|big.bin").empty());

    const std::string src = SparseFile(Folder("src") + "big.bin", kBigFile);
    std::atomic<bool> sent{false};
    std::string error;
    std::thread sender([&] {
        dz::services::TNMStrm client;
        client.PumpWhileWaiting = false;
        client.Host = "127.0.0.1";
        client.Port = strmPort;
        client.FromName = "PEER";
        try {
            dz::net::TFileStream file(src);
            client.PostStream(file);
        } catch (const std::exception &e) {
            error = e.what();
        }
        sent = true;
    });
    ASSERT_TRUE(PumpUntil([&] { return session->Incoming().done > (8 << 20); }, 20000));
    EXPECT_LT(Destroy(session), kCloseBound);
    EXPECT_TRUE(PumpUntil([&] { return sent.load(); }));
    sender.join();
    EXPECT_FALSE(error.empty()) << "the sender was told the file was stored";
    EXPECT_TRUE(std::filesystem::is_empty(in)) << "a partial file was left behind";
}

} // namespace
