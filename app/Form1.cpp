// Form1: building the controls and wiring their events.

#include "Form1.h"

#include "About.h"
#include "AlignLayout.h"
#include "Clock.h"
#include "Controls.h"
#include "Form1Desktop.h"
#include "Guard.h"
#include "Icons.h"
#include "peer/progress.h"
#include "peer/sendrun.h"
#include "peer/session.h"
#include "services/nmmsg.h"
#include "services/nmstrm.h"
#include "util/codepage.h"
#include "util/files.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QScreen>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QWindow>

namespace {

using Align = TAlignLayout::Align;

constexpr int kOuterWidth = 378;
constexpr int kOuterHeight = 408;

// List boxes were designed with rows 13 pixels high.
class TRowHeightDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(13);
        return size;
    }
};

enum class TBevel { None, Raised, Lowered, LoweredTwice };

QFrame *MakePanel(QWidget *parent, const char *name, TBevel bevel)
{
    auto *panel = new QFrame(parent);
    panel->setObjectName(QLatin1String(name));
    switch (bevel) {
    case TBevel::None:
        panel->setFrameStyle(QFrame::NoFrame);
        break;
    case TBevel::Raised:
        panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
        panel->setLineWidth(1);
        break;
    case TBevel::Lowered:
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setLineWidth(1);
        break;
    case TBevel::LoweredTwice: // lowered outer and inner bevels
        panel->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
        break;
    }
    return panel;
}

QLabel *MakeLabel(QWidget *parent, const char *name, const QString &text)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    return label;
}

QLabel *PlaceLabel(QWidget *parent, const char *name, const QString &text, int left, int top)
{
    QLabel *label = MakeLabel(parent, name, text);
    label->move(left, top);
    label->adjustSize();
    return label;
}

// hint: shown as a tooltip when showHint; always the accessible name
// (accessibleName overrides it for buttons without a hint).
QToolButton *MakeButton(QWidget *parent, const char *name, TButtonPicture picture, QRect place,
                        const QString &hint, bool showHint, const QString &accessibleName = {})
{
    auto *button = new QToolButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setIcon(ButtonIcon(picture));
    button->setIconSize(QSize(16, 16));
    button->setGeometry(place);
    button->setProperty("hint", hint);
    button->setAccessibleName(accessibleName.isEmpty() ? hint : accessibleName);
    if (showHint)
        button->setToolTip(hint);
    return button;
}

QLineEdit *MakeEdit(QWidget *parent, const char *name, QRect place, bool readOnly)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setGeometry(place);
    edit->setAcceptDrops(false); // dropped files go to the window
    if (readOnly) {
        edit->setReadOnly(true);
        edit->setFocusPolicy(Qt::ClickFocus); // not a tab stop
        QPalette silver = edit->palette();
        silver.setColor(QPalette::Base, kSilver);
        edit->setPalette(silver);
    } else {
        QPalette white = edit->palette();
        white.setColor(QPalette::Base, Qt::white);
        edit->setPalette(white);
    }
    return edit;
}

void SetSilver(QWidget *widget)
{
    QPalette silver = widget->palette();
    silver.setColor(QPalette::Base, kSilver);
    widget->setPalette(silver);
}

void SetTextColour(QLabel *label, const QColor &text, const QColor &background = QColor())
{
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, text);
    if (background.isValid()) {
        p.setColor(QPalette::Window, background);
        label->setAutoFillBackground(true);
    }
    label->setPalette(p);
}

QListWidget *MakeList(QWidget *parent, const char *name)
{
    auto *list = new QListWidget(parent);
    list->setObjectName(QLatin1String(name));
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setUniformItemSizes(true);
    list->setItemDelegate(new TRowHeightDelegate(list));
    list->setAcceptDrops(false);
    list->setMinimumSize(1, 1); // the splitter may make it as small as the user likes
    SetSilver(list);
    return list;
}

QTimer *MakeTimer(QObject *parent, const char *name)
{
    auto *timer = new QTimer(parent);
    timer->setObjectName(QLatin1String(name));
    timer->setInterval(1000);
    // A coarse timer may fire up to 50 ms early; the send run's pacing and
    // the clock's seconds want the whole second.
    timer->setTimerType(Qt::PreciseTimer);
    return timer;
}

