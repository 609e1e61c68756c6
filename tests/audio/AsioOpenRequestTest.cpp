#include "audio/asio/AsioOpenRequest.h"
#include "tests/support/TestMain.h"

#include <QTest>
#include <atomic>
#include <thread>

// The hand-over of an open between an asking thread and the ASIO thread, on plain threads: the
// asker waits for whatever the ASIO thread does first, gives up only while it is stalled, and an
// open is carried out exactly when its asker is still there to take the stream.
using audio::Stream;
using audio::asio::OpenRequest;
using namespace std::chrono_literals;

namespace {

Stream *const opened = reinterpret_cast<Stream *>(0x1234);

} // namespace

class AsioOpenRequestTest : public QObject
{
    Q_OBJECT

private slots:
    // Work that takes longer than the asker's patience but does not stall: the open still runs.
    void theAskerWaitsForWorkThatEnds()
    {
        OpenRequest request;
        std::thread asioThread([&] {
            std::this_thread::sleep_for(300ms);
            if (request.take())
                request.finish(opened);
        });
        Stream *stream = nullptr;
        const bool taken = request.await([] { return false; }, 50ms, &stream);
        asioThread.join();
        QVERIFY(taken);
        QCOMPARE(stream, opened);
    }

    void theAskerGivesUpWhileTheThreadStalls()
    {
        OpenRequest request;
        std::atomic<bool> stalled{true};
        Stream *stream = opened;
        QVERIFY(!request.await([&] { return stalled.load(); }, 50ms, &stream));
        QCOMPARE(stream, nullptr);
        QVERIFY(!request.take());
    }

    // Taking and giving up race at the patience's end: the open runs exactly when the asker
    // gets its outcome.
    void anOpenRunsExactlyWhenItsAskerTakesTheOutcome()
    {
        constexpr int rounds = 200;
        int given = 0;
        for (int round = 0; round < rounds; ++round) {
            OpenRequest request;
            std::atomic<bool> ran{false};
            std::thread asioThread([&] {
                // Around the moment the asker gives up: about 25 ms on.
                std::this_thread::sleep_for(std::chrono::milliseconds(15 + round % 20));
                if (request.take()) {
                    ran.store(true);
                    request.finish(opened);
                }
            });
            Stream *stream = nullptr;
            const bool taken = request.await([] { return true; }, 15ms, &stream);
            asioThread.join();
            QCOMPARE(ran.load(), taken);
            QCOMPARE(stream, taken ? opened : nullptr);
            given += taken ? 0 : 1;
        }
        qInfo() << given << "of" << rounds << "given up";
    }
};

SNT_TEST_MAIN(AsioOpenRequestTest)
#include "AsioOpenRequestTest.moc"
