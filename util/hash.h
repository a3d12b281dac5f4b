#pragma once
// XXH3-128 over bytes that arrive in pieces of any size: the hash of a file
// computed while it is sent or received, never in a pass of its own. The
// hash tells damage (memory, disk, a kept part gone bad) from a good copy;
// it proves nothing against someone who changes the bytes on purpose.
//
// Not thread-safe: one thread feeds one hasher.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct XXH3_state_s;

namespace dz {

struct THash128 {
    std::uint64_t high = 0, low = 0;
    bool operator==(const THash128 &) const = default;
    // The canonical form: 16 bytes, most significant first.
    std::array<unsigned char, 16> Bytes() const;
    // The canonical form as 32 lower-case hexadecimal digits.
    std::string Hex() const;
};

class THasher {
public:
    THasher();
    ~THasher();
    // A copy continues from the same point on its own.
    THasher(const THasher &other);
    THasher &operator=(const THasher &other);

    void Update(const void *data, std::size_t size);
    void Update(std::string_view bytes) { Update(bytes.data(), bytes.size()); }
    // The hash of everything so far; more may follow.
    THash128 Digest() const;
    // The bytes hashed so far.
    std::uint64_t Length() const;
    // Back to no bytes.
    void Reset();

    // The running state as bytes for a record on this computer (kept with
    // a partial file, to go on hashing where it stopped). Restore takes
    // only what Save of the same library version wrote, undamaged; false
    // (and the hasher reset) for anything else.
    std::string SaveState() const;
    bool RestoreState(std::string_view saved);

    static THash128 Of(std::string_view bytes);

private:
    XXH3_state_s *state_;
};

} // namespace dz
