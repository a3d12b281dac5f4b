// One copy per user: the first copy takes later starts' requests, unless its
// window is closing; the lock goes with the copy.

#include "SingleInstance.h"

#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <functional>

namespace {

using TClaim = TSingleInstance::TClaim;

// A window whose close handler runs the event loop, as the goodbye to the
// peer does, and may refuse.
class TSlowClosingWindow : public QWidget {
public:
    std::function<void()> whileClosing;
    bool refuse = false;

protected:
    void closeEvent(QCloseEvent *event) override
    {
        if (whileClosing)
            whileClosing();
        if (refuse)
            event->ignore();
        else
            event->accept();
    }
};

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tmp.isValid()); }
    QString Folder() const { return tmp.path() + QStringLiteral("/run"); }
    QTemporaryDir tmp;
};

TEST_F(SingleInstanceTest, SecondStartBringsTheFirstWindowForward)
{
    TSlowClosingWindow window;
    TSingleInstance first(Folder());
    ASSERT_EQ(first.Claim(1000), TClaim::First);
    ASSERT_TRUE(first.Serve(&window));
    int raised = 0;
    first.onRaised = [&] { ++raised; };
    window.showMinimized();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window) || window.isMinimized());

    for (int start = 1; start <= 2; ++start) {
        TSingleInstance later(Folder());
        EXPECT_EQ(later.Claim(3000), TClaim::Forwarded);
        EXPECT_EQ(raised, start);
    }
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());
}

TEST_F(SingleInstanceTest, CopyWhoseWindowIsClosingSaysSoAndTheLaterStartRunsOnceItIsGone)
{
    TSlowClosingWindow window;
    auto first = std::make_unique<TSingleInstance>(Folder());
    ASSERT_EQ(first->Claim(1000), TClaim::First);
    ASSERT_TRUE(first->Serve(&window));
    int raised = 0;
    first->onRaised = [&] { ++raised; };
    window.show();

    // The later start asks while the close handler runs: it is told, so it
    // does not end, and it cannot run either while the copy holds the lock.
    TClaim during = TClaim::Forwarded;
    window.whileClosing = [&] {
        TSingleInstance later(Folder());
        during = later.Claim(500);
    };
    EXPECT_TRUE(window.close());
    EXPECT_EQ(during, TClaim::Unsettled);
    EXPECT_EQ(raised, 0);

    // Closed, the copy still answers "closing" until it is gone...
    {
        QLocalSocket socket;
        socket.connectToServer(first->socketPath());
        ASSERT_TRUE(socket.waitForConnected(1000));
        socket.write("raise\n");
        ASSERT_TRUE(QTest::qWaitFor([&] { return socket.canReadLine(); }, 3000));
        EXPECT_EQ(socket.readLine(), QByteArray("closing\n"));
    }
    // ...and once it is, the next start runs.
    first.reset();
    TSingleInstance later(Folder());
    EXPECT_EQ(later.Claim(1000), TClaim::First);
}

TEST_F(SingleInstanceTest, RefusedCloseLeavesTheWindowAnswering)
{
    TSlowClosingWindow window;
    window.refuse = true;
    TSingleInstance first(Folder());
    ASSERT_EQ(first.Claim(1000), TClaim::First);
    ASSERT_TRUE(first.Serve(&window));
    window.show();
    EXPECT_FALSE(window.close());
    TSingleInstance later(Folder());
    EXPECT_EQ(later.Claim(3000), TClaim::Forwarded);
}

TEST_F(SingleInstanceTest, GoneWindowAndStrangeRequestsRaiseNothing)
{
    auto window = std::make_unique<QWidget>();
    TSingleInstance first(Folder());
    ASSERT_EQ(first.Claim(1000), TClaim::First);
    // A socket file left by a copy that died is no obstacle.
    ASSERT_TRUE(QFile(first.socketPath()).open(QIODevice::WriteOnly));
    ASSERT_TRUE(first.Serve(window.get()));
    int raised = 0;
    first.onRaised = [&] { ++raised; };

    struct Case {
        QByteArray request;
        QByteArray answer;
    };
    for (const Case &c : {Case{"show me\n", ""}, Case{"raise", ""}}) {
        QLocalSocket socket;
        socket.connectToServer(first.socketPath());
        ASSERT_TRUE(socket.waitForConnected(1000));
        socket.write(c.request);
        (void)QTest::qWaitFor([&] { return socket.canReadLine() || socket.state() != QLocalSocket::ConnectedState; }, 500);
        EXPECT_EQ(socket.readAll(), c.answer) << c.request.constData();
    }
    window.reset();
    TSingleInstance later(Folder());
    EXPECT_EQ(later.Claim(300), TClaim::Unsettled);
    EXPECT_EQ(raised, 0);
}

