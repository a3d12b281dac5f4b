#include "desktop/discovery.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-client/publish.h>
#include <avahi-common/address.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>

#include <QStringDecoder>

namespace dz::desktop {
namespace {

using dz::peer::TDiscoveryState;

// A client that could not even reach the system bus tries again this often.
constexpr int kRetryMs = 2000;
// Resolvers each cost the daemon a query: a network that announces more
// services than this is flooding, and the list shows 32 at most anyway.
constexpr std::size_t kMaxResolving = 64;
// TXT strings read of one service; a computer needs three.
constexpr int kMaxTxtStrings = 16;

// An instance name is one DNS label: at most 63 bytes, cut on a character.
QByteArray InstanceName(const QString &name)
{
    QByteArray bytes = name.toUtf8();
    if (bytes.size() <= 63)
        return bytes;
    qsizetype end = 63;
    while (end > 0 && (static_cast<unsigned char>(bytes[end]) & 0xC0) == 0x80)
        --end;
    return bytes.left(end);
}

QString ServiceKey(AvahiIfIndex interface, const char *name, const char *domain)
{
    // The name goes last: it is the only part that may hold any character.
    return QString::number(interface) + QLatin1Char('/') + QString::fromUtf8(domain) + QLatin1Char('/') +
           QString::fromUtf8(name);
}

} // namespace

struct TDiscovery::TResolving {
    TDiscovery *owner = nullptr;
    QString key;
    QByteArray instance;
    bool ourOwn = false;
    AvahiServiceResolver *resolver = nullptr;

    ~TResolving()
    {
        if (resolver)
            avahi_service_resolver_free(resolver);
    }
};

struct TAvahiCallbacks {
    static void Client(AvahiClient *client, AvahiClientState state, void *userdata)
    {
        auto *self = static_cast<TDiscovery *>(userdata);
        switch (state) {
        case AVAHI_CLIENT_S_RUNNING:
            // Inside avahi_client_new the client is not complete yet:
            // Connect() goes on when it returns.
            if (self->client_ == client)
                self->Running(client);
            break;
        case AVAHI_CLIENT_S_COLLISION:
        case AVAHI_CLIENT_S_REGISTERING:
            // The host name is being (re)established: the service goes up
            // again once the daemon runs.
            if (self->group_)
                avahi_entry_group_reset(self->group_);
            break;
        case AVAHI_CLIENT_CONNECTING:
            self->Unavailable(self->everRan_ ? TDiscoveryState::Stopped : TDiscoveryState::NoDaemon);
            break;
        case AVAHI_CLIENT_FAILURE:
            // The daemon went away (or the bus): start over with a client
            // that waits for it to come back.
            self->Unavailable(self->everRan_ ? TDiscoveryState::Stopped : TDiscoveryState::NoDaemon);
            self->FreeClientLater();
            break;
        }
    }

    static void Group(AvahiEntryGroup *, AvahiEntryGroupState state, void *userdata)
    {
        auto *self = static_cast<TDiscovery *>(userdata);
        if (state == AVAHI_ENTRY_GROUP_ESTABLISHED)
            emit self->Published(self->instance_);
        else if (state == AVAHI_ENTRY_GROUP_COLLISION)
            self->Collision();
    }

    static void Browser(AvahiServiceBrowser *, AvahiIfIndex interface, AvahiProtocol protocol, AvahiBrowserEvent event,
                        const char *name, const char *type, const char *domain, AvahiLookupResultFlags flags,
                        void *userdata)
    {
        auto *self = static_cast<TDiscovery *>(userdata);
        switch (event) {
        case AVAHI_BROWSER_NEW: {
            const QString key = ServiceKey(interface, name, domain);
            if (self->resolving_.count(key) || self->resolving_.size() >= kMaxResolving || !self->client_)
                return;
            auto r = std::make_unique<TDiscovery::TResolving>();
            r->owner = self;
            r->key = key;
            r->instance = QByteArray(name);
            r->ourOwn = (flags & AVAHI_LOOKUP_RESULT_OUR_OWN) != 0;
            // The resolver stays: it reports a changed address or TXT too.
            r->resolver = avahi_service_resolver_new(self->client_, interface, protocol, name, type, domain,
                                                     AVAHI_PROTO_INET, static_cast<AvahiLookupFlags>(0), Resolver, r.get());
            if (r->resolver)
                self->resolving_.emplace(key, std::move(r));
            break;
        }
        case AVAHI_BROWSER_REMOVE: {
            const QString key = ServiceKey(interface, name, domain);
            self->resolving_.erase(key);
            emit self->Lost(key);
            break;
        }
        case AVAHI_BROWSER_FAILURE:
            // Only when the daemon is in trouble: the client's state follows.
            self->DropLookups();
            break;
        case AVAHI_BROWSER_CACHE_EXHAUSTED:
        case AVAHI_BROWSER_ALL_FOR_NOW:
            break;
        }
    }

