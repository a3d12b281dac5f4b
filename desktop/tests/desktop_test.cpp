#include "desktop/filemanager.h"
#include "desktop/notifications.h"
#include "PrivateBus.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace dz::desktop {
namespace {

using dz::testing::Pump;
using dz::testing::TPrivateBus;
using dz::testing::TStubFileManager;
using dz::testing::TStubNotifications;

class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (bus.address().isEmpty())
            GTEST_SKIP() << "dbus-daemon is not available";
        client = bus.Connect();
        ASSERT_TRUE(client.isConnected());
    }
    TNotification Batch(const QString &body = QStringLiteral("3 files from PETROV")) const
    {
        TNotification n;
        n.appName = QStringLiteral("Dizaruz");
        n.icon = QStringLiteral("org.dizaruz.dizaruz");
        n.summary = QStringLiteral("Files received");
        n.body = body;
        n.desktopEntry = QStringLiteral("org.dizaruz.dizaruz");
        n.category = QStringLiteral("transfer.complete");
        n.actions = {{QStringLiteral("default"), QStringLiteral("Open")},
                     {QStringLiteral("open-folder"), QStringLiteral("Open folder")}};
        return n;
    }

    TPrivateBus bus;
    QDBusConnection client{QString()};
};

TEST_F(DesktopTest, NotificationReachesTheServiceAndItsActionComesBack)
{
    TStubNotifications service;
    ASSERT_TRUE(service.Register(bus.Connect()));
    TNotifier notifier(client);
    QSignalSpy shown(&notifier, &TNotifier::Shown);
    std::vector<QString> picked;
    notifier.Notify(Batch(), [&](const QString &key) { picked.push_back(key); });
    ASSERT_TRUE(Pump([&] { return shown.count() == 1; }));

    ASSERT_EQ(service.shown.size(), 1u);
    const auto &n = service.shown[0];
    EXPECT_EQ(n.appName, QStringLiteral("Dizaruz"));
    EXPECT_EQ(n.icon, QStringLiteral("org.dizaruz.dizaruz"));
    EXPECT_EQ(n.summary, QStringLiteral("Files received"));
    EXPECT_EQ(n.body, QStringLiteral("3 files from PETROV"));
    EXPECT_EQ(n.actions, (QStringList{QStringLiteral("default"), QStringLiteral("Open"),
                                      QStringLiteral("open-folder"), QStringLiteral("Open folder")}));
    EXPECT_EQ(n.hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("org.dizaruz.dizaruz"));
    EXPECT_EQ(n.hints.value(QStringLiteral("category")).toString(), QStringLiteral("transfer.complete"));
    EXPECT_EQ(n.replacesId, 0u);

    // Another program's notification id is not ours.
    service.Invoke(n.id + 100, QStringLiteral("open-folder"));
    service.Invoke(n.id, QStringLiteral("open-folder"));
    ASSERT_TRUE(Pump([&] { return !picked.empty(); }));
    EXPECT_EQ(picked, std::vector<QString>{QStringLiteral("open-folder")});
}

TEST_F(DesktopTest, NextNotificationReplacesAnOpenOneButNotAClosedOne)
{
    TStubNotifications service;
    ASSERT_TRUE(service.Register(bus.Connect()));
    TNotifier notifier(client);
    QSignalSpy shown(&notifier, &TNotifier::Shown);
    int firstActions = 0;
    notifier.Notify(Batch(), [&](const QString &) { ++firstActions; });
    ASSERT_TRUE(Pump([&] { return shown.count() == 1; }));
    notifier.Notify(Batch(QStringLiteral("1 file from PETROV")), [](const QString &) {});
    ASSERT_TRUE(Pump([&] { return shown.count() == 2; }));
    ASSERT_EQ(service.shown.size(), 2u);
    EXPECT_EQ(service.shown[1].replacesId, service.shown[0].id);

    // Once the desktop closed it, its action is forgotten and the next one is new.
    const uint id = service.shown[1].id;
    service.Close(id);
    service.Invoke(id, QStringLiteral("default"));
    notifier.Notify(Batch(), [](const QString &) {});
    ASSERT_TRUE(Pump([&] { return shown.count() == 3; }));
    EXPECT_EQ(service.shown[2].replacesId, 0u);
    EXPECT_EQ(firstActions, 0);
}

