#pragma once
// What the session tests share: a copy without a window whose facts are
// recorded as it shows them, and a fixture with folders of its own.

#include "peer/sendrun.h"
#include "peer/session.h"

#include "net/tests/testutil.h"
#include "services/nmmsg.h"
#include "services/nmstrm.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
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
    TSessionSide(const std::string &name, const std::string &folder, bool separate = false)
    {
        peer::TSessionConfig config;
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

} // namespace dz::test
