// Form1: the peer control protocol and the chat.

#include "Form1.h"

#include "Clock.h"
#include "Controls.h"
#include "Form1Desktop.h"
#include "OrderedWork.h"
#include "services/nmmsg.h"
#include "services/nmstrm.h"
#include "util/codepage.h"
#include "util/text.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QToolButton>

namespace {

// Strips blanks from both ends of the box's text, puts it back and returns it.
std::string TrimBox(QLineEdit *edit)
{
    const std::string text = dz::TrimText(TextOf(edit));
    SetTextOf(edit, text);
    return text;
}

bool IsYes(const std::string &msg)
{
    return dz::UpperText(dz::ExtractField(dz::DelimEqBar(), msg, 2)) == "YES";
}

std::string YesNo(bool yes)
{
    return yes ? "Yes" : "No";
}

} // namespace

void TForm1::PostMsg(const std::string &text)
{
    const TOrderedWork::TBusy busy(*work_);
    NMMsg1->PostText(text);
}

bool TForm1::Reply(const std::string &text)
{
    try {
        PostMsg(text);
        return true;
    } catch (const dz::net::ESockError &) {
        // The peer asked nothing of the user: a lost reply is not reported.
        return false;
    }
}

void TForm1::SetAllHosts(const std::string &host)
{
    NMMsg1->Host = host;
    NMMSGServ1->Host = host;
    NMStrm1->Host = host;
    NMStrmServ1->Host = host;
}

void TForm1::SaveChatLog()
{
    files_.saveLines(files_.msgFile(), MemoLines(Memo_Mess));
}

void TForm1::LogChatLine(const std::string &name, const std::string &text)
{
    const std::string line = dz::FromQString(TimeOfDayText(clock_->now().time())) + "|" + name + " | " + text;
    QTextCursor cursor(Memo_Mess->document());
    cursor.movePosition(QTextCursor::Start);
    if (Memo_Mess->document()->isEmpty())
        cursor.insertText(dz::ToQString(line));
    else
        cursor.insertText(dz::ToQString(line) + QLatin1Char('\n'));
    SaveChatLog();
}

void TForm1::SB_connectClick()
{
    InvalidHostCode = 0;
    const std::string remote = TrimBox(Edit_RemoteComputerName);
    if (remote.empty())
        return;
    const std::string self = TextOf(Edit_ThisComputerName);
    NMMsg1->FromName = self;
    NMMsg1->Host = remote;
    NMMSGServ1->Host = remote;
    PostMsg("ItsMe=" + self + "|" + TextOf(Edit_ThisComputerIP));
    NMStrm1->FromName = self;
    NMStrm1->Host = remote;
    NMStrmServ1->Host = remote;
    files_.writeIni("REMOTE", "ComputerName", remote);
    files_.writeIni("REMOTE", "ComputerIP", TextOf(Edit_RemoteComputerIP));
}

void TForm1::SB_msgClick()
{
    const std::string text = TrimBox(Edit_Mess);
    if (text.empty())
        return;
    if (text.size() > static_cast<std::size_t>(kMaxChatBytes)) {
        // The four-digit length field cannot frame it; the text stays for editing.
        dialogs_->message(this, AppCaption(),
                          QStringLiteral("Сообщение слишком длинное: %1 символов, можно не более %2.")
                              .arg(text.size())
                              .arg(kMaxChatBytes));
        return;
    }
    PostMsg("MSG|" + text);
    LogChatLine(TextOf(Edit_ThisComputerName), text);
    Edit_Mess->clear();
    Edit_Mess->setFocus();
}

void TForm1::FormKeyDown(quint16 &Key, Qt::KeyboardModifiers Shift)
{
    (void)Shift;
    if (Key == 13)
        SB_msgClick();
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
    if (InvalidHostCode > 0)
        return;
    const std::string name = TrimBox(Edit_RemoteComputerName);
    const std::string ip = TrimBox(Edit_RemoteComputerIP);
    if (name.empty() || ip.empty())
        return;
    try {
        PostMsg("By=" + TextOf(Edit_ThisComputerName) + "|" + TextOf(Edit_ThisComputerIP));
    } catch (...) {
        // Told, but the window still closes: an unreachable peer must not
        // keep it open.
        dz::ReportCurrentException();
    }
}

void TForm1::NMMsg1InvalidHost(bool &Handled)
{
    Handled = false;
    InvalidHostCode = 1;
    dialogs_->message(this, AppCaption(), QStringLiteral("Некорректное имя компьютера или он недоступен"));
}

void TForm1::NMMSGServ1MSG(const std::string &sFrom, const std::string &sMsg)
{
    const std::string command = dz::ExtractField(dz::DelimEqBar(), sMsg, 1);
    if (command == "MSG") {
        const std::string text = dz::ExtractField(dz::DelimEqBar(), sMsg, 2);
        if (!text.empty())
            LogChatLine(sFrom, text);
    } else if (command == "ItsMe") {
        SB_msg->setEnabled(true);
        if (!FreeFlag || !TextOf(Edit_RemoteComputerIP).empty())
            return;
        const std::string name = dz::ExtractField(dz::DelimEqBar(), sMsg, 2);
        SetTextOf(Edit_RemoteComputerName, name);
        SetTextOf(Edit_RemoteComputerIP, dz::ExtractField(dz::DelimEqBar(), sMsg, 3));
        const std::string self = TextOf(Edit_ThisComputerName);
        NMMsg1->FromName = self;
        NMStrm1->FromName = self;
        SetAllHosts(name);
        if (!Reply("ItsMeToo=" + TextOf(Edit_ThisComputerIP)))
            return;
        // Read again: the reply pumped, other work may have come meanwhile.
        Reply("I_Free=" + YesNo(FreeFlag));
    } else if (command == "ItsMeToo") {
        SB_msg->setEnabled(true);
        if (!FreeFlag)
            return;
        const std::string ip = dz::ExtractField(dz::DelimEq(), sMsg, 2);
        SetTextOf(Edit_RemoteComputerIP, ip);
        files_.writeIni("REMOTE", "ComputerIP", ip);
    } else if (command == "By") {
        Edit_RemoteComputerName->clear();
        Edit_RemoteComputerIP->clear();
        SB_send->setEnabled(false);
        SB_msg->setEnabled(false);
        FreeFlag = true;
    } else if (command == "You_Free") {
        Reply("I_Free=" + YesNo(FreeFlag));
    } else if (command == "I_Free" || command == "I_FreeToo") {
        SB_send->setEnabled(false);
        if (IsYes(sMsg))
            SB_send->setEnabled(true);
        if (command == "I_Free")
            Reply("I_FreeToo=" + YesNo(FreeFlag));
    } else if (command == "File_Start") {
        SetTextOf(Label_RecivNow, dz::ExtractField(dz::DelimBar(), sMsg, 2));
    } else if (command == "Send_Start") {
        if (!FreeFlag)
            return;
        FreeFlag = false;
        Label_YesReciv->show();
        SB_send->setEnabled(false);
        SB_Help->setEnabled(false);
        Label_RecivNow->clear();
        ListF_recv->clear();
    } else if (command == "Send_End") {
        Desktop->BatchEnded(sFrom); // while FreeFlag still says a batch was open
        FreeFlag = true;
        Label_YesReciv->hide();
        SB_send->setEnabled(true);
        SB_Help->setEnabled(true);
        Label_RecivNow->clear();
    }
    // File_End and any other word: nothing.
}
