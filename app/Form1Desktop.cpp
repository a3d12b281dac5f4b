// Form1: opening what arrived, and telling the desktop when a batch arrived.

#include "Form1Desktop.h"

#include "Controls.h"
#include "Form1.h"
#include "peer/receive.h"
#include "peer/session.h"
#include "Guard.h"
#include "desktop/filemanager.h"
#include "desktop/notifications.h"
#include "util/codepage.h"
#include "util/files.h"
#include "util/text.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QListWidget>
#include <QMenu>
#include <QUrl>

namespace {

QDBusConnection BusOf(const QString &address, const QString &name)
{
    if (address.isEmpty())
        return QDBusConnection(QString()); // no bus: nothing to reach
    if (address == QLatin1String("session"))
        return QDBusConnection::sessionBus();
    return QDBusConnection::connectToBus(address, name);
}

} // namespace

TForm1Desktop::TForm1Desktop(TForm1 &form)
    : QObject(&form),
      form_(form),
      busName_(QStringLiteral("dizaruz-window-%1").arg(reinterpret_cast<quintptr>(this), 0, 16)),
      ownBus_(!form.Config().desktopBus.isEmpty() && form.Config().desktopBus != QLatin1String("session")),
      bus_(BusOf(form.Config().desktopBus, busName_)),
      notifier_(new dz::desktop::TNotifier(bus_, this))
{
    setObjectName(QStringLiteral("Form1Desktop"));
    PopupMenu_recv = new QMenu(&form);
    PopupMenu_recv->setObjectName(QStringLiteral("PopupMenu_recv"));
    N_RecvOpen = PopupMenu_recv->addAction(QStringLiteral("Открыть"));
    N_RecvOpen->setObjectName(QStringLiteral("N_RecvOpen"));
    N_RecvShow = PopupMenu_recv->addAction(QStringLiteral("Показать в папке"));
    N_RecvShow->setObjectName(QStringLiteral("N_RecvShow"));

    QListWidget *list = form.ListF_recv;
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QListWidget::itemDoubleClicked, this,
            [this, list](QListWidgetItem *item) { RunGuarded([&] { OpenRow(list->row(item)); }); });
    connect(list, &QWidget::customContextMenuRequested, this, [this, list](const QPoint &pos) {
        const QListWidgetItem *item = list->itemAt(pos);
        if (item == nullptr)
            return; // the menu is about a row
        SetItemIndex(list, list->row(item));
        PopupMenu_recv->popup(list->viewport()->mapToGlobal(pos));
    });
    connect(N_RecvOpen, &QAction::triggered, this,
            [this, list] { RunGuarded([&] { OpenRow(ItemIndex(list)); }); });
    connect(N_RecvShow, &QAction::triggered, this,
            [this, list] { RunGuarded([&] { ShowRowInFolder(ItemIndex(list)); }); });
}

TForm1Desktop::~TForm1Desktop()
{
    // The window is already taken apart here (this is one of its children):
    // touch nothing of it.
    delete notifier_;
    notifier_ = nullptr;
    if (ownBus_)
        QDBusConnection::disconnectFromBus(busName_);
}

QString TForm1Desktop::ReceiveFolder() const
{
    // The same choice as when the file was stored.
    const std::string folder =
        dz::peer::ReceiveFolderFor(form_.Label_Dir_Reciv->text().toStdString(), form_.Session().Config().fallbackFolder);
    return QString::fromStdString(folder);
}

QString TForm1Desktop::ReceivedFile(int row) const
{
    if (row < 0 || row >= form_.ListF_recv->count())
        return {};
    // The sender is a computer name, which holds no " | ": the name is all
    // that follows the second one, whatever it holds itself.
    const std::string text = RowText(form_.ListF_recv, row);
    const std::string bar = " | ";
    const auto first = text.find(bar);
    const auto second = first == std::string::npos ? first : text.find(bar, first + bar.size());
    if (second == std::string::npos)
        return {};
    const std::string name = dz::peer::SafeReceivedName(text.substr(second + bar.size()));
    if (name.empty())
        return {};
    return ReceiveFolder() + dz::ToQString(name);
}

bool TForm1Desktop::RowFileIsThere(const QString &file)
{
    if (QFileInfo(file).isFile())
        return true;
    form_.Dialogs().message(&form_, AppCaption(), QStringLiteral("Файла больше нет в папке приема:\n") + file);
    return false;
}

void TForm1Desktop::OpenFolder(const QString &folder)
{
    if (!form_.Dialogs().openUrl(QUrl::fromLocalFile(QDir::cleanPath(folder))))
        form_.Dialogs().message(&form_, AppCaption(), QStringLiteral("Ошибка при открытии документа : ") + folder);
}

void TForm1Desktop::OpenRow(int row)
{
    const QString file = ReceivedFile(row);
    if (file.isEmpty() || !RowFileIsThere(file))
        return;
    if (!form_.Dialogs().openUrl(QUrl::fromLocalFile(file)))
        form_.Dialogs().message(&form_, AppCaption(), QStringLiteral("Ошибка при открытии документа : ") + file);
}

void TForm1Desktop::ShowRowInFolder(int row)
{
    const QString file = ReceivedFile(row);
    if (file.isEmpty() || !RowFileIsThere(file))
        return;
    const QString folder = QFileInfo(file).absolutePath();
    dz::desktop::ShowItems(bus_, QUrl::fromLocalFile(file), this, [this, folder](bool shown) {
        if (!shown)
            RunGuarded([&] { OpenFolder(folder); });
    });
}

QString TForm1Desktop::FilesArrivedText(int count)
{
    const int tens = count % 100;
    const int ones = count % 10;
    if (ones == 1 && tens != 11)
        return QStringLiteral("Принят %1 файл").arg(count);
    if (ones >= 2 && ones <= 4 && (tens < 12 || tens > 14))
        return QStringLiteral("Принято %1 файла").arg(count);
    return QStringLiteral("Принято %1 файлов").arg(count);
}

void TForm1Desktop::BatchEnded(const std::string &sFrom)
{
    // "Send_Start" emptied the receive list, so what it holds is this batch.
    if (form_.FreeFlag)
        return;
    const int count = form_.ListF_recv->count();
    if (count == 0 || form_.isActiveWindow())
        return;
    const QString folder = ReceiveFolder();
    dz::desktop::TNotification n;
    n.appName = QStringLiteral("Dizaruz");
    n.icon = AppId();
    n.desktopEntry = AppId();
    n.category = QStringLiteral("transfer.complete");
    n.summary = QStringLiteral("Dizaruz: файлы приняты");
    n.body = FilesArrivedText(count) + QStringLiteral(" от компьютера ") + dz::ToQString(sFrom) + QLatin1Char('.');
    n.actions = {{QStringLiteral("default"), QStringLiteral("Открыть папку")},
                 {QStringLiteral("open-folder"), QStringLiteral("Открыть папку")}};
    notifier_->Notify(n, [this, folder](const QString &) { RunGuarded([&] { OpenFolder(folder); }); });
}