// The key code the handlers expect: 13 for either Enter key, the
// character's code for letters, digits and the space, and a few others.
quint16 KeyCodeOf(const QKeyEvent *event)
{
    const int key = event->key();
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Escape:
        return 27;
    case Qt::Key_Tab:
        return 9;
    case Qt::Key_Backspace:
        return 8;
    default:
        break;
    }
    if (key == Qt::Key_Space || (key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_Z))
        return static_cast<quint16>(key);
    return 0;
}

} // namespace

TForm1::TForm1(TForm1Config config)
    : config_(std::move(config)),
      dialogs_(config_.dialogs ? config_.dialogs : std::make_shared<TQtDialogs>()),
      clock_(config_.clock ? config_.clock : std::make_shared<TSystemClock>()),
      // The program folder is fixed for the whole run.
      files_(config_.programFolder.empty() ? dz::ProgramFolder() : config_.programFolder)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Копирование файлов по сети"));
    setFont(WindowFont());
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);
    setAutoFillBackground(true);

    BuildControls();
    WireEvents();
    Desktop = new TForm1Desktop(*this);
    InstallErrorReport();
    CreateNetworkComponents();

    resize(kOuterWidth, kOuterHeight);
    if (const QScreen *s = screen()) {
        const QRect area = s->availableGeometry();
        move(area.left() + (area.width() - kOuterWidth) / 2, area.top() + (area.height() - kOuterHeight) / 2);
    }
    Edit_RemoteComputerName->setFocus();
}

TForm1::~TForm1()
{
    try {
        SaveChangedListFiles(); // a window closed normally has saved them already
    } catch (...) {
    }
    // Nothing handed over may run on a window being taken apart.
    session_->Work().Close();
    session_.reset();
    dz::SetExceptionReporter(std::move(previousReporter_));
}

dz::peer::TOrderedWork &TForm1::Work() const
{
    return session_->Work();
}

dz::peer::TPeerCore &TForm1::Core() const
{
    return session_->Core();
}

void TForm1::ShowDecided()
{
    session_->Work().Drain();
}

