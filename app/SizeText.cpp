#include "SizeText.h"

#include <QLocale>

namespace {

const char *const kUnits[] = {"Б", "КБ", "МБ", "ГБ", "ТБ"};

} // namespace

QString BytesText(qint64 bytes)
{
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1024 && unit < 4) {
        value /= 1024;
        ++unit;
    }
    const int decimals = unit == 0 || value >= 100 ? 0 : 1;
    return QLocale(QLocale::Russian).toString(value, 'f', decimals) + QLatin1Char(' ') + QString::fromUtf8(kUnits[unit]);
}

QString BytesPairText(qint64 done, qint64 total)
{
    double scale = 1;
    int unit = 0;
    while (static_cast<double>(total) / scale >= 1024 && unit < 4) {
        scale *= 1024;
        ++unit;
    }
    const double t = static_cast<double>(total) / scale;
    const int decimals = unit == 0 || t >= 100 ? 0 : 1;
    const QLocale ru(QLocale::Russian);
    return ru.toString(static_cast<double>(done) / scale, 'f', decimals) + QLatin1Char('/') +
           ru.toString(t, 'f', decimals) + QLatin1Char(' ') + QString::fromUtf8(kUnits[unit]);
}

QString DurationText(std::chrono::seconds left)
{
    const qint64 s = left.count();
    if (s >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(s / 3600)
            .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}
