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
