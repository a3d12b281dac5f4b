#include "SendPage.h"

#include "AlignLayout.h"
#include "Controls.h"
#include "Guard.h"
#include "SizeText.h"
#include "Widgets.h"
#include "peer/sendlist.h"
#include "util/files.h"

#include <QAction>
#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QThreadPool>
#include <QToolButton>

namespace {

// A folder row shows what it holds beside its path, once that is counted.
class TSendRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        using Model = dz::peer::TSendListModel;
        if (!index.data(Model::FolderRole).toBool())
            return;
        const int files = index.data(Model::FilesRole).toInt();
        option->text += files < 0 ? TSendPage::tr("  (папку не прочесть)")
                                  : TSendPage::tr("  (папка: файлов %1, %2)")
                                        .arg(files)
                                        .arg(BytesText(index.data(Model::BytesRole).toLongLong()));
    }
};

} // namespace

TSendPage::TSendPage(QWidget &form, dz::peer::TSendListModel &list, IDialogs &dialogs, TOpenDialogOptions &od1)
    : QObject(&form), OD1(od1), list_(list), dialogs_(dialogs), form_(form)
{
    using Align = TAlignLayout::Align;
    Page_Send = new QWidget;
    Page_Send->setObjectName(QStringLiteral("Page_Send"));
    auto *layout = new TAlignLayout(Page_Send);
    Panel4 = MakePanel(Page_Send, "Panel4", TBevel::LoweredTwice);
    layout->add(Panel4, Align::Top, 26);
    auto *barLayout = new TAlignLayout(Panel4);
    SB_FileAdd = MakeButton(Panel4, "SB_FileAdd", TButtonPicture::AddFile, QRect(8, 2, 23, 22),
                            tr("Добавить файл(ы) в список"), true);
    SB_FolderAdd = MakeButton(Panel4, "SB_FolderAdd", TButtonPicture::AddFolder, QRect(108, 2, 23, 22),
                              tr("Добавить папку в список"), true);
    SB_FileDel = MakeButton(Panel4, "SB_FileDel", TButtonPicture::DeleteFile, QRect(40, 2, 23, 22),
                            tr("Удалить файл из списка"), true);
    SB_ListClear = MakeButton(Panel4, "SB_ListClear", TButtonPicture::ClearList, QRect(80, 2, 23, 22),
                              tr("Очистить список файлов"), true);
    SB_send = MakeButton(Panel4, "SB_send", TButtonPicture::SendFiles, QRect(136, 2, 23, 22),
                         tr("Отправить файлы по списку"), false);
    Label_YesSend = MakeLabel(Panel4, "Label_YesSend", tr("Идет передача ..."));
    FitFlag(Label_YesSend, 87);
    barLayout->add(Label_YesSend, Align::Right);
    // The run's figures get a line of their own under the list: beside the
    // flag they would not fit the designed width, nor leave the buttons room.
    Label_RunProgress = MakeLabel(Page_Send, "Label_RunProgress", QString());
    Label_RunProgress->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label_RunProgress->setContentsMargins(0, 0, 4, 0);
    Label_RunProgress->setAccessibleName(tr("Передано по списку"));
    Label_RunProgress->hide();
    layout->add(Label_RunProgress, Align::Bottom); // as tall as its text
    ListF_send = MakeList(Page_Send, "ListF_send");
    ListF_send->setAccessibleName(tr("Список для отправки"));
    ListF_send->setModel(&list_);
    ListF_send->setItemDelegate(new TSendRowDelegate(ListF_send));
    ListF_send->setContextMenuPolicy(Qt::CustomContextMenu);
    layout->add(ListF_send, Align::Client);

    PopupMenu1 = new QMenu(&form);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    N1 = PopupMenu1->addAction(tr("Добавить файл в список"));
    N1->setObjectName(QStringLiteral("N1"));
    N2 = PopupMenu1->addAction(tr("Удалить файл из списка"));
    N2->setObjectName(QStringLiteral("N2"));
    N3 = PopupMenu1->addAction(tr("Очистить весь список"));
    N3->setObjectName(QStringLiteral("N3"));
    OD1.title = tr("Добавить файл(ы) в список");

    const auto guarded = [this](void (TSendPage::*handler)()) {
        return [this, handler] { RunGuarded([this, handler] { (this->*handler)(); }); };
    };
    connect(SB_FileAdd, &QToolButton::clicked, this, guarded(&TSendPage::SB_FileAddClick));
    connect(SB_FolderAdd, &QToolButton::clicked, this, guarded(&TSendPage::SB_FolderAddClick));
    connect(N1, &QAction::triggered, this, guarded(&TSendPage::SB_FileAddClick));
    // The menu's other two items do what the buttons of the same caption do.
    connect(N2, &QAction::triggered, this, guarded(&TSendPage::SB_FileDelClick));
    connect(N3, &QAction::triggered, this, guarded(&TSendPage::SB_ListClearClick));
    connect(SB_FileDel, &QToolButton::clicked, this, guarded(&TSendPage::SB_FileDelClick));
    connect(ListF_send, &QListView::doubleClicked, this, guarded(&TSendPage::SB_FileDelClick));
    connect(SB_ListClear, &QToolButton::clicked, this, guarded(&TSendPage::SB_ListClearClick));
    connect(SB_send, &QToolButton::clicked, this, [this] {
        if (onSend)
            RunGuarded(onSend);
    });
    connect(ListF_send, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { PopupMenu1->popup(ListF_send->viewport()->mapToGlobal(pos)); });
}

