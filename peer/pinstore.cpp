#include "peer/pinstore.h"

#include "util/codepage.h"
#include "util/text.h"

#include <QJsonObject>

namespace dz::peer {
namespace {

QString KeyOf(const std::string &name)
{
    return QString::fromStdString(Cp1251ToUtf8(UpperText(name)));
}

std::optional<TPin> PinOf(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject entry = value.toObject();
    TPin pin;
    pin.fingerprint = FingerprintOfWord(entry.value(QStringLiteral("fingerprint")).toString().toStdString());
    if (pin.fingerprint.empty())
        return std::nullopt;
    pin.confirmed = entry.value(QStringLiteral("confirmed")).toBool(false);
    pin.address = entry.value(QStringLiteral("address")).toString().toStdString();
    return pin;
}

QJsonObject Pins(const TSettingsStore &store)
{
    return store.Value(QString::fromLatin1(TPinStore::kKey)).toObject();
}

} // namespace

std::optional<TPin> TPinStore::Find(const std::string &name) const
{
    return PinOf(Pins(store_).value(KeyOf(name)));
}

std::optional<std::pair<std::string, TPin>> TPinStore::FindByAddress(const std::string &address) const
{
    if (address.empty())
        return std::nullopt;
    const QJsonObject pins = Pins(store_);
    for (auto it = pins.begin(); it != pins.end(); ++it) {
        const std::optional<TPin> pin = PinOf(it.value());
        if (pin && pin->address == address)
            return std::make_pair(Utf8ToCp1251(it.key().toStdString()), *pin);
    }
    return std::nullopt;
}

TPinFacts TPinStore::Facts(TMessageKind kind, const std::string &name, const std::string &address, TChannel channel,
                           const std::string &linkFingerprint, const TTlsCapability &capability) const
{
    TPinFacts facts;
    facts.kind = kind;
    facts.namePin = Find(name);
    if (const auto atAddress = FindByAddress(address); atAddress && UpperText(atAddress->first) != UpperText(name))
        facts.addressPin = atAddress->second;
    facts.channel = channel;
    facts.linkFingerprint = linkFingerprint;
    facts.capability = capability;
    return facts;
}

bool TPinStore::Change(const std::string &name, const std::optional<TPin> &pin)
{
    QJsonObject pins = Pins(store_);
    if (pin) {
        pins.insert(KeyOf(name), QJsonObject {{QStringLiteral("fingerprint"), QString::fromStdString(pin->fingerprint)},
                                              {QStringLiteral("confirmed"), pin->confirmed},
                                              {QStringLiteral("address"), QString::fromStdString(pin->address)}});
    } else {
        pins.remove(KeyOf(name));
    }
    return store_.Put(QString::fromLatin1(kKey), pins);
}

bool TPinStore::Pin(const std::string &name, const std::string &fingerprint, const std::string &address)
{
    std::lock_guard lock(mutex_);
    const std::string key = FingerprintOfWord(fingerprint);
    if (key.empty())
        return false;
    return Change(name, TPin {key, false, address});
}

bool TPinStore::Confirm(const std::string &name)
{
    std::lock_guard lock(mutex_);
    std::optional<TPin> pin = Find(name);
    if (!pin)
        return false;
    pin->confirmed = true;
    return Change(name, pin);
}

bool TPinStore::SetAddress(const std::string &name, const std::string &address)
{
    std::lock_guard lock(mutex_);
    std::optional<TPin> pin = Find(name);
    if (!pin)
        return false;
    pin->address = address;
    return Change(name, pin);
}

bool TPinStore::Forget(const std::string &name)
{
    std::lock_guard lock(mutex_);
    return Change(name, std::nullopt);
}

} // namespace dz::peer
