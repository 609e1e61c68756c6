#include "audio/Stream.h"
#include "audio/asio/ASIOPlugin.h"
#include "tests/audio/JackServerProcess.h"
#include "tests/audio/LogCapture.h"
#include "tests/audio/SignalDevice.h"
#include "tests/support/TestMain.h"

#include <QPointer>
#include <QScopeGuard>
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>

// The ASIO backend over four real JACK servers without hardware: the test command's own and
// three of this test's. A measuring session asks every backend to probe its devices again and
// then opens its input and output at once; with four servers the probe keeps the ASIO thread
// busy for a while, and the opens must wait for it rather than fail a healthy card.
using audio::ASIOPlugin;
using audio::Plugin;

namespace {

constexpr int extraServers = 3;
constexpr int sessionStarts = 20;

bool lists(ASIOPlugin &plugin, const QStringList &drivers)
{
    const audio::DeviceList rows = plugin.devices();
    return std::all_of(drivers.cbegin(), drivers.cend(), [&rows](const QString &name) {
        return std::any_of(rows.cbegin(), rows.cend(),
                           [&name](const audio::DeviceInfo &r) { return r.id == name; });
    });
}

// A render source whose every read takes a quarter of a second, as a stalled disk would; it
// counts the reads begun and the reads that returned.
class SlowSource : public QIODevice
{
public:
    std::atomic<int> begun{0};
    std::atomic<int> returned{0};

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        ++begun;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(250);
        while (std::chrono::steady_clock::now() < end) { }
        std::memset(data, 0, std::size_t(maxSize));
        ++returned;
        return maxSize;
    }
    qint64 writeData(const char *, qint64) override { return -1; }
};

} // namespace

class AsioJackServersTest : public QObject
{
    Q_OBJECT

    std::array<QProcess, extraServers> jackd_;
    QStringList drivers_;

private slots:
    void initTestCase()
    {
        const QString server = qEnvironmentVariable("SNT_TEST_JACK_SERVER");
        if (server.isEmpty()) {
            if (qEnvironmentVariable("CI") == "true")
                QFAIL("the test command starts the JACK server; it is missing");
            QSKIP("needs the test JACK server (scripts/test.sh)");
        }
        drivers_ = {"JACK " + server};
        for (int i = 0; i < extraServers; ++i) {
            const QString name = QStringLiteral("%1x%2").arg(server).arg(i);
            QVERIFY2(jacktest::startServer(jackd_[i], name), qPrintable(name));
            drivers_.append("JACK " + name);
        }
    }

    void cleanupTestCase()
    {
        for (QProcess &jackd : jackd_)
            jacktest::stopServer(jackd);
    }

    // Opening another card stops the running driver while a period reads the render source:
    // the read must be let finish, not be cut off with the source's state half changed.
    void anotherCardWaitsForTheReadInProgress()
    {
        ASIOPlugin plugin;
        QTRY_VERIFY_WITH_TIMEOUT(lists(plugin, drivers_), 10000);
        SlowSource source;
        QPointer<audio::Stream> render = plugin.open(drivers_[0], Plugin::Output, {}, &source);
        SignalDevice sink;
        QPointer<audio::Stream> capture;
        const auto closeBoth = qScopeGuard([&] {
            for (audio::Stream *s : {capture.data(), render.data()})
                if (s)
                    s->close();
        });
        QVERIFY(render);
        // The other card is opened while a read is under way; it has a quarter of a second
        // left at most.
        QTRY_VERIFY_WITH_TIMEOUT(source.returned > 1 && source.begun > source.returned, 10000);
        capture = plugin.open(drivers_[1], Plugin::Input, {}, &sink);
        QVERIFY(capture);
        QCOMPARE(source.returned.load(), source.begun.load());
    }

    // Each start is a fresh backend, so that no driver is loaded and the probe runs in full.
    void everySessionStartOpensBehindAProbe()
    {
        for (int start = 0; start < sessionStarts; ++start) {
            ASIOPlugin plugin;
            QTRY_VERIFY_WITH_TIMEOUT(lists(plugin, drivers_), 10000);
            LogCapture log;
            SignalDevice source, sink;
            plugin.reloadDeviceList();
            const QString card = drivers_[start % drivers_.size()];
            QPointer<audio::Stream> capture = plugin.open(card, Plugin::Input, {}, &sink);
            QPointer<audio::Stream> render = plugin.open(card, Plugin::Output, {}, &source);
            const auto closeBoth = qScopeGuard([&] {
                for (audio::Stream *s : {capture.data(), render.data()})
                    if (s)
                        s->close();
            });
            QVERIFY2(capture && render, qPrintable(QStringLiteral("start %1 on %2: %3")
                                                           .arg(start + 1)
                                                           .arg(card, log.text())));
            QTRY_VERIFY_WITH_TIMEOUT(!sink.recorded().empty(), 10000);
        }
    }
};

SNT_TEST_MAIN(AsioJackServersTest)
#include "AsioJackServersTest.moc"
