#pragma once
// TPinStore: the pins in the per-user settings store, under the key
// "pins": an object from the peer's name (upper-cased, UTF-8) to
// {"fingerprint": "<64 hex>", "confirmed": bool, "address": "a.b.c.d"}.
// Every change is written at once. An entry that is not of that shape (the
// file is the user's) counts as no pin.
//
// Names are the protocol's Windows-1251 texts; they compare as the core
// compares names, without regard to letter case. Any thread (the settings
// store takes its lock); a change writes on the calling thread.

#include "peer/pins.h"
#include "util/settings.h"

#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace dz::peer {

class TPinStore {
public:
    static constexpr const char *kKey = "pins";

    explicit TPinStore(TSettingsStore &store) : store_(store) {}

    std::optional<TPin> Find(const std::string &name) const;
    // The name and pin of the peer last seen at a dotted address.
    std::optional<std::pair<std::string, TPin>> FindByAddress(const std::string &address) const;
    // The facts DecidePin needs for a message claiming name from address.
    TPinFacts Facts(TMessageKind kind, const std::string &name, const std::string &address, TChannel channel,
                    const std::string &linkFingerprint, const TTlsCapability &capability = {}) const;

    // Each returns whether the store was written (false: the disk refused,
    // the values stay in memory for the next write).
    // Pins name to fingerprint, unconfirmed (a first meeting, or a new key
    // the user accepted).
    bool Pin(const std::string &name, const std::string &fingerprint, const std::string &address);
    bool Confirm(const std::string &name);
    // Where the pinned peer was seen last.
    bool SetAddress(const std::string &name, const std::string &address);
    // Forgets the pin: the next meeting pins anew.
    bool Forget(const std::string &name);

private:
    bool Change(const std::string &name, const std::optional<TPin> &pin);
    TSettingsStore &store_;
    std::mutex mutex_; // a change reads and rewrites the whole "pins" object
};

} // namespace dz::peer
