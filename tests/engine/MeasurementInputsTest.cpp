#include "engine/tf/MeasurementInputs.h"
#include "common/SpscRing.h"
#include "engine/tf/WorkerThread.h"
#include "tests/support/TestMain.h"

#include <atomic>
#include <thread>
#include <vector>

// The hand-overs between the audio threads and the measurement's tick, run with real threads
// against plain counting: everything written arrives once, in order, with every loss at its
// place. Built in the ThreadSanitizer tree too, where a data race fails the run.
class MeasurementInputsTest : public QObject
{
    Q_OBJECT

    using Pair = MeasurementInputs::Pair;
    // What the consumer saw: the pairs' data values, and a loss as -1000 - frames.
    using Taken = std::vector<double>;

    static void take(MeasurementInputs &inputs, Taken &taken)
    {
        inputs.takePairs([&taken](const Pair &p) { taken.push_back(p.data); },
                         [&taken](int64_t frames) { taken.push_back(-1000.0 - double(frames)); });
    }

private slots:
    // A producer in blocks of every size against a consumer that keeps taking: all of it, in
    // order, and never more than the ring holds.
    void ringCarriesEverythingInOrder()
    {
        SpscRing<uint32_t> ring(1000);
        QCOMPARE(ring.capacity(), std::size_t(1024));
        constexpr uint32_t total = 200000;
        std::thread producer([&ring] {
            std::vector<uint32_t> block(700);
            for (uint32_t next = 0, size = 1; next < total; size = size % 700 + 1) {
                const uint32_t n = std::min(size, total - next);
                for (uint32_t i = 0; i < n; ++i)
                    block[i] = next + i;
                for (std::size_t stored = 0; stored < n;)
                    stored += ring.push(block.data() + stored, n - stored);
                next += n;
            }
        });
        uint32_t expected = 0;
        bool inOrder = true;
        while (expected < total) {
            QVERIFY(ring.available() <= ring.capacity());
            ring.consume([&](const uint32_t *items, std::size_t n) {
                for (std::size_t i = 0; i < n; ++i)
                    inOrder = inOrder && items[i] == expected++;
            });
        }
        producer.join();
        QVERIFY(inOrder);
        QCOMPARE(ring.available(), std::size_t(0));
    }

