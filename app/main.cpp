// Dizaruz: copies files between two computers on a LAN and carries a chat
// between them. Its arguments are files for the send list (see Usage()).

#include "Form1Desktop.h"
#include "CommandLine.h"
#include "Guard.h"
#include "Program.h"

#include <QApplication>
#include <QDir>
#include <QIcon>

#include <vector>

namespace {

// The last line of defence: a handler that slipped past RunGuarded still
// reaches the general error report instead of unwinding through Qt.
class TApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject *receiver, QEvent *event) override
    {
        bool result = false;
        RunGuarded([&] { result = QApplication::notify(receiver, event); });
        return result;
    }
};

QIcon ProgramIcon()
{
    // The theme's icon when the program is installed; its own pictures otherwise.
    QIcon own;
    for (const int size : {16, 32, 48, 64, 128, 256})
        own.addFile(QStringLiteral(":/icons/%1.png").arg(size), QSize(size, size));
    return QIcon::fromTheme(AppId(), own);
}

} // namespace

int main(int argc, char **argv)
{
    // Read before Qt is up, so that help and mistakes need no display.
    const TCommandLine line = ParseCommandLine(std::vector<QByteArray>(argv + 1, argv + argc), QDir::currentPath());
    if (const auto status = AnswerCommandLine(line))
        return *status;

    // Qt sees no arguments: every argument is a file, never a Qt option.
    int qtArgc = 1;
    char name[] = "dizaruz";
    char *qtArgv[] = {name, nullptr};
    TApplication app(qtArgc, qtArgv);
    app.setApplicationName(QStringLiteral("Dizaruz"));
    // Lets the desktop match the window with its menu entry and icon.
    QGuiApplication::setDesktopFileName(AppId());
    QApplication::setWindowIcon(ProgramIcon());

    TProgramOptions options;
    options.installedBinDir = DIZARUZ_INSTALLED_BINDIR;
    options.paths = line.paths;
    return RunDizaruz(options);
}
