#include "CommandLine.h"

#include "SingleInstance.h"

#include <QByteArrayView>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <sys/stat.h>

namespace {

bool SameFile(const QString &a, const QString &b)
{
    struct stat sa {}, sb {};
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 && ::stat(QFile::encodeName(b).constData(), &sb) == 0
           && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

QString Absolute(const QString &path, const QString &cwd)
{
    const QString absolute = path.startsWith(u'/') ? path : cwd + u'/' + path;
    // "a/../b" read lexically is another file when "a" is a link: the tidy
    // form only where it names the same file.
    const QString clean = QDir::cleanPath(absolute);
    return SameFile(clean, absolute) ? clean : absolute;
}

// Empty when the argument can go to the send list, else why not.
QString Check(const QByteArray &arg, const QString &path)
{
    const QString shown = QString::fromLocal8Bit(arg);
    if (arg.isEmpty())
        return QStringLiteral("dizaruz: an empty file name");
    // The send list holds UTF-8 paths; another encoding would name another file.
    if (!QByteArrayView(arg).isValidUtf8())
        return QStringLiteral("dizaruz: %1: the name is not UTF-8").arg(shown);
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("dizaruz: %1: no such file").arg(shown);
    // A folder is one row, sent as its tree.
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
        return QStringLiteral("dizaruz: %1: not a regular file").arg(shown);
    return {};
}

} // namespace

TCommandLine ParseCommandLine(const std::vector<QByteArray> &args, const QString &cwd)
{
    TCommandLine line;
    QStringList problems;
    bool options = true;
    for (const QByteArray &arg : args) {
        if (options && arg == "--") {
            options = false;
            continue;
        }
        if (options && (arg == "--help" || arg == "-h")) {
            line.action = TCommandLine::TAction::Help;
            continue;
        }
        // "-" alone is a file name, as for most tools that do not read standard input.
        if (options && arg.size() > 1 && arg.startsWith('-')) {
            problems << QStringLiteral("dizaruz: unknown option %1 (a file whose name begins with '-' goes after --)")
                            .arg(QString::fromLocal8Bit(arg));
            continue;
        }
        const QString path = Absolute(QString::fromUtf8(arg), cwd);
        if (const QString problem = Check(arg, path); !problem.isEmpty())
            problems << problem;
        else if (!line.paths.contains(path))
            line.paths << path;
    }
    // More than the running copy takes in one request (only with a stack
    // limit raised far above the usual, which bounds the arguments).
    qsizetype bytes = 0;
    for (const QString &path : line.paths)
        bytes += path.toUtf8().size() + 1;
    if (bytes > TSingleInstance::kMaxPayload)
        problems << QStringLiteral("dizaruz: too many files at once; hand them over in parts");
    if (!problems.isEmpty()) {
        line.action = TCommandLine::TAction::Refuse;
        line.message = problems.join(u'\n') + QStringLiteral("\nTry 'dizaruz --help'.");
        line.paths.clear();
    }
    return line;
}

QString Usage()
{
    return QStringLiteral(
        "Usage: dizaruz [OPTION]... [FILE]...\n"
        "Copies files to another computer on the local network and carries a chat.\n"
        "\n"
        "The FILEs (files or folders) are added to the send list of the Dizaruz\n"
        "window already open (for the installed program: this user's; for a copy\n"
        "run from its own folder: that folder's), which comes forward; when none\n"
        "is open, one starts with them. Nothing is sent until the send button is\n"
        "pressed.\n"
        "\n"
        "  -h, --help  show this help and end\n"
        "  --          what follows are file names, even when they begin with '-'\n"
        "\n"
        "Exit status: 0 when the files were handed over or the window ran,\n"
        "2 for a file that does not exist, one that is neither a file nor a\n"
        "folder, or an unknown option; then nothing is handed over.\n");
}

std::optional<int> AnswerCommandLine(const TCommandLine &line)
{
    switch (line.action) {
    case TCommandLine::TAction::Run:
        return std::nullopt;
    case TCommandLine::TAction::Help:
        std::fputs(Usage().toLocal8Bit().constData(), stdout);
        return 0;
    case TCommandLine::TAction::Refuse:
        std::fprintf(stderr, "%s\n", line.message.toLocal8Bit().constData());
        return 2;
    }
    return 2;
}
