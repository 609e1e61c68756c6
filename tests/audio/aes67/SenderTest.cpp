#include "audio/aes67/FrameRing.h"
#include "audio/aes67/Sender.h"
#include "tests/support/TestMain.h"

#include <QSignalSpy>
#include <QThread>
#include <atomic>
#include <memory>
#include <random>
#include <vector>

using audio::aes67::FrameRing;
using audio::aes67::Sender;

namespace {

// An interleaved block whose sample (frame i, channel c) is first + i + c / 100.
std::vector<float> numberedBlock(qint64 frames, int channels, float first)
{
    std::vector<float> block(size_t(frames * channels));
    for (qint64 i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            block[size_t(i * channels + c)] = first + float(i) + float(c) / 100.0f;
    return block;
}

std::vector<float> readAll(FrameRing& ring)
{
    std::vector<float> out(size_t(FrameRing::capacity * FrameRing::slotsPerFrame));
    const qint64 n = ring.read(out.data(), FrameRing::capacity);
    out.resize(size_t(n * FrameRing::slotsPerFrame));
    return out;
}

}  // namespace

class SenderTest : public QObject {
    Q_OBJECT

private:
    Sender* sender = nullptr;

    void drain() { readAll(sender->ring()); }

private slots:
    void initTestCase()
    {
        // The generator thread is the first to ask; the sender must still belong to the main
        // thread, where its signals and timers live.
        Sender* fromWorker = nullptr;
        QThread* worker = QThread::create([&fromWorker] { fromWorker = Sender::instance(); });
        worker->start();
        QVERIFY(worker->wait(5000));
        delete worker;
        QVERIFY(fromWorker);
        QCOMPARE(fromWorker, Sender::instance());
        QCOMPARE(fromWorker->thread(), QCoreApplication::instance()->thread());
        sender = fromWorker;
    }

    void freshSenderIsStoppedAndEmpty()
    {
        QVERIFY(!sender->isRunning());
        QCOMPARE(sender->ring().available(), 0);
        QCOMPARE(sender->ring().channelCount(), 2);
        QCOMPARE(sender->droppedFrames(), 0);
        QVERIFY(!sender->rateMismatch());
    }

    void pushWhileStoppedChangesNothing()
    {
        sender->setRunning(false);
        const auto block = numberedBlock(20000, 2, 0);
        sender->push(block.data(), 20000, 2, 48000);
        sender->push(block.data(), 100, 2, 44100);
        QCOMPARE(sender->ring().writeCount(), 0);
        QCOMPARE(sender->droppedFrames(), 0);
        QVERIFY(!sender->rateMismatch());
    }

    void runningSwitchSignalsChangesOnly()
    {
        QSignalSpy spy(sender, &Sender::runningChanged);
        sender->setRunning(true);
        sender->setRunning(true);
        sender->setRunning(false);
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(0).at(0).toBool(), true);
        QCOMPARE(spy.at(1).at(0).toBool(), false);
    }

    void invalidBlocksAreIgnored()
    {
        sender->setRunning(true);
        const qint64 before = sender->ring().writeCount();
        const auto block = numberedBlock(10, 2, 0);
        sender->push(nullptr, 10, 2, 48000);
        sender->push(block.data(), 0, 2, 48000);
        sender->push(block.data(), -5, 2, 48000);
        sender->push(block.data(), 10, 0, 48000);
        QCOMPARE(sender->ring().writeCount(), before);
        QCOMPARE(sender->droppedFrames(), 0);
        QVERIFY(!sender->rateMismatch());
    }

    void otherRateIsDroppedAndFlagged()
    {
        sender->setRunning(true);
        const qint64 before = sender->ring().writeCount();
        const auto block = numberedBlock(480, 2, 0);
        sender->push(block.data(), 480, 2, 44100);
        QVERIFY(sender->rateMismatch());
        QCOMPARE(sender->ring().writeCount(), before);
        QCOMPARE(sender->droppedFrames(), 0);
    }

