#include "HeldPhoneStream.h"
#include "SignalTools.h"
#include "audio/Client.h"
#include "audio/phone/AudioStreamServer.h"
#include "engine/tf/Measurement.h"
#include "engine/tf/generator/Generator.h"
#include "tests/audio/LogCapture.h"
#include "tests/support/LoopbackCard.h"
#include "tests/support/PhoneEmulator.h"
#include "tests/support/TestMain.h"

#include <QSignalSpy>

using namespace signaltest;
using snt::test::HeldPhoneStream;
using snt::test::LoopbackCard;
using snt::test::PhoneEmulator;

namespace {

constexpr double rate = 48000.0;
const QString phoneId = QStringLiteral("phone-1");
std::shared_ptr<LoopbackCard> card;

// What the phone hears of the loudspeaker: a peaking filter, at half the generator's level.
const Path heard{0.5, 0, Biquad::peaking(1000.0, 6.0, 2.0, rate)};

QJsonObject heardSweep(float duration, double ppm, double offset = 0.0)
{
    return {{"kind", "sweep"},  {"duration", duration},
            {"offset", offset}, {"amplitude", heard.gain},
            {"ppm", ppm},       {"filter", QJsonObject{{"f0", 1000}, {"gain_db", 6}, {"q", 2}}}};
}

// The records against the heard path from `low` to `high` Hz: the largest level error in dB.
double worstLevelError(const std::vector<BinRecord> &records, float low, float high)
{
    double worst = 0.0;
    for (const BinRecord &record : records) {
        if (record.frequency < low || record.frequency > high)
            continue;
        const double expected
                = std::abs(heard.response(2.0 * std::numbers::pi * record.frequency / rate));
        worst = std::max(worst, std::abs(20.0 * std::log10(record.magnitude / expected)));
    }
    return worst;
}

} // namespace

// A measurement with a phone as its microphone, end to end: the generator plays a sweep into
// the test card, the phone emulator (a WebSocket peer of its own) streams what a phone on a clock
// of its own hears of that sweep through a known filter, and the measurement finds, aligns and
// measures it block by block.
class PhoneMeasurementTest : public QObject
{
    Q_OBJECT

private:
    audio::AudioStreamServer *server_ = audio::AudioStreamServer::instance();

    struct Run
    {
        QList<int> statuses;
        QStringList log; // the "[TFBlock]" lines
        int completions = 0;
        float ppm = 0.0f;
        QList<float> blockPpms; // the clock offset found by each block that lined up
        std::vector<BinRecord> records;
    };

    // How the phone's audio reaches the measurement once it runs; the statuses are those the
    // measurement has shown so far.
    using Feed = std::function<void(PhoneEmulator &phone, const QList<int> &statuses)>;

    // A tracked block is read from a quarter period before its period begins; the stream's first
    // period has no quarter before it, so the first block taken whole is the second period, from
    // a read of a period and a half that ends two periods and a quarter into the stream.
    static double firstBlockRead(double period) { return 2.25 * period; }

    // The generator plays a sweep of `duration` s while `feed` gives the phone's audio.
    Run measure(float duration, const QJsonObject &signal, const Feed &feed)
    {
        Run run;
        PhoneEmulator phone(PHONE_EMULATOR_SCRIPT);
        if (!phone.open(server_->wsPort(), phoneId) || !phone.signal(signal)
            || !snt::test::waitUntil([&] { return server_->hasClient(phoneId); },
                                     PhoneEmulator::timeoutMs))
            return run;
        Generator generator;
        generator.setType(2);
        generator.setStartFrequency(20);
        generator.setEndFrequency(20000);
        generator.setDuration(duration);
        generator.setGain(0.0f);
        generator.setDeviceId(card->deviceId());
        generator.setChannels({0});
        if (!QTest::qWaitFor(
                    [&] { return generator.generatorThread()->channels() == QSet<int>{0}; }))
            return run;
        Measurement m;
        m.setDeviceId(phoneId);
        m.setAverageType(0);
        m.setGenerator(generator.generatorThread());
        LogCapture log;
        connect(&m, &Measurement::blockStatusChanged, &m,
                [&run](int status) { run.statuses.append(status); });
        connect(&m, &Measurement::blockRunCompleted, &m, [&run] { ++run.completions; });
        connect(&m, &Measurement::estimatedChanged, &m,
                [&run, &m] { run.blockPpms.append(m.phoneClockPpm()); });
        generator.setEnabled(true);
        m.setActive(true);
        feed(phone, run.statuses);
        run.ppm = m.phoneClockPpm();
        run.records = m.records();
        run.log = log.lines().filter("[TFBlock] ");
        m.setActive(false);
        generator.setEnabled(false);
        return run;
    }

private slots:
    void initTestCase()
    {
        card = std::make_shared<LoopbackCard>();
        QVERIFY(audio::Client::setPluginFactories({[] {
            return card;
        }}));
        QVERIFY(server_->listen(QHostAddress::LocalHost, 0, 0, 0));
    }

