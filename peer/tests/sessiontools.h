#pragma once
// What the session tests share: a copy without a window whose facts are
// recorded as it shows them, and a fixture with folders of its own.

#include "peer/session.h"
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
