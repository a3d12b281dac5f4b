// A headless copy's discovery for the tests with real daemons: publishes
// this computer under a given name (unless --quiet), lists what it finds
// through TComputers and prints every change on standard output:
//   state running|resumed|nobus|nodaemon|stopped
//   published INSTANCE
//   found NAME ADDRESS [duplicate]      (a row seen now, or changed)
//   lost NAME ADDRESS
//   service INSTANCE                    (every resolution, listed or not)
// SIGTERM or SIGINT ends it the way the window ends (the service withdrawn).
// With --stamp each line begins with the wall clock in milliseconds (for
// the benchmark, which compares two processes' lines).
// Usage: discovery_probe [--name NAME] [--quiet] [--stamp]
//        discovery_probe --raw 'INSTANCE|TXT|TXT...' ...
// The second form publishes services of its own making through a plain
// Avahi client (as anyone on the network may) and prints "raw published".

#include "desktop/discovery.h"
#include "peer/computers.h"
#include "util/system.h"

#include <QCoreApplication>
#include <QDateTime>

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/strlst.h>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

namespace {

int quitPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char byte = 1;
    (void)!::write(quitPipe[1], &byte, 1);
}

const char *StateWord(dz::peer::TDiscoveryState state)
{
    using S = dz::peer::TDiscoveryState;
    switch (state) {
    case S::Starting: return "starting";
    case S::Running: return "running";
    case S::Resumed: return "resumed";
    case S::NoBus: return "nobus";
    case S::NoDaemon: return "nodaemon";
    case S::Stopped: return "stopped";
    }
    return "?";
}

bool stamp = false;

void Say(const QString &line)
{
    if (stamp)
        std::printf("%lld ", static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

// Services as 'INSTANCE|TXT|TXT...', the bytes taken as they are.
struct TRaw {
    std::vector<std::string> services;
    AvahiEntryGroup *group = nullptr;
};

void RawGroupEvent(AvahiEntryGroup *, AvahiEntryGroupState state, void *)
{
    if (state == AVAHI_ENTRY_GROUP_ESTABLISHED)
        Say(QStringLiteral("raw published"));
    else if (state == AVAHI_ENTRY_GROUP_COLLISION || state == AVAHI_ENTRY_GROUP_FAILURE)
        Say(QStringLiteral("raw failed"));
}

void RawClientEvent(AvahiClient *client, AvahiClientState state, void *userdata)
{
    auto *raw = static_cast<TRaw *>(userdata);
    if (state != AVAHI_CLIENT_S_RUNNING || raw->group)
        return;
    raw->group = avahi_entry_group_new(client, RawGroupEvent, nullptr);
    for (const std::string &service : raw->services) {
        std::vector<std::string> parts;
        std::size_t start = 0;
        for (std::size_t bar; (bar = service.find('|', start)) != std::string::npos; start = bar + 1)
            parts.push_back(service.substr(start, bar - start));
        parts.push_back(service.substr(start));
        AvahiStringList *txt = nullptr;
        for (std::size_t i = parts.size(); i-- > 1;)
            txt = avahi_string_list_add_arbitrary(txt, reinterpret_cast<const uint8_t *>(parts[i].data()), parts[i].size());
        if (avahi_entry_group_add_service_strlst(raw->group, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, static_cast<AvahiPublishFlags>(0),
                                                 parts[0].c_str(), dz::desktop::kServiceType, nullptr, nullptr, 574, txt) != 0)
            Say(QStringLiteral("raw failed ") + QString::fromStdString(parts[0]));
        avahi_string_list_free(txt);
    }
    avahi_entry_group_commit(raw->group);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc > 2 && std::string(argv[1]) == "--raw") {
        TRaw raw;
        for (int i = 2; i < argc; ++i)
            raw.services.emplace_back(argv[i]);
        dz::desktop::TAvahiPoll poll;
        int error = 0;
        AvahiClient *client = avahi_client_new(poll.Api(), AVAHI_CLIENT_NO_FAIL, RawClientEvent, &raw, &error);
        if (!client)
            return 1;
        const int rc = app.exec(); // until killed
        avahi_client_free(client);
        return rc;
    }
    QString name = QString::fromStdString(dz::GetThisComputerName());
    bool publish = true;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--name") && i + 1 < args.size())
            name = args[++i];
        else if (args[i] == QStringLiteral("--quiet"))
            publish = false;
        else if (args[i] == QStringLiteral("--stamp"))
            stamp = true;
        else {
            std::fprintf(stderr, "usage: discovery_probe [--name NAME] [--quiet] [--stamp]\n");
            return 2;
        }
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, quitPipe) != 0)
        return 1;
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    QSocketNotifier quit(quitPipe[0], QSocketNotifier::Read);
    QObject::connect(&quit, &QSocketNotifier::activated, &app, &QCoreApplication::quit);

    dz::peer::TComputers computers(nullptr);
    computers.SetThisComputer(name, QString::fromStdString(dz::LocalAddress()));
    // Rows as (name, address, duplicate); what changed is printed.
    using TRow = std::tuple<QString, QString, bool>;
    std::set<TRow> shown;
    QObject::connect(&computers, &QAbstractItemModel::modelReset, [&] {
        std::set<TRow> now;
        for (const dz::peer::TComputer &c : computers.Computers())
            if (c.seen)
                now.insert({c.name, c.address, c.duplicate});
        for (const TRow &row : shown)
            if (!now.count(row) && !now.count({std::get<0>(row), std::get<1>(row), !std::get<2>(row)}))
                Say(QStringLiteral("lost %1 %2").arg(std::get<0>(row), std::get<1>(row)));
        for (const TRow &row : now)
            if (!shown.count(row))
                Say(QStringLiteral("found %1 %2%3").arg(std::get<0>(row), std::get<1>(row),
                                                        std::get<2>(row) ? QStringLiteral(" duplicate") : QString()));
        shown = std::move(now);
    });
    QObject::connect(&computers, &dz::peer::TComputers::StateChanged,
                     [](dz::peer::TDiscoveryState s) { Say(QStringLiteral("state ") + QLatin1String(StateWord(s))); });

    {
        dz::desktop::TDiscovery discovery;
        QObject::connect(&discovery, &dz::desktop::TDiscovery::Found, &computers, &dz::peer::TComputers::Found);
        QObject::connect(&discovery, &dz::desktop::TDiscovery::Found, [](const dz::peer::TFoundService &s) {
            Say(QStringLiteral("service ") + QString::fromUtf8(s.instance));
        });
        QObject::connect(&discovery, &dz::desktop::TDiscovery::Lost, &computers, &dz::peer::TComputers::Lost);
        QObject::connect(&discovery, &dz::desktop::TDiscovery::StateChanged, &computers, &dz::peer::TComputers::SetState);
        QObject::connect(&discovery, &dz::desktop::TDiscovery::Published,
                         [](const QString &instance) { Say(QStringLiteral("published ") + instance); });
        if (publish)
            discovery.Publish({name});
        discovery.Start();
        app.exec();
    }
    Say(QStringLiteral("bye"));
    return 0;
}
