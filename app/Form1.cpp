// Form1: composing the views, and the window's own events.

#include "Form1.h"

#include "Accessibility.h"
#include "AlignLayout.h"
#include "ChatPane.h"
#include "Clock.h"
#include "ComputersView.h"
#include "Controls.h"
#include "Form1Desktop.h"
#include "Guard.h"
#include "PeerBox.h"
#include "ProgressRow.h"
#include "ReceivePage.h"
#include "SendPage.h"
#include "StatusBar.h"
#include "Widgets.h"
#include "Problems.h"
#include "desktop/discovery.h"
#include "peer/computers.h"
#include "peer/latestwrite.h"
#include "peer/receivelog.h"
#include "peer/sendrun.h"
#include "peer/session.h"
#include "util/files.h"
#include "util/settings.h"

#include <algorithm>
#include <chrono>

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QJsonArray>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QPointer>
#include <QScreen>
#include <QSplitter>
#include <QTabBar>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QWindow>

namespace {

using Align = TAlignLayout::Align;

// The design's outer size, which is also the least the window may be.
constexpr int kOuterWidth = 378;
constexpr int kOuterHeight = 408;
const QString kSizeKey = QStringLiteral("window.size");
// The chat's height above the splitter.
const QString kChatKey = QStringLiteral("window.chat");
constexpr int kChatHeight = 95;

} // namespace

TForm1::TForm1(TForm1Config config)
    : config_(std::move(config)),
      dialogs_(config_.dialogs ? config_.dialogs : std::make_shared<TQtDialogs>()),
      clock_(config_.clock ? config_.clock : std::make_shared<TSystemClock>()),
      // The program folder is fixed for the whole run.
      files_(config_.programFolder.empty() ? dz::ProgramFolder() : config_.programFolder),
      settings_(std::make_unique<dz::TSettingsStore>(files_.programFolder() + dz::TSettingsStore::kFileName)),
      writer_(std::make_unique<dz::peer::TLatestWriter>()),
      sendList_(new dz::peer::TSendListModel(this)),
      recvLog_(new dz::peer::TReceiveLogModel(this))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(tr("Копирование файлов по сети"));
    SetAccessibleRole(this, QAccessible::Window);
    setFont(WindowFont());
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);
    setAutoFillBackground(true);

    InstallErrorReport();
    Timer1 = MakeTimer(this, "Timer1");
    runTimer_ = std::make_unique<dz::peer::TQtRunTimer>(*Timer1);
    CreateSession();
    BuildViews();
    WireViews();
    BuildLinkBadge();
    CheckListening();
    BuildComputers();
    OrderTabs();

    // The size the user left it at, never below the design's nor beyond
    // the screen (it may have been kept on a larger one).
    QSize size(kOuterWidth, kOuterHeight);
    const QRect area = screen() ? screen()->availableGeometry() : QRect(0, 0, 8192, 8192);
    if (const QJsonArray kept = settings_->Value(kSizeKey).toArray(); kept.size() == 2) {
        keptSize_ = QSize(kept[0].toInt(), kept[1].toInt()).boundedTo(area.size());
        size = size.expandedTo(keptSize_);
    }
    resize(size);
    if (screen()) {
        move(area.left() + (area.width() - size.width()) / 2, area.top() + (area.height() - size.height()) / 2);
    }
    Edit_RemoteComputerName->setFocus();
}

TForm1::~TForm1()
{
    try {
        SaveChangedListFiles(); // a window closed normally has saved them already
    } catch (...) {
    }
    run_.reset();
    // The service is withdrawn while the servers still answer.
    delete ComputersView;
    discovery_.reset();
    // Nothing handed over may run on a window being taken apart: the
    // senders, the servers and the hand-over stop first, within what is
    // left of the two seconds a close may take.
    using namespace std::chrono;
    const auto spent = closeBegan_ == steady_clock::time_point {}
                           ? milliseconds(0)
                           : duration_cast<milliseconds>(steady_clock::now() - closeBegan_);
    session_->Shutdown(std::clamp(milliseconds(2000) - spent, milliseconds(200), dz::peer::TPeerSession::kCloseWait));
    session_.reset();
    writer_.reset(); // writes what waits
    dz::SetExceptionReporter(std::move(previousReporter_));
}