    void longBlockKeepsItsTail()
    {
        sender->setRunning(true);
        drain();
        const qint64 dropped = sender->droppedFrames();
        const auto block = numberedBlock(10000, 2, 0);
        sender->push(block.data(), 10000, 2, 48000);
        QCOMPARE(sender->droppedFrames() - dropped, 1808);
        QCOMPARE(sender->ring().available(), 8192);
        const auto frames = readAll(sender->ring());
        QCOMPARE(qsizetype(frames.size()), qsizetype(8192 * 8));
        QCOMPARE(frames[0], 1808.0f);
        QCOMPARE(frames[1], 1808.01f);
        QCOMPARE(frames[8191 * 8], 9999.0f);
        QCOMPARE(frames[8191 * 8 + 1], 9999.01f);
    }

    void fullRingDropsTheOldestFrames()
    {
        sender->setRunning(true);
        drain();
        const qint64 dropped = sender->droppedFrames();
        const auto waiting = numberedBlock(8000, 2, 0);
        sender->push(waiting.data(), 8000, 2, 48000);
        const qint64 readBefore = sender->ring().readCount();
        const auto block = numberedBlock(500, 2, 8000);
        sender->push(block.data(), 500, 2, 48000);
        QCOMPARE(sender->ring().readCount() - readBefore, 308);
        QCOMPARE(sender->droppedFrames() - dropped, 308);
        const auto frames = readAll(sender->ring());
        QCOMPARE(qsizetype(frames.size()), qsizetype(8192 * 8));
        QCOMPARE(frames[0], 308.0f);  // the oldest survivor
        QCOMPARE(frames[8191 * 8], 8499.0f);
    }

    void channelsPerFrame_data()
    {
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("kept");
        QTest::newRow("mono") << 1 << 1;
        QTest::newRow("stereo") << 2 << 2;
        QTest::newRow("eight") << 8 << 8;
        QTest::newRow("twelve") << 12 << 8;
    }

    void channelsPerFrame()
    {
        QFETCH(int, channels);
        QFETCH(int, kept);
        FrameRing ring;  // fresh slots, so untouched slots are still 0
        const auto block = numberedBlock(4, channels, 1);
        QCOMPARE(ring.write(block.data(), 4, channels), 0);
        QCOMPARE(ring.channelCount(), kept);
        const auto frames = readAll(ring);
        QCOMPARE(qsizetype(frames.size()), qsizetype(4 * 8));
        for (int i = 0; i < 4; ++i)
            for (int c = 0; c < 8; ++c)
                QCOMPARE(frames[size_t(i * 8 + c)],
                         c < kept ? 1.0f + float(i) + float(c) / 100.0f : 0.0f);
    }

    void narrowBlockKeepsTheOtherSlots()
    {
        // Slots beyond a block's channel count keep whatever the ring held there.
        FrameRing ring;
        const auto wide = numberedBlock(FrameRing::capacity, 8, 0);
        ring.write(wide.data(), FrameRing::capacity, 8);
        readAll(ring);
        const auto narrow = numberedBlock(1, 2, -1);  // -1, -0.99
        ring.write(narrow.data(), 1, 2);
        const auto frames = readAll(ring);
        QCOMPARE(frames[0], -1.0f);
        QCOMPARE(frames[1], -0.99f);
        QCOMPARE(frames[2], 0.02f);  // frame 0 of the wide block, channel 2
        QCOMPARE(ring.channelCount(), 2);
    }

    void frameAfter8191WrapsToSlot0()
    {
        FrameRing ring;
        const auto first = numberedBlock(8191, 1, 0);
        ring.write(first.data(), 8191, 1);
        QCOMPARE(readAll(ring).size(), size_t(8191 * 8));
        const auto next = numberedBlock(2, 1, 100000);
        ring.write(next.data(), 2, 1);  // frames 8191 and 8192: slots 8191 and 0
        const auto frames = readAll(ring);
        QCOMPARE(frames.size(), size_t(2 * 8));
        QCOMPARE(frames[0], 100000.0f);
        QCOMPARE(frames[8], 100001.0f);
        QCOMPARE(ring.writeCount(), 8193);
        QCOMPARE(ring.readCount(), 8193);
    }