    void cleanupTestCase()
    {
        server_->stop();
        card.reset();
    }

    // Eight valid blocks complete the run; the phone's clock offset and the heard filter are
    // measured, and the blocks agree with each other (coherence).
    void sweepRunThroughAPhone_data()
    {
        QTest::addColumn<double>("ppm");
        QTest::newRow("0 ppm") << 0.0;
        QTest::newRow("+50 ppm") << 50.0;
        QTest::newRow("-120 ppm") << -120.0;
        QTest::newRow("+300 ppm") << 300.0;
    }

    void sweepRunThroughAPhone()
    {
        QFETCH(double, ppm);
        const Run run = measure(0.5f, heardSweep(0.5f, ppm),
                                [](PhoneEmulator &phone, const QList<int> &statuses) {
                                    HeldPhoneStream(phone, statuses)
                                            .waitFor({1, 3})
                                            .sendAtOnce(firstBlockRead(0.5))
                                            .waitFor({1, 3, 4})
                                            .stream(6.5)
                                            .waitFor({1, 3, 4, 11});
                                });
        QCOMPARE(run.statuses, (QList<int>{1, 3, 4, 11, 0}));
        QCOMPARE(run.completions, 1);
        QVERIFY2(run.log.contains("[TFBlock] phone-1 本轮完成: 有效 8 / 作废 0"),
                 qPrintable(run.log.join('\n')));
        QVERIFY2(std::abs(run.ppm - ppm) < 3.0, qPrintable(QString::number(run.ppm)));
        const double worst = worstLevelError(run.records, 100.0f, 15000.0f);
        QVERIFY2(worst < 0.3, qPrintable(QString::number(worst)));
        float lowest = 1.0f;
        for (const BinRecord &record : run.records)
            if (record.frequency >= 100.0f && record.frequency <= 15000.0f)
                lowest = std::min(lowest, record.coherence);
        QVERIFY2(lowest > 0.99f, qPrintable(QString::number(lowest)));
    }

    // Lost samples and a silent microphone void the block they fall in; the run still completes
    // and counts the voided block. The event falls in the fifth period (2 to 2.5 s), whose block
    // is read once the quarter after it has come (2.625 s on the phone's slightly slower clock
    // is a sample short); held just after that until the measurement has dealt with the event,
    // the phone then sends up to where the newest read holds the sixth period whole, clear of
    // the event, and streams on.
    void interruptionsAreReported_data()
    {
        QTest::addColumn<QJsonObject>("event");
        QTest::addColumn<QList<int>>("statuses");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("gap")
                << QJsonObject{{"at", 2.2}, {"kind", "gap"}, {"samples", 480}}
                << QList<int>{1, 3, 4, 7, 3, 4, 11, 0}
                << QStringList{"[TFBlock] phone-1 作废块: sampleIndex 有洞 (有效 3 / 作废 1)",
                               "[TFBlock] phone-1 本轮完成: 有效 8 / 作废 1"};
        QTest::newRow("silence")
                << QJsonObject{{"at", 2.2}, {"kind", "silence"}, {"seconds", 0.2}}
                << QList<int>{1, 3, 4, 10, 4, 11, 0}
                << QStringList{
                           "[TFBlock] phone-1 作废块: 信号中断（手机采集静默） (有效 3 / 作废 1)",
                           "[TFBlock] phone-1 本轮完成: 有效 8 / 作废 1"};
    }

    void interruptionsAreReported()
    {
        QFETCH(QJsonObject, event);
        QFETCH(QList<int>, statuses);
        QFETCH(QStringList, lines);
        const QList<int> held = statuses.first(statuses.size() - 3); // before measuring again
        const Run run = measure(0.5f, heardSweep(0.5f, 20.0),
                                [&](PhoneEmulator &phone, const QList<int> &shown) {
                                    HeldPhoneStream(phone, shown)
                                            .waitFor({1, 3})
                                            .sendAtOnce(firstBlockRead(0.5))
                                            .waitFor({1, 3, 4})
                                            .stream(2.65, {event})
                                            .waitFor(held)
                                            .sendAtOnce(3.2)
                                            .waitFor(held + QList<int>{4})
                                            .stream(7.5)
                                            .waitFor(held + QList<int>{4, 11});
                                });
        QCOMPARE(run.statuses, statuses);
        QStringList found = run.log.filter("作废块:") + run.log.filter("本轮完成:");
        QCOMPARE(found, lines);
    }

