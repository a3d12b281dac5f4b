#pragma once
// The program from start to end, shared by main() and by the test harness
// that plays an installed copy.

#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <string>

class IDialogs;
class TForm1;

struct TProgramOptions {
    // The install prefix's binary folder: an executable there is the
    // installed program (per-user folders, one copy per user).
    std::string installedBinDir;
    QString desktopBus = QStringLiteral("session"); // see TForm1Config
    std::shared_ptr<IDialogs> dialogs;              // null: Qt's dialogs
    quint16 msgPort = 574;
    quint16 strmPort = 573;
    // Where an installed copy keeps its lock; empty: the user's runtime folder.
    QString instanceFolder;
    // For the test harness: after the window is up, and after a later start
    // brought it forward.
    std::function<void(TForm1 &)> started;
    std::function<void()> raised;
};

// Runs the program inside the QApplication that exists and returns the
// process's exit status: 0 at once when this is a second start of the
// installed program for this user and the running copy took it over.
int RunDizaruz(const TProgramOptions &options);
