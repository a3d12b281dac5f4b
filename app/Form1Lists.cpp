// Form1: the send list, the receive list and the receive folder. Every
// change is written to its file at once, under the write guard.

#include "Form1.h"

#include "Controls.h"
#include "Shell.h"
#include "peer/core.h"
#include "util/codepage.h"
#include "util/files.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>

namespace {

int FindRow(const QListWidget *list, const std::string &text)
{
    // Exact comparison: Linux file names are case-sensitive.
    for (int i = 0; i < list->count(); ++i)
        if (RowText(list, i) == text)
            return i;
    return -1;
}

} // namespace

void TForm1::ReportUnwritableNames(const QStringList &names)
{
    // Such a name would come back from the list file as another name, and
    // the list would then point at a file that does not exist (or at a
    // different one).
    dialogs_->message(this, AppCaption(),
                      QStringLiteral("Имя файла нельзя записать в кодировке Windows-1251, "
                                     "файл не добавлен в список:\n")
                          + names.join(QLatin1Char('\n')));
}

void TForm1::SB_FileAddClick()
{
    const QStringList files = dialogs_->openFiles(this, OD1);
    if (files.isEmpty())
        return;
    QStringList refused;
    for (const QString &file : files) {
        bool lossless = true;
        const std::string path = dz::FromQString(file, &lossless);
        if (!lossless) {
            refused.append(file);
            continue;
        }
        const int row = FindRow(ListF_send, path);
        if (row >= 0)
            SetItemIndex(ListF_send, row);
        else
            AddRow(ListF_send, path, true, true);
        QCoreApplication::processEvents();
    }
    SetItemIndex(ListF_send, ListF_send->count() - 1);
    SaveListFile(ListF_send);
    if (!refused.isEmpty())
        ReportUnwritableNames(refused);
}

void TForm1::FormDropFiles(const QStringList &names)
{
    if (names.isEmpty())
        return;
    QStringList refused;
    for (const QString &name : names) {
        bool lossless = true;
        const std::string path = dz::FromQString(name, &lossless);
        if (!lossless) {
            // Folders and vanished files are skipped quietly, as always.
            if (QFileInfo(name).isFile())
                refused.append(name);
            continue;
        }
        // No duplicate test here: a file dropped twice is listed twice.
        if (dz::FileExists(path))
            AddRow(ListF_send, path, true, true);
        QCoreApplication::processEvents();
    }
    SetItemIndex(ListF_send, ListF_send->count() - 1);
    SaveListFile(ListF_send);
    if (!refused.isEmpty())
        ReportUnwritableNames(refused);
}

void TForm1::SB_FileDelClick()
{
    const int row = ItemIndex(ListF_send);
    if (row < 0)
        return;
    delete ListF_send->takeItem(row);
    // No row stays selected, so a send run under way starts again from the top.
    SetItemIndex(ListF_send, -1);
    SaveListFile(ListF_send);
}

void TForm1::SB_ListClearClick()
{
    if (!dialogs_->confirm(this, QStringLiteral("Confirm"), QStringLiteral("Очистить список файлов ?")))
        return;
    ListF_send->clear();
    SaveListFile(ListF_send);
}

void TForm1::SpeedButton1Click()
{
    ListF_recv->clear();
    SaveListFile(ListF_recv);
}

void TForm1::SB_DirClick()
{
    std::string folder = TextOf(Label_Dir_Reciv);
    if (SelectFolder(*dialogs_, this, folder))
        ShowReceiveFolder(folder.empty() ? ProgramFolder() : folder);
    // Written also after a cancel: the unchanged folder is stored again.
    files_.writeIni("LOCAL", "SubDir_for_Reciv", TextOf(Label_Dir_Reciv));
}

void TForm1::ShowReceiveFolder(const std::string &folder)
{
    SetTextOf(Label_Dir_Reciv, folder);
    Core().SetReceiveFolder(folder);
}

void TForm1::SaveListFile(QListWidget *list)
{
    const std::string file = list == ListF_send ? files_.sendListFile() : files_.recvListFile();
    files_.saveLines(file, ListRows(list));
}
