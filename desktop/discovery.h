#pragma once
// DNS-SD through the desktop's Avahi daemon (on the system bus): this copy
// publishes "_dizaruz._tcp" on port 574 and browses for the other copies,
// IPv4 only, resolving each service it sees. What it finds is handed on as
// it came from the network, unchecked: TComputers decides what to list.
//
// The daemon may be missing, stop and come back: the client waits for it
// (AVAHI_CLIENT_NO_FAIL) and everything resumes without a restart, while
// StateChanged says why nothing can be found meanwhile.
//
// Lives on the thread that made it, which must run its event loop. Calls
// into the Avahi library talk to the daemon synchronously over D-Bus (a
// short wait on a local daemon); nothing pumps the event loop.

#include "desktop/avahipoll.h"
#include "peer/computers.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <map>
#include <memory>
#include <optional>

struct AvahiClient;
struct AvahiEntryGroup;
struct AvahiServiceBrowser;

namespace dz::desktop {

inline constexpr const char *kServiceType = "_dizaruz._tcp";

// What this copy tells the network about itself. TXT strings, each
// "key=value": name=<the computer name as shown, UTF-8>, proto=<version of
// the message protocol>, stream=<the stream port>.
struct TPublication {
    QString name;
    QString protocol = QStringLiteral("1");
    quint16 port = 574;
    quint16 streamPort = 573;
};

class TDiscovery : public QObject {
    Q_OBJECT
public:
    explicit TDiscovery(QObject *parent = nullptr);
    // Withdraws the service (the daemon sends its goodbye at once).
    ~TDiscovery() override;

    // Starts talking to the daemon, or waiting for it. Call once.
    void Start();
    // Publishes this copy, now or as soon as the daemon runs. Only for a
    // copy whose ports are open: others cannot be reached anyway.
    void Publish(const TPublication &publication);
    // Takes this copy's service off the network.
    void Withdraw();
    // The instance name last asked of the daemon (it may have become
    // "name #2" after a collision); empty while nothing is published.
    QString Instance() const { return instance_; }

signals:
    // A service resolved, or resolved again with other data.
    void Found(const dz::peer::TFoundService &service);
    // A service was withdrawn, could no longer be resolved, or the daemon went.
    void Lost(const QString &key);
    // Running, or why not (NoBus, NoDaemon, Stopped).
    void StateChanged(dz::peer::TDiscoveryState state);
    // The daemon established this copy's service under instance.
    void Published(const QString &instance);

private:
    struct TResolving;
    friend struct TAvahiCallbacks; // the library's C callbacks

    void Connect();
    void Running(AvahiClient *client);
    void Unavailable(dz::peer::TDiscoveryState why);
    void DropLookups();
    void FreeClientLater();
    void AddService(AvahiClient *client);
    void Collision();
    void Resolved(TResolving *r, bool ok, const QByteArray &address, const QList<QByteArray> &txt);

    TAvahiPoll poll_;
    AvahiClient *client_ = nullptr;
    AvahiEntryGroup *group_ = nullptr;
    AvahiServiceBrowser *browser_ = nullptr;
    std::map<QString, std::unique_ptr<TResolving>> resolving_;
    std::optional<TPublication> publication_;
    QString instance_;
    bool everRan_ = false;
    QTimer retry_;
};

} // namespace dz::desktop
