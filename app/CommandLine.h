#pragma once
// The program's arguments: files to add to the send list of the running copy
// (or of the copy this start becomes). Decided before any window or event
// loop exists, so that "--help" and a mistake need no display.

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

struct TCommandLine {
    enum class TAction {
        Run,    // start or forward, with paths (possibly none)
        Help,   // print Usage() on standard output, exit 0
        Refuse, // print message on standard error, exit 2
    };
    TAction action = TAction::Run;
    QStringList paths; // absolute UTF-8 paths, in the order given, without repeats
    QString message;   // for Refuse: what was wrong, one line per argument
};

// args: argv without the program name, as the bytes the shell passed. cwd:
// the folder relative paths are taken from. Looks at the disk (stat) only.
TCommandLine ParseCommandLine(const std::vector<QByteArray> &args, const QString &cwd);

QString Usage();

// What main() does with a command line that does not run the program: the
// exit status after printing help or the complaint; nothing for Run.
std::optional<int> AnswerCommandLine(const TCommandLine &line);
