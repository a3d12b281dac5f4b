#pragma once
// Whether a file fits on the disk before a byte of it is written: the
// receive folder's file system keeps free the larger of 1 % of its size
// and 64 MiB, for the system and for the user's own work.

#include <cstdint>
#include <string>

namespace dz {

struct TSpace {
    bool known = false;        // the file system could be asked (statvfs)
    std::uint64_t needed = 0;  // the bytes asked for
    std::uint64_t free = 0;    // free for an ordinary user now
    std::uint64_t reserve = 0; // kept free: max(1 % of the file system, 64 MiB)
    // What may still be written: free less the reserve.
    std::uint64_t usable() const { return free > reserve ? free - reserve : 0; }
    // Unknown space is no reason to refuse: the write itself tells.
    bool fits() const { return !known || needed <= usable(); }
};

inline constexpr std::uint64_t kMinReserve = 64ull << 20;

// The space for size bytes in folder (a UTF-8 path of an existing folder).
TSpace SpaceFor(const std::string &folder, std::uint64_t size);

} // namespace dz
