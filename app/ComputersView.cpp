#include "ComputersView.h"

#include <QHBoxLayout>

TComputersView::TComputersView(dz::peer::TComputers *model, QWidget *parent)
    : QWidget(parent), model_(model), button_(new QToolButton(this)), menu_(new QMenu(this)), line_(new QLabel(this))
{
    setObjectName(QStringLiteral("ComputersView"));
    button_->setObjectName(QStringLiteral("SB_Computers"));
    button_->setArrowType(Qt::DownArrow);
    button_->setPopupMode(QToolButton::InstantPopup);
    button_->setMenu(menu_);
    button_->setToolTip(tr("Компьютеры в сети"));
    button_->setAccessibleName(tr("Компьютеры в сети"));
    menu_->setObjectName(QStringLiteral("Menu_Computers"));
    menu_->setAccessibleName(tr("Компьютеры в сети"));
    line_->setObjectName(QStringLiteral("Label_Discovery"));
    line_->setAccessibleName(tr("Поиск компьютеров"));
    line_->setWordWrap(true);
    line_->hide();

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(button_);
    layout->addWidget(line_, 1);

    connect(model_, &QAbstractItemModel::modelReset, this, &TComputersView::Rebuild);
    connect(model_, &dz::peer::TComputers::StateChanged, this, &TComputersView::ShowState);
    Rebuild();
    ShowState(model_->State());
}

QString TComputersView::RowText(const dz::peer::TComputer &c)
{
    QString text = c.address.isEmpty() ? c.name : c.name + QStringLiteral(" — ") + c.address;
    if (c.duplicate)
        text += tr(" (это имя у нескольких)");
    if (!c.seen)
        text += tr(" (сейчас не виден)");
    // '&' would become a shortcut and vanish from the name.
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

QString TComputersView::StateText(dz::peer::TDiscoveryState state)
{
    using S = dz::peer::TDiscoveryState;
    switch (state) {
    case S::NoBus:
        return tr("Компьютеры не находятся сами: нет системной шины D-Bus. Введите имя.");
    case S::NoDaemon:
        return tr("Компьютеры не находятся сами: служба Avahi (avahi-daemon) не запущена. Введите имя.");
    case S::Stopped:
        return tr("Компьютеры не находятся сами: служба Avahi остановилась. Введите имя.");
    case S::Resumed:
        return tr("Служба Avahi снова работает: компьютеры находятся сами.");
    case S::Starting:
    case S::Running:
        break;
    }
    return {};
}

void TComputersView::Rebuild()
{
    menu_->clear();
    const std::vector<dz::peer::TComputer> &rows = model_->Computers();
    if (rows.empty()) {
        menu_->addAction(tr("Компьютеры не найдены"))->setEnabled(false);
        return;
    }
    for (const dz::peer::TComputer &c : rows) {
        QAction *action = menu_->addAction(RowText(c));
        const QString name = c.name;
        const QString address = c.address;
        connect(action, &QAction::triggered, this, [this, name, address] { emit Activated(name, address); });
    }
}

void TComputersView::ShowState(dz::peer::TDiscoveryState state)
{
    const QString text = StateText(state);
    line_->setText(text);
    line_->setVisible(!text.isEmpty());
}