TEST_F(DesktopTest, BodyIsEscapedOnlyForAServiceThatReadsMarkup)
{
    TStubNotifications service;
    ASSERT_TRUE(service.Register(bus.Connect()));
    TNotifier notifier(client);
    QSignalSpy shown(&notifier, &TNotifier::Shown);
    const QString body = QStringLiteral("2 files from <b>R&D</b>");
    for (const bool markup : {false, true}) {
        service.capabilities = {QStringLiteral("body")};
        if (markup)
            service.capabilities << QStringLiteral("body-markup");
        notifier.Notify(Batch(body), [](const QString &) {});
        ASSERT_TRUE(Pump([&] { return service.shown.size() == (markup ? 2u : 1u) && shown.count() == (markup ? 2 : 1); }));
        EXPECT_EQ(service.shown.back().body,
                  markup ? QStringLiteral("2 files from &lt;b&gt;R&amp;D&lt;/b&gt;") : body);
    }
}

TEST_F(DesktopTest, WithoutAServiceNothingHappensAndNothingFails)
{
    TNotifier notifier(client);
    QSignalSpy failed(&notifier, &TNotifier::Failed);
    bool acted = false;
    notifier.Notify(Batch(), [&](const QString &) { acted = true; });
    ASSERT_TRUE(Pump([&] { return failed.count() == 1; }));
    EXPECT_EQ(failed.at(0).at(0).toString(), QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown"));
    EXPECT_FALSE(acted);

    // Nor on a bus that is not there at all.
    TNotifier offline(QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("dz-offline")));
    QSignalSpy offlineFailed(&offline, &TNotifier::Failed);
    offline.Notify(Batch(), [&](const QString &) { acted = true; });
    EXPECT_EQ(offlineFailed.count(), 1);
    EXPECT_FALSE(acted);
    QDBusConnection::disconnectFromBus(QStringLiteral("dz-offline"));
}

TEST_F(DesktopTest, FileManagerIsAskedToShowTheFile)
{
    const QUrl file = QUrl::fromLocalFile(QStringLiteral("/home/u/Загрузки/отчёт 1.txt"));
    enum class Manager { None, Answers, Hangs };
    struct Case {
        Manager manager;
        bool shown;
    };
    for (const Case c : {Case{Manager::None, false}, Case{Manager::Answers, true}, Case{Manager::Hangs, false}}) {
        TStubFileManager manager;
        manager.answer = c.manager == Manager::Answers;
        QDBusConnection managerBus = bus.Connect();
        if (c.manager != Manager::None) {
            ASSERT_TRUE(manager.Register(managerBus));
        }
        QObject context;
        std::vector<bool> answers;
        ShowItems(client, file, &context, [&](bool shown) { answers.push_back(shown); }, 500);
        ASSERT_TRUE(Pump([&] { return !answers.empty(); }));
        EXPECT_EQ(answers, std::vector<bool>{c.shown});
        if (c.manager != Manager::None) {
            ASSERT_EQ(manager.requests.size(), 1u);
            EXPECT_EQ(QUrl(manager.requests[0].value(0)).toLocalFile(), file.toLocalFile());
            managerBus.unregisterObject(QStringLiteral("/org/freedesktop/FileManager1"));
            managerBus.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
        }
    }
}

TEST_F(DesktopTest, AnswerIsDroppedOnceItsContextIsGone)
{
    TStubFileManager manager;
    ASSERT_TRUE(manager.Register(bus.Connect()));
    bool called = false;
    {
        QObject shortLived;
        ShowItems(client, QUrl::fromLocalFile(QStringLiteral("/tmp/x")), &shortLived, [&](bool) { called = true; });
    }
    ASSERT_TRUE(Pump([&] { return manager.requests.size() == 1; }));
    Pump([] { return false; }, 200); // the reply has time to come back
    EXPECT_FALSE(called);
}

} // namespace
} // namespace dz::desktop

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
