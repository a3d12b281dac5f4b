#pragma once
// The main window Form1. It composes the views (the peer box, the chat
// pane, the send and receive pages, the progress row, the status bar) and
// wires them to the peer session (peer/session.h) and to the models below
// the window: the send list and its run (peer/sendrun.h), the receive log
// (peer/receivelog.h) and the settings store (util/settings.h). It decides
// nothing itself: the core decides, the window shows its facts.
//
// The design's controls stay reachable under their names, here and on the
// views that own them.
//
// Everything here runs on the GUI thread, and nothing here waits for the
// network or the disk. No handler lets an exception out: whatever a handler
// throws ends it and goes to the general error report (see Guard.h).

#include "Dialogs.h"
#include "ProgressRow.h"
#include "StateFiles.h"
#include "util/errors.h"

#include <QCoreApplication>
#include <QSize>
#include <QString>
#include <QWidget>
#include <QtGlobal>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class IClock;
class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QMimeData;
class QPlainTextEdit;
class QProgressBar;
class QSplitter;
class QTabWidget;
class QTimer;
class QToolButton;
class TAboutBox;
class TChatPane;
class TComputersView;
class TForm1Desktop;
class TPeerBox;
class TProgressRow;
class TReceivePage;
class TSendPage;
class TStatusBar;
namespace dz {
class TSettingsStore;
} // namespace dz
namespace dz::peer {
class TLatestWriter;
class TOrderedWork;
class TPeerCore;
class TPeerSession;
class TQtRunTimer;
class TReceiveLogModel;
class TSendListModel;
class TSendRun;
class TComputers;
struct TEffect;
} // namespace dz::peer
namespace dz::desktop {
class TDiscovery;
} // namespace dz::desktop
namespace dz::services {
class TNMMsg;
class TNMMSGServ;
class TNMStrm;
class TNMStrmServ;
} // namespace dz::services

// What a window is built with. The program itself uses the defaults; tests
// give each window its own folder and its own ports.
struct TForm1Config {
    std::string programFolder;         // a UTF-8 path ending in '/'; empty: the executable's folder
    // The servers listen on these ports and the clients send to the same
    // numbers on the peer. 0: the servers take free ports.
    quint16 msgPort = 574;             // message service (NMMsg1, NMMSGServ1)
    quint16 strmPort = 573;            // stream service (NMStrm1, NMStrmServ1)
    std::shared_ptr<IDialogs> dialogs; // null: Qt's dialogs
    std::shared_ptr<IClock> clock;     // null: the system clock
    // The receive folder (UTF-8) until the user chooses one; empty: the program folder.
    std::string receiveFolder;
    // Where the desktop's notifications and file manager are reached: a
    // D-Bus address, or "session" for the user's session bus; empty: nowhere (tests).
    QString desktopBus;
    // Publishes this copy and lists the others through the desktop's Avahi
    // daemon (on the system bus). Off for windows that share one process.
    bool discovery = true;
    // Encrypted links with copies that offer them: this user's key in the
    // program folder and the pins. Off: the copy talks in clear as an
    // older one (windows that share one address in one process).
    bool links = true;
};

class TForm1 : public QWidget {
    Q_DECLARE_TR_FUNCTIONS(TForm1)

public:
    // Builds the views in their start state (nothing is read yet: that is
    // FormCreate's job), installs the general error report and makes the
    // session, whose servers listen from then on.
    explicit TForm1(TForm1Config config = {});
    ~TForm1() override;
    TForm1(const TForm1 &) = delete;
    TForm1 &operator=(const TForm1 &) = delete;

    // --- The views ------------------------------------------------------
    TStatusBar *StatusBar;
    TProgressRow *ProgressRow;
    TPeerBox *PeerBox;
    TChatPane *ChatPane;
    TSendPage *SendPage;
    TReceivePage *ReceivePage;
    TForm1Desktop *Desktop; // notifications, and the bus the file manager is reached on

