// Developer tool, not a test: the list of computers under a real X server
// (Xvfb), open beside a stand-in for the remote name box, with found,
// duplicate and remembered computers; saves computers.png in the current
// folder. With "stopped": the line of a daemon that stopped instead, in
// computers-stopped.png.
//   xvfb-run -s "-screen 0 640x400x24" build/computers_screenshot [stopped]

#include "Language.h"
#include "ComputersView.h"

#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    InstallLanguage(app, QStringLiteral("ru")); // the design\'s texts
    QFont font = app.font();
    font.setPixelSize(11);
    app.setFont(font);
    dz::peer::TComputers model(nullptr);
    model.Remember(QStringLiteral("buhgalteria"), QStringLiteral("192.168.1.40"));
    model.SetState(dz::peer::TDiscoveryState::Running);
    const auto found = [&](const char *key, const QByteArray &name, const QByteArray &address) {
        model.Found({QString::fromLatin1(key), name, {"name=" + name}, address, false});
    };
    found("1", "beta", "192.168.1.12");
    found("2", "sklad-pc", "192.168.1.23");
    found("3", "sklad-pc", "192.168.1.57");

    QWidget window;
    window.setWindowTitle(QStringLiteral("Dizaruz"));
    auto *layout = new QVBoxLayout(&window);
    auto *box = new QGroupBox(QStringLiteral("Удаленный компьтер"), &window);
    auto *boxLayout = new QHBoxLayout(box);
    auto *name = new QLineEdit(box);
    name->setObjectName(QStringLiteral("Edit_RemoteComputerName"));
    TComputersView view(&model, box);
    boxLayout->addWidget(name);
    boxLayout->addWidget(view.Button());
    layout->addWidget(box);
    layout->addWidget(view.StatusLine());
    window.resize(360, 90);
    window.move(20, 20);
    window.show();
    if (argc > 1 && QByteArray(argv[1]) == "stopped") {
        model.SetState(dz::peer::TDiscoveryState::Stopped);
        window.resize(360, 130);
        QTimer::singleShot(500, [&] {
            QApplication::primaryScreen()->grabWindow(0, 0, 0, 420, 160).save(QStringLiteral("computers-stopped.png"));
            app.quit();
        });
        return app.exec();
    }
    QTimer::singleShot(400, [&] { view.Button()->showMenu(); }); // returns when the menu closes
    QTimer::singleShot(300, [&] {
        // The first shot opens the menu (a nested loop); this one follows it.
        QTimer::singleShot(600, [&] {
            QApplication::primaryScreen()->grabWindow(0, 0, 0, 640, 200).save(QStringLiteral("computers.png"));
            app.quit();
        });
    });
    return app.exec();
}