void TForm1::BuildControls()
{
    auto *formLayout = new TAlignLayout(this);

    // Status bar.
    Panel1 = MakePanel(this, "Panel1", TBevel::Raised);
    formLayout->add(Panel1, Align::Bottom, 26);
    auto *statusLayout = new TAlignLayout(Panel1);
    Label_DateTime = MakeLabel(Panel1, "Label_DateTime", QStringLiteral("..."));
    Label_DateTime->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Label_DateTime->setContentsMargins(4, 0, 4, 0);
    statusLayout->add(Label_DateTime, Align::Left);
    Panel7 = MakePanel(Panel1, "Panel7", TBevel::Lowered);
    statusLayout->add(Panel7, Align::Right, 25); // SB_Help and the bevel
    SB_Help = MakeButton(Panel7, "SB_Help", TButtonPicture::Help, QRect(1, 1, 23, 22), QString(), false,
                         QStringLiteral("About"));
    // A row of its own just above the status bar, there only while a file
    // moves, so the clock keeps its place and the figures have room.
    Panel_Progress = MakePanel(this, "Panel_Progress", TBevel::Raised);
    formLayout->add(Panel_Progress, Align::Bottom, 24);
    auto *progressLayout = new TAlignLayout(Panel_Progress);
    SB_Cancel = MakeButton(Panel_Progress, "SB_Cancel", TButtonPicture::Stop, QRect(0, 1, 23, 22),
                           QStringLiteral("Прервать передачу (Esc)"), true);
    progressLayout->add(SB_Cancel, Align::Right, 25);
    Label_Speed = MakeLabel(Panel_Progress, "Label_Speed", QString());
    Label_Speed->setAlignment(Qt::AlignCenter);
    Label_Speed->setAccessibleName(QStringLiteral("Скорость и оставшееся время"));
    progressLayout->add(Label_Speed, Align::Right, 112);
    ProgressBar_File = new QProgressBar(Panel_Progress);
    ProgressBar_File->setObjectName(QStringLiteral("ProgressBar_File"));
    ProgressBar_File->setAccessibleName(QStringLiteral("Передача файла"));
    ProgressBar_File->setRange(0, 1000);
    ProgressBar_File->setTextVisible(true);
    ProgressBar_File->setAlignment(Qt::AlignCenter);
    progressLayout->add(ProgressBar_File, Align::Client);
    Panel_Progress->hide();

    Panel2 = MakePanel(this, "Panel2", TBevel::LoweredTwice);
    formLayout->add(Panel2, Align::Client);
    auto *mainLayout = new TAlignLayout(Panel2);

    // This computer.
    GroupBox3 = new QGroupBox(QStringLiteral("Наш компьютер : "), Panel2);
    GroupBox3->setObjectName(QStringLiteral("GroupBox3"));
    mainLayout->add(GroupBox3, Align::Top, 42);
    Label_ThisName = PlaceLabel(GroupBox3, "Label_ThisName", QStringLiteral("Имя = "), 8, 19);
    Edit_ThisComputerName = MakeEdit(GroupBox3, "Edit_ThisComputerName", QRect(48, 15, 121, 21), true);
    Label_ThisIP = PlaceLabel(GroupBox3, "Label_ThisIP", QStringLiteral("IP = "), 208, 19);
    Edit_ThisComputerIP = MakeEdit(GroupBox3, "Edit_ThisComputerIP", QRect(240, 15, 121, 21), true);

    // The remote computer.
    GroupBox4 = new QGroupBox(QStringLiteral("Удаленный компьтер : "), Panel2);
    GroupBox4->setObjectName(QStringLiteral("GroupBox4"));
    mainLayout->add(GroupBox4, Align::Top, 45);
    Label_RemoteName = PlaceLabel(GroupBox4, "Label_RemoteName", QStringLiteral("Имя = "), 8, 20);
    Edit_RemoteComputerName = MakeEdit(GroupBox4, "Edit_RemoteComputerName", QRect(48, 16, 121, 21), false);
    SB_connect = MakeButton(GroupBox4, "SB_connect", TButtonPicture::Connect, QRect(176, 15, 25, 22),
                            QStringLiteral("Соединиться с компьютером"), true);
    Label_RemoteIP = PlaceLabel(GroupBox4, "Label_RemoteIP", QStringLiteral("IP = "), 208, 20);
    Edit_RemoteComputerIP = MakeEdit(GroupBox4, "Edit_RemoteComputerIP", QRect(240, 16, 121, 21), true);

    Panel3 = MakePanel(Panel2, "Panel3", TBevel::LoweredTwice);
    mainLayout->add(Panel3, Align::Client);
    auto *workLayout = new TAlignLayout(Panel3);
    Splitter1 = new QSplitter(Qt::Vertical, Panel3);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setHandleWidth(3);
    Splitter1->setChildrenCollapsible(false);
    Splitter1->setStyleSheet(QStringLiteral("QSplitter#Splitter1::handle { background-color: #000080; }"));
    workLayout->add(Splitter1, Align::Client);

    // Chat.
    GroupBox1 = new QGroupBox(QStringLiteral("Общаться : "));
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    auto *chatLayout = new TAlignLayout(GroupBox1);
    Panel8 = MakePanel(GroupBox1, "Panel8", TBevel::LoweredTwice);
    chatLayout->add(Panel8, Align::Top, 26);
    SpeedButton2 = MakeButton(Panel8, "SpeedButton2", TButtonPicture::ClearChat, QRect(1, 2, 23, 22),
                              QStringLiteral("Удалить сообщения ..."), true);
    SB_msg = MakeButton(Panel8, "SB_msg", TButtonPicture::SendMessage, QRect(32, 2, 23, 22),
                        QStringLiteral("Послать сообщение"), true);
    Edit_Mess = MakeEdit(Panel8, "Edit_Mess", QRect(56, 2, 297, 21), false);
    Edit_Mess->setToolTip(QStringLiteral("Текст сообщения ..."));
    Memo_Mess = new QPlainTextEdit(GroupBox1);
    Memo_Mess->setObjectName(QStringLiteral("Memo_Mess"));
    Memo_Mess->setReadOnly(true);
    Memo_Mess->setAcceptDrops(false);
    Memo_Mess->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo_Mess->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo_Mess->setMinimumSize(1, 1); // lets the chat group keep its designed height
    SetSilver(Memo_Mess);
    chatLayout->add(Memo_Mess, Align::Client);
    Splitter1->addWidget(GroupBox1);

    // The notebook.
    TN1 = new QTabWidget;
    TN1->setObjectName(QStringLiteral("TN1"));
    Splitter1->addWidget(TN1);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({95, 10000});

    Page_Reciv = new QWidget;
    Page_Reciv->setObjectName(QStringLiteral("Page_Reciv"));
    auto *recivLayout = new TAlignLayout(Page_Reciv);
    Panel5 = MakePanel(Page_Reciv, "Panel5", TBevel::LoweredTwice);
    recivLayout->add(Panel5, Align::Top, 28);
    auto *folderLayout = new TAlignLayout(Panel5);
    Panel6 = MakePanel(Panel5, "Panel6", TBevel::None);
    folderLayout->add(Panel6, Align::Left, 58);
    SpeedButton1 = MakeButton(Panel6, "SpeedButton1", TButtonPicture::ClearReceived, QRect(1, 1, 23, 22),
                              QStringLiteral("Очистить список файлов"), true);
    SB_Dir = MakeButton(Panel6, "SB_Dir", TButtonPicture::Folder, QRect(34, 1, 23, 22),
                        QStringLiteral("Выбрать папку, куда копировать"), true);
    Label_Spacer = MakeLabel(Panel5, "Label_Spacer", QStringLiteral("   "));
    folderLayout->add(Label_Spacer, Align::Left);
    Label_Dir_Reciv = MakeLabel(Panel5, "Label_Dir_Reciv", QString());
    Label_Dir_Reciv->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    SetTextColour(Label_Dir_Reciv, kMaroon);
    folderLayout->add(Label_Dir_Reciv, Align::Left, 197);
    Label_YesReciv = MakeLabel(Panel5, "Label_YesReciv", QStringLiteral("Идет прием ..."));
    Label_YesReciv->setAlignment(Qt::AlignCenter);
    SetTextColour(Label_YesReciv, Qt::red, Qt::yellow);
    Label_YesReciv->hide();
    folderLayout->add(Label_YesReciv, Align::Right, 72);
    ListF_recv = MakeList(Page_Reciv, "ListF_recv");
    Label_RecivNow = MakeLabel(Page_Reciv, "Label_RecivNow", QString());
    Label_RecivNow->setMinimumHeight(QFontMetrics(font()).height());
    recivLayout->add(Label_RecivNow, Align::Bottom, QFontMetrics(font()).height());
    recivLayout->add(ListF_recv, Align::Client);
    TN1->addTab(Page_Reciv, QStringLiteral("Принятые"));

    Page_Send = new QWidget;
    Page_Send->setObjectName(QStringLiteral("Page_Send"));
    auto *sendLayout = new TAlignLayout(Page_Send);
    Panel4 = MakePanel(Page_Send, "Panel4", TBevel::LoweredTwice);
    sendLayout->add(Panel4, Align::Top, 26);
    auto *sendBarLayout = new TAlignLayout(Panel4);
    SB_FileAdd = MakeButton(Panel4, "SB_FileAdd", TButtonPicture::AddFile, QRect(8, 2, 23, 22),
                            QStringLiteral("Добавить файл(ы) в список"), true);
    SB_FileDel = MakeButton(Panel4, "SB_FileDel", TButtonPicture::DeleteFile, QRect(40, 2, 23, 22),
                            QStringLiteral("Удалить файл из списка"), true);
    SB_ListClear = MakeButton(Panel4, "SB_ListClear", TButtonPicture::ClearList, QRect(80, 2, 23, 22),
                              QStringLiteral("Очистить список файлов"), true);
    SB_send = MakeButton(Panel4, "SB_send", TButtonPicture::SendFiles, QRect(136, 2, 23, 22),
                         QStringLiteral("Отправить файлы по списку"), false);
    Label_YesSend = MakeLabel(Panel4, "Label_YesSend", QStringLiteral("Идет передача ..."));
    Label_YesSend->setAlignment(Qt::AlignCenter);
    SetTextColour(Label_YesSend, Qt::red, Qt::yellow);
    Label_YesSend->hide();
    sendBarLayout->add(Label_YesSend, Align::Right, 87);
    Label_RunProgress = MakeLabel(Panel4, "Label_RunProgress", QString());
    Label_RunProgress->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label_RunProgress->setContentsMargins(0, 0, 4, 0);
    Label_RunProgress->setAccessibleName(QStringLiteral("Передано по списку"));
    Label_RunProgress->hide();
    sendBarLayout->add(Label_RunProgress, Align::Right, 112);
    ListF_send = MakeList(Page_Send, "ListF_send");
    ListF_send->setContextMenuPolicy(Qt::CustomContextMenu);
    sendLayout->add(ListF_send, Align::Client);
    TN1->addTab(Page_Send, QStringLiteral("Послать"));
    TN1->setCurrentIndex(1); // as designed; start-up turns to page 0

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    N1 = PopupMenu1->addAction(QStringLiteral("Добавить файл в список"));
    N1->setObjectName(QStringLiteral("N1"));
    N2 = PopupMenu1->addAction(QStringLiteral("Удалить файл из списка"));
    N2->setObjectName(QStringLiteral("N2"));
    N3 = PopupMenu1->addAction(QStringLiteral("Очистить весь список"));
    N3->setObjectName(QStringLiteral("N3"));

    Timer1 = MakeTimer(this, "Timer1");
    Timer2 = MakeTimer(this, "Timer2");
    Timer_Progress = MakeTimer(this, "Timer_Progress");
    Timer_Progress->setInterval(100);
    Timer_SaveLists = MakeTimer(this, "Timer_SaveLists");
    Timer_SaveLists->setInterval(500);
    Timer_SaveLists->setSingleShot(true);
    OD1.title = QStringLiteral("Добавить файл(ы) в список");

    // Only the editable controls and the lists take the Tab key, the remote name first.
    setTabOrder(Edit_RemoteComputerName, Edit_Mess);
    setTabOrder(Edit_Mess, Memo_Mess);
    setTabOrder(Memo_Mess, TN1);
}

