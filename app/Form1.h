#pragma once
// The main window Form1: every control of the program, and the handlers of
// its events. The window is the view of the peer session (peer/session.h):
// the protocol's state lives in its core, which decides; the window shows
// what the core decided (its effects) and hands the user's actions to it.
// The controls are public, under their design names.
//
// Everything here runs on the GUI thread, and nothing here waits for the
// network: sends go through the session's senders and report back when they
// are done. No handler lets an exception out: whatever a handler throws ends
// it and goes to the general error report, a modal message box with the
// exception's text (see Guard.h).

#include "Dialogs.h"
#include "StateFiles.h"
#include "util/errors.h"

#include <QString>
#include <QWidget>
#include <QtGlobal>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class IClock;
class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QMimeData;
class QPlainTextEdit;
class QProgressBar;
class QSplitter;
class QTabWidget;
class QTimer;
class QToolButton;
class TAboutBox;
class TForm1Desktop;
namespace dz::peer {
class TOrderedWork;
class TProgressMeter;
class TStepControl;
class TPeerCore;
class TPeerSession;
struct TEffect;
} // namespace dz::peer
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
    // numbers on the peer. 0: the servers take free ports (tests read them
    // back with LocalPort() and point the peer's clients there).
    quint16 msgPort = 574;             // message service (NMMsg1, NMMSGServ1)
    quint16 strmPort = 573;            // stream service (NMStrm1, NMStrmServ1)
    std::shared_ptr<IDialogs> dialogs; // null: Qt's dialogs
    std::shared_ptr<IClock> clock;     // null: the system clock
    // The receive folder (UTF-8) until the user chooses one; empty: the program folder.
    std::string receiveFolder;
    // Where the desktop's notifications and file manager are reached: a
    // D-Bus address, or "session" for the user's session bus (the program);
    // empty: nowhere (tests), so nothing is shown and folders open plainly.
    QString desktopBus;
};

class TForm1 : public QWidget {
public:
    // Builds the controls in their start state (nothing is read yet: that is
    // FormCreate's job) and installs the general error report, which shows
    // exceptions through this window's dialogs until the window is gone.
    explicit TForm1(TForm1Config config = {});
    ~TForm1() override;

    TForm1(const TForm1 &) = delete;
    TForm1 &operator=(const TForm1 &) = delete;

    // --- Controls -------------------------------------------------------
    QFrame *Panel1;          // status bar
    QLabel *Label_DateTime;
    QFrame *Panel7;
    QToolButton *SB_Help;
    // The transfer under way, between the clock and the help button; hidden
    // while nothing moves.
    QFrame *Panel_Progress;
    QProgressBar *ProgressBar_File; // the file going out or coming in: bytes done of its size
    QLabel *Label_Speed;            // its speed and the time left
    QToolButton *SB_Cancel;         // stops the send run, or refuses the file coming in
    QFrame *Panel2;
    QGroupBox *GroupBox3;    // this computer
    QLabel *Label_ThisName;
    QLineEdit *Edit_ThisComputerName;
    QLabel *Label_ThisIP;
    QLineEdit *Edit_ThisComputerIP;
    QGroupBox *GroupBox4;    // the remote computer
    QLabel *Label_RemoteName;
    QLineEdit *Edit_RemoteComputerName;
    QToolButton *SB_connect;
    QLabel *Label_RemoteIP;
    QLineEdit *Edit_RemoteComputerIP;
    QFrame *Panel3;
    QSplitter *Splitter1;    // resizes GroupBox1 against TN1
    QGroupBox *GroupBox1;    // chat
    QFrame *Panel8;
    QToolButton *SpeedButton2;
    QToolButton *SB_msg;
    QLineEdit *Edit_Mess;
    QPlainTextEdit *Memo_Mess;
    QTabWidget *TN1;         // page 0 "Принятые", page 1 "Послать"
    QWidget *Page_Reciv;
    QFrame *Panel5;
    QFrame *Panel6;
    QToolButton *SpeedButton1;
    QToolButton *SB_Dir;
    QLabel *Label_Spacer;
    QLabel *Label_Dir_Reciv; // the receive folder
    QLabel *Label_YesReciv;
    QListWidget *ListF_recv;
    QLabel *Label_RecivNow;  // the name of the file expected next
    QWidget *Page_Send;
    QFrame *Panel4;
    QToolButton *SB_FileAdd;
    QToolButton *SB_FileDel;
    QToolButton *SB_ListClear;
    QToolButton *SB_send;
    QLabel *Label_YesSend;
    QLabel *Label_RunProgress; // the send run: files and bytes done of the checked rows
    QListWidget *ListF_send; // the send list: file paths with check marks
    QMenu *PopupMenu1;       // ListF_send's context menu
    QAction *N1;
    QAction *N2;
    QAction *N3;
    // The receive list's context menu and double click, and notifications
    // (Form1Desktop.h).
    TForm1Desktop *Desktop;
    QTimer *Timer1;          // steps a send run
    QTimer *Timer2;          // the status-bar clock
    QTimer *Timer_Progress;  // shows how a transfer gets on, ten times a second while one goes
    QTimer *Timer_SaveLists; // saves the lists a batch has changed, at most twice a second
    TOpenDialogOptions OD1;

