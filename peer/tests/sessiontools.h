#pragma once
// What the session tests share: a copy without a window whose facts are
// recorded as it shows them, and a fixture with folders of its own.

#include "peer/sendrun.h"
#include "peer/session.h"

#include "net/tests/testutil.h"
#include "services/nmmsg.h"
#include "services/nmstrm.h"

#include "net/tests/rawpeer.h"
#include "net/tests/testutil.h"

#include <arpa/inet.h>

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace dz::test {

struct TSessionSide {
    std::vector<std::string> shown;
    std::unique_ptr<peer::TPeerSession> session;

    // separate: a "--" follows each outcome's facts, so tests can tell
    // outcomes apart.
    // links: the copy encrypts with it (null: it does not, as an older one).
    TSessionSide(const std::string &name, const std::string &folder, bool separate = false,
                 std::shared_ptr<peer::TLinkGuard> links = {})
    {
        peer::TSessionConfig config;
        config.links = std::move(links);
        config.msgPort = 0;
        config.strmPort = 0;
        config.fallbackFolder = folder;
        session = std::make_unique<peer::TPeerSession>(config, [this, separate](const std::vector<peer::TEffect> &effects) {
            for (const peer::TEffect &e : effects)
                shown.push_back(e.Describe());
            if (separate)
                shown.push_back("--");
        });
        session->Listen();
        session->Core().SetIdentity(name, name);
        session->Core().Start();
        session->Core().SetReceiveFolder(folder);
    }
    int MsgPort() const { return session->MsgServer().LocalPort(); }
    int StrmPort() const { return session->StrmServer().LocalPort(); }
    void SendsTo(const TSessionSide &other)
    {
        session->Outbox().Client().Port = other.MsgPort();
        session->Streams().Client().Port = other.StrmPort();
    }
    bool Shows(const std::string &effect) const { return std::find(shown.begin(), shown.end(), effect) != shown.end(); }
};

// a connects to b (whose name is "127.0.0.2"); true once each knows what
// the other can.
inline bool Introduce(TSessionSide &a, TSessionSide &b)
{
    a.session->Outbox().Client().Port = b.MsgPort();
    a.session->Streams().Client().Port = b.StrmPort();
    b.session->Outbox().Client().Port = a.MsgPort();
    a.session->Send(a.session->Core().Connect("127.0.0.2"),
                    [&](const std::string &) { a.session->Core().Connected("127.0.0.2"); });
    const auto own = peer::TPeerCore::OwnCapabilities();
    return PumpUntil([&] {
        return a.session->Core().PeerCapabilities() == own && b.session->Core().PeerCapabilities() == own;
    });
}

// One step of a send run from a to its peer: the step's error, "" when the
// file was stored.
inline std::string Step(TSessionSide &a, const std::string &src)
{
    std::string error = "pending";
    peer::RunStep(a.session->Outbox(), a.session->Streams(), a.session->Core(), src,
                  [&](const std::string &e) { error = e; });
    return PumpUntil([&] { return error != "pending"; }, 20000) ? error : "no report";
}

// A test with a temporary folder of its own.
class TFolderTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tmp.isValid()); }
    // A folder under the temporary one, made when missing; ends in '/'.
    std::string Folder(const std::string &sub)
    {
        const std::string path = tmp.path().toStdString() + "/" + sub + "/";
        std::filesystem::create_directories(path);
        return path;
    }
    QTemporaryDir tmp;
};

inline std::string StreamHeader(const std::string &from, std::int64_t size)
{
    char field[48];
    std::snprintf(field, sizeof field, "%.4d%s%10" PRId64, static_cast<int>(from.size()), from.c_str(), size);
    return field;
}

inline std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A raw peer on a thread of its own (the test thread pumps): each step
// sends its bytes, then reads as many as it says; returns all it read,
// short after a reset or a close. cut: then closes its side and waits for
// the server to be done with the connection.
inline std::string RawDialogue(int port, const std::vector<std::pair<std::string, std::size_t>> &steps,
                               bool cut = false)
{
    std::string answers;
    std::atomic<bool> done {false};
    std::thread peer([&] {
        RawFd fd = RawConnect(port);
        for (const auto &[bytes, answer] : steps) {
            if (!fd.valid() || !fd.Send(bytes))
                break;
            const std::string got = fd.Recv(answer, 10000);
            answers += got;
            if (got.size() < answer)
                break;
        }
        if (cut && fd.valid()) {
            ::shutdown(fd.get(), SHUT_WR);
            fd.WaitClosed(10000);
        }
        done = true;
    });
    PumpUntil([&] { return done.load(); }, 12000);
    peer.join();
    return answers;
}

// One copy without a window, introduced to a raw peer at 127.0.0.1 that
// showed caps; what it shows is recorded.
struct TRawPeerSide : TSessionSide {
    using TSessionSide::TSessionSide;
    // The raw peer's messages, as the message server would take them.
    void From(const std::string &msg) { session->Core().Handle("PEER", htonl(INADDR_LOOPBACK), msg); }
    void IntroducedTo(const std::string &caps)
    {
        // Its answers go to a port nobody listens on: they only fail.
        session->Outbox().Client().Port = UnusedPort();
        From("ItsMe=127.0.0.1|127.0.0.1");
        if (!caps.empty())
            From(std::string(dz::peer::kCapabilityWord) + "=" + caps);
        ASSERT_TRUE(PumpUntil([&] { return session->Work().PendingCount() == 0; }));
    }
    bool Settled()
    {
        return PumpUntil([&] { return session->Work().PendingCount() == 0; });
    }
};

// a connects to b; true once each knows what the other can.
inline bool Introduce(TRawPeerSide &a, TRawPeerSide &b)
{
    a.session->Outbox().Client().Port = b.session->MsgServer().LocalPort();
    a.session->Streams().Client().Port = b.StrmPort();
    b.session->Outbox().Client().Port = a.session->MsgServer().LocalPort();
    a.session->Send(a.session->Core().Connect("127.0.0.2"),
                    [&](const std::string &) { a.session->Core().Connected("127.0.0.2"); });
    const auto own = dz::peer::TPeerCore::OwnCapabilities();
    return PumpUntil([&] {
        return a.session->Core().PeerCapabilities() == own && b.session->Core().PeerCapabilities() == own;
    });
}

} // namespace dz::test
