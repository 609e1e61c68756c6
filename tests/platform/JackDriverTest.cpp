#include "platform/jack/JackDriver.h"
#include "tests/support/TestMain.h"

#include <atomic>
#include <chrono>
#include <mutex>

// The JACK driver over the test command's JACK server (dummy driver, no hardware), named in
// SNT_TEST_JACK_SERVER.
using namespace platform::asio;

namespace {

// A host whose every period holds a lock for a tenth of a second, as a period waiting on a slow
// device would.
class SlowHost : public HostCallbacks
{
public:
    std::mutex periodLock;
    std::atomic<int> periodsEntered{0};

    void bufferSwitch(int, bool) override { }
    void bufferSwitchTimeInfo(const TimeInfo &, int, bool) override
    {
        const std::lock_guard lock(periodLock);
        ++periodsEntered;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
        while (std::chrono::steady_clock::now() < end) { }
    }
    void sampleRateChanged(double) override { }
    int message(int, int) override { return 0; }
};

} // namespace

class JackDriverTest : public QObject
{
    Q_OBJECT

    QString server_;

private slots:
    void initTestCase()
    {
        server_ = qEnvironmentVariable("SNT_TEST_JACK_SERVER");
        if (server_.isEmpty())
            SNT_SKIP("needs the test JACK server (scripts/test.sh)");
    }

    // JACK cancels the process thread of a client it deactivates, wherever that thread is: a
    // stop that did not wait for the period inside the host would leave the period's lock taken
    // by a thread that is gone, and whoever takes it next waits for ever.
    void aStopWaitsForThePeriodInsideTheHost()
    {
        platform::jack::JackDriver driver(server_);
        QCOMPARE(driver.init(), error::Ok);
        int minimum = 0, maximum = 0, preferred = 0, granularity = 0;
        QCOMPARE(driver.bufferSize(&minimum, &maximum, &preferred, &granularity), error::Ok);
        SlowHost host;
        BufferInfo output;
        QCOMPARE(driver.createBuffers(&output, 1, preferred, &host), error::Ok);
        QCOMPARE(driver.start(), error::Ok);
        // Periods follow one another without a gap: the stop comes while one is inside.
        QTRY_VERIFY_WITH_TIMEOUT(host.periodsEntered > 1, 10000);
        QCOMPARE(driver.stop(), error::Ok);
        const bool free = host.periodLock.try_lock();
        if (free)
            host.periodLock.unlock();
        QVERIFY2(free, "the period inside the host was cut off holding its lock");
        QCOMPARE(driver.exit(), error::Ok);
    }
};

SNT_TEST_MAIN(JackDriverTest)
#include "JackDriverTest.moc"