    static void Resolver(AvahiServiceResolver *, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event, const char *,
                         const char *, const char *, const char *, const AvahiAddress *address, uint16_t,
                         AvahiStringList *txt, AvahiLookupResultFlags, void *userdata)
    {
        auto *r = static_cast<TDiscovery::TResolving *>(userdata);
        if (event != AVAHI_RESOLVER_FOUND || !address || address->proto != AVAHI_PROTO_INET) {
            r->owner->Resolved(r, false, {}, {});
            return;
        }
        char text[AVAHI_ADDRESS_STR_MAX] = {};
        avahi_address_snprint(text, sizeof text, address);
        QList<QByteArray> strings;
        for (AvahiStringList *s = txt; s && strings.size() < kMaxTxtStrings; s = avahi_string_list_get_next(s))
            strings.append(QByteArray(reinterpret_cast<const char *>(avahi_string_list_get_text(s)),
                                      static_cast<qsizetype>(avahi_string_list_get_size(s))));
        r->owner->Resolved(r, true, QByteArray(text), strings);
    }
};

TDiscovery::TDiscovery(QObject *parent) : QObject(parent)
{
    retry_.setSingleShot(true);
    retry_.setInterval(kRetryMs);
    connect(&retry_, &QTimer::timeout, this, &TDiscovery::Connect);
}

TDiscovery::~TDiscovery()
{
    resolving_.clear();
    if (browser_)
        avahi_service_browser_free(browser_);
    if (group_)
        avahi_entry_group_free(group_); // the daemon withdraws the service now
    if (client_)
        avahi_client_free(client_);
}

void TDiscovery::Start()
{
    Connect();
}

void TDiscovery::Connect()
{
    if (client_)
        return;
    int error = 0;
    // The first state arrives inside avahi_client_new, with the new client
    // as its argument: client_ is not set yet then.
    AvahiClient *client = avahi_client_new(poll_.Api(), AVAHI_CLIENT_NO_FAIL, TAvahiCallbacks::Client, this, &error);
    if (!client) {
        // No system bus at all (NO_FAIL only waits for the daemon on it).
        emit StateChanged(TDiscoveryState::NoBus);
        retry_.start();
        return;
    }
    client_ = client;
    if (avahi_client_get_state(client) == AVAHI_CLIENT_S_RUNNING)
        Running(client);
}

void TDiscovery::Running(AvahiClient *client)
{
    everRan_ = true;
    if (!browser_)
        browser_ = avahi_service_browser_new(client, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, kServiceType, nullptr,
                                             static_cast<AvahiLookupFlags>(0), TAvahiCallbacks::Browser, this);
    if (publication_)
        AddService(client);
    emit StateChanged(browser_ ? TDiscoveryState::Running : TDiscoveryState::Stopped);
}

void TDiscovery::Unavailable(TDiscoveryState why)
{
    DropLookups();
    // The daemon forgot the group with its client; a new one is made when it is back.
    if (group_) {
        avahi_entry_group_free(group_);
        group_ = nullptr;
    }
    emit StateChanged(why);
}

void TDiscovery::DropLookups()
{
    std::map<QString, std::unique_ptr<TResolving>> gone;
    gone.swap(resolving_);
    for (const auto &entry : gone)
        emit Lost(entry.first);
    gone.clear();
    if (browser_) {
        avahi_service_browser_free(browser_);
        browser_ = nullptr;
    }
}

void TDiscovery::FreeClientLater()
{
    // Not inside the client's own callback.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (client_ && avahi_client_get_state(client_) == AVAHI_CLIENT_FAILURE) {
                avahi_client_free(client_);
                client_ = nullptr;
                Connect();
            }
        },
        Qt::QueuedConnection);
}

void TDiscovery::Publish(const TPublication &publication)
{
    publication_ = publication;
    instance_ = QString::fromUtf8(InstanceName(publication.name));
    if (client_ && avahi_client_get_state(client_) == AVAHI_CLIENT_S_RUNNING)
        AddService(client_);
}

void TDiscovery::Withdraw()
{
    publication_.reset();
    instance_.clear();
    if (group_) {
        avahi_entry_group_free(group_);
        group_ = nullptr;
    }
}

void TDiscovery::AddService(AvahiClient *client)
{
    if (!group_)
        group_ = avahi_entry_group_new(client, TAvahiCallbacks::Group, this);
    if (!group_ || !avahi_entry_group_is_empty(group_))
        return;
    const QByteArray name = "name=" + publication_->name.toUtf8().left(250);
    const QByteArray proto = "proto=" + publication_->protocol.toUtf8();
    const QByteArray stream = "stream=" + QByteArray::number(publication_->streamPort);
    AvahiStringList *txt = avahi_string_list_new(name.constData(), proto.constData(), stream.constData(), nullptr);
    // A name another service holds already: the daemon's next choice, a few times.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QByteArray instance = InstanceName(instance_);
        const int error = avahi_entry_group_add_service_strlst(group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET,
                                                               static_cast<AvahiPublishFlags>(0), instance.constData(),
                                                               kServiceType, nullptr, nullptr, publication_->port, txt);
        if (error == AVAHI_ERR_COLLISION) {
            char *next = avahi_alternative_service_name(instance.constData());
            instance_ = QString::fromUtf8(next);
            avahi_free(next);
            continue;
        }
        if (error == 0)
            avahi_entry_group_commit(group_);
        break;
    }
    avahi_string_list_free(txt);
}

void TDiscovery::Collision()
{
    // Someone else on the network holds the name: take the daemon's next
    // suggestion ("alpha #2") and publish again.
    char *next = avahi_alternative_service_name(InstanceName(instance_).constData());
    instance_ = QString::fromUtf8(next);
    avahi_free(next);
    if (group_)
        avahi_entry_group_reset(group_);
    if (client_ && publication_)
        AddService(client_);
}

void TDiscovery::Resolved(TResolving *r, bool ok, const QByteArray &address, const QList<QByteArray> &txt)
{
    if (ok) {
        emit Found({r->key, r->instance, txt, address, r->ourOwn});
        return;
    }
    // A resolver that failed is done (the library lets it be freed in its
    // own callback); the browser's next "new" starts another.
    const QString key = r->key;
    resolving_.erase(key);
    emit Lost(key);
}

} // namespace dz::desktop
