// The status-bar clock.

#include "Clock.h"
#include "FormFixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QTimer>

namespace {

TEST(ClockText, DateAndTimeExceptAtMidnight)
{
    struct Case {
        QLocale locale;
        QTime time;
        const char *expected;
    };
    const QDate day(2006, 12, 22);
    const Case cases[] = {
        {QLocale::c(), QTime(14, 3, 27), "22 Dec 2006 14:03:27"},
        {QLocale::c(), QTime(9, 5, 7), "22 Dec 2006 09:05:07"},
        {QLocale(QLocale::English, QLocale::UnitedStates), QTime(23, 59, 59), "12/22/06 23:59:59"},
        {QLocale(QLocale::German, QLocale::Germany), QTime(0, 0, 1), "22.12.06 00:00:01"},
        {QLocale::c(), QTime(0, 0, 0), "22 Dec 2006"},
        {QLocale(QLocale::German, QLocale::Germany), QTime(0, 0, 0), "22.12.06"},
        // The clock shows whole seconds: the midnight second stays midnight.
        {QLocale::c(), QTime(0, 0, 0, 400), "22 Dec 2006"},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.expected);
        EXPECT_EQ(ClockText(QDateTime(day, k.time), k.locale), QString::fromLatin1(k.expected));
    }
    // The time of day never carries a time zone or a 12-hour suffix.
    EXPECT_EQ(TimeOfDayText(QTime(18, 0, 9)), QStringLiteral("18:00:09"));
}

using ClockTest = FormFixture;

TEST_F(ClockTest, TickShowsTheClocksTimeAndRestartsTheTimer)
{
    TForm1 &f = Start();
    clock->time = QDateTime(QDate(2006, 12, 22), QTime(14, 3, 27));
    f.Timer2Timer();
    EXPECT_EQ(f.Label_DateTime->text(), ClockText(clock->time, QLocale()));
    EXPECT_TRUE(f.Label_DateTime->text().endsWith(QStringLiteral(" 14:03:27")));
    EXPECT_TRUE(f.Timer2->isActive());

    clock->time = QDateTime(QDate(2006, 12, 23), QTime(0, 0, 0));
    f.Timer2Timer();
    EXPECT_EQ(f.Label_DateTime->text(), QLocale().toString(QDate(2006, 12, 23), QLocale::ShortFormat));
}

TEST_F(ClockTest, TimerDrivesTheClockAfterStartUp)
{
    TForm1 &f = Start();
    EXPECT_EQ(f.Label_DateTime->text(), QStringLiteral("..."));
    QElapsedTimer waited;
    waited.start();
    while (f.Label_DateTime->text() == QStringLiteral("...") && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    EXPECT_EQ(f.Label_DateTime->text(), ClockText(clock->time, QLocale()));
    EXPECT_GE(waited.elapsed(), 900); // the first tick comes after a second
}

} // namespace
