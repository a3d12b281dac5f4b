#pragma once
// Measures the event loop's latency inside the window's process, for the
// latency benchmark (bench/latency.sh): a 5 ms timer whose lateness is
// recorded, and, for every stretch of more than 10 ms in which no event
// began, the event that held the loop (its receiver and type). Samples carry
// the wall clock in ms, so a script can cut them by the driver's step times.
// Off unless DIZARUZ_LATENCY_FILE names the file the samples go to, written
// when the probe ends:
//   tick WALL-MS LATE-US
//   stall WALL-MS SPAN-US RECEIVER-CLASS/OBJECT-NAME(PARENT-CLASS/NAME) EVENT-TYPE
// GUI thread only.

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QMetaEnum>
#include <QObject>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

class TLatencyProbe : public QObject {
public:
    static std::unique_ptr<TLatencyProbe> FromEnvironment()
    {
        const QString file = qEnvironmentVariable("DIZARUZ_LATENCY_FILE");
        return file.isEmpty() ? nullptr : std::make_unique<TLatencyProbe>(file);
    }

    explicit TLatencyProbe(QString file) : file_(std::move(file))
    {
        clock_.start();
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(kPeriodMs);
        connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
        QCoreApplication::instance()->installEventFilter(this);
        lastTick_ = began_ = clock_.nsecsElapsed();
        timer_.start();
    }

    ~TLatencyProbe() override
    {
        QCoreApplication::instance()->removeEventFilter(this);
        QFile out(file_);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return;
        for (const auto &t : ticks_)
            out.write(QByteArray("tick ") + QByteArray::number(t.wallMs) + ' ' + QByteArray::number(t.us) + '\n');
        for (const auto &s : stalls_)
            out.write(QByteArray("stall ") + QByteArray::number(s.wallMs) + ' ' + QByteArray::number(s.us) + ' '
                      + QByteArray::fromStdString(s.what) + '\n');
    }

protected:
    bool eventFilter(QObject *receiver, QEvent *event) override
    {
        // The time since the last event began belongs to that event (or to
        // the work between events, when it ended long ago).
        const qint64 now = clock_.nsecsElapsed();
        if (now - began_ > kStallNs)
            stalls_.push_back({Wall(now), (now - began_) / 1000, what_});
        began_ = now;
        // After the probe's own tick, a long wait is time outside any event:
        // the driver's own loop, or the thread not being scheduled.
        what_ = receiver == &timer_ ? std::string("probe-tick outside-events") : Describe(receiver, event);
        return false;
    }

private:
    static constexpr int kPeriodMs = 5;
    static constexpr qint64 kStallNs = 10'000'000;
    struct TSample {
        qint64 wallMs;
        qint64 us;
        std::string what;
    };

    qint64 Wall(qint64 nowNs) const { return wallStart_ + nowNs / 1'000'000; }

    static std::string Describe(QObject *receiver, QEvent *event)
    {
        std::string what = receiver->metaObject()->className();
        if (!receiver->objectName().isEmpty())
            what += '/' + receiver->objectName().toStdString();
        if (receiver->parent() != nullptr) {
            what += std::string("(") + receiver->parent()->metaObject()->className();
            if (!receiver->parent()->objectName().isEmpty())
                what += '/' + receiver->parent()->objectName().toStdString();
            what += ')';
        }
        const char *type = QMetaEnum::fromType<QEvent::Type>().valueToKey(event->type());
        return what + ' ' + (type != nullptr ? std::string(type) : std::to_string(static_cast<int>(event->type())));
    }

    void Tick()
    {
        const qint64 now = clock_.nsecsElapsed();
        const qint64 late = now - lastTick_ - kPeriodMs * 1'000'000LL;
        lastTick_ = now;
        ticks_.push_back({Wall(now), late > 0 ? late / 1000 : 0, {}});
    }

    QString file_;
    QElapsedTimer clock_;
    const qint64 wallStart_ = QDateTime::currentMSecsSinceEpoch();
    QTimer timer_;
    qint64 lastTick_ = 0;
    qint64 began_ = 0;
    std::string what_ = "start";
    std::vector<TSample> ticks_;
    std::vector<TSample> stalls_;
};
