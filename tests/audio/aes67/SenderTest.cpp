#include "audio/aes67/Sender.h"
#include "audio/aes67/FrameRing.h"
#include "tests/support/TestMain.h"

#include <QThread>
#include <atomic>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

using audio::aes67::FrameRing;
using audio::aes67::Sender;

namespace {

// An interleaved block whose every sample holds its own position in the block.
std::vector<float> numberedBlock(qint64 frames, int channels)
{
    std::vector<float> block(size_t(frames * channels));
    std::iota(block.begin(), block.end(), 0.0f);
    return block;
}

std::vector<float> readAll(FrameRing &ring)
{
    std::vector<float> out(size_t(FrameRing::capacity * FrameRing::slotsPerFrame));
    out.resize(size_t(ring.read(out.data(), FrameRing::capacity) * FrameRing::slotsPerFrame));
    return out;
}

} // namespace

// The network sender's ring: 8192 frames of eight slots, the newest kept and the rest counted,
// whole frames under concurrent writers and an overrunning writer against a reader.
class SenderTest : public QObject
{
    Q_OBJECT

    Sender *sender = nullptr;

private slots:
    void initTestCase()
    {
        // The generator thread is the first to ask; the sender must still belong to the main
        // thread, where its signals and timers live.
        QThread *worker = QThread::create([this] { sender = Sender::instance(); });
        worker->start();
        QVERIFY(worker->wait(5000));
        delete worker;
        QCOMPARE(sender, Sender::instance());
        QCOMPARE(sender->thread(), QCoreApplication::instance()->thread());
    }

    void pushesThatChangeNothing()
    {
        const auto block = numberedBlock(20000, 2);
        sender->push(block.data(), 20000, 2, 48000); // stopped
        sender->setRunning(true);
        sender->push(nullptr, 10, 2, 48000);
        sender->push(block.data(), 0, 2, 48000);
        sender->push(block.data(), -5, 2, 48000);
        sender->push(block.data(), 10, 0, 48000);
        QVERIFY(!sender->rateMismatch());
        sender->push(block.data(), 480, 2, 44100); // another rate: refused and flagged
        QVERIFY(sender->rateMismatch());
        QCOMPARE(sender->ring().writeCount(), 0);
        QCOMPARE(sender->droppedFrames(), 0);
    }

    void ringKeepsTheNewestFrames_data()
    {
        QTest::addColumn<int>("waiting"); // frames already in the ring
        QTest::addColumn<int>("pushed");
        QTest::addColumn<int>("channels");
        QTest::newRow("mono") << 0 << 4 << 1;
        QTest::newRow("eight channels") << 0 << 4 << 8;
        QTest::newRow("twelve channels, eight kept") << 0 << 4 << 12;
        QTest::newRow("one block longer than the ring") << 0 << 10000 << 2;
        QTest::newRow("a block onto a nearly full ring") << 8000 << 500 << 2;
    }

    // At most 8192 frames of at most eight channels; the newest survive, the rest are counted.
    void ringKeepsTheNewestFrames()
    {
        QFETCH(int, waiting);
        QFETCH(int, pushed);
        QFETCH(int, channels);
        sender->setRunning(true);
        readAll(sender->ring());
        const qint64 dropped = sender->droppedFrames();
        const int total = waiting + pushed, kept = std::min(total, 8192);
        const int stored = std::min(channels, 8);
        const auto block = numberedBlock(total, channels);
        sender->push(block.data(), waiting, channels, 48000);
        sender->push(block.data() + channels * waiting, pushed, channels, 48000);
        QCOMPARE(sender->droppedFrames() - dropped, total - kept);
        QCOMPARE(sender->ring().channelCount(), stored);
        const auto frames = readAll(sender->ring());
        QCOMPARE(qsizetype(frames.size()), qsizetype(kept * 8));
        for (int k = 0; k < kept * 8; ++k) {
            if (k % 8 < stored)
                QCOMPARE(frames[size_t(k)], float((total - kept + k / 8) * channels + k % 8));
        }
    }

    void twoPushingThreadsNeverTearTheRing()
    {
        // Two generators playing at once: every frame in the ring is whole, and what is not
        // kept is counted.
        sender->setRunning(true);
        readAll(sender->ring());
        const qint64 dropped = sender->droppedFrames();
        const auto pushAll = [this](float value) {
            const std::vector<float> block(100 * 8, value);
            for (int i = 0; i < 2000; ++i)
                sender->push(block.data(), 100, 8, 48000);
        };
        std::thread a(pushAll, 1.0f), b(pushAll, 2.0f);
        a.join();
        b.join();
        const qint64 kept = sender->ring().available();
        QCOMPARE(kept + sender->droppedFrames() - dropped, 2 * 2000 * 100);
        std::vector<float> out(size_t(kept * 8));
        QCOMPARE(sender->ring().read(out.data(), kept), kept);
        for (size_t i = 0; i < out.size(); ++i)
            QVERIFY(out[i] == out[i / 8 * 8] && (out[i] == 1.0f || out[i] == 2.0f));
    }

    void readerAndOverrunningWriterStayConsistent()
    {
        // A writer pushing numbered frames faster than the reader takes them: every frame read
        // is whole and in order, and frames read plus frames dropped equal frames written.
        FrameRing ring;
        constexpr qint64 total = 3'000'000;
        std::atomic<bool> writerDone{false};
        qint64 dropped = 0;
        std::thread writer([&] {
            std::mt19937 random(7);
            std::vector<float> block;
            for (qint64 next = 0; next < total;) {
                const qint64 n = std::min<qint64>(1 + random() % 12000, total - next);
                block.resize(size_t(n * 8));
                for (size_t k = 0; k < block.size(); ++k)
                    block[k] = float(next + qint64(k / 8));
                dropped += ring.write(block.data(), n, 8);
                next += n;
            }
            writerDone.store(true);
        });
        std::vector<float> out(3000 * 8);
        qint64 readFrames = 0;
        double last = -1.0;
        bool whole = true, ordered = true;
        std::mt19937 random(11);
        for (bool done = false; !done;) {
            done = writerDone.load();
            const qint64 n = ring.read(out.data(), 1 + random() % 3000);
            for (qint64 k = 0; k < n * 8; ++k) {
                whole = whole && out[size_t(k)] == out[size_t(k / 8 * 8)];
                ordered = ordered && (k % 8 || double(out[size_t(k)]) > last);
                last = k % 8 ? last : out[size_t(k)];
            }
            readFrames += n;
            done = done && n == 0;
        }
        writer.join();
        QVERIFY(whole);
        QVERIFY(ordered);
        QCOMPARE(last, double(total - 1));
        QCOMPARE(readFrames + dropped, total);
    }
};

SNT_TEST_MAIN(SenderTest)
#include "SenderTest.moc"
