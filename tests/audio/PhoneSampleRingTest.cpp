#include "audio/PhoneSampleRing.h"
#include "tests/support/TestMain.h"

#include <QObject>
#include <cmath>
#include <limits>
#include <numeric>

using audio::PhoneSampleRing;

namespace {

// Samples 0, 1, 2, ... starting at `first`, so every stored value names its own index.
QList<float> ramp(qint64 count, float first = 0.0f)
{
    QList<float> values(count);
    std::iota(values.begin(), values.end(), first);
    return values;
}

void append(PhoneSampleRing& ring, const QList<float>& samples, quint64 startIndex)
{
    ring.append(samples.constData(), samples.size(), startIndex);
}

// The ring of the usual gap example: 100 samples at 0, then 100 at 150 (capacity 1000).
PhoneSampleRing ringWithGap()
{
    PhoneSampleRing ring(1000);
    append(ring, ramp(100, 1.0f), 0);
    append(ring, ramp(100, 1001.0f), 150);
    return ring;
}

}  // namespace

class PhoneSampleRingTest : public QObject {
    Q_OBJECT
private slots:
    void readStatus_data();
    void readStatus();
    void gapIsZeroFilled();
    void regressionAndLargeHoleRestart_data();
    void regressionAndLargeHoleRestart();
    void wrapKeepsNewestAndCountsDropped();
    void gapsArePrunedOnceOverwritten();
    void consumeKeepsNewest_data();
    void consumeKeepsNewest();
    void nonFiniteSamplesAreStoredAsZero();
    void capacityChangeClears();
    void resampledReadHandValues_data();
    void resampledReadHandValues();
    void resampledReadStopsAtOutputSize();
    void resampledReadNeedsTwoUnreadSamples_data();
    void resampledReadNeedsTwoUnreadSamples();
    void resampledReadOutOfRangeRatioReadsAtOne_data();
    void resampledReadOutOfRangeRatioReadsAtOne();
};

void PhoneSampleRingTest::readStatus_data()
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

void PhoneSampleRingTest::readStatus()
{
    QFETCH(quint64, start);
    QFETCH(qint64, count);
    QFETCH(int, status);
    const PhoneSampleRing ring = ringWithGap();
    QCOMPARE(int(ring.read(start, count, nullptr)), status);
}

void PhoneSampleRingTest::gapIsZeroFilled()
{
    const PhoneSampleRing ring = ringWithGap();
    QCOMPARE(ring.end(), quint64(250));
    QCOMPARE(ring.gaps().size(), 1);
    QCOMPARE(ring.gaps().first().from, quint64(100));
    QCOMPARE(ring.gaps().first().to, quint64(150));

    QList<float> first(100), second(100);
    QCOMPARE(ring.read(0, 100, first.data()), PhoneSampleRing::Copied);
    QCOMPARE(first, ramp(100, 1.0f));
    QCOMPARE(ring.read(150, 100, second.data()), PhoneSampleRing::Copied);
    QCOMPARE(second, ramp(100, 1001.0f));
    // The zeros are there for stream readers, which do not look at gaps.
    QCOMPARE(ring.available(), qint64(250));
}

void PhoneSampleRingTest::regressionAndLargeHoleRestart_data()
{
    QTest::addColumn<quint64>("nextIndex");

    QTest::newRow("index goes back") << quint64(120);
    QTest::newRow("hole of exactly the capacity") << quint64(200 + 1000);
    QTest::newRow("hole beyond the capacity") << quint64(5000);
}

void PhoneSampleRingTest::regressionAndLargeHoleRestart()
{
    QFETCH(quint64, nextIndex);
    PhoneSampleRing ring(1000);
    append(ring, ramp(200), 0);
    append(ring, ramp(10, 7.0f), nextIndex);

    QCOMPARE(ring.base(), nextIndex);
    QCOMPARE(ring.readIndex(), nextIndex);
    QCOMPARE(ring.end(), nextIndex + 10);
    QVERIFY(ring.gaps().isEmpty());
    // What was kept before is given up, not reported as a gap.
    QCOMPARE(ring.read(nextIndex - 1, 2, nullptr), PhoneSampleRing::Overwritten);
    QList<float> kept(10);
    QCOMPARE(ring.read(nextIndex, 10, kept.data()), PhoneSampleRing::Copied);
    QCOMPARE(kept, ramp(10, 7.0f));
}