void TSendPage::Changed()
{
    if (onChanged)
        onChanged();
}

void TSendPage::SB_FileAddClick()
{
    const QStringList files = dialogs_.openFiles(&form_, OD1);
    if (files.isEmpty())
        return;
    for (const QString &file : files)
        AddChosen(file);
    SetItemIndex(ListF_send, list_.Count() - 1);
    Changed();
}

void TSendPage::AddChosen(const QString &path)
{
    // Paths stay exact, whatever characters they hold; Linux names are case-sensitive.
    for (int i = 0; i < list_.Count(); ++i)
        if (list_.Path(i) == path)
            return SetItemIndex(ListF_send, i);
    list_.Append(path);
}

void TSendPage::SB_FolderAddClick()
{
    const std::optional<QString> chosen = dialogs_.selectFolder(&form_, tr("Добавить папку в список"), QString());
    if (!chosen || chosen->trimmed().isEmpty())
        return;
    // One spelling per folder, so the same folder is never listed twice.
    QString folder = *chosen;
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    AddChosen(folder);
    SetItemIndex(ListF_send, list_.Count() - 1);
    Changed();
}

void TSendPage::AddDropped(const QStringList &names, std::function<void()> done)
{
    if (names.isEmpty()) {
        if (done)
            done();
        return;
    }
    const quint64 serial = ++dropSerial_;
    drops_.push_back({serial, names, std::move(done)});
    const QPointer<TSendPage> self(this);
    QThreadPool::globalInstance()->start([self, serial, names] {
        QStringList files;
        for (const QString &name : names)
            if (dz::FileExists(name.toStdString()) || dz::FolderExists(name.toStdString()))
                files << name;
        QMetaObject::invokeMethod(
            qApp, [self, serial, files] {
                if (self)
                    RunGuarded([&] { self->DropChecked(serial, files); });
            },
            Qt::QueuedConnection);
    });
}

void TSendPage::DropChecked(quint64 serial, const QStringList &files)
{
    for (TDrop &drop : drops_)
        if (drop.serial == serial) {
            drop.checked = true;
            drop.files = files;
        }
    // Pool threads may finish out of order; drops go in as they came.
    while (!drops_.empty() && drops_.front().checked) {
        TDrop drop = std::move(drops_.front());
        drops_.pop_front();
        for (const QString &file : drop.files)
            list_.Append(file);
        SetItemIndex(ListF_send, list_.Count() - 1);
        Changed();
        if (drop.done)
            drop.done();
    }
}

QStringList TSendPage::PendingDrops() const
{
    QStringList names;
    for (const TDrop &drop : drops_)
        names << drop.names;
    return names;
}

void TSendPage::SB_FileDelClick()
{
    const int row = ItemIndex(ListF_send);
    if (row < 0)
        return;
    // A run under way goes on where it was: it finds its rows by their ids.
    list_.Remove(row);
    SetItemIndex(ListF_send, -1);
    Changed();
}

void TSendPage::SB_ListClearClick()
{
    if (!dialogs_.confirm(&form_, tr("Confirm"), tr("Очистить список файлов ?")))
        return;
    list_.Clear();
    Changed();
}
