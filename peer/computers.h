#pragma once
// TComputers: the computers the user may connect to without typing a name.
// It merges what discovery found on the network (untrusted: anyone may
// publish anything) with the computers this copy connected to by the user's
// own action (kept in the settings store), and says whether discovery runs.
//
// Lives on one thread (the window's); every call returns at once and never
// pumps. The model knows nothing of Avahi: the desktop glue hands it raw
// services and states, tests hand it their own.

#include <QAbstractListModel>
#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <vector>

namespace dz {
class TSettingsStore;
}

namespace dz::peer {

// One DNS-SD service as the network described it. Nothing in it is checked.
struct TFoundService {
    QString key;             // tells one service apart for its removal (interface, name, domain)
    QByteArray instance;     // the instance name (UTF-8 from the daemon, maybe "alpha #2")
    QList<QByteArray> txt;   // the TXT strings, "key=value" each
    QByteArray address;      // the resolved IPv4 address, dotted
    bool ourOwn = false;     // this very copy published it
};

// Whether computers can be found automatically, and why not.
enum class TDiscoveryState {
    Starting, // not known yet
    Running,  // found and publishing
    Resumed,  // running again after it was unavailable
    NoBus,    // no system bus to reach the daemon over
    NoDaemon, // no Avahi daemon on the bus
    Stopped,  // the daemon went away while this copy ran
};

// What a row shows and what a connect uses.
struct TComputer {
    QString name;          // as it fills the name box
    QString address;       // dotted IPv4, empty when not known
    bool seen = false;     // discovery sees it now
    bool remembered = false;
    bool duplicate = false; // a computer at another address shows the same name

    bool operator==(const TComputer &) const = default;
};

// The name a found service gives, cleaned, or nothing when the service is
// not worth a row (no usable name, an address that is no computer's).
struct TCleanService {
    QString name;
    QString address;
};
std::optional<TCleanService> CleanService(const TFoundService &service);

// The key of the remembered computers in the settings store: an array of
// {"name": ..., "address": ...}, newest first.
inline constexpr const char *kRememberedKey = "computers.remembered";

class TComputers : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int kMaxFound = 32;
    static constexpr int kMaxRemembered = 10;
    static constexpr int kMaxNameChars = 63; // one DNS label

    enum Role {
        NameRole = Qt::UserRole + 1,
        AddressRole,
        SeenRole,
        RememberedRole,
        DuplicateRole,
    };

    // store may be null (nothing remembered). Reads the remembered
    // computers at once, accepting whatever the file holds.
    explicit TComputers(TSettingsStore *store, QObject *parent = nullptr);

    // This copy's own name and address, so that a service of the same name
    // from this address is not listed (next to the daemon's "our own" flag).
    void SetThisComputer(const QString &name, const QString &address);

    // --- From discovery ------------------------------------------------
    // A service resolved (again): added, or its row updated. Dropped when
    // its name or address is unusable, when it is this copy, or when
    // kMaxFound services are listed already.
    void Found(const TFoundService &service);
    // A service withdrawn (or its resolution failed).
    void Lost(const QString &key);
    // Discovery's state. Anything but running forgets the found services.
    void SetState(TDiscoveryState state);
    TDiscoveryState State() const { return state_; }

    // --- From the user -------------------------------------------------
    // The user connected to name (a typed or activated connection): it goes
    // first in the remembered list, which is written to the store now (on
    // this thread: a small file, once per connect). An empty or unusable
    // address keeps the one remembered for that name before.
    void Remember(const QString &name, const QString &address);

    // The rows: found computers by name, then remembered ones not seen now.
    const std::vector<TComputer> &Computers() const { return rows_; }

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

signals:
    void StateChanged(dz::peer::TDiscoveryState state);

private:
    struct TFound {
        QString key;
        TCleanService clean;
    };
    struct TRemembered {
        QString name;
        QString address;
    };

    bool IsThisComputer(const TFoundService &service, const TCleanService &clean) const;
    void LoadRemembered();
    void SaveRemembered();
    void Rebuild();

    TSettingsStore *store_;
    QString thisName_;
    QString thisAddress_;
    std::vector<TFound> found_;
    std::vector<TRemembered> remembered_;
    std::vector<TComputer> rows_;
    TDiscoveryState state_ = TDiscoveryState::Starting;
    bool wasUnavailable_ = false;
};

} // namespace dz::peer