    // --- Network components ---------------------------------------------
    // The message service (config.msgPort) and the stream service
    // (config.strmPort), owned by the session. CreateNetworkComponents(),
    // called by the constructor before anything is restored, makes them, so
    // the servers listen from the moment the window exists. The clients live
    // on the session's sender threads; their Host and FromName follow the
    // core at each send.
    dz::services::TNMMsg *NMMsg1 = nullptr;
    dz::services::TNMMSGServ *NMMSGServ1 = nullptr;
    dz::services::TNMStrm *NMStrm1 = nullptr;
    dz::services::TNMStrmServ *NMStrmServ1 = nullptr;

    // --- State, as shown ------------------------------------------------
    // The core holds these; the window shows them as they were last told.
    qint32 InvalidHostCode = 0; // 1 once NMMsg1 reported an unknown host
    bool FreeFlag = true;       // not receiving a batch

    // --- Start-up, clock, about box ------------------------------------
    // Restores the saved state and starts the clock. An exception ends it
    // where it arose and is reported; the window keeps what was restored.
    void FormCreate();
    void Timer2Timer();
    void SB_HelpClick();
    // The about box, made hidden on first use (the program makes it right
    // after FormCreate).
    TAboutBox *AboutBox();

    // --- Peer control protocol and chat --------------------------------
    // Each send is queued; a failed send is reported through the general
    // error report when it has failed, and what was to follow it does not
    // happen.
    void SB_connectClick();
    // The line is logged once delivered; a line that could not be sent comes
    // back into Edit_Mess. Refuses, with a message and the text kept, a line
    // too long to frame.
    void SB_msgClick();
    void SpeedButton2Click();
    // Key: 13 for Enter (either Return key), otherwise Qt's key code. The key
    // is not consumed: the focused control still gets it.
    virtual void FormKeyDown(quint16 &Key, Qt::KeyboardModifiers Shift);
    // Never refuses. Waits (briefly, bounded) for the goodbye to go out; a
    // goodbye that cannot be delivered is reported and the window closes
    // all the same.
    void FormCloseQuery(bool &CanClose);
    // Shows what the core decided for one message from the peer (or one
    // stream, or one of the window's own actions), in the core's order.
    void NMMSGServ1MSG(const std::vector<dz::peer::TEffect> &effects);
    // Called on the message sender's thread when NMMsg1 cannot resolve its
    // host: the core notes it, and the user is told on the GUI thread.
    void NMMsg1InvalidHost(bool &Handled);
    // The ordered hand-over of the effects to this thread.
    dz::peer::TOrderedWork &Work() const;
    dz::peer::TPeerSession &Session() const { return *session_; }
    dz::peer::TPeerCore &Core() const;
    // This computer's name and address: shown, and told to the core.
    void SetThisComputer(const std::string &name, const std::string &ip);
    // What the window told its user about servers that cannot listen (empty
    // when both listen).
    const QString &ListenProblems() const { return listenProblems_; }

