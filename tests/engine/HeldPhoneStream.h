#pragma once

#include "tests/support/PhoneEmulator.h"

#include <QJsonArray>
#include <QList>

namespace snt::test {

// A phone's stream in stretches, each followed by a hold until the measurement has caught up,
// as the block statuses it has shown tell. A block path that is not tracking places its block on
// the newest samples at its tick, so where blocks fall at the start and after an interruption
// depends on when its ticks come, which a busy machine delays by hundreds of milliseconds; held
// at those points, the phone puts the blocks where a measurement that keeps up with it does,
// whenever its ticks come. Times are phone seconds since the stream began. After a failed step
// the later ones do nothing, and the statuses the test compares show where it stopped.
class HeldPhoneStream
{
public:
    HeldPhoneStream(PhoneEmulator &phone, const QList<int> &statuses)
        : phone_(phone)
        , statuses_(statuses)
    { }

    // Holds until the measurement has shown as many statuses as `caughtUp` lists.
    HeldPhoneStream &waitFor(const QList<int> &caughtUp)
    {
        ok_ = ok_
              && waitUntil([&] { return statuses_.size() >= caughtUp.size(); },
                           PhoneEmulator::timeoutMs);
        return *this;
    }

    // Everything up to `until`, at once.
    HeldPhoneStream &sendAtOnce(double until)
    {
        ok_ = ok_ && phone_.advance(qRound64(until * 1000.0)) >= 0;
        now_ = until;
        return *this;
    }

    // Up to `until` in real time, with `events` at their times.
    HeldPhoneStream &stream(double until, const QJsonArray &events = {})
    {
        QJsonArray fromNow;
        for (const QJsonValue &value : events) {
            QJsonObject event = value.toObject();
            event["at"] = event.value("at").toDouble() - now_;
            fromNow.append(event);
        }
        ok_ = ok_ && phone_.stream(until - now_, fromNow) >= 0;
        now_ = until;
        return *this;
    }

    // The connection drops.
    HeldPhoneStream &drop()
    {
        ok_ = ok_ && phone_.command("close").value("ok").toBool();
        return *this;
    }

    // The phone connects again with the same id after `pause`, having counted its samples on
    // meanwhile: what it sends next starts that much later.
    HeldPhoneStream &comeBack(quint16 port, const QString &id, double pause, int rate)
    {
        ok_ = ok_ && phone_.open(port, id, rate);
        const QJsonObject counted{{"at", now_}, {"kind", "gap"}, {"samples", qRound(pause * rate)}};
        return stream(now_ + pause, {counted});
    }

private:
    PhoneEmulator &phone_;
    const QList<int> &statuses_;
    double now_ = 0.0;
    bool ok_ = true;
};

} // namespace snt::test
