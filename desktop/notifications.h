#pragma once
// Desktop notifications through org.freedesktop.Notifications on a D-Bus
// connection (the session bus in the program, a private bus in tests).

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <utility>
#include <vector>

namespace dz::desktop {

struct TNotification {
    QString appName;
    QString icon;         // a theme icon name
    QString summary;
    QString body;         // plain text; escaped here when the service takes markup
    QString desktopEntry; // the desktop file's id without ".desktop"
    QString category;     // for example "transfer.complete"
    // Buttons as (key, label). The key "default" is the click on the bubble itself.
    std::vector<std::pair<QString, QString>> actions;
};

// Shows notifications and reports the actions the user picks. Lives on the
// thread that made it and needs that thread's event loop: every call returns
// at once and the answers come as events. Without a notification service,
// or on a bus that is not connected, nothing is shown and nothing fails.
class TNotifier : public QObject {
    Q_OBJECT
public:
    explicit TNotifier(QDBusConnection bus, QObject *parent = nullptr);
    ~TNotifier() override;

    // Shows n, replacing the last notification of this notifier while that
    // is still on screen. onAction runs on this object's thread with the key
    // of the action the user chose; it is dropped when the notification
    // closes.
    void Notify(const TNotification &n, std::function<void(const QString &key)> onAction);

signals:
    // The service showed a notification under this id.
    void Shown(uint id);
    // The service could not be reached or refused (D-Bus error name).
    void Failed(const QString &error);

private slots:
    void ActionInvoked(uint id, const QString &key);
    void NotificationClosed(uint id, uint reason);

private:
    void Send(const TNotification &n, bool markup, std::function<void(const QString &)> onAction);

    QDBusConnection bus_;
    uint last_ = 0;
    std::map<uint, std::function<void(const QString &)>> open_;
};

} // namespace dz::desktop
