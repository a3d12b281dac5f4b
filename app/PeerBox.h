#pragma once
// The two boxes at the top: this computer (name and address, read-only)
// and the other computer (the name the user types, the connect button, the
// address the peer announced). GUI thread only.
//
// The list of computers found on the network sits beside
// Edit_RemoteComputerName in GroupBox4; picking one is ConnectTo(name,
// address), which does what typing the name and pressing the button do.

#include <QCoreApplication>
#include <QObject>
#include <QString>

#include <functional>
#include <string>

class QGroupBox;
class QLabel;
class QLineEdit;
class QToolButton;
class QWidget;
class TAlignLayout;
class TStretchPlaces;

class TPeerBox : public QObject {
    Q_DECLARE_TR_FUNCTIONS(TPeerBox)

public:
    // Docks both boxes at the top of layout, in parent.
    TPeerBox(QWidget &parent, TAlignLayout &layout);

    QGroupBox *GroupBox3; // this computer
    QLabel *Label_ThisName;
    QLineEdit *Edit_ThisComputerName;
    QLabel *Label_ThisIP;
    QLineEdit *Edit_ThisComputerIP;
    QGroupBox *GroupBox4; // the remote computer
    QLabel *Label_RemoteName;
    QLineEdit *Edit_RemoteComputerName;
    QToolButton *SB_connect;
    QLabel *Label_RemoteIP;
    QLineEdit *Edit_RemoteComputerIP;

    // The connect button: called with the remote name, trimmed (Windows-1251),
    // and the address to reach it at (empty: the name itself).
    std::function<void(const std::string &remote, const std::string &host)> onConnect;
    // Fills the name box with name and connects, as the user would; the
    // messages go to address when it is given.
    void ConnectTo(const QString &name, const QString &address = {});
    void Connect(const std::string &host = {});
    // Places the button of the list of computers beside the name box, which
    // gives up room for it; the other controls keep their places.
    void PlaceComputers(QWidget *button);
    // Places the link's state at the end of the address box.
    void PlaceLink(QWidget *badge);

    // Texts are Windows-1251, as the core has them.
    void ShowThisComputer(const std::string &name, const std::string &ip);
    void ShowPeerName(const std::string &name);
    void ShowPeerAddress(const std::string &ip);
    // The boxes' texts as they stand, trimmed (and put back trimmed).
    std::string RemoteName();
    std::string RemoteAddress();

private:
    // The boxes' places follow the window's width from now on.
    void StretchWithTheWindow();

    TStretchPlaces *thisPlaces_;
    TStretchPlaces *remotePlaces_;
};