    // A full ring keeps what it holds: the producer learns what did not fit.
    void fullRingsKeepWhatTheyHoldAndCountTheRest()
    {
        SpscRing<int> ring(4);
        const int items[] = {1, 2, 3, 4, 5, 6};
        QCOMPARE(ring.push(items, 6), std::size_t(4));
        QVERIFY(!ring.push(7));
        QCOMPARE(*ring.front(), 1);

        MeasurementInputs inputs(8);
        inputs.open();
        const float data[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
        inputs.writePairs(data, data, 12); // 4 do not fit
        Taken taken;
        take(inputs, taken);
        inputs.writePairs(data + 10, data + 10, 2);
        take(inputs, taken);
        QCOMPARE(taken, (Taken{1, 2, 3, 4, 5, 6, 7, 8, -1004, 11, 12}));
        const float looped[] = {0, 1, 2, 3, 4, 5, 6, 7, 8};
        inputs.writeLoopback(looped, 5);
        inputs.writeLoopback(looped + 5, 4); // 1 does not fit
        std::vector<float> loopback;
        QVERIFY(!inputs.takeLoopback([&loopback](float s) { loopback.push_back(s); }));
        QCOMPARE(loopback, (std::vector<float>{0, 1, 2, 3, 4, 5, 6, 7}));
        QVERIFY(inputs.takeLoopback([](float) {})); // nothing lost since
    }

    // A capture thread writing blocks and the losses between them, a render thread writing
    // loopback samples, the tick taking both meanwhile; the rings hold it all.
    void inputsCarryPairsLossesAndLoopbackAcrossThreads()
    {
        constexpr int blocks = 2000, frames = 480;
        MeasurementInputs inputs(blocks * frames);
        inputs.open();
        std::atomic<int> running{2};
        std::thread capture([&] {
            std::vector<float> data(frames), reference(frames);
            for (int b = 0; b < blocks; ++b) {
                if (b % 100 == 99)
                    inputs.writeLoss(b);
                for (int f = 0; f < frames; ++f) {
                    data[f] = float(b * frames + f);
                    reference[f] = -data[f];
                }
                inputs.writePairs(data.data(), reference.data(), frames);
            }
            --running;
        });
        std::thread render([&] {
            // Blocks of another length than the capture's.
            std::vector<float> block(441);
            for (int n = 0; n < blocks * frames; n += int(block.size())) {
                const int count = std::min(int(block.size()), blocks * frames - n);
                for (int i = 0; i < count; ++i)
                    block[size_t(i)] = float(n + i);
                inputs.writeLoopback(block.data(), size_t(count));
            }
            --running;
        });
        Taken taken;
        std::vector<float> loopback;
        const auto takeAll = [&] {
            take(inputs, taken);
            inputs.takeLoopback([&loopback](float s) { loopback.push_back(s); });
        };
        while (running > 0)
            takeAll();
        capture.join();
        render.join();
        takeAll();
        // Every pair once and in order, each loss right before its block.
        QCOMPARE(taken.size(), std::size_t(blocks * frames + blocks / 100));
        double next = 0;
        for (std::size_t i = 0; i < taken.size(); ++i) {
            if (taken[i] <= -1000)
                QCOMPARE(taken[i + 1], (-1000 - taken[i]) * frames);
            else
                QCOMPARE(taken[i], next++);
        }
        QCOMPARE(loopback.size(), std::size_t(blocks * frames));
        QVERIFY(std::is_sorted(loopback.begin(), loopback.end()));
    }

    // Closing waits for the writers inside and keeps the later ones out, until it opens again.
    void closedInputsTakeNothing()
    {
        MeasurementInputs inputs(1 << 16);
        inputs.open();
        std::atomic<bool> running{true};
        std::atomic<long> written{0};
        std::thread render([&] {
            const float one = 1.0f;
            while (running) {
                inputs.writeLoopback(&one, 1);
                ++written;
            }
        });
        QTRY_VERIFY(written > 1000);
        inputs.close();
        long count = 0;
        inputs.takeLoopback([&count](float) { ++count; });
        const long afterClose = written;
        QTRY_VERIFY(written > afterClose + 1000);
        long later = 0;
        inputs.takeLoopback([&later](float) { ++later; });
        running = false;
        render.join();
        QVERIFY(count > 0);
        QCOMPARE(later, 0L);
    }

    // Two capture threads at once (an old stream still finishing while a new one starts): no
    // pair is torn, and what one of them could not write is reported as a loss.
    void twoCaptureWritersNeverMix()
    {
        MeasurementInputs inputs(1 << 20);
        inputs.open();
        const auto writer = [&inputs](float sign) {
            std::vector<float> data(64, sign), reference(64, -sign);
            for (int b = 0; b < 5000; ++b)
                inputs.writePairs(data.data(), reference.data(), data.size());
        };
        std::thread a(writer, 1.0f), b(writer, 2.0f);
        a.join();
        b.join();
        std::size_t pairs = 0, torn = 0, losses = 0;
        inputs.takePairs(
                [&](const Pair &p) {
                    ++pairs;
                    torn += p.data != -p.reference;
                },
                [&](int64_t frames) { losses += frames == MeasurementInputs::unknownLoss; });
        QCOMPARE(torn, std::size_t(0));
        QVERIFY(pairs == 2 * 5000 * 64 || losses > 0);
    }

    // The tick's helper: each job runs once, and what it wrote is seen after the wait.
    void workerThreadRunsEachJobOnce()
    {
        WorkerThread worker;
        struct Count
        {
            long value = 0;
        } count;
        for (int i = 0; i < 2000; ++i) {
            worker.start([](void *context) { ++static_cast<Count *>(context)->value; }, &count);
            worker.wait();
        }
        QCOMPARE(count.value, 2000L);
    }
};

SNT_TEST_MAIN(MeasurementInputsTest)
#include "MeasurementInputsTest.moc"