std::function<void()> TForm1::Guarded(void (TForm1::*handler)())
{
    return [this, handler] { RunGuarded([this, handler] { (this->*handler)(); }); };
}

void TForm1::WireEvents()
{
    connect(SB_Help, &QToolButton::clicked, this, Guarded(&TForm1::SB_HelpClick));
    connect(SB_connect, &QToolButton::clicked, this, Guarded(&TForm1::SB_connectClick));
    connect(SB_msg, &QToolButton::clicked, this, Guarded(&TForm1::SB_msgClick));
    connect(SpeedButton2, &QToolButton::clicked, this, Guarded(&TForm1::SpeedButton2Click));
    connect(SB_FileAdd, &QToolButton::clicked, this, Guarded(&TForm1::SB_FileAddClick));
    connect(N1, &QAction::triggered, this, Guarded(&TForm1::SB_FileAddClick));
    // The menu's other two items do what the buttons of the same caption do.
    connect(N2, &QAction::triggered, this, Guarded(&TForm1::SB_FileDelClick));
    connect(N3, &QAction::triggered, this, Guarded(&TForm1::SB_ListClearClick));
    connect(SB_FileDel, &QToolButton::clicked, this, Guarded(&TForm1::SB_FileDelClick));
    connect(ListF_send, &QListWidget::itemDoubleClicked, this, Guarded(&TForm1::SB_FileDelClick));
    connect(SB_ListClear, &QToolButton::clicked, this, Guarded(&TForm1::SB_ListClearClick));
    connect(SpeedButton1, &QToolButton::clicked, this, Guarded(&TForm1::SpeedButton1Click));
    connect(SB_Dir, &QToolButton::clicked, this, Guarded(&TForm1::SB_DirClick));
    connect(SB_send, &QToolButton::clicked, this, Guarded(&TForm1::SB_sendClick));
    connect(Timer1, &QTimer::timeout, this, Guarded(&TForm1::Timer1Timer));
    connect(Timer2, &QTimer::timeout, this, Guarded(&TForm1::Timer2Timer));
    connect(Timer_Progress, &QTimer::timeout, this, Guarded(&TForm1::Timer_ProgressTimer));
    connect(Timer_SaveLists, &QTimer::timeout, this, Guarded(&TForm1::SaveChangedListFiles));
    connect(SB_Cancel, &QToolButton::clicked, this, Guarded(&TForm1::SB_CancelClick));
    connect(ListF_send, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { PopupMenu1->popup(ListF_send->viewport()->mapToGlobal(pos)); });
    // Key preview: the window sees every key before the focused control does.
    qApp->installEventFilter(this);
}

