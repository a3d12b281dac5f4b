// Drives one real window the way a user would, from a list of steps, for
// the test of two copies on two hosts (each in its own network namespace,
// on the real ports). Clicks and key strokes are real input events sent to
// the controls; the file and folder dialogs are answered as the user would
// answer them. A harness for tests only: the program itself takes no
// arguments. Shown on the display of $DISPLAY (Xvfb in the test), else
// offscreen.
//
//   peer_driver FOLDER STEP...
//     connect NAME     type NAME as the remote computer and click connect
//     activate NAME    choose NAME from the list of computers, once it is seen there
//     wait-peer        until the remote address box is filled
//     wait-ready       until the peer is introduced: chat and send enabled
//     wait-encrypted   until the link with the peer shows encrypted (its key pinned)
//     say TEXT         type TEXT into the chat line and press Enter
//     wait-lines N     until the chat log holds N lines
//     folder DIR       choose DIR as the receive folder
//     add PATH         add PATH to the send list through the open-file dialog
//     add-folder PATH  add the folder PATH to the send list through the folder dialog
//     uncheck PATH     take the check mark off PATH's row (space bar)
//     send             click send, once it is enabled
//     wait-sent        until the send run has ended
//     wait-received N  until N files are listed and the peer's run has ended
//     wait-files N     until N files are listed
//     wait-bye         until the peer's goodbye has emptied the remote boxes
//     wait-notice      until the window has told the user something (a message box or a notice)
//     close            close the window (the goodbye goes out)
//     pause MS         let the window run for MS milliseconds
// Each wait gives up after 60 s, or the time given by "timeout S" (exit 1).
// Each step reports on stderr when it began and ended ("at STEP BEGIN-MS END-MS",
// milliseconds of the wall clock, for benchmarks). The final state and the
// process's peak memory (stderr) are printed at the end.

#include "ComputersView.h"
#include "Language.h"
#include "LinkBadge.h"
#include "Controls.h"
#include "FakeDialogs.h"
#include "Form1.h"
#include "latency_probe.h"
#include "peer/computers.h"
#include "util/codepage.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <cstdio>
#include <fstream>
#include <string>
#include <functional>

namespace {

int waitMs = 60000;

bool PumpUntil(const std::function<bool()> &done, int ms = -1)
{
    if (ms < 0)
        ms = waitMs;
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(200); // not a busy loop
    }
    return true;
}

void Click(QWidget *button)
{
    QTest::mouseClick(button, Qt::LeftButton);
}

void TypeInto(QWidget *edit, const std::string &utf8)
{
    edit->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier); // replace what is there
    // Key by key, with the character as the key's text: the keys of a
    // Cyrillic layout have no Latin key code.
    for (const QChar c : QString::fromStdString(utf8))
        QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

int RowOf(QListView *list, const std::string &utf8)
{
    for (int i = 0; i < RowCount(list); ++i)
        if (RowUtf8(list, i) == utf8)
            return i;
    return -1;
}

