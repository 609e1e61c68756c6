#include "audio/phone/PhoneSampleRing.h"
#include "tests/support/TestMain.h"

#include <QObject>
#include <cmath>
#include <limits>
#include <numeric>

using audio::PhoneSampleRing;

namespace {

// Samples first, first + 1, ...: with first = the start index every value names its own index.
QList<float> ramp(qint64 count, float first = 0.0f)
{
    QList<float> values(count);
    std::iota(values.begin(), values.end(), first);
    return values;
}

void append(PhoneSampleRing &ring, const QList<float> &samples, quint64 startIndex)
{
    ring.append(samples.constData(), samples.size(), startIndex);
}

} // namespace

class PhoneSampleRingTest : public QObject
{
    Q_OBJECT
private slots:
    void readByIndex_data()
    {
        QTest::addColumn<quint64>("start");
        QTest::addColumn<qint64>("count");
        QTest::addColumn<int>("status");
        QTest::newRow("before the gap") << quint64(0) << qint64(100) << 0;
        QTest::newRow("across the gap start") << quint64(90) << qint64(20) << 3;
        QTest::newRow("inside the gap") << quint64(120) << qint64(5) << 3;
        QTest::newRow("after the gap") << quint64(150) << qint64(100) << 0;
        QTest::newRow("past the end") << quint64(240) << qint64(20) << 1;
        QTest::newRow("starts beyond the end") << quint64(251) << qint64(1) << 1;
        QTest::newRow("empty count") << quint64(10) << qint64(0) << 1;
        QTest::newRow("negative count") << quint64(10) << qint64(-5) << 1;
        QTest::newRow("huge count") << quint64(10) << std::numeric_limits<qint64>::max() << 1;
    }

    // 100 samples at 0, then 100 at 150: the hole [100, 150) is a gap of zeros.
    void readByIndex()
    {
        QFETCH(quint64, start);
        QFETCH(qint64, count);
        QFETCH(int, status);
        PhoneSampleRing ring(1000);
        append(ring, ramp(100, 0.0f), 0);
        append(ring, ramp(100, 150.0f), 150);
        QList<float> out(std::clamp<qint64>(count, 0, 100), -1.0f);
        QCOMPARE(int(ring.read(start, count, out.data())), status);
        QCOMPARE(out, status == 0 ? ramp(count, float(start)) : QList<float>(out.size(), -1.0f));
        QCOMPARE(ring.available(), qint64(250)); // stream readers get the zeros
        QCOMPARE(ring.gaps().size(), 1);
    }

    void restartWhenIndexGoesBackOrJumps_data()
    {
        QTest::addColumn<quint64>("nextIndex");
        QTest::newRow("index goes back") << quint64(120);
        QTest::newRow("hole of exactly the capacity") << quint64(200 + 1000);
        QTest::newRow("hole beyond the capacity") << quint64(5000);
    }

    void restartWhenIndexGoesBackOrJumps()
    {
        QFETCH(quint64, nextIndex);
        PhoneSampleRing ring(1000);
        append(ring, ramp(200), 0);
        append(ring, ramp(10, float(nextIndex)), nextIndex);
        QCOMPARE(ring.base(), nextIndex);
        QCOMPARE(ring.readIndex(), nextIndex);
        QVERIFY(ring.gaps().isEmpty()); // what was kept is given up, not reported as a gap
        QCOMPARE(ring.read(nextIndex - 1, 2, nullptr), PhoneSampleRing::Overwritten);
        QList<float> kept(10);
        QCOMPARE(ring.read(nextIndex, 10, kept.data()), PhoneSampleRing::Copied);
        QCOMPARE(kept, ramp(10, float(nextIndex)));
    }

    void wrapKeepsNewestAndCountsDropped()
    {
        PhoneSampleRing ring(8);
        // Chunks of 3 that do not divide the capacity, so the wrap falls inside a chunk.
        for (quint64 start = 0; start < 21; start += 3)
            append(ring, ramp(3, float(start)), start);
        QCOMPARE(ring.base(), quint64(13));
        QCOMPARE(ring.readIndex(), quint64(13));
        QCOMPARE(ring.dropped(), quint64(13)); // never read, all lost to overwriting
        QList<float> kept(8);
        QCOMPARE(ring.read(13, 8, kept.data()), PhoneSampleRing::Copied);
        QCOMPARE(kept, ramp(8, 13.0f));
        QCOMPARE(ring.read(12, 2, nullptr), PhoneSampleRing::Overwritten);

        // Samples already read are not counted when they are overwritten.
        double phase = 0.0;
        QCOMPARE(ring.readResampled(kept.data(), 5, 1.0, &phase), qint64(5));
        append(ring, ramp(6, 21.0f), 21);
        QCOMPARE(ring.base(), quint64(19));
        QCOMPARE(ring.dropped(), quint64(13 + 1));
    }

    void gapsArePrunedOnceOverwritten()
    {
        PhoneSampleRing ring(100);
        append(ring, ramp(10), 0);
        append(ring, ramp(10), 20); // gap [10, 20)
        append(ring, ramp(10), 40); // gap [30, 40)
        append(ring, ramp(75), 50); // end 125, base 25: the first gap is gone
        QCOMPARE(ring.gaps().size(), 1);
        QCOMPARE(ring.read(25, 5, nullptr), PhoneSampleRing::Copied);
        QCOMPARE(ring.read(25, 6, nullptr), PhoneSampleRing::CrossesGap);
    }

