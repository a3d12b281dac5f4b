// The command line: what it accepts, and paths handed to the running copy by
// real processes (the program's start-up played by cli_harness) over the
// real single-instance socket.

#include "CommandLine.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

using TAction = TCommandLine::TAction;

class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        ASSERT_TRUE(QDir().mkpath(Path("files/sub")));
        for (const char *name : {"a.txt", "b.txt", "two\nlines.txt", "-dash"})
            ASSERT_TRUE(QFile(Path("files/") + QString::fromUtf8(name)).open(QIODevice::WriteOnly));
    }
    QString Path(const char *relative) const { return tmp.path() + u'/' + QString::fromUtf8(relative); }
    QTemporaryDir tmp;
};

TEST_F(CommandLineTest, ArgumentsAreFilesOptionsOrMistakes)
{
    struct Case {
        std::vector<QByteArray> args;
        TAction action;
        std::vector<const char *> paths; // relative to files/
        const char *complaint;           // part of the message
    };
    const Case cases[] = {
        {{}, TAction::Run, {}, ""},
        {{"a.txt", "sub/../b.txt", "a.txt"}, TAction::Run, {"a.txt", "b.txt"}, ""},
        {{"two\nlines.txt"}, TAction::Run, {"two\nlines.txt"}, ""},
        {{"--", "-dash"}, TAction::Run, {"-dash"}, ""},
        {{"--", "--help"}, TAction::Refuse, {}, "--help: no such file"},
        {{"--help", "a.txt"}, TAction::Help, {"a.txt"}, ""},
        {{"-h"}, TAction::Help, {}, ""},
        {{"a.txt", "--frobnicate"}, TAction::Refuse, {}, "unknown option --frobnicate"},
        {{"-dash"}, TAction::Refuse, {}, "unknown option -dash"},
        {{"a.txt", "gone.txt"}, TAction::Refuse, {}, "gone.txt: no such file"},
        {{"sub", "sub/", "a.txt"}, TAction::Run, {"sub", "a.txt"}, ""},
        {{"/dev/null"}, TAction::Refuse, {}, "not a regular file"},
        {{"\xff.txt"}, TAction::Refuse, {}, "not UTF-8"},
        {{""}, TAction::Refuse, {}, "an empty file name"},
    };
    for (const Case &c : cases) {
        const TCommandLine line = ParseCommandLine(c.args, Path("files"));
        const QString name = c.args.empty() ? QString() : QString::fromUtf8(c.args.back());
        EXPECT_EQ(line.action, c.action) << name.toStdString();
        QStringList expected;
        for (const char *p : c.paths)
            expected << Path("files/") + QString::fromUtf8(p);
        EXPECT_EQ(line.paths, expected) << name.toStdString();
        EXPECT_TRUE(line.message.contains(QString::fromUtf8(c.complaint))) << line.message.toStdString();
    }
}

// A copy of the program in a process of its own; killed when still running.
class TCopy {
public:
    TCopy(const QString &program, const QStringList &args, const QProcessEnvironment &env)
    {
        process_.setProcessEnvironment(env);
        process_.start(program, args);
    }
    ~TCopy()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    // The next line it prints; empty when none came within 20 s.
    QByteArray NextLine()
    {
        const QDeadlineTimer deadline(20000);
        while (!process_.canReadLine() && !deadline.hasExpired()
               && process_.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
        }
        return process_.canReadLine() ? process_.readLine().chopped(1) : QByteArray();
    }
    // Its exit status once it ended (-1 when it did not within 20 s).
    int Finish()
    {
        if (!process_.waitForFinished(20000) || process_.exitStatus() != QProcess::NormalExit)
            return -1;
        return process_.exitCode();
    }
    QProcess process_;
};

QByteArray ListLine(const QStringList &paths)
{
    QByteArrayList rows;
    for (const QString &path : paths)
        rows << QUrl::toPercentEncoding(path);
    return "list " + rows.join(' ');
}

class HandOverTest : public CommandLineTest {
protected:
    QProcessEnvironment Environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), Path("home"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), Path("home/.local/share"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), Path("home/.config"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), tmp.path()); // private: QTemporaryDir makes it 0700
        env.remove(QStringLiteral("DIZARUZ_HARNESS_BINDIR"));
        return env;
    }
};

TEST_F(HandOverTest, PathsReachTheRunningInstalledCopyOnceAndMistakesReachNothing)
{
    QProcessEnvironment env = Environment();
    const QString harness = QStringLiteral(CLI_HARNESS);
    env.insert(QStringLiteral("DIZARUZ_HARNESS_BINDIR"), QFileInfo(harness).absolutePath());
    TCopy first(harness, {}, env);
    ASSERT_EQ(first.NextLine(), "ready");

    const QString a = Path("files/a.txt"), b = Path("files/b.txt"), lines = Path("files/two\nlines.txt");
    struct Step {
        QStringList args;
        int status;
        QByteArray complaint;
        QStringList list; // the running copy's send list after the step; none for a refusal
    };
    const Step steps[] = {
        {{a, lines}, 0, {}, {a, lines}},
        {{lines, a}, 0, {}, {a, lines}}, // handed over twice: listed once
        {{b, Path("files/gone")}, 2, "no such file", {}},
        {{QStringLiteral("--frobnicate"), b}, 2, "unknown option", {}},
        {{Path("files/sub")}, 0, {}, {a, lines, Path("files/sub")}},
        {{b}, 0, {}, {a, lines, Path("files/sub"), b}},
    };
    for (const Step &s : steps) {
        TCopy later(harness, s.args, env);
        EXPECT_EQ(later.Finish(), s.status) << s.args.join(u' ').toStdString();
        EXPECT_TRUE(later.process_.readAllStandardError().contains(s.complaint));
        EXPECT_EQ(later.process_.readAllStandardOutput(), QByteArray()) << "a later start ran on its own";
        if (s.status == 0) {
            EXPECT_EQ(first.NextLine(), ListLine(s.list));
        }
    }
    // A start without files brings the window forward, as before.
    TCopy plain(harness, {}, env);
    EXPECT_EQ(plain.Finish(), 0);
}

TEST_F(HandOverTest, PortableCopyStartsWithItsFilesAndItsSecondStartForwards)
{
    // Two portable copies: their state beside them, one running copy per folder.
    const QString harness = QStringLiteral(CLI_HARNESS);
    for (const char *folder : {"one", "two"}) {
        ASSERT_TRUE(QDir().mkpath(Path(folder)));
        ASSERT_TRUE(QFile::copy(harness, Path(folder) + QStringLiteral("/dizaruz")));
    }
    const QProcessEnvironment env = Environment();
    const QString a = Path("files/a.txt"), b = Path("files/b.txt");

    // Its own files go in once the window runs (they are looked at off its thread).
    TCopy one(Path("one/dizaruz"), {a}, env);
    ASSERT_EQ(one.NextLine(), "ready");
    EXPECT_EQ(one.NextLine(), ListLine({a}));
    TCopy two(Path("two/dizaruz"), {}, env);
    ASSERT_EQ(two.NextLine(), "ready");

    TCopy again(Path("one/dizaruz"), {b, a}, env);
    EXPECT_EQ(again.Finish(), 0);
    EXPECT_EQ(again.process_.readAllStandardOutput(), QByteArray());
    EXPECT_EQ(one.NextLine(), ListLine({a, b}));
    // The list is that folder's state, kept beside its copy.
    EXPECT_TRUE(QFile::exists(Path("one/~ListFile_send.txt")));
    EXPECT_FALSE(QFile::exists(Path("two/~ListFile_send.txt")));
}

} // namespace