void TForm1::BuildViews()
{
    auto *formLayout = new TAlignLayout(this);
    StatusBar = new TStatusBar(*this, *formLayout, clock_);
    Panel1 = StatusBar->Panel1, Label_DateTime = StatusBar->Label_DateTime, Panel7 = StatusBar->Panel7;
    SB_Help = StatusBar->SB_Help, Timer2 = StatusBar->Timer2;

    SendPage = new TSendPage(*this, *sendList_, *dialogs_, OD1);
    Page_Send = SendPage->Page_Send, Panel4 = SendPage->Panel4, SB_FileAdd = SendPage->SB_FileAdd;
    SB_FolderAdd = SendPage->SB_FolderAdd;
    SB_FileDel = SendPage->SB_FileDel, SB_ListClear = SendPage->SB_ListClear, SB_send = SendPage->SB_send;
    Label_YesSend = SendPage->Label_YesSend, Label_RunProgress = SendPage->Label_RunProgress;
    ListF_send = SendPage->ListF_send, PopupMenu1 = SendPage->PopupMenu1;
    N1 = SendPage->N1, N2 = SendPage->N2, N3 = SendPage->N3;

    ProgressRow = new TProgressRow(*this, *formLayout, *session_, *run_, *sendList_, *Label_RunProgress);
    Panel_Progress = ProgressRow->Panel_Progress, ProgressBar_File = ProgressRow->ProgressBar_File;
    Label_Speed = ProgressRow->Label_Speed, SB_Cancel = ProgressRow->SB_Cancel;
    Timer_Progress = ProgressRow->Timer_Progress;

    Panel2 = MakePanel(this, "Panel2", TBevel::LoweredTwice);
    formLayout->add(Panel2, Align::Client);
    auto *mainLayout = new TAlignLayout(Panel2);
    PeerBox = new TPeerBox(*Panel2, *mainLayout);
    GroupBox3 = PeerBox->GroupBox3, Label_ThisName = PeerBox->Label_ThisName;
    Edit_ThisComputerName = PeerBox->Edit_ThisComputerName, Label_ThisIP = PeerBox->Label_ThisIP;
    Edit_ThisComputerIP = PeerBox->Edit_ThisComputerIP, GroupBox4 = PeerBox->GroupBox4;
    Label_RemoteName = PeerBox->Label_RemoteName, Edit_RemoteComputerName = PeerBox->Edit_RemoteComputerName;
    SB_connect = PeerBox->SB_connect, Label_RemoteIP = PeerBox->Label_RemoteIP;
    Edit_RemoteComputerIP = PeerBox->Edit_RemoteComputerIP;

    Panel3 = MakePanel(Panel2, "Panel3", TBevel::LoweredTwice);
    mainLayout->add(Panel3, Align::Client);
    auto *workLayout = new TAlignLayout(Panel3);
    Splitter1 = new QSplitter(Qt::Vertical, Panel3);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setHandleWidth(3);
    Splitter1->setChildrenCollapsible(false);
    Splitter1->setStyleSheet(QStringLiteral("QSplitter#Splitter1::handle { background-color: #000080; }"));
    workLayout->add(Splitter1, Align::Client);

    ChatPane = new TChatPane(*this, *dialogs_, clock_);
    GroupBox1 = ChatPane->GroupBox1, Panel8 = ChatPane->Panel8, SpeedButton2 = ChatPane->SpeedButton2;
    SB_msg = ChatPane->SB_msg, Edit_Mess = ChatPane->Edit_Mess, Memo_Mess = ChatPane->Memo_Mess;
    Splitter1->addWidget(GroupBox1);

    TN1 = new QTabWidget;
    TN1->setObjectName(QStringLiteral("TN1"));
    TN1->setAccessibleName(tr("Файлы"));
    TN1->tabBar()->setAccessibleName(tr("Страницы файлов"));
    Splitter1->addWidget(TN1);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    const int chat = settings_->Value(kChatKey).toInt(kChatHeight);
    Splitter1->setSizes({chat > 0 ? chat : kChatHeight, 10000});
    // Kept in memory now, written when the window closes.
    connect(Splitter1, &QSplitter::splitterMoved, this,
            [this] { settings_->SetValue(kChatKey, Splitter1->sizes().value(0)); });

    ReceivePage = new TReceivePage(*this, *recvLog_, *dialogs_);
    Page_Reciv = ReceivePage->Page_Reciv, Panel5 = ReceivePage->Panel5, Panel6 = ReceivePage->Panel6;
    SpeedButton1 = ReceivePage->SpeedButton1, SB_Dir = ReceivePage->SB_Dir;
    Label_Spacer = ReceivePage->Label_Spacer, Label_Dir_Reciv = ReceivePage->Label_Dir_Reciv;
    Label_YesReciv = ReceivePage->Label_YesReciv, ListF_recv = ReceivePage->ListF_recv;
    Label_RecivNow = ReceivePage->Label_RecivNow;
    TN1->addTab(Page_Reciv, tr("Принятые"));
    TN1->addTab(Page_Send, tr("Послать"));
    TN1->setCurrentIndex(1); // as designed; start-up turns to page 0

    Desktop = new TForm1Desktop(*this);
    Timer_SaveLists = MakeTimer(this, "Timer_SaveLists");
    Timer_SaveLists->setInterval(500);
    Timer_SaveLists->setSingleShot(true);
}

