#include "common/RealTime.h"
#include "common/RealTimeBinding.h"
#include "common/RealTimePublished.h"
#include "common/SeqLock.h"
#include "tests/support/TestMain.h"

#include <QElapsedTimer>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace {

// Values as a setter publishes them: a version and a shared table that holds it throughout, so
// a reader can tell a torn or stale value.
struct Values
{
    int version = 0;
    std::shared_ptr<const std::vector<int>> table = std::make_shared<std::vector<int>>(64, 0);
};

bool whole(const Values &v)
{
    for (const int x : *v.table)
        if (x != v.version)
            return false;
    return true;
}

} // namespace

// The two ways an audio thread shares state with other threads without waiting: values
// published to it, and a pointer it follows while another thread may point it elsewhere. Also
// run under ThreadSanitizer.
class RealTimeSharingTest : public QObject
{
    Q_OBJECT
private slots:
    // A setter publishes new values (with a new table each time) without pause while the audio
    // thread takes them block after block: every block gets whole values, never older than the
    // block before, and once the setter stops the next block gets its last.
    void publishedValuesReachTheAudioThreadWhole()
    {
        realtime::Published<Values> values;
        constexpr int versions = 20000;
        std::atomic<bool> setting{true};
        std::thread setter([&] {
            for (int v = 1; v <= versions; ++v)
                values.change([v](Values &x) {
                    x.version = v;
                    x.table = std::make_shared<std::vector<int>>(64, v);
                });
            setting.store(false);
        });
        int last = 0, blocks = 0;
        bool ok = true;
        const auto block = [&] {
            const Values &now = values.take();
            ok = ok && whole(now) && now.version >= last;
            last = now.version;
            ++blocks;
        };
        while (setting.load())
            block();
        setter.join();
        block();
        QVERIFY(ok);
        QVERIFY(blocks > 1);
        QCOMPARE(last, versions);
        QCOMPARE(values.latest().version, versions);
    }

    // An audio thread stores records of several words without pause while another thread
    // reads them: every record read is one that was stored, whole, never older than the one
    // read before; nothing is read before the first store or after a reset.
    void seqLockedRecordsAreReadWhole()
    {
        struct Record
        {
            uint64_t version = 0;
            int64_t twice = 0;
            double half = 0.0;
        };
        realtime::SeqLock<Record> latest;
        QVERIFY(!latest.load());
        std::atomic<bool> reading{true};
        std::atomic<uint64_t> stored{0};
        std::thread audio([&] {
            for (uint64_t v = 1; reading.load(std::memory_order_relaxed); ++v) {
                latest.store(Record{v, int64_t(2 * v), double(v) / 2.0});
                stored.store(v, std::memory_order_relaxed);
            }
        });
        uint64_t last = 0;
        bool whole = true;
        for (int reads = 0; reads < 20000;) {
            if (const std::optional<Record> r = latest.load()) {
                whole = whole && r->twice == int64_t(2 * r->version)
                        && r->half == double(r->version) / 2.0 && r->version >= last;
                last = r->version;
                ++reads;
            }
        }
        reading.store(false);
        audio.join();
        QVERIFY(whole);
        QCOMPARE(latest.load()->version, stored.load());
        latest.reset();
        QVERIFY(!latest.load());
    }

    // While a setter is publishing, the audio thread does not wait for it: the block runs on the
    // values it had, and the next one gets the new values.
    void aBlockDuringAChangeKeepsTheValuesBefore()
    {
        realtime::Published<Values> values;
        values.change([](Values &x) { x.version = 1; });
        QCOMPARE(values.take().version, 1);
        std::atomic<bool> inside{false}, release{false};
        std::thread setter([&] {
            values.change([&](Values &x) {
                x.version = 2;
                inside.store(true);
                while (!release.load())
                    std::this_thread::yield();
            });
        });
        while (!inside.load())
            std::this_thread::yield();
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(values.take().version, 1);
        QVERIFY(clock.elapsed() < 1000);
        release.store(true);
        setter.join();
        QCOMPARE(values.take().version, 2);
    }

    // Whoever points the binding elsewhere waits until the audio thread has let go of the old
    // target, which may then go at once; the audio thread never waits.
    void rebindingWaitsForTheAudioThreadsUse()
    {
        struct Target
        {
            std::atomic<long> uses{0};
        };
        realtime::Binding<Target> binding;
        auto current = std::make_unique<Target>();
        binding.bind(current.get());
        std::atomic<bool> running{true};
        std::atomic<long> used{0};
        std::thread audio([&] {
            while (running.load()) {
                const realtime::Binding<Target>::Use use(&binding);
                if (use)
                    use->uses.fetch_add(1);
                used.fetch_add(1);
            }
        });
        for (int i = 0; i < 500; ++i) {
            auto next = std::make_unique<Target>();
            binding.bind(next.get());
            current = std::move(next); // the old target goes as soon as bind() returns
        }
        binding.unbind(current.get());
        const long afterUnbind = current->uses.load();
        const long before = used.load();
        while (used.load() < before + 1000)
            std::this_thread::yield();
        running.store(false);
        audio.join();
        QCOMPARE(current->uses.load(), afterUnbind);
        QVERIFY(!realtime::Binding<Target>::Use(&binding));
    }

    // The old target stays in use until the audio thread's use of it ends, however long.
    void unbindingWaitsForAUseUnderWay()
    {
        struct Target
        {
        } target;
        realtime::Binding<Target> binding;
        binding.bind(&target);
        std::atomic<bool> holding{false};
        std::thread audio([&] {
            const realtime::Binding<Target>::Use use(&binding);
            holding.store(true);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        });
        while (!holding.load())
            std::this_thread::yield();
        QElapsedTimer clock;
        clock.start();
        binding.unbind(&target);
        QVERIFY2(clock.elapsed() >= 80, qPrintable(QString::number(clock.elapsed())));
        audio.join();
    }
};

SNT_TEST_MAIN(RealTimeSharingTest)
#include "RealTimeSharingTest.moc"