    // --- The design's controls, as the views hold them ------------------
    QFrame *Panel1, *Panel7, *Panel_Progress, *Panel2, *Panel3, *Panel8, *Panel5, *Panel6, *Panel4;
    QLabel *Label_DateTime, *Label_Speed, *Label_ThisName, *Label_ThisIP, *Label_RemoteName, *Label_RemoteIP;
    QLabel *Label_Spacer, *Label_Dir_Reciv, *Label_YesReciv, *Label_RecivNow, *Label_YesSend, *Label_RunProgress;
    QToolButton *SB_Help, *SB_Cancel, *SB_connect, *SpeedButton2, *SB_msg, *SpeedButton1, *SB_Dir;
    QToolButton *SB_FileAdd, *SB_FolderAdd, *SB_FileDel, *SB_ListClear, *SB_send;
    QProgressBar *ProgressBar_File;
    QGroupBox *GroupBox3, *GroupBox4, *GroupBox1;
    QLineEdit *Edit_ThisComputerName, *Edit_ThisComputerIP, *Edit_RemoteComputerName, *Edit_RemoteComputerIP;
    QLineEdit *Edit_Mess;
    QPlainTextEdit *Memo_Mess;
    QSplitter *Splitter1; // resizes GroupBox1 against TN1
    QTabWidget *TN1;      // page 0 "Принятые", page 1 "Послать"
    QWidget *Page_Reciv, *Page_Send;
    QListView *ListF_recv, *ListF_send;
    QMenu *PopupMenu1;
    QAction *N1, *N2, *N3;
    QTimer *Timer1;          // paces a send run
    QTimer *Timer2;          // the status-bar clock
    QTimer *Timer_Progress;  // shows how a transfer gets on
    QTimer *Timer_SaveLists; // saves the lists a batch has changed, at most twice a second
    TOpenDialogOptions OD1;

    // --- Network components (owned by the session) ----------------------
    dz::services::TNMMsg *NMMsg1 = nullptr;
    dz::services::TNMMSGServ *NMMSGServ1 = nullptr;
    dz::services::TNMStrm *NMStrm1 = nullptr;
    dz::services::TNMStrmServ *NMStrmServ1 = nullptr;

    // --- State, as shown ------------------------------------------------
    qint32 InvalidHostCode = 0; // 1 once NMMsg1 reported an unknown host
    bool FreeFlag = true;       // not receiving a batch

    // --- Start-up, clock, about box --------------------------------------
    // Restores the saved state and starts the clock; this computer's name
    // and address are looked up on a worker and shown when known.
    void FormCreate();
    void Timer2Timer();
    void SB_HelpClick();
    TAboutBox *AboutBox(); // made hidden on first use

    // --- The user's actions ----------------------------------------------
    void SB_connectClick();
    // A line too long to frame is refused with a message, its text kept; a
    // line that could not be sent comes back into Edit_Mess.
    void SB_msgClick();
    void SpeedButton2Click();
    // Key: 13 for Enter (either Return key), otherwise Qt's key code.
    virtual void FormKeyDown(quint16 &Key, Qt::KeyboardModifiers Shift);
    // Ends a send run ("Send_End" before the goodbye) and says goodbye.
    // While the goodbye is on its way CanClose is false, and the window
    // closes itself once it went or could not go (bounded); the window's
    // thread never waits for it.
    void FormCloseQuery(bool &CanClose);
    void SB_FileAddClick();
    void SB_FolderAddClick();
    // Adds files (UTF-8 paths) to the send list as a drop does: existing
    // files and folders only, in their order, a file given twice listed twice. The way
    // in for any other source of paths (the command line, the file manager).
    // The files are looked at off this thread: the rows go in later, and
    // done runs then (see TSendPage::AddDropped).
    void FormDropFiles(const QStringList &names, std::function<void()> done = {});
    void SB_FileDelClick();
    void SB_ListClearClick();
    void SpeedButton1Click();
    void SB_DirClick();
    void SB_sendClick();
    // SB_Cancel: stops the send run, or refuses the file coming in.
    void SB_CancelClick();
    // Stops the send run: the file on its way is cut, its row stays checked,
    // and the peer hears "Send_End".
    void CancelRun();
    bool StepInFlight() const;
    bool RunGoing() const;
    void Timer1Timer();

