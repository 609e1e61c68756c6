#include "audio/asio/ASIOPlugin.h"
#include "audio/Stream.h"
#include "audio/asio/AsioSampleConversion.h"
#include "tests/audio/LogCapture.h"
#include "tests/platform/FakeAsioDriver.h"
#include "tests/support/TestMain.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <atomic>
#include <cstring>
#include <functional>
#include <thread>

using audio::ASIOPlugin;
using audio::Plugin;
using platform::asio::SampleType;
using snt::test::FakeAsioBoard;
using snt::test::FakeAsioDriver;
namespace error = platform::asio::error;

Q_DECLARE_METATYPE(SampleType)

namespace {

// Reads hand out the floats queued so far (a short read when fewer are waiting); writes are
// kept. Either can run a hook first, from the backend's thread.
class TestDevice : public QIODevice
{
public:
    std::function<void()> onUse;

    void queue(const QList<float> &values)
    {
        QMutexLocker lock(&mutex_);
        queued_.append(values);
    }
    QList<float> written() const
    {
        QMutexLocker lock(&mutex_);
        return written_;
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (onUse)
            onUse();
        QMutexLocker lock(&mutex_);
        const qsizetype n = std::min(queued_.size(), qsizetype(maxSize / qint64(sizeof(float))));
        if (n > 0)
            std::memcpy(data, queued_.constData(), std::size_t(n) * sizeof(float));
        queued_.remove(0, n);
        return n * qint64(sizeof(float));
    }
    qint64 writeData(const char *data, qint64 size) override
    {
        if (onUse)
            onUse();
        QMutexLocker lock(&mutex_);
        const auto *f = reinterpret_cast<const float *>(data);
        written_.append(QList<float>(f, f + size / qint64(sizeof(float))));
        return size;
    }

private:
    mutable QMutex mutex_;
    QList<float> queued_;
    QList<float> written_;
};

FakeAsioBoard::DriverSpec card(const QString &name, SampleType type = SampleType::Float32,
                               int bufferSize = 4)
{
    FakeAsioBoard::DriverSpec spec;
    spec.key = name;
    spec.bufferSize = bufferSize;
    spec.inputs = {{type, "In 1"}, {type, "In 2"}};
    spec.outputs = {{type, "Out 1"}, {type, "Out 2"}};
    return spec;
}

QByteArray floatBytes(const QList<float> &values)
{
    return QByteArray(reinterpret_cast<const char *>(values.constData()),
                      values.size() * qsizetype(sizeof(float)));
}

QByteArray hexBytes(const char *hex)
{
    return QByteArray::fromHex(hex);
}

// Counts the streams deleted so far, in whichever thread deletes them.
class Deletions
{
public:
    void watch(std::initializer_list<audio::Stream *> streams)
    {
        for (audio::Stream *s : streams)
            QObject::connect(s, &QObject::destroyed, [this] { ++count_; });
    }
    int count() const { return count_.load(); }

private:
    std::atomic<int> count_{0};
};

// Waits until everything queued to the ASIO thread so far ran.
void settle(ASIOPlugin &plugin)
{
    QMetaObject::invokeMethod(
            &plugin, [] {}, Qt::BlockingQueuedConnection);
}

} // namespace

class ASIOPluginTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeAsioBoard> board_;

    std::unique_ptr<ASIOPlugin> makePlugin(const QList<FakeAsioBoard::DriverSpec> &drivers)
    {
        board_->clearDrivers();
        for (const auto &spec : drivers)
            board_->addDriver(spec);
        auto plugin = std::make_unique<ASIOPlugin>(board_->makeHost());
        settle(*plugin); // the start-up probe,
        settle(*plugin); // and the announcement it queued
        return plugin;
    }

