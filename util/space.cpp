#include "space.h"

#include <QLocale>
#include <QString>

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

std::string SizeText(std::uint64_t bytes)
{
    const char *units[] = {"Б", "КБ", "МБ", "ГБ", "ТБ"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1024 && unit < 4) {
        value /= 1024;
        ++unit;
    }
    const int decimals = unit == 0 || value >= 100 ? 0 : 1;
    return (QLocale(QLocale::Russian).toString(value, 'f', decimals) + QLatin1Char(' ') +
            QString::fromUtf8(units[unit]))
        .toStdString();
}

} // namespace dz
