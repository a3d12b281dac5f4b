#pragma once
// The far end of the protocol in tests: windows on free loopback ports, a
// raw message-service peer that records what a window sends, and a raw
// client that drives a window's message server.

#include "FakeDialogs.h"
#include "Form1.h"
#include "peer/orderedwork.h"
#include "peer/session.h"
#include "net/tests/rawpeer.h"
#include "services/nmmsg.h"
#include "services/nmstrm.h"
#include "util/codepage.h"

#include <QPointer>
#include <QCoreApplication>
#include <QLineEdit>
#include <QToolButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace peer {

using Clock = std::chrono::steady_clock;

// Pumps the GUI thread until pred holds or the time runs out.
template <typename Pred>
bool PumpUntil(Pred pred, int timeoutMs = 5000)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (Clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

inline void PumpFor(int ms)
{
    PumpUntil([] { return false; }, ms);
}

inline std::string Framed(const std::string &from, const std::string &text)
{
    char len[16];
    std::snprintf(len, sizeof len, "%.4d", static_cast<int>(from.size()));
    std::string out = len + from;
    std::snprintf(len, sizeof len, "%.4d", static_cast<int>(text.size()));
    return out + len + text;
}

inline const std::string kReply = "OK" + std::string(14, ' ');

struct TMessage {
    std::string from;
    std::string text;
    Clock::time_point when; // when it had arrived whole
};

// Reads one framed message from a raw connection (bounded); false if it
// does not arrive whole.
inline bool ReadFramed(const dz::test::RawFd &fd, TMessage &m, int timeoutMs = 5000)
{
    auto counted = [&](std::string &out) {
        const std::string len = fd.Recv(4, timeoutMs);
        if (len.size() != 4)
            return false;
        const int n = std::atoi(len.c_str());
        out = n > 0 ? fd.Recv(static_cast<std::size_t>(n), timeoutMs) : std::string();
        return static_cast<int>(out.size()) == std::max(n, 0);
    };
    return counted(m.from) && counted(m.text);
}

// A server made of plain sockets, on its own thread, for one service:
// reads each request with read (false: nothing to record), records it,
// runs beforeReply (on the peer's thread), then answers.
template <typename TRequest>
class TRawPeer {
public:
    std::function<void(const TRequest &)> beforeReply;

    explicit TRawPeer(std::function<bool(const dz::test::RawFd &, TRequest &)> read) : read_(std::move(read))
    {
        thread_ = std::thread([this] { Run(); });
    }
    ~TRawPeer()
    {
        stop_ = true;
        thread_.join();
    }
    int port() const { return listener_.port(); }
    std::vector<TRequest> requests() const
    {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    std::size_t count() const { return requests().size(); }

private:
    void Run()
    {
        // Bounded: the peer gives up after a minute whatever happens.
        const auto end = Clock::now() + std::chrono::seconds(60);
        while (!stop_ && Clock::now() < end) {
            dz::test::RawFd fd = listener_.Accept(50);
            TRequest request;
            if (!fd.valid() || !read_(fd, request))
                continue;
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(request);
            }
            if (beforeReply)
                beforeReply(request);
            fd.Send(kReply);
            fd.WaitClosed(2000);
        }
    }

    std::function<bool(const dz::test::RawFd &, TRequest &)> read_;
    dz::test::RawListener listener_;
    mutable std::mutex mutex_;
    std::vector<TRequest> requests_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The message service's: records every message.
class TRawMsgPeer : public TRawPeer<TMessage> {
public:
    TRawMsgPeer()
        : TRawPeer([](const dz::test::RawFd &fd, TMessage &m) {
              m.when = Clock::now();
              return ReadFramed(fd, m);
          })
    {
    }
    std::vector<TMessage> messages() const { return requests(); }
    std::vector<std::string> texts() const
    {
        std::vector<std::string> out;
        for (const TMessage &m : messages())
            out.push_back(m.text);
        return out;
    }
};

// The stream service's: takes each stream whole (name, size, body).
struct TRawStream {
    std::string from;
    std::string body;
};
class TRawStrmPeer : public TRawPeer<TRawStream> {
public:
    TRawStrmPeer()
        : TRawPeer([](const dz::test::RawFd &fd, TRawStream &s) {
              const std::string len = fd.Recv(4);
              s.from = fd.Recv(static_cast<std::size_t>(std::atoi(len.c_str())));
              const std::string size = fd.Recv(10);
              s.body = fd.Recv(static_cast<std::size_t>(std::atoll(size.c_str())));
              return size.size() == 10;
          })
    {
    }
};

// Pumps until the raw connection has the window's 16-byte reply.
inline std::string PumpForReply(const dz::test::RawFd &fd, int timeoutMs = 5000)
{
    std::string reply;
    PumpUntil(
        [&] {
            pollfd p {fd.get(), POLLIN, 0};
            if (::poll(&p, 1, 0) > 0)
                reply += fd.Recv(16 - reply.size(), 100);
            return reply.size() >= 16 || (p.revents & (POLLHUP | POLLERR));
        },
        timeoutMs);
    return reply;
}

// Closes a window as the user does, and waits (bounded) until it has said
// its goodbye and gone.
inline bool CloseWindow(QWidget &window)
{
    window.close();
    return PumpUntil([&] { return !window.isVisible(); });
}

// Connects to a window's message server and sends one message; the reply
// comes once the GUI thread has pumped (accepts happen there).
inline std::string SendToWindow(int port, const std::string &from, const std::string &text)
{
    dz::test::RawFd fd = dz::test::RawConnect(port);
    if (!fd.valid() || !fd.Send(Framed(from, text)))
        return {};
    return PumpForReply(fd);
}

// A window in a folder of its own under the test's temporary folder, its
// servers on free ports.
class TPeerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tmp.isValid()); }

    std::string FsFolder(const std::string &sub) const { return tmp.path().toStdString() + "/" + sub + "/"; }
    // Waits for the state files every window has written so far.
    std::string ReadFile(const std::string &sub, const std::string &name) const
    {
        for (const QPointer<TForm1> &w : windows)
            if (w)
                w->FlushStateFiles();
        std::ifstream in(FsFolder(sub) + name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // name/ip: what the window calls itself (a loopback address as its name,
    // so a peer in this process reaches it without a name look-up).
    std::unique_ptr<TForm1> MakeWindow(const std::string &sub, const std::string &name, const std::string &ip,
                                       quint16 msgPort = 0)
    {
        std::filesystem::create_directories(FsFolder(sub));
        TForm1Config config;
        config.programFolder = FsFolder(sub);
        config.msgPort = msgPort;
        config.strmPort = 0;
        config.discovery = false;
        config.links = links;
        config.dialogs = dialogs;
        config.clock = clock;
        config.desktopBus = desktopBus;
        auto form = std::make_unique<TForm1>(config);
        windows.push_back(form.get());
        form->FormCreate();
        form->SetThisComputer(name, ip);
        return form;
    }
    static int MsgPort(const TForm1 &f) { return f.NMMSGServ1->LocalPort(); }
    // Points a's clients at b's servers (the protocol itself sets only hosts).
    static void SendsTo(TForm1 &a, const TForm1 &b)
    {
        a.NMMsg1->Port = b.NMMSGServ1->LocalPort();
        a.NMStrm1->Port = b.NMStrmServ1->LocalPort();
    }
    // Sends a message from a raw client and waits until the window showed
    // what the core decided (queued before the reply went out).
    static void Deliver(TForm1 &f, const std::string &text, const std::string &from = "PEER")
    {
        ASSERT_EQ(SendToWindow(MsgPort(f), from, text), kReply) << text;
        ASSERT_TRUE(PumpUntil([&] { return f.Work().PendingCount() == 0; })) << text;
    }

    // Two windows on this host that know each other's ports, a introduced to
    // b by its own connect click; b receives into its folder "in".
    std::pair<std::unique_ptr<TForm1>, std::unique_ptr<TForm1>> ConnectedPair()
    {
        auto a = MakeWindow("a", "127.0.0.1", "192.168.0.1");
        auto b = MakeWindow("b", "127.0.0.2", "192.168.0.2");
        SendsTo(*a, *b);
        SendsTo(*b, *a);
        std::filesystem::create_directories(FsFolder("in"));
        b->ShowReceiveFolder(FsFolder("in"));
        a->Edit_RemoteComputerName->setText(QStringLiteral("127.0.0.2"));
        a->SB_connectClick();
        EXPECT_TRUE(PumpUntil([&] { return a->SB_send->isEnabled() && a->Core().PeerCapabilities().noTick; }));
        return {std::move(a), std::move(b)};
    }

    // A raw peer on this host introduces itself to the window (before the
    // test points the window's client anywhere: its replies go nowhere).
    static void Introduce(TForm1 &f, const std::string &name = "127.0.0.1")
    {
        Deliver(f, "ItsMe=" + name + "|127.0.0.1", "PEER");
        ASSERT_TRUE(f.Session().Outbox().WaitIdle(std::chrono::seconds(10)));
        ASSERT_TRUE(PumpUntil([&] { return f.Work().PendingCount() == 0; }));
    }

    QTemporaryDir tmp;
    std::shared_ptr<TFakeDialogs> dialogs = std::make_shared<TFakeDialogs>();
    std::shared_ptr<TFakeClock> clock = std::make_shared<TFakeClock>();
    QString desktopBus; // the windows' desktop services; none by default
    // Windows of one process share one address: in clear unless a test
    // wants their keys.
    bool links = false;
    std::vector<QPointer<TForm1>> windows; // every window made, to flush their state files
};

} // namespace peer
