#include "space.h"


#include <algorithm>
#include <sys/statvfs.h>

namespace dz {

TSpace SpaceFor(const std::string &folder, std::uint64_t size)
{
    TSpace space;
    space.needed = size;
    struct statvfs st {};
    if (::statvfs(folder.c_str(), &st) != 0)
        return space;
    space.known = true;
    const std::uint64_t unit = st.f_frsize ? st.f_frsize : st.f_bsize;
    space.free = static_cast<std::uint64_t>(st.f_bavail) * unit;
    space.reserve = std::max<std::uint64_t>(static_cast<std::uint64_t>(st.f_blocks) * unit / 100, kMinReserve);
    return space;
}

} // namespace dz
