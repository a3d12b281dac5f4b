#pragma once
// The program from start to end, shared by main() and by the test harness
// that plays an installed copy.

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <string>

class IDialogs;
class TForm1;
class QWidget;

struct TProgramOptions {
    // The install prefix's binary folder: an executable there is the
    // installed program (per-user folders, one copy per user).
    std::string installedBinDir;
    QString desktopBus = QStringLiteral("session"); // see TForm1Config
    std::shared_ptr<IDialogs> dialogs;              // null: Qt's dialogs
    quint16 msgPort = 574;
    quint16 strmPort = 573;
    // Where a copy keeps its lock; empty: the user's runtime folder.
    QString instanceFolder;
    // From the command line: added to the send list of the running copy, or
    // of this one when it is the first.
    QStringList paths;
    // For the test harness: after the window is up, and after a later start
    // brought it forward.
    std::function<void(TForm1 &)> started;
    std::function<void()> raised;
    // For the test harness: after paths reached the send list.
    std::function<void(TForm1 &)> pathsAdded;
};

// The rows of the window's send list, as shown (UTF-8 paths).
QStringList SendListRows(const QWidget &window);

// Runs the program inside the QApplication that exists and returns the
// process's exit status: 0 at once when a copy with the same state (the
// installed program for this user, or a copy from the same folder) is
// running and took this start over: brought its window forward, or added
// options.paths to its send list.
int RunDizaruz(const TProgramOptions &options);
