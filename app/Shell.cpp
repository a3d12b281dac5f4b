#include "Shell.h"

#include "Dialogs.h"
#include "util/codepage.h"
#include "util/errors.h"
#include "util/files.h"
#include "util/text.h"

#include <QCoreApplication>
#include <QDir>
#include <QUrl>

#include <filesystem>

bool OpenDocument(IDialogs &dialogs, bool showError, QWidget *owner, const std::string &document,
                  int showMode)
{
    if (showMode == 0)
        showMode = 1;
    (void)showMode; // the desktop shows what it opens the way it likes
    bool ok = false;
    try {
        const QUrl url = QUrl::fromUserInput(dz::ToQString(document), QDir::currentPath(),
                                             QUrl::AssumeLocalFile);
        ok = url.isValid() && !url.isEmpty() && dialogs.openUrl(url);
        if (!ok && showError)
            dialogs.message(owner, AppCaption(),
                            QCoreApplication::translate("Shell", "Ошибка при открытии документа : ") + dz::ToQString(document));
    } catch (...) {
        ok = false; // a failed open is only ever reported by the result
    }
    return ok;
}

bool SelectFolder(IDialogs &dialogs, QWidget *parent, std::string &folder)
{
    folder = dz::TrimText(folder);
    if (!dz::FolderExists(folder))
        folder.clear();
    const QString start = folder.empty() ? QDir::currentPath() : QString::fromStdString(folder);
    const std::optional<QString> chosen = dialogs.selectFolder(parent, QStringLiteral("Select Directory"), start);
    if (!chosen)
        return false;
    std::string result = chosen->toStdString();
    if (dz::TrimText(result).empty())
        throw dz::EFileError("Unable to create directory");
    if (!dz::FolderExists(result)) {
        std::error_code ec; // a folder that cannot be made is not reported: the result says it
        std::filesystem::create_directories(dz::TrimText(result), ec);
    }
    dz::NormalizeFolderPath(result);
    folder = result;
    return dz::FolderExists(folder);
}