    void twoPushingThreadsNeverTearTheRing()
    {
        // Two generators playing at once: every frame that reaches the ring is whole, and what
        // is not kept is counted.
        sender->setRunning(true);
        drain();
        const qint64 written = sender->ring().writeCount();
        const qint64 dropped = sender->droppedFrames();
        constexpr int blocks = 2000;
        constexpr qint64 frames = 100;
        const auto pushAll = [this](float value) {
            const std::vector<float> block(size_t(frames * 8), value);
            for (int i = 0; i < blocks; ++i)
                sender->push(block.data(), frames, 8, 48000);
        };
        QThread* a = QThread::create(pushAll, 1.0f);
        QThread* b = QThread::create(pushAll, 2.0f);
        a->start();
        b->start();
        QVERIFY(a->wait(30000));
        QVERIFY(b->wait(30000));
        delete a;
        delete b;
        const qint64 kept = sender->ring().available();
        QVERIFY(sender->ring().writeCount() > written);
        // Nobody read: every frame pushed is either still in the ring or counted as dropped.
        QCOMPARE(kept + sender->droppedFrames() - dropped, 2 * blocks * frames);
        std::vector<float> out(size_t(kept * 8));
        QCOMPARE(sender->ring().read(out.data(), kept), kept);
        for (qint64 i = 0; i < kept; ++i) {
            const float v = out[size_t(i * 8)];
            QVERIFY(v == 1.0f || v == 2.0f);
            for (int c = 1; c < 8; ++c)
                QCOMPARE(out[size_t(i * 8 + c)], v);
        }
    }

    void readerAndOverrunningWriterStayConsistent()
    {
        // One writer pushing numbered frames faster than the reader takes them, one reader:
        // every frame read must be whole (all eight slots from the same frame), in order, and
        // frames read plus frames dropped must equal frames written.
        auto ring = std::make_unique<FrameRing>();
        constexpr qint64 total = 3'000'000;
        std::atomic<bool> writerDone{false};
        qint64 dropped = 0;
        QThread* writer = QThread::create([&] {
            std::mt19937 random(7);
            std::vector<float> block;
            qint64 next = 0;
            while (next < total) {
                const qint64 n = std::min<qint64>(1 + random() % 12000, total - next);
                block.resize(size_t(n * 8));
                for (qint64 i = 0; i < n; ++i)
                    for (int c = 0; c < 8; ++c)
                        block[size_t(i * 8 + c)] = float(next + i);
                dropped += ring->write(block.data(), n, 8);
                next += n;
            }
            writerDone.store(true);
        });
        writer->start();
        std::vector<float> out(size_t(3000 * 8));
        qint64 readFrames = 0;
        double last = -1.0;
        bool whole = true;
        bool ordered = true;
        std::mt19937 random(11);
        for (;;) {
            const bool done = writerDone.load();
            const qint64 n = ring->read(out.data(), 1 + random() % 3000);
            for (qint64 i = 0; i < n; ++i) {
                const float v = out[size_t(i * 8)];
                for (int c = 1; c < 8; ++c)
                    whole = whole && out[size_t(i * 8 + c)] == v;
                ordered = ordered && double(v) > last;
                last = v;
            }
            readFrames += n;
            if (done && n == 0)
                break;
        }
        QVERIFY(writer->wait(30000));
        delete writer;
        QVERIFY(whole);
        QVERIFY(ordered);
        QCOMPARE(last, double(total - 1));
        QCOMPARE(readFrames + dropped, total);
    }
};

SNT_TEST_MAIN(SenderTest)
#include "SenderTest.moc"
