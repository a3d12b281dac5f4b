// Plays the installed program for the packaging tests: the program's own
// start-up and single-copy rule (RunDizaruz), with the install prefix's
// binary folder given here instead of compiled in, answered dialogs and free
// ports. A harness for tests only (the command line is cli_harness's).
//
//   installed_harness BINDIR MODE
//     start   after start-up, store the receive folder and an empty receive
//             list (as the folder button, cancelled, and the clear button do),
//             print "started", the program folder and the receive folder, end
//     serve   print "ready", wait until a later start brings the window
//             forward (at most 30 s), print "raised", end
//     linger  print "ready", close the window, print "closing", and while
//             quitting keep answering later starts for 3 s, then end
// A start that a running copy took over prints nothing and ends with 0.

#include "FakeDialogs.h"
#include "Form1.h"
#include "Program.h"
#include "util/codepage.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <string>

namespace {

void Say(const std::string &line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: installed_harness BINDIR start|serve|linger\n");
        return 2;
    }
    const std::string mode = argv[2];
    TProgramOptions options;
    options.installedBinDir = argv[1];
    options.desktopBus.clear();
    options.dialogs = std::make_shared<TFakeDialogs>();
    options.msgPort = 0;
    options.strmPort = 0;
    if (mode == "start") {
        options.started = [](TForm1 &form) {
            form.SB_DirClick();
            form.SpeedButton1Click();
            Say("started");
            Say("folder=" + dz::Cp1251ToUtf8(form.ProgramFolder()));
            Say("receive=" + form.Label_Dir_Reciv->text().toStdString());
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        };
    } else if (mode == "serve") {
        options.started = [](TForm1 &) {
            Say("ready");
            QTimer::singleShot(30000, qApp, [] { QCoreApplication::exit(1); });
        };
        options.raised = [] {
            Say("raised");
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        };
    } else if (mode == "linger") {
        options.started = [](TForm1 &form) {
            Say("ready");
            QObject::connect(qApp, &QCoreApplication::aboutToQuit, [] {
                Say("closing");
                const QDeadlineTimer until(3000);
                while (!until.hasExpired()) {
                    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
                    QThread::msleep(5);
                }
            });
            QTimer::singleShot(100, &form, [&form] { form.close(); });
        };
        options.raised = [] { Say("raised"); };
    } else {
        std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
        return 2;
    }
    return RunDizaruz(options);
}