void TForm1::OrderTabs()
{
    // Top to bottom and left to right, as the window reads; Tab skips what
    // is hidden or disabled, and so the page not shown.
    const QList<QWidget *> order{Edit_ThisComputerName, Edit_ThisComputerIP, Edit_RemoteComputerName,
                                 ComputersView->Button(), SB_connect, Edit_RemoteComputerIP,
                                 findChild<QWidget *>(QStringLiteral("SB_link")), SpeedButton2, SB_msg,
                                 Edit_Mess, Memo_Mess, TN1, SpeedButton1, SB_Dir, ListF_recv, SB_FileAdd, SB_FolderAdd,
                                 SB_FileDel, SB_ListClear, SB_send, ListF_send, SB_Cancel, SB_Help};
    for (qsizetype i = 1; i < order.size(); ++i)
        if (order[i - 1] != nullptr && order[i] != nullptr)
            setTabOrder(order[i - 1], order[i]);
}

void TForm1::InstallErrorReport()
{
    const QPointer<TForm1> self(this);
    const std::shared_ptr<IDialogs> dialogs = dialogs_;
    previousReporter_ = dz::SetExceptionReporter([self, dialogs](const std::string &message) {
        // Exception texts are UTF-8: they name paths as the file system has them.
        const QString text = WordedProblem(message);
        if (QThread::currentThread() == qApp->thread()) {
            dialogs->message(self.data(), AppCaption(), text);
            return;
        }
        // A message box belongs to the GUI thread.
        QMetaObject::invokeMethod(
            qApp, [self, dialogs, text] { dialogs->message(self.data(), AppCaption(), text); },
            Qt::QueuedConnection);
    });
}

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        // A key travels up from the focused control to its parents; take it
        // once, at the control that receives it first.
        const auto *target = qobject_cast<QWidget *>(watched);
        const QWidget *focus = QApplication::focusWidget();
        if (target && target->window() == this && (target == focus || (!focus && target == this))) {
            const auto *key = static_cast<QKeyEvent *>(event);
            quint16 code = KeyCodeOf(key);
            RunGuarded([&] { FormKeyDown(code, key->modifiers()); });
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (placed_)
        return;
    placed_ = true;
    // The outer size includes the frame, known only once the window is on screen.
    if (const QWindow *w = windowHandle()) {
        const QMargins m = w->frameMargins();
        if (!m.isNull()) {
            const QSize least(kOuterWidth - m.left() - m.right(), kOuterHeight - m.top() - m.bottom());
            setMinimumSize(least);
            QSize room(8192, 8192);
            if (const QScreen *s = screen())
                room = s->availableGeometry().size().shrunkBy(m);
            resize(keptSize_.isValid() ? keptSize_.boundedTo(room).expandedTo(least) : least);
        }
    }
}

void TForm1::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // Kept in memory now, written when the window closes.
    if (placed_)
        settings_->SetValue(kSizeKey, QJsonArray{width(), height()});
}

void TForm1::closeEvent(QCloseEvent *event)
{
    bool canClose = true;
    // A close handler that failed keeps the window open, as a refusal would.
    if (RunGuarded([&] { FormCloseQuery(canClose); }) && canClose) {
        closing_ = goodbyeSaid_ = false; // a window shown again says goodbye again
        event->accept();
    } else {
        event->ignore();
    }
}

QStringList DroppedFiles(const QMimeData *mime)
{
    QStringList names;
    if (mime == nullptr || !mime->hasUrls())
        return names;
    for (const QUrl &url : mime->urls())
        if (url.isLocalFile())
            names.append(url.toLocalFile());
    return names;
}

void TForm1::dragEnterEvent(QDragEnterEvent *event)
{
    if (!DroppedFiles(event->mimeData()).isEmpty()) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    }
}

void TForm1::dragMoveEvent(QDragMoveEvent *event)
{
    if (!DroppedFiles(event->mimeData()).isEmpty()) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    }
}

void TForm1::dropEvent(QDropEvent *event)
{
    const QStringList names = DroppedFiles(event->mimeData());
    event->setDropAction(Qt::CopyAction);
    event->accept();
    RunGuarded([&] { FormDropFiles(names); });
}