    // Skipping keeps at most max(keep, 0) of the newest unread samples; the rest are dropped.
    void consumeKeepsNewest()
    {
        for (const auto &[keep, dropped] : {std::pair{30, 70}, {0, 100}, {-4, 100}, {500, 0}}) {
            PhoneSampleRing ring(1000);
            append(ring, ramp(100), 0);
            ring.consume(keep);
            QCOMPARE(ring.readIndex(), quint64(dropped));
            QCOMPARE(ring.dropped(), quint64(dropped));
            QCOMPARE(ring.available(), qint64(100 - dropped));
        }
    }

    // A broken sample must not poison every spectrum computed over it later.
    void nonFiniteSamplesAreStoredAsZero()
    {
        PhoneSampleRing ring(16);
        const float inf = std::numeric_limits<float>::infinity();
        append(ring, {0.5f, std::numeric_limits<float>::quiet_NaN(), inf, -inf, -0.25f}, 3);
        QList<float> stored(5);
        QCOMPARE(ring.read(3, 5, stored.data()), PhoneSampleRing::Copied);
        QCOMPARE(stored, (QList<float>{0.5f, 0.0f, 0.0f, 0.0f, -0.25f}));
    }

    void resampledRead_data()
    {
        // The ring holds s(j) = j * j for j = 0 .. 5. Expected values worked out by hand:
        // out[i] = s(k) + (p - k) * (s(k + 1) - s(k)) with p = i * ratio + phase, k = floor(p),
        // while k + 1 <= 5 (or k + 1 < unread samples) and i < maxOut.
        QTest::addColumn<double>("ratio");
        QTest::addColumn<double>("phase");
        QTest::addColumn<qint64>("maxOut");
        QTest::addColumn<qint64>("unread"); // left unread before the read
        QTest::addColumn<QList<float>>("expected");
        QTest::addColumn<quint64>("readIndex");
        QTest::addColumn<double>("phaseAfter");
        const auto row
                = [](const char *name, double ratio, double phase, qint64 maxOut, qint64 unread,
                     const QList<float> &expected, quint64 readIndex, double phaseAfter) {
                      QTest::newRow(name) << ratio << phase << maxOut << unread << expected
                                          << readIndex << phaseAfter;
                  };
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();
        // p = 0.25, 1.75, 3.25, 4.75; q = 6.25 (3.25 when stopped after two samples).
        row("ratio 1.5 phase 0.25", 1.5, 0.25, 32, 6, {0.25f, 3.25f, 10.75f, 22.75f}, 6, 0.25);
        row("stops at maxOut", 1.5, 0.25, 2, 6, {0.25f, 3.25f}, 3, 0.25);
        row("ratio 0.5", 0.5, 0, 32, 6, {0, 0.5, 1, 2.5, 4, 6.5, 9, 12.5, 16, 20.5}, 5, 0);
        row("ratio 2", 2, 0, 32, 6, {0, 4, 16}, 6, 0);
        row("NaN phase starts at 0", 2, nan, 32, 6, {0, 4, 16}, 6, 0);
        row("negative phase starts at 0", 2, -0.5, 32, 6, {0, 4, 16}, 6, 0);
        row("phase near the end", 1, 4.9, 32, 6, {24.1f}, 5, 0.9); // 16 + 0.9 * 9
        // With fewer than two unread samples nothing can be interpolated.
        row("one unread", 1, 0.5, 32, 1, {}, 5, 0.5);
        row("nothing unread", 1, 0.5, 32, 0, {}, 6, 0.5);
        // A ratio outside 0.5 .. 2 reads at 1.
        row("ratio 3", 3, 0, 32, 6, {0, 1, 4, 9, 16}, 5, 0);
        row("ratio 0.4", 0.4, 0, 32, 6, {0, 1, 4, 9, 16}, 5, 0);
        row("ratio NaN", nan, 0, 32, 6, {0, 1, 4, 9, 16}, 5, 0);
        row("ratio infinite", inf, 0, 32, 6, {0, 1, 4, 9, 16}, 5, 0);
    }

    void resampledRead()
    {
        QFETCH(double, ratio);
        QFETCH(double, phase);
        QFETCH(qint64, maxOut);
        QFETCH(qint64, unread);
        QFETCH(QList<float>, expected);
        QFETCH(quint64, readIndex);
        QFETCH(double, phaseAfter);
        PhoneSampleRing ring(64);
        append(ring, {0.0f, 1.0f, 4.0f, 9.0f, 16.0f, 25.0f}, 0);
        ring.consume(unread);
        QList<float> out(32, -1.0f);
        QCOMPARE(ring.readResampled(out.data(), maxOut, ratio, &phase), qint64(expected.size()));
        QCOMPARE(out.first(expected.size()), expected);
        QCOMPARE(out[expected.size()], -1.0f); // nothing written past the samples produced
        QCOMPARE(ring.readIndex(), readIndex);
        QVERIFY(std::abs(phase - phaseAfter) < 1e-12);
        QCOMPARE(ring.readResampled(nullptr, maxOut, ratio, &phase), qint64(0));
    }
};

SNT_TEST_MAIN(PhoneSampleRingTest)
#include "PhoneSampleRingTest.moc"
