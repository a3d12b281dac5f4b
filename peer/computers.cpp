#include "peer/computers.h"

#include "util/settings.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QStringDecoder>

#include <algorithm>

#include <arpa/inet.h>

namespace dz::peer {
namespace {

// A name fit to show and to put in the name box: whole UTF-8, no control or
// invisible formatting characters (which could make one name look like
// another), trimmed, at most one DNS label long. Empty when unfit.
QString CleanName(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(bytes);
    if (decoder.hasError())
        return {};
    const QString name = text.trimmed();
    for (const QChar c : name) {
        const auto category = c.category();
        if (category == QChar::Other_Control || category == QChar::Other_Format ||
            category == QChar::Separator_Line || category == QChar::Separator_Paragraph || c == QChar::ReplacementCharacter)
            return {};
    }
    if (name.size() > TComputers::kMaxNameChars)
        return {};
    return name;
}

// A unicast IPv4 address another computer may have, in dotted form; empty
// for anything else (loopback, "this network", multicast, broadcast).
QString CleanAddress(const QByteArray &dotted)
{
    in_addr a {};
    if (dotted.size() > INET_ADDRSTRLEN || ::inet_pton(AF_INET, dotted.constData(), &a) != 1)
        return {};
    const std::uint32_t host = ntohl(a.s_addr);
    const std::uint32_t first = host >> 24;
    if (first == 0 || first == 127 || first >= 224)
        return {};
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return QString::fromLatin1(text);
}

// The value of key in TXT strings: keys compare without case and the first
// occurrence counts. Nothing when absent or a bare attribute.
std::optional<QByteArray> TxtValue(const QList<QByteArray> &txt, const QByteArray &key)
{
    for (const QByteArray &entry : txt) {
        const qsizetype eq = entry.indexOf('=');
        const QByteArray k = eq < 0 ? entry : entry.left(eq);
        if (k.compare(key, Qt::CaseInsensitive) != 0)
            continue;
        if (eq < 0)
            return std::nullopt;
        return entry.mid(eq + 1);
    }
    return std::nullopt;
}

bool SameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

std::optional<TCleanService> CleanService(const TFoundService &service)
{
    // The TXT name is what the user knows the computer by (the instance may
    // carry the daemon's " #2"); a service without one shows its instance.
    const std::optional<QByteArray> txtName = TxtValue(service.txt, "name");
    TCleanService clean {CleanName(txtName ? *txtName : service.instance), CleanAddress(service.address)};
    if (clean.name.isEmpty() || clean.address.isEmpty())
        return std::nullopt;
    return clean;
}

TComputers::TComputers(TSettingsStore *store, QObject *parent) : QAbstractListModel(parent), store_(store)
{
    LoadRemembered();
    Rebuild();
}

void TComputers::SetThisComputer(const QString &name, const QString &address)
{
    thisName_ = name;
    thisAddress_ = address;
    beginResetModel();
    std::erase_if(found_, [&](const TFound &f) { return SameName(f.clean.name, thisName_) && f.clean.address == thisAddress_; });
    Rebuild();
    endResetModel();
}

bool TComputers::IsThisComputer(const TFoundService &service, const TCleanService &clean) const
{
    return service.ourOwn || (!thisName_.isEmpty() && SameName(clean.name, thisName_) && clean.address == thisAddress_);
}

void TComputers::Found(const TFoundService &service)
{
    const auto known = std::find_if(found_.begin(), found_.end(), [&](const TFound &f) { return f.key == service.key; });
    const std::optional<TCleanService> clean = CleanService(service);
    if (!clean || IsThisComputer(service, *clean)) {
        if (known != found_.end())
            Lost(service.key);
        return;
    }
    if (known == found_.end() && found_.size() >= static_cast<std::size_t>(kMaxFound))
        return;
    beginResetModel();
    if (known != found_.end())
        known->clean = *clean;
    else
        found_.push_back({service.key, *clean});
    Rebuild();
    endResetModel();
}

void TComputers::Lost(const QString &key)
{
    const auto known = std::find_if(found_.begin(), found_.end(), [&](const TFound &f) { return f.key == key; });
    if (known == found_.end())
        return;
    beginResetModel();
    found_.erase(known);
    Rebuild();
    endResetModel();
}

void TComputers::SetState(TDiscoveryState state)
{
    const bool running = state == TDiscoveryState::Running || state == TDiscoveryState::Resumed;
    if (state == TDiscoveryState::Running && wasUnavailable_)
        state = TDiscoveryState::Resumed;
    if (!running && state != TDiscoveryState::Starting) {
        wasUnavailable_ = true;
        if (!found_.empty()) {
            // What the daemon found is not seen any more once it is gone.
            beginResetModel();
            found_.clear();
            Rebuild();
            endResetModel();
        }
    }
    if (state == state_)
        return;
    state_ = state;
    emit StateChanged(state_);
}

void TComputers::Remember(const QString &name, const QString &address)
{
    const QString clean = CleanName(name.toUtf8());
    if (clean.isEmpty())
        return;
    QString known = CleanAddress(address.toLatin1());
    beginResetModel();
    std::erase_if(remembered_, [&](const TRemembered &r) {
        if (!SameName(r.name, clean))
            return false;
        if (known.isEmpty())
            known = r.address; // a name whose address this connect did not learn keeps the last one
        return true;
    });
    remembered_.insert(remembered_.begin(), {clean, known});
    if (remembered_.size() > static_cast<std::size_t>(kMaxRemembered))
        remembered_.resize(kMaxRemembered);
    Rebuild();
    endResetModel();
    SaveRemembered();
}

void TComputers::LoadRemembered()
{
    if (!store_)
        return;
    const QJsonArray list = store_->Value(QString::fromLatin1(kRememberedKey)).toArray();
    for (const QJsonValue &item : list) {
        if (remembered_.size() >= static_cast<std::size_t>(kMaxRemembered))
            break;
        const QJsonObject o = item.toObject();
        const QString name = CleanName(o.value(QStringLiteral("name")).toString().toUtf8());
        if (name.isEmpty() ||
            std::any_of(remembered_.begin(), remembered_.end(), [&](const TRemembered &r) { return SameName(r.name, name); }))
            continue;
        remembered_.push_back({name, CleanAddress(o.value(QStringLiteral("address")).toString().toLatin1())});
    }
}

void TComputers::SaveRemembered()
{
    if (!store_)
        return;
    QJsonArray list;
    for (const TRemembered &r : remembered_)
        list.append(QJsonObject{{QStringLiteral("name"), r.name}, {QStringLiteral("address"), r.address}});
    // A store that cannot write keeps the list in memory and tries again.
    store_->Put(QString::fromLatin1(kRememberedKey), list);
}

void TComputers::Rebuild()
{
    rows_.clear();
    for (const TFound &f : found_) {
        // One computer seen on two interfaces, or under two instances of
        // one name, is one row.
        if (std::any_of(rows_.begin(), rows_.end(),
                        [&](const TComputer &c) { return c.name == f.clean.name && c.address == f.clean.address; }))
            continue;
        TComputer row {f.clean.name, f.clean.address, true, false, false};
        row.remembered = std::any_of(remembered_.begin(), remembered_.end(),
                                     [&](const TRemembered &r) { return SameName(r.name, row.name); });
        row.duplicate = std::any_of(found_.begin(), found_.end(), [&](const TFound &o) {
            return SameName(o.clean.name, row.name) && o.clean.address != row.address;
        });
        rows_.push_back(row);
    }
    std::sort(rows_.begin(), rows_.end(), [](const TComputer &a, const TComputer &b) {
        const int byName = a.name.compare(b.name, Qt::CaseInsensitive);
        return byName != 0 ? byName < 0 : a.address < b.address;
    });
    for (const TRemembered &r : remembered_) {
        const bool seen = std::any_of(found_.begin(), found_.end(), [&](const TFound &f) { return SameName(f.clean.name, r.name); });
        if (!seen)
            rows_.push_back({r.name, r.address, false, true, false});
    }
}

int TComputers::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant TComputers::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= rowCount())
        return {};
    const TComputer &c = rows_[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return c.address.isEmpty() ? c.name : c.name + QStringLiteral(" (") + c.address + QLatin1Char(')');
    case NameRole:
        return c.name;
    case AddressRole:
        return c.address;
    case SeenRole:
        return c.seen;
    case RememberedRole:
        return c.remembered;
    case DuplicateRole:
        return c.duplicate;
    default:
        return {};
    }
}

QHash<int, QByteArray> TComputers::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names[NameRole] = "name";
    names[AddressRole] = "address";
    names[SeenRole] = "seen";
    names[RememberedRole] = "remembered";
    names[DuplicateRole] = "duplicate";
    return names;
}

} // namespace dz::peer