    // --- Send and receive lists ----------------------------------------
    void SB_FileAddClick();
    // The drop handler: names are the dropped files as UTF-8 paths, in the
    // order the desktop gave them.
    void FormDropFiles(const QStringList &names);
    void SB_FileDelClick();
    void SB_ListClearClick();
    void SpeedButton1Click();
    void SB_DirClick();
    // Writes ListF_send or ListF_recv to its list file, under the write guard.
    void SaveListFile(QListWidget *list);
    // During a batch the lists change with every file: they are saved
    // together a moment later, and at the end of the batch or the window.
    void SaveListFileSoon(QListWidget *list);
    void SaveChangedListFiles();
    // Shows the receive folder (a UTF-8 path) in Label_Dir_Reciv and tells
    // the core, which stores received files there.
    void ShowReceiveFolder(const std::string &folder);

    // --- File sending and receiving --------------------------------------
    // A send run: "Send_Start", then one row of ListF_send per tick of
    // Timer1 (the selection is the run's position), "Send_End" at the end.
    // A step holds on to its row: a row deleted while its file is on the way
    // ends the step without touching any other row.
    void SB_sendClick();
    void Timer1Timer();
    // Lists a file that the session stored (on this thread, in order).
    void NMStrmServ1MSG(const std::string &sFrom, const std::string &name);
    // Whether a step of a send run is on its way.
    bool StepInFlight() const { return stepRow_ != 0; }
    // Whether a send run is going (from its start to its "Send_End").
    bool RunGoing() const { return runGoing_; }
    // Stops the send run: the file on its way is cut (the peer keeps
    // nothing of it), its row stays checked, and the peer hears "Send_End".
    void CancelRun();
    // SB_Cancel: stops the send run, or refuses the file coming in.
    void SB_CancelClick();
    // Shows how the transfer under way gets on (Timer_Progress).
    void Timer_ProgressTimer();
    // What showing the progress has cost so far: updates, and their time.
    struct TProgressCost {
        quint64 updates = 0;
        std::chrono::nanoseconds spent {0};
    };
    const TProgressCost &ProgressCost() const { return progressCost_; }

    // --- Environment ----------------------------------------------------
    const std::string &ProgramFolder() const { return files_.programFolder(); }
    const TStateFiles &StateFiles() const { return files_; }
    IDialogs &Dialogs() const { return *dialogs_; }
    const TForm1Config &Config() const { return config_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    // A slot that runs the handler through RunGuarded.
    std::function<void()> Guarded(void (TForm1::*handler)());
    void BuildControls();
    void WireEvents();
    void CreateNetworkComponents();
    void CheckListening();
    // Applies the effects the core has queued so far (those of an action
    // the user just took included).
    void ShowDecided();
    // The end of one step of a send run.
    void StepDone(quint64 run, quint64 row, const std::string &error);
    // Inserts a chat line at the top of the log and rewrites "~MSG.txt".
    void LogChatLine(const std::string &name, const std::string &text);
    void SaveChatLog();
    void InstallErrorReport();

    TForm1Config config_;
    std::shared_ptr<IDialogs> dialogs_;
    std::shared_ptr<IClock> clock_;
    TStateFiles files_;
    TAboutBox *aboutBox_ = nullptr;
    bool placed_ = false;
    dz::ExceptionReporter previousReporter_;
    std::unique_ptr<dz::peer::TPeerSession> session_;
    QString listenProblems_;
    // The send run: its number (a new run makes the old one's steps
    // stale), and the row whose step is on its way (0: none).
    quint64 run_ = 0;
    quint64 stepRow_ = 0;
    quint64 rowSerial_ = 0;
    bool runGoing_ = false;
    std::shared_ptr<dz::peer::TStepControl> step_;
    // What the progress display counts: the file on its way (either way),
    // and the send run's checked rows.
    std::unique_ptr<dz::peer::TProgressMeter> fileMeter_;
    bool meterForIncoming_ = false;
    bool sendListChanged_ = false;
    bool recvListChanged_ = false;
    bool lastIncomingStored_ = false; // the batch's last file came in whole
    TProgressCost progressCost_;
    int runFiles_ = 0;
    int runFilesDone_ = 0;
    qint64 runBytes_ = 0;
    qint64 runBytesDone_ = 0;
    void ShowProgress();
    bool KeepProgressShown() const;
    void ShowMeter(const std::string &name);
    void EndRunDisplay();
    // Schedules the run's next step: after a tick of Timer1, or at once
    // when the peer takes batches without the tick.
    void NextTick();
};

// The local files among dropped URLs, as UTF-8 paths, in their order.
QStringList DroppedFiles(const QMimeData *mime);
