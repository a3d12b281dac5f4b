#pragma once
// The wall clock, behind an interface so tests can set the time.

#include <QDateTime>
#include <QLocale>
#include <QString>

class IClock {
public:
    virtual ~IClock() = default;
    virtual QDateTime now() const = 0; // local time
};

class TSystemClock : public IClock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

// The status-bar text: the locale's short date, a blank and the time of day
// as hh:mm:ss; at midnight (00:00:00) the date alone.
QString ClockText(const QDateTime &when, const QLocale &locale);
// The time of day as hh:mm:ss, 24-hour, without a time zone.
QString TimeOfDayText(const QTime &time);
