// Shows one real window for the accessibility walk (a11y_walk.py), in the
// language given, with a folder of its own, free ports and no discovery:
// two rows in the send list (the second unchecked) and one received file.
// Prints "ready" once the window is shown, then "checked ROW 0|1" whenever
// a send-list row's check mark changes, so the walk sees what the model
// saw. Ends when its standard input closes, or after two minutes (exit 1).
//
//   a11y_harness FOLDER ru|en

#include "FakeDialogs.h"
#include "Form1.h"
#include "Language.h"
#include "peer/receivelog.h"
#include "peer/sendlist.h"

#include <QApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: a11y_harness FOLDER ru|en\n");
        return 2;
    }
    InstallLanguage(app, QString::fromUtf8(argv[2]));
    const QString folder = QString::fromUtf8(argv[1]);
    for (const char *name : {"first.txt", "second.txt", "arrived.txt"}) {
        QFile file(folder + QLatin1String(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(name) < 0)
            return 1;
    }

    TForm1Config config;
    config.programFolder = folder.toStdString();
    config.receiveFolder = config.programFolder;
    config.msgPort = 0;
    config.strmPort = 0;
    config.discovery = false;
    config.dialogs = std::make_shared<TFakeDialogs>();
    TForm1 form(config);
    form.FormCreate();
    form.SendList().Append(folder + QStringLiteral("first.txt"));
    form.SendList().Append(folder + QStringLiteral("second.txt"), false);
    form.ReceiveLog().Prepend(QStringLiteral("arrived.txt"), folder + QStringLiteral("arrived.txt"));
    QObject::connect(&form.SendList(), &QAbstractItemModel::dataChanged, &form,
                     [&form](const QModelIndex &from, const QModelIndex &to) {
                         for (int row = from.row(); row <= to.row(); ++row)
                             std::printf("checked %d %d\n", row, form.SendList().Checked(row) ? 1 : 0);
                         std::fflush(stdout);
                     });
    form.show();

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[256];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            app.quit();
    });
    bool timedOut = false;
    QTimer::singleShot(120000, &app, [&] {
        timedOut = true;
        app.quit();
    });
    QTimer::singleShot(0, &app, [] {
        std::printf("ready\n");
        std::fflush(stdout);
    });
    const int status = app.exec();
    return timedOut ? 1 : status;
}
