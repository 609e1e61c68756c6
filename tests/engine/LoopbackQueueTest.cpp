#include "engine/Complex.h"
#include "engine/tf/LoopbackQueue.h"
#include "engine/tf/MovingWindow.h"
#include "tests/support/TestMain.h"

#include <cmath>

// The loopback resampling queue and the moving-window average, checked against values worked
// out by hand.
class LoopbackQueueTest : public QObject {
    Q_OBJECT
private slots:
    void equalRatesReturnSamplesInOrder()
    {
        LoopbackQueue queue;
        queue.setCapacity(16);
        for (int i = 1; i <= 5; ++i)
            queue.push(float(i));
        for (int i = 1; i <= 5; ++i)
            QCOMPARE(queue.next(1.0), float(i));
        QCOMPARE(queue.size(), std::size_t(0));
        QCOMPARE(queue.next(1.0), 0.0f);  // a dry queue yields silence
    }

    void slowerLoopbackIsInterpolated()
    {
        // 44100 Hz played, 48000 Hz recorded: each input sample advances 0.91875 queue samples.
        LoopbackQueue queue;
        queue.setCapacity(1024);
        for (int i = 0; i < 100; ++i)
            queue.push(float(i) * 2.0f);  // a ramp: interpolation must land on 2 · position
        const double ratio = 44100.0 / 48000.0;
        for (int k = 0; k < 50; ++k) {
            const double position = k * ratio;
            QVERIFY2(std::abs(queue.next(ratio) - 2.0 * position) < 1e-4,
                     qPrintable(QString("input sample %1").arg(k)));
        }
        // 50 reads advanced 45.9375 samples: 45 dropped, phase 0.9375 left.
        QCOMPARE(queue.size(), std::size_t(100 - 45));
        QVERIFY(std::abs(queue.phase() - 0.9375) < 1e-9);
    }

    void overflowDropsOldestAndFollowsPhase()
    {
        LoopbackQueue queue;
        queue.setCapacity(4);
        for (int i = 0; i < 4; ++i)
            queue.push(float(i));
        queue.next(0.5);  // phase 0.5, nothing dropped
        QCOMPARE(queue.size(), std::size_t(4));
        queue.push(4.0f);  // the oldest goes, the phase may not go below 0
        QCOMPARE(queue.size(), std::size_t(4));
        QCOMPARE(queue.phase(), 0.0);
        QCOMPARE(queue.next(1.0), 1.0f);
    }

    void phaseBeyondQueueEmptiesIt()
    {
        LoopbackQueue queue;
        queue.setCapacity(8);
        queue.push(1.0f);
        QCOMPARE(queue.next(2.0), 1.0f);  // two samples were due, one was held: phase 1 left
        queue.push(5.0f);
        queue.push(6.0f);
        QCOMPARE(queue.next(2.0), 6.0f);
        QCOMPARE(queue.size(), std::size_t(0));
        queue.push(7.0f);
        QCOMPARE(queue.next(2.0), 0.0f);  // phase 1 lies beyond the one queued sample
        QCOMPARE(queue.size(), std::size_t(0));
        QCOMPARE(queue.phase(), 0.0);
    }

    void movingWindowMeans_data()
    {
        QTest::addColumn<int>("depth");
        QTest::addColumn<QList<float>>("inputs");
        QTest::addColumn<QList<float>>("means");
        QTest::newRow("depth 4") << 4 << QList<float>{1, 2, 3, 4, 5, 6}
                                 << QList<float>{1, 1.5f, 2, 2.5f, 3.5f, 4.5f};
        QTest::newRow("depth 1") << 1 << QList<float>{3, 7, -2} << QList<float>{3, 7, -2};
    }

    void movingWindowMeans()
    {
        QFETCH(int, depth);
        QFETCH(QList<float>, inputs);
        QFETCH(QList<float>, means);
        MovingWindow<float> window;
        window.resize(uint32_t(depth), 2);
        for (qsizetype t = 0; t < inputs.size(); ++t) {
            QCOMPARE(window.push(0, inputs[t]), means[t]);
            QCOMPARE(window.push(1, -inputs[t]), -means[t]);
            window.advance();
        }
        window.clear();
        QCOMPARE(window.push(0, 8.0f), 8.0f);
    }

    void movingWindowOfComplex()
    {
        MovingWindow<Complex> window;
        window.resize(2, 1);
        window.push(0, Complex(1.0f, 0.0f));
        window.advance();
        const Complex mean = window.push(0, Complex(0.0f, 1.0f));
        QCOMPARE(mean.re, 0.5f);
        QCOMPARE(mean.im, 0.5f);
    }
};

SNT_TEST_MAIN(LoopbackQueueTest)
#include "LoopbackQueueTest.moc"
