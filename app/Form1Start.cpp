// Form1: start-up, the about box, and the state files (written on the
// writer's thread, so the window never waits on the disk).

#include "Form1.h"

#include "About.h"
#include "ChatPane.h"
#include "Controls.h"
#include "Guard.h"
#include "ReceivePage.h"
#include "SendPage.h"
#include "Shell.h"
#include "StatusBar.h"
#include "peer/kept.h"
#include "peer/latestwrite.h"
#include "peer/receive.h"
#include "peer/receivelog.h"
#include "peer/sendlist.h"
#include "peer/session.h"
#include "util/codepage.h"
#include "util/files.h"
#include "util/settings.h"
#include "util/filesink.h"
#include "util/system.h"
#include "util/text.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPointer>
#include <QTabWidget>
#include <QThreadPool>
#include <QTimer>

namespace {

// The paths file's lines; none when it is not there.
std::vector<std::string> LoadPathLines(const std::string &file)
{
    std::vector<std::string> lines;
    if (!dz::FileExists(file))
        return lines;
    const std::string bytes = dz::ReadFileBytes(file);
    std::size_t start = 0;
    for (std::size_t end; (end = bytes.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(bytes.substr(start, end - start));
    return lines;
}

} // namespace

void TForm1::FormCreate()
{
    RunGuarded([this] {
        // Free, no invalid host, chat and send off.
        Core().Start();
        ShowDecided();

        const std::string defaultFolder = config_.receiveFolder.empty() ? ProgramFolder() : config_.receiveFolder;
        std::string folder = dz::TrimText(files_.readIni("LOCAL", "SubDir_for_Reciv", defaultFolder));
        if (folder.empty())
            folder = defaultFolder;
        ShowReceiveFolder(folder);
        // Files a crash left half received; nothing else is touched. Parts
        // kept for a continuation stay, unless too old or too many.
        dz::TFileSink::RemoveLeftovers(dz::peer::ReceiveFolderFor(folder, defaultFolder));
        dz::peer::PruneKept(dz::peer::ReceiveFolderFor(folder, defaultFolder));

        TN1->setCurrentIndex(0);
        // Check marks are not stored: every row comes back checked.
        sendList_->Clear();
        for (const std::string &row : TStateFiles::loadLines(files_.sendListFile()))
            sendList_->Append(QString::fromStdString(row));
        recvLog_->Load(TStateFiles::loadLines(files_.recvListFile()),
                       LoadPathLines(dz::peer::TReceiveLogModel::PathsFileFor(files_.recvListFile())));
        ChatPane->Load(TStateFiles::loadLines(files_.msgFile()));

        // The name at once; the address may wait on the resolver, so it is
        // looked up on a pool thread and shown when known.
        ShowIdentity(dz::GetThisComputerName(), "");
        const QPointer<TForm1> self(this);
        QThreadPool::globalInstance()->start([self] {
            const std::string name = dz::GetThisComputerName();
            const std::string ip = dz::LocalAddress();
            QMetaObject::invokeMethod(qApp, [self, name, ip] {
                if (!self)
                    return;
                if (!self->identityGiven_)
                    self->ShowIdentity(name, ip);
                self->identityKnown_ = true;
                if (auto remote = std::exchange(self->connectWhenKnown_, std::nullopt))
                    RunGuarded([&] { self->ConnectTo(remote->first, remote->second); });
            }, Qt::QueuedConnection);
        });
        // "ComputerIP" is never read back: an empty address box means no peer yet.
        Edit_RemoteComputerName->setText(QString::fromStdString(files_.readIni("REMOTE", "ComputerName", "")));

        setAcceptDrops(true);
        StatusBar->Start();
    });
}

void TForm1::Timer2Timer()
{
    StatusBar->Timer2Timer();
}

TAboutBox *TForm1::AboutBox()
{
    if (aboutBox_ == nullptr) {
        aboutBox_ = new TAboutBox(*dialogs_, this);
        aboutBox_->ShowFilesFolder(dz::ToQString(ProgramFolder()));
        aboutBox_->UseSettings(*settings_, [this] { SaveSettings(); });
        aboutBox_->hide();
    }
    return aboutBox_;
}

void TForm1::SB_HelpClick()
{
    TAboutBox *box = AboutBox();
    box->Version->setText(QStringLiteral("1.02  [22.12.2006]"));
    dialogs_->execModal(*box);
}

void TForm1::SB_FileAddClick()
{
    SendPage->SB_FileAddClick();
}

void TForm1::SB_FolderAddClick()
{
    SendPage->SB_FolderAddClick();
}

void TForm1::FormDropFiles(const QStringList &names, std::function<void()> done)
{
    SendPage->AddDropped(names, std::move(done));
}

void TForm1::SB_FileDelClick()
{
    SendPage->SB_FileDelClick();
}

void TForm1::SB_ListClearClick()
{
    SendPage->SB_ListClearClick();
}

void TForm1::SpeedButton1Click()
{
    recvLog_->Clear();
    SaveListFile(ListF_recv);
}

void TForm1::SB_DirClick()
{
    std::string folder = Label_Dir_Reciv->text().toStdString();
    if (SelectFolder(*dialogs_, this, folder))
        ShowReceiveFolder(folder.empty() ? ProgramFolder() : folder);
    // Written also after a cancel: the unchanged folder is stored again.
    WriteIni("LOCAL", "SubDir_for_Reciv", Label_Dir_Reciv->text().toStdString());
}

void TForm1::ShowReceiveFolder(const std::string &folder)
{
    Label_Dir_Reciv->setText(QString::fromStdString(folder));
    Core().SetReceiveFolder(folder);
}

void TForm1::SaveListFile(QListView *list)
{
    const TStateFiles files = files_;
    if (list == ListF_send) {
        sendListChanged_ = false;
        writer_->Write(files.sendListFile(),
                       [files, lines = sendList_->Paths()] { files.saveLines(files.sendListFile(), lines); });
        return;
    }
    recvListChanged_ = false;
    writer_->Write(files.recvListFile(), [files, texts = recvLog_->Texts(), paths = recvLog_->PathLines()] {
        if (!files.saveLines(files.recvListFile(), texts))
            return;
        // The paths beside the list; no file at all while no row has one.
        const std::string pathsFile = dz::peer::TReceiveLogModel::PathsFileFor(files.recvListFile());
        if (paths.empty() && !dz::FileExists(pathsFile))
            return;
        std::string bytes;
        for (const std::string &line : paths)
            bytes += line + '\n';
        dz::WriteFileAtomic(pathsFile, bytes);
    });
}

void TForm1::SaveListFileSoon(QListView *list)
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

void TForm1::SaveChatLog(std::vector<std::string> lines)
{
    const TStateFiles files = files_;
    // The latest log wins: a burst of lines is written once.
    writer_->Write(files.msgFile(), [files, lines = std::move(lines)] { files.saveLines(files.msgFile(), lines); });
}

void TForm1::WriteIni(const std::string &section, const std::string &key, const std::string &value)
{
    // Each key a write of its own: the writer runs them one after another,
    // and only a newer value of the same key overtakes one.
    const TStateFiles files = files_;
    writer_->Write(files.iniFile() + '\n' + section + '\n' + key,
                   [files, section, key, value] { files.writeIni(section, key, value); });
}

void TForm1::SaveSettings()
{
    dz::TSettingsStore *settings = settings_.get(); // outlives the writer
    writer_->Write(settings->Path(), [settings] { settings->Save(); });
}

bool TForm1::FlushStateFiles()
{
    return writer_->Flush();
}
