// Form1: the session and the send run, wired to the views; the facts the
// core decides, shown.

#include "Form1.h"

#include "ChatPane.h"
#include "Clock.h"
#include "Controls.h"
#include "Form1Desktop.h"
#include "Guard.h"
#include "LinkBadge.h"
#include "PeerBox.h"
#include "ProgressRow.h"
#include "ReceivePage.h"
#include "SendPage.h"
#include "StatusBar.h"
#include "Problems.h"
#include "peer/closing.h"
#include "peer/links.h"
#include "peer/receivelog.h"
#include "peer/folders.h"
#include "peer/sendrun.h"
#include "net/identity.h"
#include "peer/session.h"
#include "services/nmmsg.h"
#include "services/nmstrm.h"
#include "util/codepage.h"
#include "util/files.h"
#include "util/settings.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPointer>
#include <QTimer>
#include <QToolButton>

namespace {

using dz::peer::TEffect;

// How long a closing window waits for its goodbye to go out.
constexpr auto kGoodbyeWait = std::chrono::milliseconds(1500);

// This user's key and the pins; null when TLS cannot be set up (the copy
// then talks in clear, as an older one). renewed: the key file was damaged.
std::shared_ptr<dz::peer::TLinkGuard> MakeLinks(const std::string &folder, dz::TSettingsStore &settings, bool &renewed)
{
    try {
        const dz::net::TIdentity identity = dz::net::TIdentity::LoadOrCreate(folder, "Dizaruz");
        renewed = identity.Renewed();
        return std::make_shared<dz::peer::TLinkGuard>(identity, settings);
    } catch (const std::exception &) {
        return nullptr;
    }
}

} // namespace

void TForm1::BuildLinkBadge()
{
    auto *badge = new TLinkBadge(PeerBox->GroupBox4);
    PeerBox->PlaceLink(badge);
    badge->onConfirm = [this](const std::string &name) { session_->ConfirmKey(name); };
    badge->onForget = [this](const std::string &name) { session_->ForgetKey(name); };
    badge->onAcceptNewKey = [this](const std::string &name) { session_->AcceptNewKey(name); };
}

void TForm1::CreateSession()
{
    dz::peer::TSessionConfig config;
    config.msgPort = config_.msgPort;
    config.strmPort = config_.strmPort;
    // The receive folder's fallback, as start-up chooses it too.
    config.fallbackFolder = config_.receiveFolder.empty() ? ProgramFolder() : config_.receiveFolder;
    config.ownFiles = {files_.iniFile(),    files_.sendListFile(),
                       files_.recvListFile(), dz::peer::TReceiveLogModel::PathsFileFor(files_.recvListFile()),
                       files_.msgFile(),    settings_->Path(),
                       files_.programFolder() + dz::net::TIdentity::kFileName, dz::ExecutablePath()};
    bool renewed = false;
    if (config_.links)
        config.links = MakeLinks(files_.programFolder(), *settings_, renewed);
    if (renewed)
        dialogs_->notice(this, AppCaption(),
                         tr("Файл ключа этого компьютера был повреждён, создан новый ключ. Компьютеры, которые "
                            "помнят старый ключ, спросят о новом."));
    // Every fact is shown under the error report, one by one, so a failure
    // (a state file that cannot be written) stops nothing after it.
    session_ = std::make_unique<dz::peer::TPeerSession>(
        config, [this](const std::vector<TEffect> &effects) { NMMSGServ1MSG(effects); },
        [](const std::function<void()> &work) { RunGuarded(work); });
    NMMsg1 = &session_->Outbox().Client();
    NMStrm1 = &session_->Streams().Client();
    NMMSGServ1 = &session_->MsgServer();
    NMStrmServ1 = &session_->StrmServer();
    // Asked only when neither the name, nor "<name>.local", nor the peer's
    // known address reaches the host.
    session_->Outbox().SetInvalidHostHandler([this](bool &Handled) { NMMsg1InvalidHost(Handled); });
    session_->Listen();

    dz::peer::TSendRun::TListener listener;
    listener.stepStarted = [this](dz::peer::TSendRun::TId id) { SetItemIndex(ListF_send, sendList_->RowOf(id)); };
    listener.opened = [this](std::int64_t size) { ProgressRow->StepOpened(size); };
    listener.stepEnded = [this](dz::peer::TSendRun::TId id, bool sent) {
        ProgressRow->StepEnded(sendList_->Path(sendList_->RowOf(id)).toStdString(), sent);
    };
    listener.listChanged = [this] {
        SetItemIndex(ListF_send, sendList_->RowOf(run_->Position()));
        SaveListFileSoon(ListF_send);
        ProgressRow->Show();
    };
    listener.totalsChanged = [this] { ProgressRow->Show(); };
    listener.ended = [this] {
        SaveChangedListFiles();
        ProgressRow->RunEnded();
    };
    listener.failed = [this](const std::string &error) {
        // The peer layer says which folder; the words are the window's.
        if (const std::optional<std::string> folder = dz::peer::NoFoldersPath(error))
            return dz::ReportError(tr("Папка «%1» не отправлена: программа на другом компьютере принимает "
                                      "только отдельные файлы.")
                                       .arg(QString::fromStdString(*folder))
                                       .toStdString());
        dz::ReportError(error);
    };
    run_ = std::make_unique<dz::peer::TSendRun>(*sendList_, *runTimer_, dz::peer::SessionPort(*session_), listener);
}

