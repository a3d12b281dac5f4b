#pragma once
// A private D-Bus daemon for one test, and stand-ins for the desktop's
// notification service and file manager that record what they are asked.
// The daemon knows no service files, so nothing on it starts a real
// program. Everything runs on the test's thread: wait with Pump().

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QFile>
#include <QObject>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QVariantMap>

#include <functional>
#include <vector>

#include <csignal>
#include <sys/prctl.h>

namespace dz::testing {

// Runs the event loop until done() or the time is up; returns done().
inline bool Pump(const std::function<bool()> &done, int ms = 5000)
{
    return QTest::qWaitFor(done, ms);
}

class TPrivateBus {
public:
    // Empty address() when dbus-daemon is missing or does not start.
    TPrivateBus()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty() || !dir_.isValid())
            return;
        QFile config(dir_.filePath(QStringLiteral("bus.conf")));
        if (!config.open(QIODevice::WriteOnly))
            return;
        config.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                     " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                     "<busconfig>\n"
                     "  <type>session</type>\n"
                     "  <listen>unix:dir=" + dir_.path().toUtf8() + "</listen>\n"
                     "  <auth>EXTERNAL</auth>\n"
                     "  <policy context=\"default\">\n"
                     "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                     "    <allow eavesdrop=\"true\"/>\n"
                     "    <allow own=\"*\"/>\n"
                     "  </policy>\n"
                     "</busconfig>\n");
        config.close();
        // Goes with the test process even when that one dies.
        daemon_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        daemon_.start(daemon, {QStringLiteral("--config-file=") + config.fileName(), QStringLiteral("--nofork"),
                               QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")});
        if (!daemon_.waitForStarted(5000))
            return;
        const QDeadlineTimer deadline(5000);
        while (!daemon_.canReadLine() && !deadline.hasExpired() && daemon_.state() == QProcess::Running)
            daemon_.waitForReadyRead(100);
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
    ~TPrivateBus()
    {
        for (const QString &name : names_)
            QDBusConnection::disconnectFromBus(name);
        if (daemon_.state() != QProcess::NotRunning) {
            daemon_.terminate();
            if (!daemon_.waitForFinished(5000)) {
                daemon_.kill();
                daemon_.waitForFinished(5000);
            }
        }
    }
    TPrivateBus(const TPrivateBus &) = delete;
    TPrivateBus &operator=(const TPrivateBus &) = delete;

    const QString &address() const { return address_; }

    // A new connection of its own to this bus.
    QDBusConnection Connect()
    {
        const QString name = QStringLiteral("dz-test-%1").arg(names_.size());
        names_.push_back(name);
        return QDBusConnection::connectToBus(address_, name);
    }

private:
    QTemporaryDir dir_;
    QProcess daemon_;
    QString address_;
    std::vector<QString> names_;
};

struct TShownNotification {
    QString appName;
    uint replacesId = 0;
    QString icon;
    QString summary;
    QString body;
    QStringList actions;
    QVariantMap hints;
    uint id = 0;
};

// Stands in for the desktop's notification service.
class TStubNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    // Registers on its own connection to the bus; false when the name is taken.
    bool Register(QDBusConnection bus)
    {
        bus_ = bus;
        return bus_.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                                   QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals)
               && bus_.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }

    QStringList capabilities{QStringLiteral("actions"), QStringLiteral("body")};
    std::vector<TShownNotification> shown;

    // What the desktop sends when the user picks an action.
    void Invoke(uint id, const QString &key) { emit ActionInvoked(id, key); }
    void Close(uint id) { emit NotificationClosed(id, 2); }

public slots:
    QStringList GetCapabilities() { return capabilities; }
    uint Notify(const QString &app_name, uint replaces_id, const QString &app_icon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints, int expire_timeout)
    {
        (void)expire_timeout;
        const uint id = replaces_id != 0 ? replaces_id : ++lastId_;
        shown.push_back({app_name, replaces_id, app_icon, summary, body, actions, hints, id});
        return id;
    }

signals:
    void ActionInvoked(uint id, const QString &action_key);
    void NotificationClosed(uint id, uint reason);

private:
    QDBusConnection bus_{QString()};
    uint lastId_ = 0;
};

// Stands in for the desktop's file manager. With answer false it takes
// requests and never replies, like a file manager that hangs.
class TStubFileManager : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    bool Register(QDBusConnection bus)
    {
        bus_ = bus;
        return bus_.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), this, QDBusConnection::ExportAllSlots)
               && bus_.registerService(QStringLiteral("org.freedesktop.FileManager1"));
    }

    std::vector<QStringList> requests;
    bool answer = true;

public slots:
    void ShowItems(const QStringList &uris, const QString &startup_id)
    {
        (void)startup_id;
        requests.push_back(uris);
        if (!answer)
            setDelayedReply(true); // and no reply ever comes
    }

private:
    QDBusConnection bus_{QString()};
};

} // namespace dz::testing
