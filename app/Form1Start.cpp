// Form1: start-up, the status-bar clock and the about box.

#include "Form1.h"

#include "About.h"
#include "Clock.h"
#include "Controls.h"
#include "Guard.h"
#include "peer/receive.h"
#include "peer/session.h"
#include "services/nmmsg.h"
#include "util/codepage.h"
#include "util/filesink.h"
#include "util/system.h"
#include "util/text.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

void TForm1::FormCreate()
{
    RunGuarded([this] {
        // The program folder was fixed when the window was made (files_).
        // Free, no invalid host, chat and send off.
        Core().Start();
        ShowDecided();

        const std::string defaultFolder = config_.receiveFolder.empty() ? ProgramFolder() : config_.receiveFolder;
        std::string folder = dz::TrimText(files_.readIni("LOCAL", "SubDir_for_Reciv", defaultFolder));
        if (folder.empty())
            folder = defaultFolder;
        ShowReceiveFolder(folder);
        // Files a crash left half received; nothing else is touched.
        dz::TFileSink::RemoveLeftovers(dz::peer::ReceiveFolderFor(folder, defaultFolder));

        TN1->setCurrentIndex(0);

        // Check marks are not stored: every row comes back checked.
        ListF_send->clear();
        for (const std::string &row : TStateFiles::loadLines(files_.sendListFile()))
            AddRowUtf8(ListF_send, row, true, true);
        ListF_recv->clear();
        for (const std::string &row : TStateFiles::loadLines(files_.recvListFile()))
            AddRowUtf8(ListF_recv, row, false);
        Memo_Mess->clear();
        SetMemoUtf8(Memo_Mess, TStateFiles::loadLines(files_.msgFile()));

        SetThisComputer(dz::GetThisComputerName(), NMMsg1->GetLocalIP());
        // "ComputerIP" is never read back: an empty address box means no peer yet.
        Edit_RemoteComputerName->setText(QString::fromStdString(files_.readIni("REMOTE", "ComputerName", "")));

        setAcceptDrops(true);
        Timer2->start();
    });
}

void TForm1::Timer2Timer()
{
    // Stopped while it works, so the next tick comes a full second after this one.
    Timer2->stop();
    Label_DateTime->setText(ClockText(clock_->now(), QLocale()));
    Timer2->start();
}

TAboutBox *TForm1::AboutBox()
{
    if (aboutBox_ == nullptr) {
        aboutBox_ = new TAboutBox(*dialogs_, this);
        aboutBox_->ShowFilesFolder(dz::ToQString(ProgramFolder()));
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
