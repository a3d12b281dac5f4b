#include "notifications.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace dz::desktop {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

// The service's signals this notifier listens to, and the slots they go to.
struct TSignal {
    const char *name;
    const char *slot;
};
const TSignal kSignals[] = {
    {"ActionInvoked", SLOT(ActionInvoked(uint, QString))},
    {"NotificationClosed", SLOT(NotificationClosed(uint, uint))},
};

} // namespace

TNotifier::TNotifier(QDBusConnection bus, QObject *parent) : QObject(parent), bus_(std::move(bus))
{
    if (!bus_.isConnected())
        return;
    for (const TSignal &signal : kSignals)
        bus_.connect(kService, kPath, kInterface, QLatin1String(signal.name), this, signal.slot);
}

TNotifier::~TNotifier()
{
    if (!bus_.isConnected())
        return;
    for (const TSignal &signal : kSignals)
        bus_.disconnect(kService, kPath, kInterface, QLatin1String(signal.name), this, signal.slot);
}

void TNotifier::Notify(const TNotification &n, std::function<void(const QString &key)> onAction)
{
    if (!bus_.isConnected()) {
        emit Failed(QStringLiteral("org.freedesktop.DBus.Error.Disconnected"));
        return;
    }
    // The body's text comes partly from the peer: a service that reads
    // markup must get it escaped, one that does not must get it as it is.
    const QDBusMessage ask = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                            QStringLiteral("GetCapabilities"));
    auto *watcher = new QDBusPendingCallWatcher(bus_.asyncCall(ask), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, n, onAction = std::move(onAction)](QDBusPendingCallWatcher *w) mutable {
                w->deleteLater();
                const QDBusPendingReply<QStringList> caps = *w;
                if (caps.isError()) {
                    emit Failed(caps.error().name());
                    return;
                }
                Send(n, caps.value().contains(QStringLiteral("body-markup")), std::move(onAction));
            });
}

void TNotifier::Send(const TNotification &n, bool markup, std::function<void(const QString &)> onAction)
{
    QStringList actions;
    for (const auto &[key, label] : n.actions)
        actions << key << label;
    QVariantMap hints;
    if (!n.desktopEntry.isEmpty())
        hints.insert(QStringLiteral("desktop-entry"), n.desktopEntry);
    if (!n.category.isEmpty())
        hints.insert(QStringLiteral("category"), n.category);
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    const uint replaces = open_.count(last_) != 0 ? last_ : 0;
    call << n.appName << replaces << n.icon << n.summary << (markup ? n.body.toHtmlEscaped() : n.body)
         << actions << hints << qint32(-1);
    auto *watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, onAction = std::move(onAction)](QDBusPendingCallWatcher *w) mutable {
                w->deleteLater();
                const QDBusPendingReply<uint> reply = *w;
                if (reply.isError()) {
                    emit Failed(reply.error().name());
                    return;
                }
                const uint id = reply.value();
                last_ = id;
                open_[id] = std::move(onAction);
                emit Shown(id);
            });
}

void TNotifier::ActionInvoked(uint id, const QString &key)
{
    const auto it = open_.find(id);
    if (it == open_.end() || !it->second)
        return; // another program's notification
    // A copy: the action may lead to a new notification that replaces this one.
    const auto action = it->second;
    action(key);
}

void TNotifier::NotificationClosed(uint id, uint reason)
{
    (void)reason;
    open_.erase(id);
}

} // namespace dz::desktop