// The most memory this process has held (resident), from the kernel.
long PeakKib()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    InstallLanguage(app, QStringLiteral("ru")); // the design\'s texts
    if (argc < 2) {
        std::fprintf(stderr, "usage: peer_driver FOLDER STEP...\n");
        return 2;
    }
    auto dialogs = std::make_shared<TFakeDialogs>();
    TForm1Config config;
    config.programFolder = argv[1];
    config.dialogs = dialogs;
    TForm1 form(config);
    form.FormCreate();
    form.show();
    form.activateWindow();
    if (!QTest::qWaitForWindowActive(&form, 5000))
        std::fprintf(stderr, "the window did not become active\n");
    const auto probe = TLatencyProbe::FromEnvironment(); // for bench/latency.sh

    int status = 0;
    for (int i = 2; i < argc && status == 0; ++i) {
        const std::string step = argv[i];
        const std::string arg = i + 1 < argc ? argv[i + 1] : "";
        auto takesArgument = [&] { ++i; };
        const qint64 began = QDateTime::currentMSecsSinceEpoch();
        if (step == "connect") {
            TypeInto(form.Edit_RemoteComputerName, arg);
            Click(form.SB_connect);
            takesArgument();
        } else if (step == "activate") {
            // The menu's entry for a computer discovery sees now, triggered as a click on it does.
            const QString name = QString::fromStdString(arg);
            QAction *entry = nullptr;
            const auto seen = [&] {
                for (const dz::peer::TComputer &c : form.Computers().Computers())
                    if (c.name == name && c.seen)
                        for (QAction *a : form.ComputersView->Menu()->actions())
                            if (a->text() == TComputersView::RowText(c))
                                entry = a;
                return entry != nullptr;
            };
            status = PumpUntil(seen) ? 0 : 1;
            if (entry)
                entry->trigger();
            takesArgument();
        } else if (step == "wait-ready") {
            status = PumpUntil([&] { return form.SB_msg->isEnabled() && form.SB_send->isEnabled(); }) ? 0 : 1;
        } else if (step == "wait-encrypted") {
            const auto *badge = form.findChild<TLinkBadge *>();
            status = badge && PumpUntil([&] { return badge->State() != dz::peer::TLinkState::Clear; }) ? 0 : 1;
        } else if (step == "wait-peer") {
            status = PumpUntil([&] { return !TextOf(form.Edit_RemoteComputerIP).empty(); }) ? 0 : 1;
        } else if (step == "say") {
            TypeInto(form.Edit_Mess, arg);
            QTest::keyClick(form.Edit_Mess, Qt::Key_Return);
            takesArgument();
        } else if (step == "wait-lines") {
            const std::size_t lines = static_cast<std::size_t>(std::atoi(arg.c_str()));
            status = PumpUntil([&] { return MemoLines(form.Memo_Mess).size() >= lines; }) ? 0 : 1;
            takesArgument();
        } else if (step == "folder") {
            dialogs->folderAnswers.push_back({QString::fromStdString(arg), false});
            form.TN1->setCurrentIndex(0);
            Click(form.SB_Dir);
            takesArgument();
        } else if (step == "add") {
            dialogs->openFilesAnswers.push_back({QString::fromStdString(arg)});
            form.TN1->setCurrentIndex(1);
            Click(form.SB_FileAdd);
            takesArgument();
        } else if (step == "add-folder") {
            dialogs->folderAnswers.push_back({QString::fromStdString(arg), false});
            form.TN1->setCurrentIndex(1);
            Click(form.SB_FolderAdd);
            takesArgument();
        } else if (step == "uncheck") {
            form.TN1->setCurrentIndex(1);
            const int row = RowOf(form.ListF_send, arg);
            if (row < 0 || !RowChecked(form.ListF_send, row)) {
                std::fprintf(stderr, "no checked row %s\n", arg.c_str());
                status = 2;
            } else {
                form.ListF_send->setFocus(Qt::MouseFocusReason);
                SetItemIndex(form.ListF_send, row);
                QTest::keyClick(form.ListF_send, Qt::Key_Space);
                status = RowChecked(form.ListF_send, row) ? 1 : 0;
            }
            takesArgument();
        } else if (step == "send") {
            // As a user would: once the button lights up (the peer said it is free).
            status = PumpUntil([&] { return form.SB_send->isEnabled(); }) ? 0 : 1;
            if (status == 0)
                Click(form.SB_send);
        } else if (step == "wait-sent") {
            // A run that stalled on an error ends the wait too (and fails).
            const bool ended = PumpUntil([&] {
                return form.Label_YesSend->isHidden() || (!form.Timer1->isActive() && !dialogs->messages.empty());
            });
            status = ended && form.Label_YesSend->isHidden() ? 0 : 1;
        } else if (step == "wait-received") {
            const int files = std::atoi(arg.c_str());
            status = PumpUntil([&] {
                return RowCount(form.ListF_recv) >= files && form.Label_YesReciv->isHidden();
            }) ? 0 : 1;
            takesArgument();
        } else if (step == "wait-files") {
            const int files = std::atoi(arg.c_str());
            status = PumpUntil([&] { return RowCount(form.ListF_recv) >= files; }) ? 0 : 1;
            takesArgument();
        } else if (step == "timeout") {
            waitMs = std::atoi(arg.c_str()) * 1000;
            takesArgument();
        } else if (step == "wait-bye") {
            status = PumpUntil([&] { return TextOf(form.Edit_RemoteComputerIP).empty(); }) ? 0 : 1;
        } else if (step == "wait-notice") {
            status = PumpUntil([&] { return !dialogs->messages.empty() || !dialogs->notices.empty(); }) ? 0 : 1;
        } else if (step == "pause") {
            PumpUntil([] { return false; }, std::atoi(arg.c_str()));
            takesArgument();
        } else if (step == "close") {
            // The window goes once its goodbye went (or could not go).
            form.close();
            status = PumpUntil([&] { return !form.isVisible(); }) ? 0 : 1;
        } else {
            std::fprintf(stderr, "unknown step %s\n", step.c_str());
            status = 2;
        }
        std::fprintf(stderr, "at %s %lld %lld\n", step.c_str(), static_cast<long long>(began),
                    static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
        if (status)
            std::fprintf(stderr, "step %s failed\n", step.c_str());
    }
    std::printf("remote=%s ip=%s msg=%d send=%d\n", dz::Cp1251ToUtf8(TextOf(form.Edit_RemoteComputerName)).c_str(),
                TextOf(form.Edit_RemoteComputerIP).c_str(), form.SB_msg->isEnabled(), form.SB_send->isEnabled());
    for (const auto &line : MemoLines(form.Memo_Mess))
        std::printf("chat %s\n", dz::Cp1251ToUtf8(line).c_str());
    for (int row = 0; row < RowCount(form.ListF_send); ++row)
        std::printf("send %d %s\n", RowChecked(form.ListF_send, row) ? 1 : 0,
                    dz::Cp1251ToUtf8(RowText(form.ListF_send, row)).c_str());
    for (int row = 0; row < RowCount(form.ListF_recv); ++row)
        std::printf("recv %s\n", dz::Cp1251ToUtf8(RowText(form.ListF_recv, row)).c_str());
    std::fprintf(stderr, "peak-kib %ld\n", PeakKib());
    std::fprintf(stderr, "progress-updates %llu\nprogress-us %lld\n",
                 static_cast<unsigned long long>(form.ProgressCost().updates),
                 static_cast<long long>(form.ProgressCost().spent.count() / 1000));
    for (const auto &m : dialogs->messages)
        std::fprintf(stderr, "message: %s\n", m.text.toUtf8().constData());
    for (const auto &m : dialogs->notices)
        std::fprintf(stderr, "notice: %s\n", m.text.toUtf8().constData());
    return status;
}
