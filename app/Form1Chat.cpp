// Form1: the peer control protocol and the chat, as the window shows them.

#include "Form1.h"

#include "Clock.h"
#include "Controls.h"
#include "Form1Desktop.h"
#include "Guard.h"
#include "peer/session.h"
#include "services/nmmsg.h"
#include "services/nmstrm.h"
#include "util/codepage.h"
#include "util/text.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextCursor>
#include <QTimer>
#include <QToolButton>

#include <chrono>
#include <memory>

namespace {

using dz::peer::TEffect;

// Strips blanks from both ends of the box's text, puts it back and returns it.
std::string TrimBox(QLineEdit *edit)
{
    const std::string text = dz::TrimText(TextOf(edit));
    SetTextOf(edit, text);
    return text;
}

// How long a closing window waits for its goodbye to go out.
constexpr auto kGoodbyeWait = std::chrono::milliseconds(1500);

} // namespace

void TForm1::SetThisComputer(const std::string &name, const std::string &ip)
{
    SetTextOf(Edit_ThisComputerName, name);
    SetTextOf(Edit_ThisComputerIP, ip);
    Core().SetIdentity(name, ip);
}

void TForm1::SaveChatLog()
{
    files_.saveLines(files_.msgFile(), MemoUtf8(Memo_Mess));
}

void TForm1::LogChatLine(const std::string &name, const std::string &text)
{
    const QString line = TimeOfDayText(clock_->now().time()) + QLatin1Char('|') + dz::ToQString(name) +
                         QStringLiteral(" | ") + dz::ToQString(text);
    QTextCursor cursor(Memo_Mess->document());
    cursor.movePosition(QTextCursor::Start);
    if (Memo_Mess->document()->isEmpty())
        cursor.insertText(line);
    else
        cursor.insertText(line + QLatin1Char('\n'));
    SaveChatLog();
}

void TForm1::SB_connectClick()
{
    const std::string remote = TrimBox(Edit_RemoteComputerName);
    const dz::peer::TOutcome outcome = Core().Connect(remote);
    ShowDecided();
    if (remote.empty())
        return;
    const QPointer<TForm1> self(this);
    session_->Send(outcome, [self, remote](const std::string &error) {
        if (!self)
            return;
        if (!error.empty())
            return dz::ReportError(error);
        self->Core().Connected(remote);
        self->ShowDecided();
    });
}

void TForm1::SB_msgClick()
{
    const std::string text = TrimBox(Edit_Mess);
    if (text.empty())
        return;
    const dz::peer::TOutcome chat = Core().Chat(text);
    ShowDecided();
    if (chat.send.empty())
        return; // refused: the text stays for editing
    // The box is free for the next line at once; a line that could not be
    // sent comes back, and only a delivered line is logged.
    Edit_Mess->clear();
    Edit_Mess->setFocus();
    const QPointer<TForm1> self(this);
    session_->Send(chat, [self, text](const std::string &error) {
        if (!self)
            return;
        if (!error.empty()) {
            if (self->Edit_Mess->text().isEmpty())
                SetTextOf(self->Edit_Mess, text);
            return dz::ReportError(error);
        }
        self->LogChatLine(TextOf(self->Edit_ThisComputerName), text);
    });
}

void TForm1::FormKeyDown(quint16 &Key, Qt::KeyboardModifiers Shift)
{
    (void)Shift;
    if (Key == 13)
        SB_msgClick();
    else if (Key == 27 && RunGoing())
        CancelRun();
}

void TForm1::SpeedButton2Click()
{
    if (!dialogs_->confirm(this, QStringLiteral("Confirm"), QStringLiteral("Удалить все сообщения ?")))
        return;
    Memo_Mess->clear();
    SaveChatLog();
}