void PhoneSampleRingTest::wrapKeepsNewestAndCountsDropped()
{
    PhoneSampleRing ring(8);
    // Chunks of 3 that do not divide the capacity, so the wrap falls inside a chunk.
    for (quint64 start = 0; start < 21; start += 3)
        append(ring, ramp(3, float(start)), start);

    QCOMPARE(ring.end(), quint64(21));
    QCOMPARE(ring.base(), quint64(13));
    QCOMPARE(ring.readIndex(), quint64(13));
    QCOMPARE(ring.dropped(), quint64(13));  // never read, all lost to overwriting
    QList<float> kept(8);
    QCOMPARE(ring.read(13, 8, kept.data()), PhoneSampleRing::Copied);
    QCOMPARE(kept, ramp(8, 13.0f));
    QCOMPARE(ring.read(12, 2, nullptr), PhoneSampleRing::Overwritten);

    // Samples already read are not counted when they are overwritten.
    double phase = 0.0;
    QList<float> out(8);
    QCOMPARE(ring.readResampled(out.data(), 5, 1.0, &phase), qint64(5));
    QCOMPARE(ring.readIndex(), quint64(18));
    append(ring, ramp(6, 21.0f), 21);
    QCOMPARE(ring.base(), quint64(19));
    QCOMPARE(ring.dropped(), quint64(13 + 1));
}

void PhoneSampleRingTest::gapsArePrunedOnceOverwritten()
{
    PhoneSampleRing ring(100);
    append(ring, ramp(10), 0);
    append(ring, ramp(10), 20);  // gap [10, 20)
    append(ring, ramp(10), 40);  // gap [30, 40)
    QCOMPARE(ring.gaps().size(), 2);

    append(ring, ramp(75), 50);  // end 125, base 25: the first gap is gone
    QCOMPARE(ring.base(), quint64(25));
    QCOMPARE(ring.gaps().size(), 1);
    QCOMPARE(ring.gaps().first().from, quint64(30));
    QCOMPARE(ring.read(25, 5, nullptr), PhoneSampleRing::Copied);
    QCOMPARE(ring.read(25, 6, nullptr), PhoneSampleRing::CrossesGap);
}

void PhoneSampleRingTest::consumeKeepsNewest_data()
{
    QTest::addColumn<qint64>("keep");
    QTest::addColumn<quint64>("readIndex");
    QTest::addColumn<quint64>("dropped");

    QTest::newRow("keep 30") << qint64(30) << quint64(70) << quint64(70);
    QTest::newRow("keep none") << qint64(0) << quint64(100) << quint64(100);
    QTest::newRow("negative keeps none") << qint64(-4) << quint64(100) << quint64(100);
    QTest::newRow("keep more than there is") << qint64(500) << quint64(0) << quint64(0);
}

void PhoneSampleRingTest::consumeKeepsNewest()
{
    QFETCH(qint64, keep);
    QFETCH(quint64, readIndex);
    QFETCH(quint64, dropped);
    PhoneSampleRing ring(1000);
    append(ring, ramp(100), 0);
    ring.consume(keep);
    QCOMPARE(ring.readIndex(), readIndex);
    QCOMPARE(ring.dropped(), dropped);
    QCOMPARE(ring.available(), qint64(100 - readIndex));
}

void PhoneSampleRingTest::nonFiniteSamplesAreStoredAsZero()
{
    PhoneSampleRing ring(16);
    const float inf = std::numeric_limits<float>::infinity();
    const QList<float> samples{0.5f, std::numeric_limits<float>::quiet_NaN(), inf, -inf, -0.25f};
    append(ring, samples, 3);
    QList<float> stored(5);
    QCOMPARE(ring.read(3, 5, stored.data()), PhoneSampleRing::Copied);
    QCOMPARE(stored, (QList<float>{0.5f, 0.0f, 0.0f, 0.0f, -0.25f}));
}

void PhoneSampleRingTest::capacityChangeClears()
{
    PhoneSampleRing ring(4);
    append(ring, ramp(10), 0);
    append(ring, ramp(2), 11);
    QVERIFY(ring.dropped() > 0);
    ring.setCapacity(0);
    QCOMPARE(ring.capacity(), qint64(1));
    QVERIFY(!ring.started());
    QCOMPARE(ring.end(), quint64(0));
    QCOMPARE(ring.dropped(), quint64(0));
    QVERIFY(ring.gaps().isEmpty());
    QCOMPARE(ring.read(0, 1, nullptr), PhoneSampleRing::NotYetWritten);
}

void PhoneSampleRingTest::resampledReadHandValues_data()
{
    // The ring holds s(j) = j * j for j = 0 .. 5. Expected values worked out by hand:
    // out[i] = s(k) + (p - k) * (s(k + 1) - s(k)) with p = i * ratio + phase, k = floor(p),
    // while k + 1 <= 5.
    QTest::addColumn<double>("ratio");
    QTest::addColumn<double>("phase");
    QTest::addColumn<QList<float>>("expected");
    QTest::addColumn<quint64>("readIndex");
    QTest::addColumn<double>("phaseAfter");

    // p = 0.25, 1.75, 3.25, 4.75; q = 6.25.
    QTest::newRow("ratio 1.5 phase 0.25")
        << 1.5 << 0.25 << QList<float>{0.25f, 3.25f, 10.75f, 22.75f} << quint64(6) << 0.25;
    // p = 0, 0.5, ..., 4.5; q = 5.
    QTest::newRow("ratio 0.5")
        << 0.5 << 0.0 << QList<float>{0.0f, 0.5f, 1.0f, 2.5f, 4.0f, 6.5f, 9.0f, 12.5f, 16.0f, 20.5f}
        << quint64(5) << 0.0;
    // p = 0, 2, 4; q = 6.
    QTest::newRow("ratio 2") << 2.0 << 0.0 << QList<float>{0.0f, 4.0f, 16.0f} << quint64(6) << 0.0;
    // A phase that is not a number or negative starts at 0.
    QTest::newRow("NaN phase") << 2.0 << std::numeric_limits<double>::quiet_NaN()
                               << QList<float>{0.0f, 4.0f, 16.0f} << quint64(6) << 0.0;
    QTest::newRow("negative phase")
        << 2.0 << -0.5 << QList<float>{0.0f, 4.0f, 16.0f} << quint64(6) << 0.0;
    // A phase at the end of the data: p = 4.9 only.
    QTest::newRow("phase near the end") << 1.0 << 4.9 << QList<float>{16.0f + 0.9f * 9.0f}
                                        << quint64(5) << 0.9;
}