    // A phone whose connection drops and comes back with the same id interrupts the run: the
    // measurement, which saw it go, takes no block across the reconnection and voids none. The
    // new connection's samples begin at 2.5 s; held until the measurement waits for them, the
    // phone sends up to where the newest read holds the seventh period whole and streams on.
    void aDroppedConnectionVoidsNoBlock()
    {
        const Run run = measure(0.5f, heardSweep(0.5f, 20.0),
                                [this](PhoneEmulator &phone, const QList<int> &shown) {
                                    HeldPhoneStream(phone, shown)
                                            .waitFor({1, 3})
                                            .sendAtOnce(firstBlockRead(0.5))
                                            .waitFor({1, 3, 4})
                                            .stream(2.2)
                                            .drop()
                                            .waitFor({1, 3, 4, 1})
                                            .comeBack(server_->wsPort(), phoneId, 0.3, int(rate))
                                            .waitFor({1, 3, 4, 1, 3})
                                            .sendAtOnce(3.625)
                                            .waitFor({1, 3, 4, 1, 3, 4})
                                            .stream(7.5)
                                            .waitFor({1, 3, 4, 1, 3, 4, 11});
                                });
        QCOMPARE(run.statuses, (QList<int>{1, 3, 4, 1, 3, 4, 11, 0}));
        QCOMPARE(run.log.filter("作废块:") + run.log.filter("本轮完成:"),
                 QStringList{"[TFBlock] phone-1 本轮完成: 有效 8 / 作废 0"});
    }

    // A sweep the phone's ring cannot hold a period and a quarter of is refused at once, with
    // one line saying why, instead of waiting for ever.
    void tooLongSweepIsRefused()
    {
        const Run run = measure(10.0f, heardSweep(10.0f, 0.0),
                                [](PhoneEmulator &, const QList<int> &) { QTest::qWait(1000); });
        QCOMPARE(run.statuses, (QList<int>{1, 2, 0}));
        QCOMPARE(run.log, QStringList{"[TFBlock] phone-1 扫频过长: 10.0 s 超出手机采集可对齐的上限 "
                                      "7.2 s，无法测量"});
    }

    // The sweep a phone run plays (6 s for the phone's 10 s ring): every block read once locked
    // on is still in the ring, so a phone that loses nothing has no block voided, whatever its
    // clock, and each of those blocks finds the clock within 1 ppm. The first block is measured
    // over the whole period, the low end included (the phone's sweeps start 1 s into the
    // stream). The phone streams in real time, as a phone does: a block is read while the ring
    // still has 4 s of audio to spare, which a busy machine always gives; streamed four times as
    // fast, the spare second was not always there, and blocks were voided as overwritten. The
    // clock's range is taken at both ends.
    void phoneSweepBlocksStayInTheRing_data()
    {
        QTest::addColumn<double>("ppm");
        for (const double ppm : {-150.0, 80.0})
            QTest::addRow("%+.0f ppm", ppm) << ppm;
    }
    void phoneSweepBlocksStayInTheRing()
    {
        QFETCH(double, ppm);
        const auto sweep = float(
                PhoneBlockPath::longestTrackedSweepSeconds(audio::AudioStreamServer::ringSeconds));
        QCOMPARE(sweep, 6.0f);
        QJsonObject signal = heardSweep(sweep, ppm, sweep - 1.0);
        // Held after 9.9 s, the newest read (a period and a half) begins just before the sweep
        // that starts at 1 s.
        const Run run
                = measure(sweep, signal, [sweep](PhoneEmulator &phone, const QList<int> &statuses) {
                      HeldPhoneStream(phone, statuses)
                              .waitFor({1, 3})
                              .sendAtOnce(9.9)
                              .waitFor({1, 3, 4})
                              .stream(9.5 + 7 * sweep)
                              .waitFor({1, 3, 4, 11});
                  });
        QVERIFY2(run.log.contains("[TFBlock] phone-1 本轮完成: 有效 8 / 作废 0"),
                 qPrintable(run.log.join('\n')));
        QCOMPARE(run.statuses, (QList<int>{1, 3, 4, 11, 0}));
        QCOMPARE(run.blockPpms.size(), PhoneBlockPath::runBlocks);
        for (qsizetype block = 1; block < run.blockPpms.size(); ++block)
            QVERIFY2(std::abs(run.blockPpms[block] - ppm) < 1.0,
                     qPrintable(QStringLiteral("block %1: %2 ppm")
                                        .arg(block)
                                        .arg(run.blockPpms[block])));
        const double worst = worstLevelError(run.records, 30.0f, 15000.0f);
        QVERIFY2(worst < 0.3, qPrintable(QString::number(worst)));
    }
};

SNT_TEST_MAIN(PhoneMeasurementTest)
#include "PhoneMeasurementTest.moc"
