#include "filemanager.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QObject>
#include <QStringList>
#include <QTimer>

namespace dz::desktop {

void ShowItems(const QDBusConnection &bus, const QUrl &file, QObject *context, std::function<void(bool shown)> done,
               int timeoutMs)
{
    if (!bus.isConnected()) {
        // Still answered through the event loop, like every other outcome.
        QTimer::singleShot(0, context, [done = std::move(done)] { done(false); });
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{file.toString(QUrl::FullyEncoded)} << QString();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, timeoutMs), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [done = std::move(done)](QDBusPendingCallWatcher *w) {
                         w->deleteLater();
                         done(!w->isError());
                     });
}

} // namespace dz::desktop
