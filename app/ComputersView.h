#pragma once
// The list of computers to connect to without typing a name, beside the
// remote name box: a drop-down button whose menu shows TComputers (found on
// the network, and remembered ones marked "not seen now"), and one line
// that says, without a dialog, when computers cannot be found automatically
// and why. It only shows and reports: choosing a computer emits Activated,
// and the peer box connects exactly as its connect button does.
//
// What the owner wires (the window's thread):
//   TComputers computers(&settingsStore);   computers.SetThisComputer(thisName, thisIP);
//   TDiscovery discovery;  Found -> computers.Found, Lost -> computers.Lost,
//                          StateChanged -> computers.SetState;  discovery.Start();
//   discovery.Publish({thisName}) only when both servers listen;
//   TComputersView view(&computers, peerBox): Button() beside the name box,
//   StatusLine() where a sentence fits; Activated(name, address) -> the
//   connect button's own handling with that name in the box, its messages
//   going to address when there is one; a connect the user made (typed or
//   chosen) is remembered with computers.Remember(name, address) once the
//   peer's ItsMeToo answers it.

#include "peer/computers.h"

#include <QLabel>
#include <QMenu>
#include <QToolButton>
#include <QWidget>

class TComputersView : public QWidget {
    Q_OBJECT
public:
    // model must outlive the view.
    explicit TComputersView(dz::peer::TComputers *model, QWidget *parent = nullptr);

    // The parts, for a peer box that places them itself (the button beside
    // the name box, the line where there is room for a sentence).
    QToolButton *Button() const { return button_; }
    QLabel *StatusLine() const { return line_; }
    QMenu *Menu() const { return menu_; }

    // The text a row shows (name, address, and its marks).
    static QString RowText(const dz::peer::TComputer &computer);
    // The line for a state; empty when there is nothing to say.
    static QString StateText(dz::peer::TDiscoveryState state);

signals:
    // The user chose a computer: its name for the box, and the address
    // discovery resolved or the one remembered (empty when none is known).
    void Activated(const QString &name, const QString &address);

private:
    void Rebuild();
    void ShowState(dz::peer::TDiscoveryState state);

    dz::peer::TComputers *model_;
    QToolButton *button_;
    QMenu *menu_;
    QLabel *line_;
};