void TForm1::CreateNetworkComponents()
{
    dz::peer::TSessionConfig config;
    config.msgPort = config_.msgPort;
    config.strmPort = config_.strmPort;
    // The receive folder's fallback, as start-up chooses it too.
    config.fallbackFolder = config_.receiveFolder.empty() ? ProgramFolder() : config_.receiveFolder;
    config.ownFiles = {files_.iniFile(), files_.sendListFile(), files_.recvListFile(), files_.msgFile(),
                       dz::ExecutablePath()};
    // Every effect runs under the error report, one by one, so a failure
    // (a state file that cannot be written) stops nothing after it.
    session_ = std::make_unique<dz::peer::TPeerSession>(
        config, [this](const std::vector<dz::peer::TEffect> &effects) { NMMSGServ1MSG(effects); },
        [](const std::function<void()> &work) { RunGuarded(work); });
    NMMsg1 = &session_->Outbox().Client();
    NMStrm1 = &session_->Streams().Client();
    NMMSGServ1 = &session_->MsgServer();
    NMStrmServ1 = &session_->StrmServer();
    // Asked only when neither the name, nor "<name>.local", nor the peer's
    // known address reaches the host.
    session_->Outbox().SetInvalidHostHandler([this](bool &Handled) { NMMsg1InvalidHost(Handled); });
    session_->Listen();
    CheckListening();
}

