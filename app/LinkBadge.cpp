#include "LinkBadge.h"

#include "Guard.h"
#include "util/codepage.h"

#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace {

using dz::peer::TLinkState;
using dz::peer::TPinNotice;

QIcon StateIcon(TLinkState state)
{
    const char *file = state == TLinkState::EncryptedConfirmed     ? ":/link/link-confirmed.svg"
                       : state == TLinkState::EncryptedUnconfirmed ? ":/link/link-unconfirmed.svg"
                                                                   : ":/link/link-clear.svg";
    QSvgRenderer renderer {QString::fromLatin1(file)};
    QIcon icon;
    for (const int size : {16, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QString Name(const dz::peer::TEffect &fact)
{
    return dz::ToQString(fact.text);
}

} // namespace

TLinkBadge::TLinkBadge(QWidget *parent) : QToolButton(parent)
{
    setObjectName(QStringLiteral("SB_link"));
    setAutoRaise(true);
    setPopupMode(QToolButton::InstantPopup);
    auto *menu = new QMenu(this);
    confirm_ = menu->addAction(tr("Коды совпадают: подтвердить ключ"));
    accept_ = menu->addAction(tr("Принять новый ключ компьютера"));
    forget_ = menu->addAction(tr("Забыть ключ компьютера"));
    setMenu(menu);
    connect(confirm_, &QAction::triggered, this, [this] {
        RunGuarded([this] {
            if (onConfirm)
                onConfirm(name_);
        });
    });
    connect(forget_, &QAction::triggered, this, [this] {
        RunGuarded([this] {
            if (onForget)
                onForget(name_);
        });
    });
    connect(accept_, &QAction::triggered, this, [this] {
        RunGuarded([this] {
            if (onAcceptNewKey)
                onAcceptNewKey(offeredFrom_);
            offeredFrom_.clear();
            Refresh();
        });
    });
    Refresh();
}

QString TLinkBadge::StateText(TLinkState state)
{
    switch (state) {
    case TLinkState::EncryptedConfirmed:
        return tr("Связь зашифрована, ключ подтверждён");
    case TLinkState::EncryptedUnconfirmed:
        return tr("Связь зашифрована, ключ не подтверждён");
    case TLinkState::Clear:
        break;
    }
    return tr("Связь не зашифрована");
}

void TLinkBadge::ShowLink(const dz::peer::TEffect &link)
{
    state_ = static_cast<TLinkState>(link.number);
    name_ = link.text;
    code_ = link.value;
    Refresh();
}

void TLinkBadge::OfferNewKey(const dz::peer::TEffect &notice)
{
    if (static_cast<TPinNotice>(notice.number) != TPinNotice::KeyChanged)
        return;
    offeredFrom_ = notice.text;
    Refresh();
}

void TLinkBadge::Refresh()
{
    const QString state = StateText(state_);
    setIcon(StateIcon(state_));
    setAccessibleName(state);
    QString tip = state;
    if (state_ == TLinkState::EncryptedUnconfirmed)
        tip += QLatin1Char('\n') + tr("Сравните код проверки с кодом в окне другого компьютера: %1")
                                       .arg(QString::fromStdString(code_));
    else if (state_ == TLinkState::EncryptedConfirmed)
        tip += QLatin1Char('\n') + tr("Код проверки: %1").arg(QString::fromStdString(code_));
    else
        tip += QLatin1Char('\n') + tr("Другой компьютер не шифрует связь (старая версия программы)");
    setToolTip(tip);
    setAccessibleDescription(tip);
    confirm_->setEnabled(state_ == TLinkState::EncryptedUnconfirmed);
    forget_->setEnabled(state_ != TLinkState::Clear && !name_.empty());
    accept_->setEnabled(!offeredFrom_.empty());
}

QString TLinkBadge::NoticeText(const dz::peer::TEffect &notice)
{
    const QString name = Name(notice);
    switch (static_cast<TPinNotice>(notice.number)) {
    case TPinNotice::None:
    case TPinNotice::OlderCopy:
        return {};
    case TPinNotice::ClearClaimsPinnedName:
        return tr("Отклонено незашифрованное сообщение от имени %1: с этим компьютером связь всегда шифруется.")
            .arg(name);
    case TPinNotice::ClearFromPinnedAddress:
        return tr("Отклонено незашифрованное сообщение от %1 с адреса компьютера, ключ которого запомнен.").arg(name);
    case TPinNotice::KeyChanged:
        return tr("Компьютер %1 пришёл с другим ключом (код проверки %2). Сообщение отклонено. Если это ожидаемо, "
                  "сравните коды и примите новый ключ.")
            .arg(name, QString::fromStdString(notice.value));
    case TPinNotice::Downgrade:
        return tr("Компьютер %1 больше не предлагает шифрование. Сообщение отклонено.").arg(name);
    case TPinNotice::AnnouncedKeyMismatch:
        return tr("Ключ компьютера %1 не совпадает с объявленным. Сообщение отклонено.").arg(name);
    }
    return {};
}
