#pragma once
// The two boxes at the top: this computer (name and address, read-only)
// and the other computer (the name the user types, the connect button, the
// address the peer announced). GUI thread only.
//
// A list of computers found on the network belongs beside
// Edit_RemoteComputerName in GroupBox4; picking one is ConnectTo(name),
// which does what typing the name and pressing the button do.

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

class TPeerBox : public QObject {
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

    // The connect button: called with the remote name, trimmed (Windows-1251).
    std::function<void(const std::string &remote)> onConnect;
    // Fills the name box with name and connects, as the user would.
    void ConnectTo(const QString &name);
    void Connect();

    // Texts are Windows-1251, as the core has them.
    void ShowThisComputer(const std::string &name, const std::string &ip);
    void ShowPeerName(const std::string &name);
    void ShowPeerAddress(const std::string &ip);
    // The boxes' texts as they stand, trimmed (and put back trimmed).
    std::string RemoteName();
    std::string RemoteAddress();
};
