#include "ChatPane.h"

#include "AlignLayout.h"
#include "Clock.h"
#include "Controls.h"
#include "Dialogs.h"
#include "Guard.h"
#include "Widgets.h"
#include "util/codepage.h"
#include "util/text.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QToolButton>

namespace {

// The chat bar's width in the design's window.
constexpr int kChatBarDesignedWidth = 358;

} // namespace

TChatPane::TChatPane(QObject &owner, IDialogs &dialogs, std::shared_ptr<IClock> clock)
    : QObject(&owner), dialogs_(dialogs), clock_(std::move(clock))
{
    using Align = TAlignLayout::Align;
    GroupBox1 = new QGroupBox(tr("Общаться : "));
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setAccessibleName(tr("Чат"));
    auto *layout = new TAlignLayout(GroupBox1);
    Panel8 = MakePanel(GroupBox1, "Panel8", TBevel::LoweredTwice);
    layout->add(Panel8, Align::Top, 26);
    SpeedButton2 = MakeButton(Panel8, "SpeedButton2", TButtonPicture::ClearChat, QRect(1, 2, 23, 22),
                              tr("Удалить сообщения ..."), true);
    SB_msg = MakeButton(Panel8, "SB_msg", TButtonPicture::SendMessage, QRect(32, 2, 23, 22),
                        tr("Послать сообщение"), true);
    Edit_Mess = MakeEdit(Panel8, "Edit_Mess", QRect(56, 2, 297, 21), false);
    Edit_Mess->setToolTip(tr("Текст сообщения ..."));
    Edit_Mess->setAccessibleName(tr("Сообщение в чат"));
    Memo_Mess = new QPlainTextEdit(GroupBox1);
    Memo_Mess->setObjectName(QStringLiteral("Memo_Mess"));
    Memo_Mess->setAccessibleName(tr("Переписка"));
    Memo_Mess->setReadOnly(true);
    Memo_Mess->setAcceptDrops(false);
    Memo_Mess->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo_Mess->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo_Mess->setMinimumSize(1, 1); // lets the chat group keep its designed height
    SetSilver(Memo_Mess);
    layout->add(Memo_Mess, Align::Client);
    // The message box takes what the window gains in width.
    (new TStretchPlaces(Panel8, kChatBarDesignedWidth))->place(Edit_Mess, Edit_Mess->geometry(), 0, 1);

    connect(SB_msg, &QToolButton::clicked, this, [this] { RunGuarded([this] { Send(); }); });
    connect(SpeedButton2, &QToolButton::clicked, this, [this] { RunGuarded([this] { SpeedButton2Click(); }); });
}

void TChatPane::Send()
{
    const std::string text = dz::TrimText(TextOf(Edit_Mess));
    SetTextOf(Edit_Mess, text);
    if (!text.empty() && onSend)
        onSend(text);
}

void TChatPane::Sent()
{
    Edit_Mess->clear();
    Edit_Mess->setFocus();
}

void TChatPane::NotSent(const std::string &text)
{
    if (Edit_Mess->text().isEmpty())
        SetTextOf(Edit_Mess, text);
}

void TChatPane::LogLine(const std::string &name, const std::string &text)
{
    const QString line = TimeOfDayText(clock_->now().time()) + QLatin1Char('|') + dz::ToQString(name) +
                         QStringLiteral(" | ") + dz::ToQString(text);
    QTextCursor cursor(Memo_Mess->document());
    cursor.movePosition(QTextCursor::Start);
    cursor.insertText(Memo_Mess->document()->isEmpty() ? line : line + QLatin1Char('\n'));
    LogChanged();
}

void TChatPane::SpeedButton2Click()
{
    if (!dialogs_.confirm(GroupBox1->window(), tr("Confirm"), tr("Удалить все сообщения ?")))
        return;
    Memo_Mess->clear();
    LogChanged();
}

void TChatPane::Load(const std::vector<std::string> &lines)
{
    Memo_Mess->clear();
    SetMemoUtf8(Memo_Mess, lines);
}

std::vector<std::string> TChatPane::Lines() const
{
    return MemoUtf8(Memo_Mess);
}

void TChatPane::LogChanged()
{
    if (onLogChanged)
        onLogChanged(Lines());
}
