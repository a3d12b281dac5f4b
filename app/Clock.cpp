#include "Clock.h"

QString TimeOfDayText(const QTime &time)
{
    return time.toString(QStringLiteral("HH:mm:ss"));
}

QString ClockText(const QDateTime &when, const QLocale &locale)
{
    QString text = locale.toString(when.date(), QLocale::ShortFormat);
    const QTime t = when.time();
    // The clock shows seconds, so the whole second 00:00:00 counts as midnight.
    if (t.hour() != 0 || t.minute() != 0 || t.second() != 0)
        text += QLatin1Char(' ') + TimeOfDayText(t);
    return text;
}