void PhoneSampleRingTest::resampledReadHandValues()
{
    QFETCH(double, ratio);
    QFETCH(double, phase);
    QFETCH(QList<float>, expected);
    QFETCH(quint64, readIndex);
    QFETCH(double, phaseAfter);

    PhoneSampleRing ring(64);
    append(ring, {0.0f, 1.0f, 4.0f, 9.0f, 16.0f, 25.0f}, 0);
    QList<float> out(32, -1.0f);
    const qint64 written = ring.readResampled(out.data(), out.size(), ratio, &phase);
    QCOMPARE(written, qint64(expected.size()));
    for (qsizetype i = 0; i < expected.size(); ++i)
        QCOMPARE(out[i], expected[i]);
    QCOMPARE(out[expected.size()], -1.0f);
    QCOMPARE(ring.readIndex(), readIndex);
    QVERIFY(std::abs(phase - phaseAfter) < 1e-12);
}

void PhoneSampleRingTest::resampledReadStopsAtOutputSize()
{
    // Reading in small pieces gives the same samples as one long read, and never writes past
    // the caller's buffer.
    PhoneSampleRing ring(64);
    append(ring, {0.0f, 1.0f, 4.0f, 9.0f, 16.0f, 25.0f}, 0);
    double phase = 0.25;
    float out[3] = {-1.0f, -1.0f, -1.0f};
    QCOMPARE(ring.readResampled(out, 2, 1.5, &phase), qint64(2));
    QCOMPARE(out[0], 0.25f);
    QCOMPARE(out[1], 3.25f);
    QCOMPARE(out[2], -1.0f);
    QCOMPARE(ring.readIndex(), quint64(3));  // q = 3.25
    QCOMPARE(phase, 0.25);

    QCOMPARE(ring.readResampled(out, 3, 1.5, &phase), qint64(2));
    QCOMPARE(out[0], 10.75f);
    QCOMPARE(out[1], 22.75f);
    QCOMPARE(out[2], -1.0f);
    QCOMPARE(ring.readIndex(), quint64(6));
}

void PhoneSampleRingTest::resampledReadNeedsTwoUnreadSamples_data()
{
    QTest::addColumn<int>("unread");
    QTest::newRow("nothing unread") << 0;
    QTest::newRow("one unread") << 1;
}

void PhoneSampleRingTest::resampledReadNeedsTwoUnreadSamples()
{
    QFETCH(int, unread);
    PhoneSampleRing ring(64);
    append(ring, ramp(10), 0);
    ring.consume(unread);
    double phase = 0.5;
    float out[4] = {-1.0f, -1.0f, -1.0f, -1.0f};
    QCOMPARE(ring.readResampled(out, 4, 1.0, &phase), qint64(0));
    QCOMPARE(out[0], -1.0f);
    QCOMPARE(ring.available(), qint64(unread));
    QCOMPARE(phase, 0.5);
    QCOMPARE(ring.readResampled(nullptr, 4, 1.0, &phase), qint64(0));
}

void PhoneSampleRingTest::resampledReadOutOfRangeRatioReadsAtOne_data()
{
    QTest::addColumn<double>("ratio");
    QTest::newRow("3.0") << 3.0;
    QTest::newRow("0.4") << 0.4;
    QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("infinite") << std::numeric_limits<double>::infinity();
}

void PhoneSampleRingTest::resampledReadOutOfRangeRatioReadsAtOne()
{
    QFETCH(double, ratio);
    PhoneSampleRing ring(64);
    append(ring, ramp(10), 0);
    double phase = 0.0;
    QList<float> out(20);
    // At ratio 1 the last output needs sample k + 1, so 9 of the 10 samples come out.
    QCOMPARE(ring.readResampled(out.data(), out.size(), ratio, &phase), qint64(9));
    QCOMPARE(out.first(9), ramp(9));
    QCOMPARE(ring.readIndex(), quint64(9));
}

SNT_TEST_MAIN(PhoneSampleRingTest)
#include "PhoneSampleRingTest.moc"
