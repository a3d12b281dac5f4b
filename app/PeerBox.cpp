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

#include <algorithm>

namespace {

// Strips blanks from both ends of the box's text, puts it back and returns it.
std::string TrimBox(QLineEdit *edit)
{
    const std::string text = dz::TrimText(TextOf(edit));
    SetTextOf(edit, text);
    return text;
}

// A box's designed place, narrowed on the left where its label's text
// (in a language other than the design's) reaches further.
QRect BoxBeside(const QLabel *label, QRect designed)
{
    designed.setLeft(std::max(designed.left(), label->geometry().right() + 3));
    return designed;
}

// The boxes' width in the design's window; wider boxes give the room to the edit boxes.
constexpr int kDesignedWidth = 366;
constexpr double kHalf = 0.5;

} // namespace

TPeerBox::TPeerBox(QWidget &parent, TAlignLayout &layout) : QObject(&parent)
{
    using Align = TAlignLayout::Align;
    GroupBox3 = new QGroupBox(tr("Наш компьютер : "), &parent);
    GroupBox3->setObjectName(QStringLiteral("GroupBox3"));
    GroupBox3->setAccessibleName(tr("Этот компьютер"));
    layout.add(GroupBox3, Align::Top, 42);
    Label_ThisName = PlaceLabel(GroupBox3, "Label_ThisName", tr("Имя = "), 8, 19);
    Edit_ThisComputerName = MakeEdit(GroupBox3, "Edit_ThisComputerName", QRect(48, 15, 121, 21), true);
    Edit_ThisComputerName->setAccessibleName(tr("Имя этого компьютера"));
    Label_ThisIP = PlaceLabel(GroupBox3, "Label_ThisIP", QStringLiteral("IP = "), 208, 19);
    Edit_ThisComputerIP = MakeEdit(GroupBox3, "Edit_ThisComputerIP", QRect(240, 15, 121, 21), true);
    Edit_ThisComputerIP->setAccessibleName(tr("Адрес этого компьютера"));

    GroupBox4 = new QGroupBox(tr("Удаленный компьтер : "), &parent);
    GroupBox4->setObjectName(QStringLiteral("GroupBox4"));
    GroupBox4->setAccessibleName(tr("Другой компьютер"));
    layout.add(GroupBox4, Align::Top, 45);
    Label_RemoteName = PlaceLabel(GroupBox4, "Label_RemoteName", tr("Имя = "), 8, 20);
    Edit_RemoteComputerName = MakeEdit(GroupBox4, "Edit_RemoteComputerName", QRect(48, 16, 121, 21), false);
    Edit_RemoteComputerName->setAccessibleName(tr("Имя другого компьютера"));
    SB_connect = MakeButton(GroupBox4, "SB_connect", TButtonPicture::Connect, QRect(176, 15, 25, 22),
                            tr("Соединиться с компьютером"), true);
    Label_RemoteIP = PlaceLabel(GroupBox4, "Label_RemoteIP", QStringLiteral("IP = "), 208, 20);
    Edit_RemoteComputerIP = MakeEdit(GroupBox4, "Edit_RemoteComputerIP", QRect(240, 16, 121, 21), true);
    Edit_RemoteComputerIP->setAccessibleName(tr("Адрес другого компьютера"));

    connect(SB_connect, &QToolButton::clicked, this, [this] { RunGuarded([this] { Connect(); }); });
    StretchWithTheWindow();
}

void TPeerBox::StretchWithTheWindow()
{
    // The name and the address each take half of any width beyond the design's.
    thisPlaces_ = new TStretchPlaces(GroupBox3, kDesignedWidth);
    thisPlaces_->place(Edit_ThisComputerName, BoxBeside(Label_ThisName, Edit_ThisComputerName->geometry()), 0, kHalf);
    thisPlaces_->place(Label_ThisIP, Label_ThisIP->geometry(), kHalf);
    thisPlaces_->place(Edit_ThisComputerIP, Edit_ThisComputerIP->geometry(), kHalf, kHalf);
    remotePlaces_ = new TStretchPlaces(GroupBox4, kDesignedWidth);
    remotePlaces_->place(Edit_RemoteComputerName, BoxBeside(Label_RemoteName, Edit_RemoteComputerName->geometry()), 0,
                         kHalf);
    remotePlaces_->place(SB_connect, SB_connect->geometry(), kHalf);
    remotePlaces_->place(Label_RemoteIP, Label_RemoteIP->geometry(), kHalf);
    remotePlaces_->place(Edit_RemoteComputerIP, Edit_RemoteComputerIP->geometry(), kHalf, kHalf);
}

void TPeerBox::Connect(const std::string &host)
{
    const std::string remote = TrimBox(Edit_RemoteComputerName);
    if (onConnect)
        onConnect(remote, host);
}

void TPeerBox::ConnectTo(const QString &name, const QString &address)
{
    Edit_RemoteComputerName->setText(name);
    Connect(address.toStdString());
}

void TPeerBox::PlaceComputers(QWidget *button)
{
    button->setParent(GroupBox4);
    remotePlaces_->place(Edit_RemoteComputerName, BoxBeside(Label_RemoteName, QRect(48, 16, 100, 21)), 0, kHalf);
    remotePlaces_->place(button, QRect(150, 16, 21, 21), kHalf);
    button->show();
}

void TPeerBox::PlaceLink(QWidget *badge)
{
    // The address box gives up the room for the link's state at its end.
    badge->setParent(GroupBox4);
    remotePlaces_->place(Edit_RemoteComputerIP, QRect(240, 16, 99, 21), kHalf, kHalf);
    remotePlaces_->place(badge, QRect(341, 16, 21, 21), 1);
    badge->show();
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