    // --- The session -----------------------------------------------------
    // Shows the core's facts, in the core's order.
    void NMMSGServ1MSG(const std::vector<dz::peer::TEffect> &effects);
    // On the message sender's thread when NMMsg1 cannot resolve its host.
    void NMMsg1InvalidHost(bool &Handled);
    dz::peer::TOrderedWork &Work() const;
    dz::peer::TPeerSession &Session() const { return *session_; }
    dz::peer::TPeerCore &Core() const;
    dz::peer::TSendRun &SendRun() const { return *run_; }
    dz::peer::TSendListModel &SendList() const { return *sendList_; }
    dz::peer::TReceiveLogModel &ReceiveLog() const { return *recvLog_; }
    // This computer's name and address: shown, and told to the core. Once
    // called, the address looked up at start-up no longer replaces them.
    void SetThisComputer(const std::string &name, const std::string &ip);
    // Whether the look-up of this computer's address has ended.
    bool ThisComputerKnown() const { return identityKnown_; }
    const QString &ListenProblems() const { return listenProblems_; }
    // The computers to connect to without typing a name, and their list.
    dz::peer::TComputers &Computers() const { return *computers_; }
    TComputersView *ComputersView = nullptr;
    const TProgressRow::TCost &ProgressCost() const;
    void Timer_ProgressTimer();

    // --- State files ------------------------------------------------------
    // Writes a list to its file (on the writer's thread).
    void SaveListFile(QListView *list);
    void SaveListFileSoon(QListView *list);
    void SaveChangedListFiles();
    // Waits until every state file written so far is on disk (bounded).
    bool FlushStateFiles();
    void ShowReceiveFolder(const std::string &folder);
    // The program's own per-user settings (window size...): set values
    // here, then SaveSettings(), which writes them on the writer's thread
    // (they are saved at close too).
    dz::TSettingsStore &Settings() const { return *settings_; }
    void SaveSettings();
    // One INI value (UTF-8), written on the writer's thread like every state file.
    void WriteIni(const std::string &section, const std::string &key, const std::string &value);

    const std::string &ProgramFolder() const { return files_.programFolder(); }
    const TStateFiles &StateFiles() const { return files_; }
    IDialogs &Dialogs() const { return *dialogs_; }
    const TForm1Config &Config() const { return config_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void BuildViews();
    void WireViews();
    void CreateSession();
    // The link's state beside the remote name, and the user's pin actions.
    void BuildLinkBadge();
    void CheckListening();
    void InstallErrorReport();
    void ShowDecided();
    void ShowFact(const dz::peer::TEffect &e);
    void SendChat(const std::string &text);
    void SaveChatLog(std::vector<std::string> lines);
    void ListStored(const dz::peer::TEffect &e);
    void ShowIdentity(const std::string &name, const std::string &ip);
    void ConnectTo(const std::string &remote, const std::string &host = {});
    void BuildComputers();
    void OrderTabs();
    void PublishThisComputer(const std::string &name);
    void Answered(const dz::peer::TEffect &e);

    TForm1Config config_;
    std::shared_ptr<IDialogs> dialogs_;
    std::shared_ptr<IClock> clock_;
    TStateFiles files_;
    std::unique_ptr<dz::TSettingsStore> settings_;
    std::unique_ptr<dz::peer::TLatestWriter> writer_;
    std::unique_ptr<dz::peer::TComputers> computers_;
    std::unique_ptr<dz::desktop::TDiscovery> discovery_;
    QString published_; // the name discovery publishes; empty: none
    // The computer the user connected to (name, address), remembered once
    // it answers the introduction.
    std::optional<std::pair<QString, QString>> connecting_;
    TAboutBox *aboutBox_ = nullptr;
    bool placed_ = false;
    QSize keptSize_; // the size the user left the window at; invalid: the design's
    dz::ExceptionReporter previousReporter_;
    std::unique_ptr<dz::peer::TPeerSession> session_;
    dz::peer::TSendListModel *sendList_;
    dz::peer::TReceiveLogModel *recvLog_;
    std::unique_ptr<dz::peer::TQtRunTimer> runTimer_;
    std::unique_ptr<dz::peer::TSendRun> run_;
    QString listenProblems_;
    bool sendListChanged_ = false;
    bool recvListChanged_ = false;
    bool identityGiven_ = false;
    bool identityKnown_ = false;
    std::optional<std::pair<std::string, std::string>> connectWhenKnown_; // name, host
    bool closing_ = false;     // the goodbye is on its way
    bool goodbyeSaid_ = false; // it went, or its wait ended
    // When the close began: the session's shutdown gets what is left of the
    // two seconds a close may take.
    std::chrono::steady_clock::time_point closeBegan_ {};
};

// The local files among dropped URLs, as UTF-8 paths, in their order.
QStringList DroppedFiles(const QMimeData *mime);
