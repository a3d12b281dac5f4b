// Form1: the desktop's bus, and telling the desktop when a batch arrived.

#include "Form1Desktop.h"

#include "Controls.h"
#include "Form1.h"
#include "ReceivePage.h"
#include "peer/receive.h"
#include "peer/receivelog.h"
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

void TForm1Desktop::ShowItems(const QUrl &file, std::function<void(bool shown)> shown)
{
    dz::desktop::ShowItems(bus_, file, this, std::move(shown));
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
    const int count = form_.ReceiveLog().Count();
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
    notifier_->Notify(n, [this, folder](const QString &) {
        RunGuarded([&] { form_.ReceivePage->OpenFolder(folder); });
    });
}
