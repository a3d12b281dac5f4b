#include "ReceivePage.h"

#include "AlignLayout.h"
#include "Controls.h"
#include "Guard.h"
#include "Widgets.h"
#include "peer/receivelog.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QToolButton>

namespace {

// A received file whose bytes matched the sender's hash gets a check mark
// at the row's end and says so in its tip.
class TVerifiedDelegate : public TRowHeightDelegate {
public:
    using TRowHeightDelegate::TRowHeightDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        TRowHeightDelegate::paint(painter, option, index);
        if (!index.data(dz::peer::TReceiveLogModel::kVerifiedRole).toBool())
            return;
        painter->save();
        painter->setPen(option.state & QStyle::State_Selected ? option.palette.highlightedText().color()
                                                              : QColor(0, 128, 0));
        const QRect mark = option.rect.adjusted(0, 0, -2, 0);
        painter->fillRect(mark.adjusted(mark.width() - option.fontMetrics.height(), 0, 0, 0),
                          option.state & QStyle::State_Selected ? option.palette.highlight()
                                                                : option.palette.base());
        painter->drawText(mark, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("\u2713"));
        painter->restore();
    }

    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override
    {
        if (event->type() != QEvent::ToolTip || !index.data(dz::peer::TReceiveLogModel::kVerifiedRole).toBool())
            return TRowHeightDelegate::helpEvent(event, view, option, index);
        QToolTip::showText(event->globalPos(), VerifiedTip(index.data(Qt::ToolTipRole).toString()), view);
        return true;
    }
};

} // namespace

QString VerifiedTip(const QString &path)
{
    const QString verified = TReceivePage::tr("Проверен: хеш XXH3-128 совпал с хешем отправителя");
    return path.isEmpty() ? verified : path + QLatin1Char('\n') + verified;
}

TReceivePage::TReceivePage(QWidget &form, dz::peer::TReceiveLogModel &log, IDialogs &dialogs)
    : QObject(&form), log_(log), dialogs_(dialogs), form_(form)
{
    using Align = TAlignLayout::Align;
    Page_Reciv = new QWidget;
    Page_Reciv->setObjectName(QStringLiteral("Page_Reciv"));
    auto *layout = new TAlignLayout(Page_Reciv);
    Panel5 = MakePanel(Page_Reciv, "Panel5", TBevel::LoweredTwice);
    layout->add(Panel5, Align::Top, 28);
    auto *folderLayout = new TAlignLayout(Panel5);
    Panel6 = MakePanel(Panel5, "Panel6", TBevel::None);
    folderLayout->add(Panel6, Align::Left, 58);
    SpeedButton1 = MakeButton(Panel6, "SpeedButton1", TButtonPicture::ClearReceived, QRect(1, 1, 23, 22),
                              tr("Очистить список файлов"), true, tr("Очистить список принятых"));
    SB_Dir = MakeButton(Panel6, "SB_Dir", TButtonPicture::Folder, QRect(34, 1, 23, 22),
                        tr("Выбрать папку, куда копировать"), true);
    Label_Spacer = MakeLabel(Panel5, "Label_Spacer", QStringLiteral("   "));
    folderLayout->add(Label_Spacer, Align::Left);
    Label_Dir_Reciv = MakeLabel(Panel5, "Label_Dir_Reciv", QString());
    Label_Dir_Reciv->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Label_Dir_Reciv->setAccessibleDescription(tr("Папка приема"));
    SetTextColour(Label_Dir_Reciv, kMaroon);
    Label_Dir_Reciv->setMinimumWidth(1); // a long path never widens the window
    // The folder takes the room the flag leaves (laid out after it).
    Label_YesReciv = MakeLabel(Panel5, "Label_YesReciv", tr("Идет прием ..."));
    FitFlag(Label_YesReciv, 72);
    folderLayout->add(Label_YesReciv, Align::Right);
    folderLayout->add(Label_Dir_Reciv, Align::Client);
    ListF_recv = MakeList(Page_Reciv, "ListF_recv");
    ListF_recv->setAccessibleName(tr("Принятые файлы"));
    ListF_recv->setModel(&log_);
    ListF_recv->setItemDelegate(new TVerifiedDelegate(ListF_recv));
    Label_RecivNow = MakeLabel(Page_Reciv, "Label_RecivNow", QString());
    const int line = QFontMetrics(form.font()).height();
    Label_RecivNow->setMinimumHeight(line);
    layout->add(Label_RecivNow, Align::Bottom); // as tall as its text, at least a line
    layout->add(ListF_recv, Align::Client);

    PopupMenu_recv = new QMenu(&form);
    PopupMenu_recv->setObjectName(QStringLiteral("PopupMenu_recv"));
    N_RecvOpen = PopupMenu_recv->addAction(tr("Открыть"));
    N_RecvOpen->setObjectName(QStringLiteral("N_RecvOpen"));
    N_RecvShow = PopupMenu_recv->addAction(tr("Показать в папке"));
    N_RecvShow->setObjectName(QStringLiteral("N_RecvShow"));

    ListF_recv->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListF_recv, &QListView::doubleClicked, this,
            [this](const QModelIndex &index) { RunGuarded([&] { OpenRow(index.row()); }); });
    connect(ListF_recv, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        const QModelIndex index = ListF_recv->indexAt(pos);
        if (!index.isValid())
            return; // the menu is about a row
        SetItemIndex(ListF_recv, index.row());
        PopupMenu_recv->popup(ListF_recv->viewport()->mapToGlobal(pos));
    });
    connect(N_RecvOpen, &QAction::triggered, this, [this] { RunGuarded([&] { OpenRow(ItemIndex(ListF_recv)); }); });
    connect(N_RecvShow, &QAction::triggered, this,
            [this] { RunGuarded([&] { ShowRowInFolder(ItemIndex(ListF_recv)); }); });
    connect(SpeedButton1, &QToolButton::clicked, this, [this] {
        log_.Clear();
        if (onCleared)
            RunGuarded(onCleared);
    });
    connect(SB_Dir, &QToolButton::clicked, this, [this] {
        if (onChooseFolder)
            RunGuarded(onChooseFolder);
    });
}

QString TReceivePage::ReceivedFile(int row) const
{
    return log_.FileOf(row, receiveFolder ? receiveFolder() : QString());
}

bool TReceivePage::RowFileIsThere(const QString &file)
{
    if (QFileInfo(file).isFile())
        return true;
    dialogs_.message(&form_, AppCaption(), tr("Файла больше нет в папке приема:\n") + file);
    return false;
}

void TReceivePage::OpenFolder(const QString &folder)
{
    if (!dialogs_.openUrl(QUrl::fromLocalFile(QDir::cleanPath(folder))))
        dialogs_.message(&form_, AppCaption(), tr("Ошибка при открытии документа : ") + folder);
}

void TReceivePage::OpenRow(int row)
{
    const QString file = ReceivedFile(row);
    if (file.isEmpty() || !RowFileIsThere(file))
        return;
    if (!dialogs_.openUrl(QUrl::fromLocalFile(file)))
        dialogs_.message(&form_, AppCaption(), tr("Ошибка при открытии документа : ") + file);
}

void TReceivePage::ShowRowInFolder(int row)
{
    const QString file = ReceivedFile(row);
    if (file.isEmpty() || !RowFileIsThere(file))
        return;
    const QString folder = QFileInfo(file).absolutePath();
    const auto fallBack = [this, folder](bool shown) {
        if (!shown)
            RunGuarded([&] { OpenFolder(folder); });
    };
    if (showItems)
        showItems(QUrl::fromLocalFile(file), fallBack);
    else
        fallBack(false);
}