void TForm1::CheckListening()
{
    QStringList problems;
    for (dz::net::TNMGeneralServer *server :
         {static_cast<dz::net::TNMGeneralServer *>(NMMSGServ1),
          static_cast<dz::net::TNMGeneralServer *>(NMStrmServ1)}) {
        const std::int32_t error = server->ListenError();
        if (error == 0)
            continue;
        QString why = dz::ToQString(server->LookupErrorText(static_cast<std::uint16_t>(error)));
        if (error == 10013)
            why += QStringLiteral(" (порты ниже 1024 доступны только root или программе "
                                  "с правом cap_net_bind_service)");
        else if (error == 10048)
            why += QStringLiteral(" (порт занят другой программой, возможно второй копией Dizaruz)");
        problems.append(QStringLiteral("Порт %1 не открыт для приема: %2").arg(server->Port).arg(why));
    }
    if (problems.isEmpty())
        return;
    listenProblems_ = problems.join(QLatin1Char('\n'))
                      + QStringLiteral("\nЭтот компьютер не сможет принимать сообщения и файлы.");
    // Told once the event loop runs, after start-up, so nothing modal
    // interrupts the construction of the window.
    QTimer::singleShot(0, this, [this] { dialogs_->message(this, AppCaption(), listenProblems_); });
}

void TForm1::InstallErrorReport()
{
    const QPointer<TForm1> self(this);
    const std::shared_ptr<IDialogs> dialogs = dialogs_;
    previousReporter_ = dz::SetExceptionReporter([self, dialogs](const std::string &message) {
        // Exception texts are UTF-8: they name paths as the file system has them.
        const QString text = QString::fromStdString(message);
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
        if (!m.isNull())
            resize(kOuterWidth - m.left() - m.right(), kOuterHeight - m.top() - m.bottom());
    }
}

void TForm1::closeEvent(QCloseEvent *event)
{
    bool canClose = true;
    // A close handler that failed keeps the window open, as a refusal would.
    if (RunGuarded([&] { FormCloseQuery(canClose); }) && canClose)
        event->accept();
    else
        event->ignore();
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