TEST_F(SingleInstanceTest, AddRequestsAreFramedCheckedAndDeliveredOnce)
{
    QWidget window;
    TSingleInstance first(Folder());
    ASSERT_EQ(first.Claim(1000), TClaim::First);
    ASSERT_TRUE(first.Serve(&window));
    QList<QStringList> delivered;
    first.onPaths = [&](const QStringList &paths) { delivered << paths; };

    struct Case {
        QByteArray request;
        QByteArray answer; // empty: dropped without one
        QStringList paths;
    };
    const Case cases[] = {
        {QByteArray("add 10\n/x\ny\0/z\xc3\xa9\0", 17), "added\n", {QStringLiteral("/x\ny"), QStringLiteral("/z\u00e9")}},
        {"add 0\n", "", {}},
        {"add -3\n/a", "", {}},
        {QByteArray("add 03\n/a\0", 10), "", {}},             // not the plain number
        {"add 99999999999\n", "", {}},                        // beyond the bound
        {"add 3\n/ab", "", {}},                               // the last path not ended
        {QByteArray("add 4\n/a\0\0", 10), "", {}},             // an empty path
        {QByteArray("add 3\nab\0", 9), "", {}},                // relative
        {QByteArray("add 3\n/\xff\0", 9), "", {}},             // not UTF-8
        {"add 4099\n/" + QByteArray(4097, 'a') + '\0', "", {}}, // longer than any path
        {QByteArray(100, 'r'), "", {}},                        // no line at all
    };
    for (const Case &c : cases) {
        QLocalSocket socket;
        socket.connectToServer(first.socketPath());
        ASSERT_TRUE(socket.waitForConnected(1000));
        // Byte by byte: the framing holds however the bytes arrive.
        for (const char byte : c.request) {
            if (socket.state() != QLocalSocket::ConnectedState)
                break;
            socket.write(&byte, 1);
            socket.flush();
            QCoreApplication::processEvents();
        }
        EXPECT_TRUE(QTest::qWaitFor([&] { return socket.canReadLine() || socket.state() != QLocalSocket::ConnectedState; },
                                    3000))
            << c.request.toPercentEncoding().constData();
        EXPECT_EQ(socket.bytesAvailable() > 0 ? socket.readAll() : QByteArray(), c.answer) << c.request.toPercentEncoding().constData();
        if (!c.paths.isEmpty()) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return !delivered.isEmpty(); }, 3000));
            EXPECT_EQ(delivered, QList<QStringList>{c.paths});
            delivered.clear();
        }
    }
    // A later start with paths is taken over; nothing else was delivered.
    TSingleInstance later(Folder());
    EXPECT_EQ(later.Claim(3000, {QStringLiteral("/only")}), TClaim::Forwarded);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !delivered.isEmpty(); }, 3000));
    EXPECT_EQ(delivered, QList<QStringList>{{QStringLiteral("/only")}});
}

TEST_F(SingleInstanceTest, LockFolderIsMadeAndAnUnusableOneDoesNotStopTheProgram)
{
    TSingleInstance first(Folder() + QStringLiteral("/deeper"));
    EXPECT_EQ(first.Claim(1000), TClaim::First);
    EXPECT_TRUE(QFile::exists(first.lockPath()));

    // A folder that cannot be made (a file is in the way): no lock to be
    // had, and the program runs at once rather than after the wait.
    ASSERT_TRUE(QFile(tmp.path() + QStringLiteral("/file")).open(QIODevice::WriteOnly));
    TSingleInstance blocked(tmp.path() + QStringLiteral("/file/run"));
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(blocked.Claim(30000), TClaim::Unsettled);
    EXPECT_LT(clock.elapsed(), 5000);
}

} // namespace