private slots:
    // What the driver does not support is an ASIO debug line, off unless asked for.
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("snt.asio.debug=true")); }

    void init() { board_ = std::make_unique<FakeAsioBoard>(); }

    void probeListsEveryUsableDriver()
    {
        FakeAsioBoard::DriverSpec a = card("Card A");
        a.rate = 44100;
        a.inputs[1].name.clear(); // listed by its number
        FakeAsioBoard::DriverSpec wide = card("Wide");
        wide.reportedInputs = 256; // more than any card has: counts as none
        wide.outputs = {{}, {}};
        FakeAsioBoard::DriverSpec described = card("key");
        described.description = "Shown name";
        FakeAsioBoard::DriverSpec longName = card("A driver name that is far too long");
        FakeAsioBoard::DriverSpec silent = card("Silent");
        silent.inputs.clear();
        silent.outputs.clear();
        FakeAsioBoard::DriverSpec noInit = card("No init");
        noInit.failures["init"] = error::NotPresent;
        FakeAsioBoard::DriverSpec noRate = card("No rate");
        noRate.failures["sampleRate"] = error::NoClock;
        FakeAsioBoard::DriverSpec noChannels = card("No channels");
        noChannels.failures["channels"] = error::HardwareMalfunction;
        FakeAsioBoard::DriverSpec unregistered = card("Unregistered");
        unregistered.registered = false;

        LogCapture log;
        auto plugin = makePlugin(
                {a, noInit, wide, silent, described, noRate, longName, noChannels, unregistered});
        const QStringList two = {"Out 1", "Out 2"};
        const audio::DeviceList expected = {
                {"Card A", "Card A", 44100, "ASIO", {"In 1", "1"}, two},
                {"Wide", "Wide", 48000, "ASIO", {}, {"0", "1"}},
                {"Shown name", "Shown name", 48000, "ASIO", {"In 1", "In 2"}, two},
                {"A driver name that is far too l",
                 "A driver name that is far too l",
                 48000,
                 "ASIO",
                 {"In 1", "In 2"},
                 two},
        };
        QCOMPARE(plugin->devices(), expected);
        QVERIFY2(log.contains("ASIOInit No init 404 -1000 hardware input or output is not "
                              "present or available"),
                 log.text());
        // Every driver that initialised was exited and none stays loaded.
        QCOMPARE(board_->callCount("exit"), board_->callCount("init") - 1);
        QVERIFY(!board_->current());
        QCOMPARE(plugin->defaultDevice(Plugin::Input), QString());
        QCOMPARE(plugin->preferredFormat("Card A", Plugin::Input), (audio::Format{44100, 2}));
        QCOMPARE(plugin->preferredFormat("Wide", Plugin::Input), (audio::Format{48000, 0}));
        QCOMPARE(plugin->preferredFormat("nothing", Plugin::Output), (audio::Format{48000, 0}));
    }

    void probeTakesAtMost256Drivers()
    {
        QList<FakeAsioBoard::DriverSpec> drivers;
        for (int i = 0; i < 300; ++i)
            drivers.append(card(QString::number(i)));
        auto plugin = makePlugin(drivers);
        QCOMPARE(plugin->devices().size(), 256);
        QCOMPARE(plugin->devices().last().id, QStringLiteral("255"));
    }

    void listChangesAreSignalledOnlyWhenIdsChange()
    {
        auto plugin = makePlugin({card("A")});
        QSignalSpy changed(plugin.get(), &Plugin::deviceListChanged);
        FakeAsioBoard::DriverSpec renamedChannels = card("A");
        renamedChannels.outputs[0].name = "Main L";
        board_->clearDrivers();
        board_->addDriver(renamedChannels);
        plugin->reloadDeviceList();
        settle(*plugin);
        QCOMPARE(changed.size(), 0);
        board_->addDriver(card("B"));
        plugin->reloadDeviceList();
        settle(*plugin);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(plugin->devices().size(), 2);
    }

    void streamsShareOneStartInTheCallOrder()
    {
        FakeAsioBoard::DriverSpec a = card("A");
        a.rate = 96000;
        auto plugin = makePlugin({a});
        const int before = board_->calls().size();
        TestDevice source, sink;
        audio::Stream *render = plugin->open("A", Plugin::Output, {}, &source);
        audio::Stream *capture = plugin->open("A", Plugin::Input, {}, &sink);
        QVERIFY(render && capture);
        Deletions deleted;
        deleted.watch({render, capture});
        QCOMPARE(render->format(), (audio::Format{96000, 2}));
        QCOMPARE(board_->calls().mid(before),
                 (QStringList{"load", "init", "bufferSize", "setSampleRate 96000", "channelInfo",
                              "channelInfo", "channelInfo", "channelInfo", "createBuffers",
                              "outputReady", "start"}));
        QVERIFY(source.isReadable() && sink.isWritable());
        render->close();
        capture->close();
        QVERIFY(!source.isOpen() && !sink.isOpen());
        QTRY_COMPARE(deleted.count(), 2); // deleted once their owner closed them
    }

    void failedStartReturnsNullAndStopsTheDriver_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("logged");
        QTest::newRow("load") << "load" << -1 << "ASIO: can't load driver A";
        QTest::newRow("init") << "init" << error::NotPresent
                              << "ASIOInit A 404 -1000 hardware input or output is not present "
                                 "or available";
        QTest::newRow("buffer size") << "bufferSize" << error::HardwareMalfunction
                                     << "ASIOGetBufferSize 413 -999 hardware is malfunctioning";
        QTest::newRow("rate") << "setSampleRate 48000" << error::NoClock
                              << "ASIOSetSampleRate 416 -995 sample clock or rate cannot be "
                                 "determined or is not present";
        QTest::newRow("buffers") << "createBuffers" << error::NoMemory
                                 << "ASIOCreateBuffers 451 -994 not enough memory for completing "
                                    "the request";
        QTest::newRow("start, unknown code") << "start" << -5 << "ASIOStart 457 -5 ";
    }
    void failedStartReturnsNullAndStopsTheDriver()
    {
        QFETCH(QString, call);
        QFETCH(int, code);
        QFETCH(QString, logged);
        auto plugin = makePlugin({card("A")});
        board_->failCall(call, code);
        LogCapture log;
        TestDevice source;
        QVERIFY(!plugin->open("A", Plugin::Output, {}, &source));
        QVERIFY2(log.contains(logged), log.text());
        QVERIFY(!source.isOpen());
        QCOMPARE(board_->callCount("exit"), board_->callCount("init"));
        // The failed driver is not kept: the next open starts it afresh.
        const int inits = board_->callCount("init");
        audio::Stream *stream = plugin->open("A", Plugin::Output, {}, &source);
        QVERIFY(stream);
        QCOMPARE(board_->callCount("init"), inits + 1);
        stream->close();
    }

    // A probe queued before the open (every measuring session asks for one first) keeps the
    // ASIO thread a while with each driver; the open waits for it and opens.
    void anOpenWaitsForAProbeQueuedBeforeIt()
    {
        auto plugin = makePlugin({card("A"), card("B"), card("C")});
        board_->delayCall("init", 150);
        LogCapture log;
        TestDevice source;
        plugin->reloadDeviceList();
        audio::Stream *stream = plugin->open("A", Plugin::Output, {}, &source);
        QVERIFY2(stream, qPrintable(log.text()));
        QVERIFY(source.isOpen());
        stream->close();
    }

    // The ASIO thread letting go of a driver that asked to be reset, for a second (a server
    // shutting down can keep it so): an open from another thread is given up within a fraction
    // of that, says so, and neither starts the driver nor touches the device, then or later.
    // Once the thread is free, opening works.
    void anOpenIsGivenUpWhileADriverIsLetGo()
    {
        auto plugin = makePlugin({card("A")});
        TestDevice first;
        audio::Stream *running = plugin->open("A", Plugin::Output, {}, &first);
        QVERIFY(running);
        board_->delayCall("exit", 1000);
        QCOMPARE(board_->current()->sendMessage(platform::asio::message::ResetRequest, 0), 1);
        LogCapture log;
        TestDevice source;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!plugin->open("A", Plugin::Output, {}, &source));
        QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(!log.lines()
                          .filter("[ASIO] busy: the ASIO thread is letting a driver go")
                          .isEmpty(),
                 log.text());
        settle(*plugin); // the reset is over and the given-up open has had its turn
        QVERIFY(!source.isOpen());
        QCOMPARE(board_->callCount("init"), board_->callCount("exit"));
        board_->delayCall("exit", 0);
        audio::Stream *stream = plugin->open("A", Plugin::Output, {}, &source);
        QVERIFY(stream);
        for (audio::Stream *s : {running, stream})
            s->close();
    }

    void outputReadyUnsupportedIsOnlyLogged()
    {
        auto plugin = makePlugin({card("A")});
        board_->failCall("outputReady", error::NotPresent);
        LogCapture log;
        TestDevice source;
        audio::Stream *stream = plugin->open("A", Plugin::Output, {}, &source);
        QVERIFY(stream);
        QVERIFY2(log.contains("ASIOOutputReady not supported by this driver (result: -1000 )"),
                 log.text());
        stream->close();
    }

    void unknownSampleTypeFailsTheStart_data()
    {
        QTest::addColumn<bool>("inputSide");
        QTest::addColumn<QString>("logged");
        QTest::newRow("output") << false << "unknown sample type 21";
        QTest::newRow("input") << true << "unknown sample type";
    }
    void unknownSampleTypeFailsTheStart()
    {
        QFETCH(bool, inputSide);
        QFETCH(QString, logged);
        FakeAsioBoard::DriverSpec odd = card("Odd");
        (inputSide ? odd.inputs : odd.outputs)[1].type = SampleType(21);
        auto plugin = makePlugin({odd});
        LogCapture log;
        TestDevice device;
        QVERIFY(!plugin->open("Odd", inputSide ? Plugin::Input : Plugin::Output, {}, &device));
        QVERIFY2(log.contains(logged), log.text());
        QCOMPARE(board_->callCount("start"), 0);
    }

    void conversionsMatchHandComputedBytes_data()
    {
        QTest::addColumn<SampleType>("type");
        QTest::addColumn<QList<float>>("values");
        QTest::addColumn<QByteArray>("driverBytes");
        const float third = 1.0f / 3.0f;
        // Outputs: value × full scale, truncated toward zero; beyond ±1 held at the limits.
        QTest::newRow("int16 out")
                << SampleType::Int16 << QList<float>{0.5f, -third, 1.0f, 2.0f, -1.5f}
                << hexBytes("ff3f"
                            "56d5"
                            "ff7f"
                            "ff7f"
                            "0080");
        QTest::newRow("int24 out")
                << SampleType::Int24 << QList<float>{0.5f, -third, 1.0f, 2.0f, -1.5f}
                << hexBytes("ffff3f"
                            "5655d5"
                            "ffff7f"
                            "ffff7f"
                            "000080");
        QTest::newRow("int32 out")
                << SampleType::Int32 << QList<float>{0.5f, -third, 1.0f, 2.0f, -1.5f}
                << hexBytes("ffffff3f"
                            "415555d5"
                            "ffffff7f"
                            "ffffff7f"
                            "00000080");
        QTest::newRow("float32 out") << SampleType::Float32 << QList<float>{0.5f, -2.0f}
                                     << hexBytes("0000003f"
                                                 "000000c0");
        QTest::newRow("float64 out") << SampleType::Float64 << QList<float>{0.5f, -2.0f}
                                     << hexBytes("000000000000e03f"
                                                 "00000000000000c0");
        QTest::newRow("not a number")
                << SampleType::Int16 << QList<float>{float(qQNaN())} << hexBytes("0000");
    }
    void conversionsMatchHandComputedBytes()
    {
        QFETCH(SampleType, type);
        QFETCH(QList<float>, values);
        QFETCH(QByteArray, driverBytes);
        // Every other float of an interleaved block belongs to this channel.
        QList<float> interleaved;
        for (float v : values)
            interleaved << v << 99.0f;
        QByteArray half(driverBytes.size(), '\x7f');
        QVERIFY(audio::asio::fromFloat(type, interleaved.constData(), 2, int(values.size()),
                                       half.data()));
        QCOMPARE(half.toHex(), driverBytes.toHex());
    }

    void driverSamplesReadAsTheirValues_data()
    {
        QTest::addColumn<SampleType>("type");
        QTest::addColumn<QByteArray>("driverBytes");
        QTest::addColumn<QList<float>>("values");
        QTest::newRow("int16") << SampleType::Int16
                               << hexBytes("ff7f"
                                           "0080"
                                           "0100")
                               << QList<float>{1.0f, float(-32768.0 / 32767.0),
                                               float(1.0 / 32767.0)};
        // 24-bit samples read unsigned, less 2.0 above 1.0.
        QTest::newRow("int24") << SampleType::Int24
                               << hexBytes("010000"
                                           "000080"
                                           "ffff7f")
                               << QList<float>{float(1.0 / 8388607.0),
                                               float(8388608.0 / 8388607.0 - 2.0), 1.0f};
        QTest::newRow("int32") << SampleType::Int32
                               << hexBytes("ffffff7f"
                                           "00000040")
                               << QList<float>{1.0f, float(1073741824.0 / 2147483647.0)};
        QTest::newRow("float32") << SampleType::Float32 << hexBytes("0000c03f")
                                 << QList<float>{1.5f};
        QTest::newRow("float64") << SampleType::Float64 << hexBytes("000000000000f8bf")
                                 << QList<float>{-1.5f};
    }
    void driverSamplesReadAsTheirValues()
    {
        QFETCH(SampleType, type);
        QFETCH(QByteArray, driverBytes);
        QFETCH(QList<float>, values);
        QList<float> interleaved(values.size() * 2, 99.0f);
        QVERIFY(audio::asio::toFloat(type, driverBytes.constData(), int(values.size()),
                                     interleaved.data() + 1, 2));
        for (qsizetype i = 0; i < values.size(); ++i) {
            QCOMPARE(interleaved[2 * i], 99.0f);
            QCOMPARE(interleaved[2 * i + 1], values[i]);
        }
    }

    void periodsCarryInterleavedChannelsBothWays()
    {
        auto plugin = makePlugin({card("A", SampleType::Int16, 2)});
        TestDevice source, sink;
        audio::Stream *render = plugin->open("A", Plugin::Output, {}, &source);
        audio::Stream *capture = plugin->open("A", Plugin::Input, {}, &sink);
        FakeAsioDriver *driver = board_->current();
        source.queue({0.5f, -0.5f, 0.25f, -0.25f}); // frames (L, R)
        driver->setInputPort(0, hexBytes("ff7f"
                                         "0000"));
        driver->setInputPort(1, hexBytes("0100"
                                         "0180"));
        QVERIFY(driver->runPeriod());
        QCOMPARE(driver->outputPort(0).toHex(), hexBytes("ff3f"
                                                         "ff1f")
                                                        .toHex());
        QCOMPARE(driver->outputPort(1).toHex(), hexBytes("01c0"
                                                         "01e0")
                                                        .toHex());
        QTRY_COMPARE(sink.written(), (QList<float>{1.0f, float(1.0 / 32767), 0.0f, -1.0f}));
        render->close();
        capture->close();
    }

    void blocksDroppedBehindAStalledSinkAreReportedAsAGap()
    {
        auto plugin = makePlugin({card("A", SampleType::Float32, 64)});
        TestDevice sink;
        QSemaphore entered, release;
        bool first = true;
        sink.onUse = [&] {
            if (std::exchange(first, false)) {
                entered.release();
                release.acquire();
            }
        };
        audio::Stream *capture = plugin->open("A", Plugin::Input, {}, &sink);
        QSignalSpy gaps(capture, &audio::Stream::discontinuity);
        FakeAsioDriver *driver = board_->current();
        QVERIFY(driver->runPeriod());
        QVERIFY(entered.tryAcquire(1, 5000)); // the ASIO thread now waits inside the sink
        // Half a second of blocks fits the hand-off; a second's worth cannot.
        const int periods = 48000 / 64;
        for (int i = 0; i < periods; ++i)
            QVERIFY(driver->runPeriod());
        release.release();
        QTRY_COMPARE(gaps.size(), 1);
        const qint64 lost = gaps.first().first().toLongLong();
        QVERIFY2(lost > 0 && lost % 64 == 0, qPrintable(QString::number(lost)));
        QTRY_COMPARE(sink.written().size() / 2 + lost, qint64(periods + 1) * 64);
        capture->close();
    }

    void periodsWithoutTimeOrDirectProcessDoNothing_data()
    {
        QTest::addColumn<bool>("plainSwitch");
        QTest::addColumn<uint>("flags");
        QTest::addColumn<bool>("directProcess");
        QTest::addColumn<QString>("logged");
        QTest::newRow("no validity flags") << false << 0u << true << QString();
        QTest::newRow("not direct")
                << false << platform::asio::timeflags::Any << false << QString();
        QTest::newRow("plain switch, no position")
                << true << 0u << true
                << "ASIOGetSamplePosition -996 hardware is not running when sample position is "
                   "inquired";
    }
    void periodsWithoutTimeOrDirectProcessDoNothing()
    {
        QFETCH(bool, plainSwitch);
        QFETCH(uint, flags);
        QFETCH(bool, directProcess);
        QFETCH(QString, logged);
        FakeAsioBoard::DriverSpec a = card("A");
        a.plainSwitch = plainSwitch;
        auto plugin = makePlugin({a});
        TestDevice source, sink;
        audio::Stream *render = plugin->open("A", Plugin::Output, {}, &source);
        audio::Stream *capture = plugin->open("A", Plugin::Input, {}, &sink);
        board_->failCall("samplePosition", error::NotRunning);
        source.queue(QList<float>(8, 0.5f));
        LogCapture log;
        QVERIFY(board_->current()->runPeriod(flags, directProcess));
        QCOMPARE(board_->current()->outputPort(0), QByteArray(16, '\0'));
        if (!logged.isEmpty())
            QTRY_VERIFY2(log.contains(logged), log.text());
        settle(*plugin);
        QVERIFY(sink.written().isEmpty());
        render->close();
        capture->close();
    }

    void outputsFallSilentAfterAShortReadAndAClose()
    {
        auto plugin = makePlugin({card("A", SampleType::Float32, 4)});
        TestDevice source;
        audio::Stream *render = plugin->open("A", Plugin::Output, {}, &source);
        FakeAsioDriver *driver = board_->current();
        source.queue(QList<float>(8, 0.5f));
        QVERIFY(driver->runPeriod());
        QCOMPARE(driver->outputPort(0), floatBytes({0.5f, 0.5f, 0.5f, 0.5f}));
        source.queue(QList<float>(2, 0.25f)); // one frame of four
        QVERIFY(driver->runPeriod());
        QCOMPARE(driver->outputPort(1), floatBytes({0.25f, 0, 0, 0}));
        source.queue(QList<float>(8, 0.5f));
        render->close();
        QVERIFY(driver->runPeriod());
        QCOMPARE(driver->outputPort(0), floatBytes({0, 0, 0, 0}));
    }

    void resetRequestEndsStreamsAndStopsTheDriver()
    {
        auto plugin = makePlugin({card("A")});
        TestDevice source, sink;
        audio::Stream *render = plugin->open("A", Plugin::Output, {}, &source);
        audio::Stream *capture = plugin->open("A", Plugin::Input, {}, &sink);
        Deletions deleted;
        deleted.watch({render, capture});
        QCOMPARE(board_->current()->sendMessage(platform::asio::message::ResetRequest, 0), 1);
        QTRY_VERIFY(!render->isRunning() && !capture->isRunning());
        QTRY_COMPARE(board_->callCount("exit"), board_->callCount("init"));
        QVERIFY(!source.isOpen() && !sink.isOpen());
        // The owners still hold valid streams until they close them.
        settle(*plugin);
        QCOMPARE(deleted.count(), 0);
        QCOMPARE(capture->format().channelCount, 2u);
        const int inits = board_->callCount("init");
        TestDevice next;
        audio::Stream *again = plugin->open("A", Plugin::Input, {}, &next);
        QCOMPARE(board_->callCount("init"), inits + 1);
        for (audio::Stream *s : {render, capture, again})
            s->close();
        QTRY_COMPARE(deleted.count(), 2);
    }

    void messagesAreAnswered_data()
    {
        QTest::addColumn<int>("selector");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("answer");
        for (int known : {2, 3, 5, 6, 7, 8, 10})
            QTest::addRow("supported %d", known) << 1 << known << 1;
        for (int unknown : {1, 4, 9, 11})
            QTest::addRow("unsupported %d", unknown) << 1 << unknown << 0;
        QTest::newRow("engine version") << 2 << 0 << 2;
        QTest::newRow("resync") << 5 << 0 << 1;
        QTest::newRow("latencies") << 6 << 0 << 1;
        QTest::newRow("time info") << 7 << 0 << 1;
        QTest::newRow("other") << 4 << 0 << 0;
    }
    void messagesAreAnswered()
    {
        QFETCH(int, selector);
        QFETCH(int, value);
        QFETCH(int, answer);
        auto plugin = makePlugin({card("A")});
        TestDevice sink;
        audio::Stream *capture = plugin->open("A", Plugin::Input, {}, &sink);
        QCOMPARE(board_->current()->sendMessage(selector, value), answer);
        capture->close();
    }

    void rateChangesReachEveryStream()
    {
        auto plugin = makePlugin({card("A")});
        TestDevice source, sink;
        audio::Stream *render = plugin->open("A", Plugin::Output, {}, &source);
        audio::Stream *capture = plugin->open("A", Plugin::Input, {}, &sink);
        QSignalSpy changed(capture, &audio::Stream::sampleRateChanged);
        board_->current()->changeRate(44100.0);
        QTRY_COMPARE(changed.size(), 1);
        QCOMPARE(capture->format(), (audio::Format{44100, 2}));
        QCOMPARE(render->format(), (audio::Format{44100, 2}));
        render->close();
        capture->close();
    }

    void anotherDriverEndsTheStreamsButNotTheirObjects()
    {
        auto plugin = makePlugin({card("A"), card("B")});
        TestDevice source, sink, other;
        audio::Stream *render = plugin->open("A", Plugin::Output, {}, &source);
        audio::Stream *capture = plugin->open("A", Plugin::Input, {}, &sink);
        audio::Stream *onB = plugin->open("B", Plugin::Input, {}, &other);
        QVERIFY(onB && onB->isRunning());
        Deletions deleted;
        deleted.watch({render, capture, onB});
        QVERIFY(!render->isRunning() && !capture->isRunning());
        QVERIFY(!source.isOpen() && !sink.isOpen());
        settle(*plugin);
        QCOMPARE(deleted.count(), 0);
        for (audio::Stream *s : {render, capture, onB})
            s->close();
        QTRY_COMPARE(deleted.count(), 3);
    }

    void closingWhilePeriodsRunIsSafe()
    {
        auto plugin = makePlugin({card("A", SampleType::Int32, 32)});
        TestDevice keepAlive;
        audio::Stream *anchor = plugin->open("A", Plugin::Input, {}, &keepAlive);
        FakeAsioDriver *driver = board_->current();
        std::atomic<bool> stop{false};
        // Periods come about as often as a driver with a short buffer calls: flat out, their
        // dispatches would queue up on the ASIO thread faster than a loaded machine runs them,
        // and an open queued behind them would wait without end.
        std::thread periods([&] {
            while (!stop.load()) {
                driver->runPeriod();
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
        });
        // A failed check returns early: the thread must not outlive the test.
        const auto joinPeriods = qScopeGuard([&] {
            stop.store(true);
            if (periods.joinable())
                periods.join();
        });
        // Owners delete their devices right after close(): a fill or dispatch still using one
        // would be a use after free.
        for (int i = 0; i < 200; ++i) {
            auto *source = new TestDevice;
            auto *sink = new TestDevice;
            source->queue(QList<float>(64, 0.5f));
            audio::Stream *render = plugin->open("A", Plugin::Output, {}, source);
            audio::Stream *capture = plugin->open("A", Plugin::Input, {}, sink);
            QVERIFY(render && capture);
            std::this_thread::yield();
            render->close();
            delete source;
            capture->close();
            delete sink;
        }
        stop.store(true);
        periods.join();
        QVERIFY(!keepAlive.written().isEmpty());
        anchor->close();
    }

    void devicesMayCloseTheirOwnStreams_data()
    {
        QTest::addColumn<int>("direction");
        QTest::newRow("source, in the real-time thread") << int(Plugin::Output);
        QTest::newRow("sink, in the ASIO thread") << int(Plugin::Input);
    }
    void devicesMayCloseTheirOwnStreams()
    {
        QFETCH(int, direction);
        auto plugin = makePlugin({card("A")});
        TestDevice device;
        audio::Stream *stream = nullptr;
        std::atomic<bool> closed{false};
        device.onUse = [&] {
            if (!closed.exchange(true))
                stream->close();
        };
        stream = plugin->open("A", Plugin::Direction(direction), {}, &device);
        Deletions deleted;
        deleted.watch({stream});
        QVERIFY(board_->current()->runPeriod());
        QTRY_COMPARE(deleted.count(), 1);
        QVERIFY(!device.isOpen());
    }

    void deviceListCanBeReadWhileItIsReplaced()
    {
        auto plugin = makePlugin({card("A")});
        std::atomic<bool> stop{false};
        std::atomic<bool> odd{false};
        std::thread reader([&] {
            while (!stop.load())
                if (plugin->devices().size() > 2)
                    odd.store(true);
        });
        for (int i = 0; i < 200; ++i) {
            board_->clearDrivers();
            board_->addDriver(card(i % 2 ? "A" : "B"));
            if (i % 3 == 0)
                board_->addDriver(card("C"));
            plugin->reloadDeviceList();
            settle(*plugin);
        }
        stop.store(true);
        reader.join();
        QVERIFY(!odd.load());
    }

    void destroyingTheBackendEndsOpenStreams()
    {
        auto plugin = makePlugin({card("A")});
        TestDevice sink;
        audio::Stream *capture = plugin->open("A", Plugin::Input, {}, &sink);
        Deletions deleted;
        deleted.watch({capture});
        plugin.reset();
        QCOMPARE(board_->calls().mid(board_->calls().size() - 3),
                 (QStringList{"stop", "disposeBuffers", "exit"}));
        QVERIFY(capture && !capture->isRunning() && !sink.isOpen());
        capture->close();
        QTRY_COMPARE(deleted.count(), 1);
    }
};

SNT_TEST_MAIN(ASIOPluginTest)
#include "ASIOPluginTest.moc"
