// Form1: the views wired to the window, and the core's facts shown on them.

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
#include "peer/receivelog.h"
#include "peer/session.h"
#include "services/nmmsg.h"
#include "services/nmstrm.h"
#include "util/codepage.h"

#include <QApplication>
#include <QLabel>
#include <QListView>
#include <QLocale>
#include <QPointer>
#include <QTimer>
#include <QToolButton>

void TForm1::WireViews()
{
    PeerBox->onConnect = [this](const std::string &remote, const std::string &host) { ConnectTo(remote, host); };
    ChatPane->onSend = [this](const std::string &text) { SendChat(text); };
    ChatPane->onLogChanged = [this](std::vector<std::string> lines) { SaveChatLog(std::move(lines)); };
    SendPage->onChanged = [this] { SaveListFile(ListF_send); };
    SendPage->onSend = [this] { SB_sendClick(); };
    ReceivePage->receiveFolder = [this] { return Desktop->ReceiveFolder(); };
    ReceivePage->showItems = [this](const QUrl &file, std::function<void(bool)> shown) {
        Desktop->ShowItems(file, std::move(shown));
    };
    ReceivePage->onCleared = [this] { SaveListFile(ListF_recv); };
    ReceivePage->onChooseFolder = [this] { SB_DirClick(); };
    ProgressRow->receiving = [this] { return !Label_YesReciv->isHidden(); };
    connect(SB_Cancel, &QToolButton::clicked, this, [this] { RunGuarded([this] { SB_CancelClick(); }); });
    connect(SB_Help, &QToolButton::clicked, this, [this] { RunGuarded([this] { SB_HelpClick(); }); });
    connect(Timer_SaveLists, &QTimer::timeout, this, [this] { RunGuarded([this] { SaveChangedListFiles(); }); });
    // Key preview: the window sees every key before the focused control does.
    qApp->installEventFilter(this);
}

void TForm1::ConnectTo(const std::string &remote, const std::string &host)
{
    // The introduction carries this computer's address: a click before its
    // look-up has ended is carried out when it ends.
    if (!identityKnown_ && !identityGiven_ && !remote.empty()) {
        connectWhenKnown_.emplace(remote, host);
        return;
    }
    const dz::peer::TOutcome outcome = Core().Connect(remote, host);
    connecting_.reset();
    if (!remote.empty())
        connecting_.emplace(dz::ToQString(remote), QString::fromStdString(host));
    ShowDecided();
    if (remote.empty())
        return;
    const QPointer<TForm1> self(this);
    session_->Send(outcome, [self, remote, host](const std::string &error) {
        if (!self)
            return;
        if (!error.empty())
            return dz::ReportError(error);
        self->Core().Connected(remote, host);
        self->ShowDecided();
    });
}

void TForm1::ListStored(const dz::peer::TEffect &e)
{
    ProgressRow->Stored(e.value);
    const QDateTime now = clock_->now();
    const QString when = QLocale::system().toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                         TimeOfDayText(now.time());
    recvLog_->Prepend(when + QStringLiteral(" | ") + dz::ToQString(e.text) + QStringLiteral(" | ") +
                          dz::ToQString(e.value),
                      QString::fromStdString(e.key), e.on);
    SetItemIndex(ListF_recv, 0);
    SaveListFileSoon(ListF_recv);
}

void TForm1::ShowFact(const dz::peer::TEffect &e)
{
    using Kind = dz::peer::TEffect::Kind;
    switch (e.kind) {
    case Kind::PeerName:
        PeerBox->ShowPeerName(e.text);
        break;
    case Kind::PeerAddress:
        PeerBox->ShowPeerAddress(e.text);
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
            ProgressRow->BatchOver();
        }
        break;
    case Kind::Sending:
        Label_YesSend->setVisible(e.on);
        break;
    case Kind::Pending:
        SetTextOf(Label_RecivNow, e.text);
        break;
    case Kind::BatchStarted:
        recvLog_->Clear(); // its file keeps the old rows until the batch's first file
        break;
    case Kind::Chat:
        ChatPane->LogLine(e.text, e.value);
        break;
    case Kind::Remember:
        WriteIni(e.text, e.key, dz::Cp1251ToUtf8(e.value));
        if (e.on)
            Answered(e);
        break;
    case Kind::Stored:
        ListStored(e);
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
        ProgressRow->Arriving();
        break;
    case Kind::BatchEnded:
        // Before Free says the batch is over.
        Desktop->BatchEnded(e.text);
        break;
    case Kind::ChatTooLong:
        // The four-digit length field cannot frame it.
        dialogs_->message(this, AppCaption(),
                          tr("Сообщение слишком длинное: %1 символов, можно не более %2.")
                              .arg(e.number)
                              .arg(dz::peer::TPeerCore::kMaxChatBytes));
        break;
    case Kind::Link:
        if (auto *badge = findChild<TLinkBadge *>())
            badge->ShowLink(e);
        break;
    case Kind::PinNotice:
        if (auto *badge = findChild<TLinkBadge *>())
            badge->OfferNewKey(e);
        if (const QString text = TLinkBadge::NoticeText(e); !text.isEmpty())
            dialogs_->notice(this, AppCaption(), text);
        break;
    case Kind::Notice:
        // Work from the peer goes on while the user reads it.
        dialogs_->notice(this, AppCaption(), WordedProblem(e.text));
        break;
    }
}
