#include "PeerBox.h"

#include "AlignLayout.h"
#include "Controls.h"
#include "Guard.h"
#include "Widgets.h"
#include "util/text.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace {

// Strips blanks from both ends of the box's text, puts it back and returns it.
std::string TrimBox(QLineEdit *edit)
{
    const std::string text = dz::TrimText(TextOf(edit));
    SetTextOf(edit, text);
    return text;
}

} // namespace

TPeerBox::TPeerBox(QWidget &parent, TAlignLayout &layout) : QObject(&parent)
{
    using Align = TAlignLayout::Align;
    GroupBox3 = new QGroupBox(QStringLiteral("Наш компьютер : "), &parent);
    GroupBox3->setObjectName(QStringLiteral("GroupBox3"));
    layout.add(GroupBox3, Align::Top, 42);
    Label_ThisName = PlaceLabel(GroupBox3, "Label_ThisName", QStringLiteral("Имя = "), 8, 19);
    Edit_ThisComputerName = MakeEdit(GroupBox3, "Edit_ThisComputerName", QRect(48, 15, 121, 21), true);
    Label_ThisIP = PlaceLabel(GroupBox3, "Label_ThisIP", QStringLiteral("IP = "), 208, 19);
    Edit_ThisComputerIP = MakeEdit(GroupBox3, "Edit_ThisComputerIP", QRect(240, 15, 121, 21), true);

    GroupBox4 = new QGroupBox(QStringLiteral("Удаленный компьтер : "), &parent);
    GroupBox4->setObjectName(QStringLiteral("GroupBox4"));
    layout.add(GroupBox4, Align::Top, 45);
    Label_RemoteName = PlaceLabel(GroupBox4, "Label_RemoteName", QStringLiteral("Имя = "), 8, 20);
    Edit_RemoteComputerName = MakeEdit(GroupBox4, "Edit_RemoteComputerName", QRect(48, 16, 121, 21), false);
    SB_connect = MakeButton(GroupBox4, "SB_connect", TButtonPicture::Connect, QRect(176, 15, 25, 22),
                            QStringLiteral("Соединиться с компьютером"), true);
    Label_RemoteIP = PlaceLabel(GroupBox4, "Label_RemoteIP", QStringLiteral("IP = "), 208, 20);
    Edit_RemoteComputerIP = MakeEdit(GroupBox4, "Edit_RemoteComputerIP", QRect(240, 16, 121, 21), true);

    connect(SB_connect, &QToolButton::clicked, this, [this] { RunGuarded([this] { Connect(); }); });
}

void TPeerBox::Connect()
{
    const std::string remote = TrimBox(Edit_RemoteComputerName);
    if (onConnect)
        onConnect(remote);
}

void TPeerBox::ConnectTo(const QString &name)
{
    Edit_RemoteComputerName->setText(name);
    Connect();
}

void TPeerBox::ShowThisComputer(const std::string &name, const std::string &ip)
{
    SetTextOf(Edit_ThisComputerName, name);
    SetTextOf(Edit_ThisComputerIP, ip);
}

void TPeerBox::ShowPeerName(const std::string &name)
{
    SetTextOf(Edit_RemoteComputerName, name);
}

void TPeerBox::ShowPeerAddress(const std::string &ip)
{
    SetTextOf(Edit_RemoteComputerIP, ip);
}

std::string TPeerBox::RemoteName()
{
    return TrimBox(Edit_RemoteComputerName);
}

std::string TPeerBox::RemoteAddress()
{
    return TrimBox(Edit_RemoteComputerIP);
}
