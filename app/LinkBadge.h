#pragma once
// TLinkBadge: beside the remote name, what the link with the peer is
// (encrypted and confirmed, encrypted and not yet confirmed, clear), each
// with its own picture, tooltip and accessible name; its menu confirms the
// verification code, forgets the pin, or accepts a new key the peer came
// with.

#include "peer/core.h"
#include "peer/pins.h"

#include <QToolButton>

#include <functional>
#include <string>

class QAction;

class TLinkBadge : public QToolButton {
    Q_OBJECT
public:
    explicit TLinkBadge(QWidget *parent);

    // A Link fact.
    void ShowLink(const dz::peer::TEffect &link);
    // A PinNotice fact that offers a new key (KeyChanged): the menu may take it.
    void OfferNewKey(const dz::peer::TEffect &notice);
    // The text the user is told for a PinNotice fact; "" for none.
    static QString NoticeText(const dz::peer::TEffect &notice);
    static QString StateText(dz::peer::TLinkState state);

    dz::peer::TLinkState State() const { return state_; }
    const std::string &Code() const { return code_; }
    QAction *ConfirmAction() const { return confirm_; }
    QAction *ForgetAction() const { return forget_; }
    QAction *AcceptAction() const { return accept_; }

    // The user's choices, with the peer's name (Windows-1251).
    std::function<void(const std::string &name)> onConfirm, onForget, onAcceptNewKey;

private:
    void Refresh();

    dz::peer::TLinkState state_ = dz::peer::TLinkState::Clear;
    std::string name_, code_, offeredFrom_;
    QAction *confirm_, *forget_, *accept_;
};