void TForm1::FormCloseQuery(bool &CanClose)
{
    CanClose = true;
    // A list that cannot be saved is told, and does not keep the window open.
    RunGuarded([&] { SaveChangedListFiles(); });
    // A send run ends here: the file on its way is cut (the peer keeps
    // nothing of it), and "Send_End" goes before the goodbye.
    CancelRun();
    const std::string name = TrimBox(Edit_RemoteComputerName);
    const std::string ip = TrimBox(Edit_RemoteComputerIP);
    const dz::peer::TOutcome goodbye = Core().Goodbye(name, ip);
    if (goodbye.send.empty())
        return;
    // The goodbye is the last thing this copy says: wait for it (and a
    // "Send_End" before it), briefly.
    // The window goes on serving its events meanwhile (another window of
    // this process may be the peer, and its accepts run on this thread).
    auto error = std::make_shared<std::string>();
    auto done = std::make_shared<bool>(false);
    session_->Send(goodbye, [error, done](const std::string &e) {
        *error = e;
        *done = true;
    });
    const auto end = std::chrono::steady_clock::now() + kGoodbyeWait;
    while (!*done && std::chrono::steady_clock::now() < end) {
        dz::net::Pump();
        dz::net::WaitForActivity(-1, 0, 5);
    }
    if (!*done) {
        session_->Outbox().CancelAll();
        *error = "The goodbye could not be delivered: the other computer does not answer";
    }
    if (!error->empty())
        // Told, but in a notice that waits for nobody: an unreachable peer
        // must keep neither the window nor the process.
        dialogs_->notice(this, AppCaption(), QString::fromStdString(*error));
}

void TForm1::NMMsg1InvalidHost(bool &Handled)
{
    Handled = false;
    Core().InvalidHost();
    // On the sender's thread: the box is the GUI thread's, and the sender
    // does not wait for the user to close it.
    const QPointer<TForm1> self(this);
    const std::shared_ptr<IDialogs> dialogs = dialogs_;
    QMetaObject::invokeMethod(
        this,
        [self, dialogs] {
            if (self)
                dialogs->message(self, AppCaption(), QStringLiteral("Некорректное имя компьютера или он недоступен"));
        },
        Qt::QueuedConnection);
}

void TForm1::NMMSGServ1MSG(const std::vector<TEffect> &effects)
{
    using Kind = TEffect::Kind;
    for (const TEffect &e : effects) {
        // One failure (a state file that cannot be written) stops nothing after it.
        RunGuarded([&] {
            switch (e.kind) {
            case Kind::PeerName:
                SetTextOf(Edit_RemoteComputerName, e.text);
                break;
            case Kind::PeerAddress:
                SetTextOf(Edit_RemoteComputerIP, e.text);
                break;
            case Kind::Introduced:
                SB_msg->setEnabled(e.on);
                break;
            case Kind::CanSend:
                SB_send->setEnabled(e.on);
                break;
            case Kind::Idle:
                SB_Help->setEnabled(e.on);
                break;
            case Kind::Receiving:
                Label_YesReciv->setVisible(e.on);
                if (!e.on) {
                    SaveChangedListFiles();
                    lastIncomingStored_ = false;
                    ShowProgress(); // the batch is over: its last file goes
                }
                break;
            case Kind::Sending:
                Label_YesSend->setVisible(e.on);
                break;
            case Kind::Pending:
                SetTextOf(Label_RecivNow, e.text);
                break;
            case Kind::BatchStarted:
                ListF_recv->clear();
                break;
            case Kind::Chat:
                LogChatLine(e.text, e.value);
                break;
            case Kind::Remember:
                files_.writeIni(e.text, e.key, dz::Cp1251ToUtf8(e.value));
                break;
            case Kind::Stored:
                NMStrmServ1MSG(e.text, e.value);
                break;
            case Kind::Free:
                FreeFlag = e.on;
                break;
            case Kind::InvalidHost:
                InvalidHostCode = e.number;
                break;
            case Kind::Hosts:
                NMMSGServ1->Host = e.text;
                NMStrmServ1->Host = e.value;
                break;
            case Kind::Arriving:
                // Shown while it comes in, ten times a second at most.
                Timer_Progress->start();
                ShowProgress();
                break;
            case Kind::BatchEnded:
                // Before FreeFlag says the batch is over.
                Desktop->BatchEnded(e.text);
                break;
            case Kind::ChatTooLong:
                // The four-digit length field cannot frame it.
                dialogs_->message(this, AppCaption(),
                                  QStringLiteral("Сообщение слишком длинное: %1 символов, можно не более %2.")
                                      .arg(e.number)
                                      .arg(dz::peer::TPeerCore::kMaxChatBytes));
                break;
            case Kind::Notice:
                // Work from the peer goes on while the user reads it.
                dialogs_->notice(this, AppCaption(), QString::fromStdString(e.text));
                break;
            }
        });
    }
}