void TForm1::CheckListening()
{
    QStringList problems;
    for (dz::net::TNMGeneralServer *server : {static_cast<dz::net::TNMGeneralServer *>(NMMSGServ1),
                                              static_cast<dz::net::TNMGeneralServer *>(NMStrmServ1)}) {
        const std::int32_t error = server->ListenError();
        if (error == 0)
            continue;
        QString why = dz::ToQString(server->LookupErrorText(static_cast<std::uint16_t>(error)));
        if (error == 10013)
            why += tr(" (порты ниже 1024 доступны только root или программе "
                                  "с правом cap_net_bind_service)");
        else if (error == 10048)
            why += tr(" (порт занят другой программой, возможно второй копией Dizaruz)");
        problems.append(tr("Порт %1 не открыт для приема: %2").arg(server->Port).arg(why));
    }
    if (problems.isEmpty())
        return;
    listenProblems_ = problems.join(QLatin1Char('\n')) +
                      tr("\nЭтот компьютер не сможет принимать сообщения и файлы.");
    // Told once the event loop runs, so nothing modal interrupts the construction of the window.
    QTimer::singleShot(0, this, [this] { dialogs_->message(this, AppCaption(), listenProblems_); });
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

void TForm1::SetThisComputer(const std::string &name, const std::string &ip)
{
    identityGiven_ = true;
    ShowIdentity(name, ip);
}

void TForm1::ShowIdentity(const std::string &name, const std::string &ip)
{
    PeerBox->ShowThisComputer(name, ip);
    Core().SetIdentity(name, ip);
    PublishThisComputer(name);
}

void TForm1::SB_connectClick()
{
    PeerBox->Connect();
}

void TForm1::SB_msgClick()
{
    ChatPane->Send();
}

void TForm1::SpeedButton2Click()
{
    ChatPane->SpeedButton2Click();
}

void TForm1::SendChat(const std::string &text)
{
    const dz::peer::TOutcome chat = Core().Chat(text);
    ShowDecided();
    if (chat.send.empty())
        return; // refused: the text stays for editing
    ChatPane->Sent();
    // Only a delivered line is logged; one that could not go comes back.
    const QPointer<TForm1> self(this);
    session_->Send(chat, [self, text](const std::string &error) {
        if (!self)
            return;
        if (!error.empty()) {
            self->ChatPane->NotSent(text);
            return dz::ReportError(error);
        }
        self->ChatPane->LogLine(TextOf(self->Edit_ThisComputerName), text);
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

void TForm1::FormCloseQuery(bool &CanClose)
{
    CanClose = true;
    if (goodbyeSaid_)
        return; // the goodbye went, or its wait ended: the window goes now
    if (closing_) {
        CanClose = false; // still waiting for it
        return;
    }
    closeBegan_ = std::chrono::steady_clock::now();
    // A list that cannot be saved is told, and does not keep the window open.
    RunGuarded([&] { SaveChangedListFiles(); });
    SaveSettings();
    // A send run ends here: "Send_End" goes before the goodbye.
    CancelRun();
    // The window goes on serving its events while the goodbye goes out (a
    // peer in this process accepts on this thread), and closes itself then.
    const QPointer<TForm1> self(this);
    closing_ = dz::peer::SayGoodbye(*session_, PeerBox->RemoteName(), PeerBox->RemoteAddress(), kGoodbyeWait, *this,
                                    [self](bool answered, std::string error) {
                                        if (!self)
                                            return;
                                        self->goodbyeSaid_ = true;
                                        if (!answered)
                                            error = tr("Прощание не доставлено: другой компьютер не "
                                                       "отвечает")
                                                        .toStdString();
                                        // Told in a notice that waits for nobody: an unreachable
                                        // peer must keep neither the window nor the process.
                                        if (!error.empty())
                                            self->dialogs_->notice(self, AppCaption(), WordedProblem(error));
                                        if (self->closing_)
                                            self->close();
                                    });
    CanClose = !closing_;
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
                dialogs->message(self, AppCaption(), tr("Некорректное имя компьютера или он недоступен"));
        },
        Qt::QueuedConnection);
}

void TForm1::SB_sendClick()
{
    Timer1->stop();
    if (PeerBox->RemoteName().empty())
        return;
    if (run_->Start())
        ProgressRow->RunStarted();
}

void TForm1::Timer1Timer()
{
    run_->Tick();
}

void TForm1::CancelRun()
{
    run_->Cancel();
}

void TForm1::SB_CancelClick()
{
    if (run_->Going())
        run_->Cancel();
    else
        session_->CancelIncoming();
}

bool TForm1::StepInFlight() const
{
    return run_->StepInFlight();
}

bool TForm1::RunGoing() const
{
    return run_->Going();
}

const TProgressRow::TCost &TForm1::ProgressCost() const
{
    return ProgressRow->Cost();
}

void TForm1::Timer_ProgressTimer()
{
    ProgressRow->Timer_ProgressTimer();
}

void TForm1::NMMSGServ1MSG(const std::vector<TEffect> &effects)
{
    for (const TEffect &e : effects)
        // One failure (a state file that cannot be written) stops nothing after it.
        RunGuarded([&] { ShowFact(e); });
}
