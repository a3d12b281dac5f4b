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
#include <QTimer>

namespace {

int FindRow(const QListWidget *list, const QString &path)
{
    // Exact comparison: Linux file names are case-sensitive.
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->text() == path)
            return i;
    return -1;
}

} // namespace

void TForm1::SB_FileAddClick()
{
    const QStringList files = dialogs_->openFiles(this, OD1);
    if (files.isEmpty())
        return;
    // Paths stay exact, whatever characters they hold.
    for (const QString &file : files) {
        const int row = FindRow(ListF_send, file);
        if (row >= 0)
            SetItemIndex(ListF_send, row);
        else
            AddRowUtf8(ListF_send, file.toStdString(), true, true);
        QCoreApplication::processEvents();
    }
    SetItemIndex(ListF_send, ListF_send->count() - 1);
    SaveListFile(ListF_send);
}

void TForm1::FormDropFiles(const QStringList &names)
{
    if (names.isEmpty())
        return;
    for (const QString &name : names) {
        // Folders and vanished files are skipped quietly; no duplicate test
        // here: a file dropped twice is listed twice.
        const std::string path = name.toStdString();
        if (dz::FileExists(path))
            AddRowUtf8(ListF_send, path, true, true);
        QCoreApplication::processEvents();
    }
    SetItemIndex(ListF_send, ListF_send->count() - 1);
    SaveListFile(ListF_send);
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
    std::string folder = Label_Dir_Reciv->text().toStdString();
    if (SelectFolder(*dialogs_, this, folder))
        ShowReceiveFolder(folder.empty() ? ProgramFolder() : folder);
    // Written also after a cancel: the unchanged folder is stored again.
    files_.writeIni("LOCAL", "SubDir_for_Reciv", Label_Dir_Reciv->text().toStdString());
}

void TForm1::ShowReceiveFolder(const std::string &folder)
{
    Label_Dir_Reciv->setText(QString::fromStdString(folder));
    Core().SetReceiveFolder(folder);
}

void TForm1::SaveListFile(QListWidget *list)
{
    (list == ListF_send ? sendListChanged_ : recvListChanged_) = false;
    const std::string file = list == ListF_send ? files_.sendListFile() : files_.recvListFile();
    files_.saveLines(file, ListUtf8(list));
}

void TForm1::SaveListFileSoon(QListWidget *list)
{
    (list == ListF_send ? sendListChanged_ : recvListChanged_) = true;
    if (!Timer_SaveLists->isActive())
        Timer_SaveLists->start();
}

void TForm1::SaveChangedListFiles()
{
    Timer_SaveLists->stop();
    if (sendListChanged_)
        SaveListFile(ListF_send);
    if (recvListChanged_)
        SaveListFile(ListF_recv);
}
