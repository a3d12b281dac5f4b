// Developer tool, not a test: the real window under a real X server (Xvfb)
// with its list of computers open, showing found, duplicate and remembered
// computers; saves computers.png in the current folder. With "stopped": the
// status bar's line of a daemon that stopped instead, in computers-stopped.png.
//   xvfb-run -a -s "-screen 0 800x600x24" build/app/tests/computers_screenshot [stopped]

#include "Language.h"
#include "ComputersView.h"
#include "Form1.h"
#include "peer/computers.h"

#include <QApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    InstallLanguage(app, QStringLiteral("ru")); // the design's texts
    QTemporaryDir tmp;
    TForm1Config config;
    config.programFolder = tmp.path().toStdString() + "/";
    config.msgPort = 0;
    config.strmPort = 0;
    config.discovery = false; // the rows below stand for what discovery finds
    TForm1 form(config);
    form.FormCreate();
    form.SetThisComputer("alpha", "192.168.1.10");
    dz::peer::TComputers &model = form.Computers();
    model.Remember(QStringLiteral("buhgalteria"), QStringLiteral("192.168.1.40"));
    const bool stopped = argc > 1 && QByteArray(argv[1]) == "stopped";
    model.SetState(stopped ? dz::peer::TDiscoveryState::Stopped : dz::peer::TDiscoveryState::Running);
    const auto found = [&](const char *key, const QByteArray &name, const QByteArray &address) {
        model.Found({QString::fromLatin1(key), name, {"name=" + name}, address, false});
    };
    if (!stopped) {
        found("1", "beta", "192.168.1.12");
        found("2", "sklad-pc", "192.168.1.23");
        found("3", "sklad-pc", "192.168.1.57");
    }
    form.move(10, 10);
    form.show();
    const auto shoot = [&](const QString &file) {
        QApplication::primaryScreen()->grabWindow(0, 0, 0, 640, 440).save(file);
        app.quit();
    };
    if (stopped) {
        // After the first tick of the clock, which shares the status bar with the line.
        QTimer::singleShot(1500, [&] { shoot(QStringLiteral("computers-stopped.png")); });
        return app.exec();
    }
    QTimer::singleShot(400, [&] { form.ComputersView->Button()->showMenu(); }); // returns when the menu closes
    QTimer::singleShot(300, [&] {
        // The first shot opens the menu (a nested loop); this one follows it.
        QTimer::singleShot(600, [&] { shoot(QStringLiteral("computers.png")); });
    });
    return app.exec();
}
