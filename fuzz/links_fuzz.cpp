// The link guard over a run of messages and user actions: every
// combination of claimed name, source address, key the link showed and
// capability, in any order, against the rules that must hold whatever
// came before.
//
// Input: the first byte picks the pin found in the store at start (none,
// OTHER on key C unconfirmed or confirmed, at 10.0.0.3). Then two bytes a
// step. The first, from its low bits up:
//   2 bits  the claimed name: PEER, peer, OTHER, THIRD
//   2 bits  the source address: 10.0.0.1 to 10.0.0.4
//   2 bits  the link: clear, key A, key B, key C
//   2 bits  the name an introduction names (as the claimed name's bits)
// The second, modulo 10: a chat line, a stream, an introduction, a
// capability offering A, B or C, one without an offer; or the user
// confirms, forgets, or takes the new key of the claimed name.
//
// Every run is within the first meeting's settling time: a clear message
// under a pinned name may pass only when that name was pinned in clear
// from the same address in this run and no TLS link has spoken for it
// since; a pin from the store never lets clear pass.

#include "check.h"
#include "net/identity.h"
#include "peer/links.h"
#include "util/settings.h"
#include "util/text.h"

#include <arpa/inet.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace {

using namespace dz::peer;

const std::string kKeys[] = {"", std::string(64, 'a'), std::string(64, 'b'), std::string(64, 'c')};
const char *const kNames[] = {"PEER", "peer", "OTHER", "THIRD"};

const dz::net::TIdentity &Own()
{
    static const dz::net::TIdentity own = dz::net::TIdentity::Generate("OWN");
    return own;
}

std::string Dotted(int n)
{
    return "10.0.0." + std::to_string(n + 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0 || size > 2 * 64 + 1)
        return 0;
    dz::TSettingsStore settings;
    TLinkGuard guard(Own(), settings);
    if (const int stored = data[0] % 3; stored != 0) {
        guard.Pins().Pin("OTHER", kKeys[3], "10.0.0.3");
        if (stored == 2)
            guard.Pins().Confirm("OTHER");
    }
    std::map<std::string, std::string> settling; // upper-cased name -> address it was pinned from in clear
    std::set<std::string> askedAbout;            // names a new key was offered for

    for (std::size_t i = 1; i + 1 < size; i += 2) {
        const std::uint8_t bits = data[i];
        const std::string name = kNames[bits & 3];
        const std::string upper = dz::UpperText(name);
        const int address = (bits >> 2) & 3;
        const std::string &linkKey = kKeys[(bits >> 4) & 3];
        const std::string introduced = kNames[(bits >> 6) & 3];
        const int what = data[i + 1] % 10;
        std::vector<TEffect> effects;

        if (what >= 7) {
            const auto before = guard.Pins().Find(name);
            bool changed = false;
            if (what == 7) {
                changed = guard.Confirm(name, effects);
                FUZZ_CHECK(changed == (before && !before->confirmed));
            } else if (what == 8) {
                changed = guard.Forget(name, effects);
                FUZZ_CHECK(changed == before.has_value());
                FUZZ_CHECK(!guard.Pins().Find(name));
                settling.erase(upper);
            } else {
                changed = guard.AcceptNewKey(name, effects);
                // Only a key the user was asked about replaces a pin.
                FUZZ_CHECK(!changed || askedAbout.count(upper) == 1);
                if (changed)
                    askedAbout.erase(upper);
            }
            FUZZ_CHECK(changed == !effects.empty());
        } else {
            std::string message;
            switch (what) {
            case 0: message = "MSG|line"; break;
            case 1: break; // a stream
            case 2: message = "ItsMe=" + introduced + "|" + Dotted(address); break;
            case 6: message = "Dizaruz_Can=BigFiles|Hash"; break;
            default: message = "Dizaruz_Can=BigFiles|" + TlsCapabilityWords(kKeys[what - 2]); break;
            }
            std::vector<std::string> claimed {name};
            if (what == 2 && dz::UpperText(introduced) != upper)
                claimed.push_back(introduced);
            std::map<std::string, std::optional<TPin>> before;
            for (const std::string &n : claimed)
                before[n] = guard.Pins().Find(n);

            const TLinkGuard::TJudgement j = guard.Judge(name, htonl(0x0a000001u + static_cast<unsigned>(address)),
                                                         linkKey, message);
            effects = j.effects;
            bool told = false;
            for (const TEffect &fact : effects) {
                told = told || fact.kind == TEffect::Kind::PinNotice;
                if (fact.kind == TEffect::Kind::PinNotice &&
                    fact.number == static_cast<int>(TPinNotice::KeyChanged))
                    askedAbout.insert(dz::UpperText(fact.text));
            }
            // Nothing is dropped without telling the user.
            FUZZ_CHECK(j.pass || told);
            for (const std::string &n : claimed) {
                const std::string u = dz::UpperText(n);
                const std::optional<TPin> &pin = before[n];
                const auto after = guard.Pins().Find(n);
                if (j.pass && pin) {
                    if (linkKey.empty()) {
                        // Clear under a pinned name: only the grace of its first meeting.
                        const auto s = settling.find(u);
                        FUZZ_CHECK(s != settling.end() && s->second == Dotted(address));
                    } else {
                        // A pinned name speaks only with its key.
                        FUZZ_CHECK(linkKey == pin->fingerprint);
                    }
                }
                // A pin changes only by the user's hand or at a first meeting.
                if (pin)
                    FUZZ_CHECK(after && after->fingerprint == pin->fingerprint);
                if (!pin && after) {
                    FUZZ_CHECK(j.pass || n != claimed.back());
                    if (linkKey.empty())
                        settling[u] = Dotted(address);
                    else
                        FUZZ_CHECK(after->fingerprint == linkKey);
                }
                if (j.pass && !linkKey.empty())
                    settling.erase(u);
            }
        }
        // The window never hears of a key that is not pinned.
        for (const TEffect &fact : effects) {
            if (fact.kind != TEffect::Kind::Link || fact.number == static_cast<int>(TLinkState::Clear))
                continue;
            const auto pin = guard.Pins().Find(fact.text);
            FUZZ_CHECK(pin && pin->fingerprint == fact.key);
            FUZZ_CHECK((fact.number == static_cast<int>(TLinkState::EncryptedConfirmed)) == pin->confirmed);
            FUZZ_CHECK(fact.value == guard.CodeFor(pin->fingerprint));
        }
    }
    return 0;
}
