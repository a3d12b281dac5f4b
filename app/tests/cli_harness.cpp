// Plays the program with its command line for the command-line tests: the
// program's own argument handling and start-up (RunDizaruz), with answered
// dialogs, free ports and no desktop bus. A harness for tests only.
//
//   cli_harness ARG...   as "dizaruz ARG..."
// Environment: DIZARUZ_HARNESS_BINDIR, the install prefix's binary folder
// (unset: none, so the copy keeps its state beside itself).
// Prints "ready" once it serves later starts, and "list" with the send
// list's rows (percent-encoded, separated by spaces) after each hand-over of
// paths. Ends after 60 s at the latest. A start taken over by a running copy
// prints nothing.

#include "CommandLine.h"
#include "FakeDialogs.h"
#include "Form1.h"
#include "Program.h"

#include <QApplication>
#include <QDir>
#include <QTimer>
#include <QUrl>

#include <cstdio>
#include <vector>

int main(int argc, char **argv)
{
    const TCommandLine line = ParseCommandLine(std::vector<QByteArray>(argv + 1, argv + argc), QDir::currentPath());
    if (const auto status = AnswerCommandLine(line))
        return *status;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication app(qtArgc, argv);

    TProgramOptions options;
    options.installedBinDir = qEnvironmentVariable("DIZARUZ_HARNESS_BINDIR").toStdString();
    options.desktopBus.clear();
    options.dialogs = std::make_shared<TFakeDialogs>();
    options.msgPort = 0;
    options.strmPort = 0;
    options.paths = line.paths;
    options.started = [](TForm1 &) {
        std::printf("ready\n");
        std::fflush(stdout);
        QTimer::singleShot(60000, qApp, [] { QCoreApplication::exit(1); });
    };
    options.pathsAdded = [](TForm1 &form) {
        QByteArrayList rows;
        for (const QString &row : SendListRows(form))
            rows << QUrl::toPercentEncoding(row);
        std::printf("list %s\n", rows.join(' ').constData());
        std::fflush(stdout);
    };
    return RunDizaruz(options);
}
