// Channel, EQ and dynamics writes against the simulated processor: each request as the device
// parsed it, and afterwards the client's view against the device's own reading of its keys, so
// a key at a wrong index shows as a disagreement.
#include "processor/EqSections.h"
#include "processor/ProcessorEqList.h"
#include "tests/processor/SimProcessor.h"
#include "tests/support/TestMain.h"

#include <array>
#include <cmath>
#include <functional>
#include <type_traits>

using snt::test::messages;
using snt::test::SimProcessor;

namespace {

// An operation under test and the map it answers; one that answers nothing gives an empty map.
using Action = std::function<QVariantMap(ProcessorClient &)>;

template<typename Operation>
Action act(Operation operation)
{
    return [operation](ProcessorClient &c) {
        if constexpr (std::is_void_v<decltype(operation(c))>) {
            operation(c);
            return QVariantMap();
        } else {
            return operation(c);
        }
    };
}

QVariantMap band(double freq, double gain, double q, bool enabled = true)
{
    return {{"frequency_hz", freq},
            {"gain_db", gain},
            {"q", q},
            {"enabled", enabled},
            {"filter_type", "peak"}};
}

// The curve the device's own numbers give for one strip.
QVariantList deviceCurve(const QJsonObject &strip)
{
    processor::Sections sections;
    for (const QJsonValue &b : strip["bands"].toArray()) {
        const QJsonObject band = b.toObject();
        if (band["bypass"].toInt() == 0)
            sections += processor::bandSection(band["freq"].toDouble(), band["gain"].toDouble(),
                                               band["q"].toDouble(), band["type"].toInt());
    }
    for (const char *side : {"hpf", "lpf"}) {
        const QJsonObject corner = strip[side].toObject();
        if (corner["bypass"].toInt() == 0)
            sections += processor::cornerSections(corner["freq"].toDouble(), corner["type"].toInt(),
                                                  side[0] == 'h');
    }
    QVariantList points;
    for (const float point : processor::thumbnailOf(sections))
        points.append(double(point));
    return points;
}

} // namespace

class ChannelWriteTest : public QObject
{
    Q_OBJECT

private:
    SimProcessor sim_;
    ProcessorClient client_;

    QList<QJsonObject> bodies() { return sim_.bodies(); }

    // Every field of every strip, EQ and dynamics block where the client and the device's own
    // reading of its keys differ.
    QStringList disagreements()
    {
        QStringList found;
        const auto differ
                = [&found](const QString &what, const QVariant &mine, const QVariant &device) {
                      if (mine != device)
                          found << QString("%1: client %2, device %3")
                                           .arg(what, mine.toString(), device.toString());
                  };
        const QJsonObject view = sim_.command("channels");
        for (const bool isOut : {false, true}) {
            const QVariantList strips = isOut ? client_.outputs() : client_.inputs();
            for (int idx = 0; idx < strips.size(); ++idx) {
                const QVariantMap mine = strips[idx].toMap();
                const QJsonObject dev = view[isOut ? "outputs" : "inputs"][idx].toObject();
                const QString at = QString("%1 %2 ").arg(isOut ? "out" : "in").arg(idx);
                differ(at + "gain", mine["gain"], dev["gain"].toDouble());
                differ(at + "muted", mine["muted"],
                       dev[isOut ? "mute_layer" : "mute"].toInt() != 0);
                differ(at + "phase", mine["phase"], dev["phase"].toInt() != 0);
                differ(at + "delay", mine["delay"],
                       QString::number(dev["delay"].toDouble(), 'f', 2));
                differ(at + "curve", mine["peq"], deviceCurve(dev));
                const QVariantMap eq = client_.readEqChannel(isOut, idx);
                for (int b = 0; b < 15; ++b) {
                    const QVariantMap band = eq["bands"].toList()[b].toMap();
                    const QJsonObject devBand = dev["bands"][b].toObject();
                    for (const char *key : {"freq", "gain", "q", "type"})
                        differ(at + "band " + key, band[key], devBand[key].toVariant());
                    differ(at + "bypass", band["bypass"], devBand["bypass"].toInt() != 0);
                }
                for (const char *side : {"hpf", "lpf"}) {
                    const QVariantMap corner = eq[side].toMap();
                    const QJsonObject devCorner = dev[side].toObject();
                    for (const char *key : {"freq", "type"})
                        differ(at + side + key, corner[key], devCorner[key].toVariant());
                    differ(at + side, corner["bypass"], devCorner["bypass"].toInt() != 0);
                }
                if (!isOut)
                    continue;
                differ(at + "routes", mine["routes"], dev["routes"].toVariant());
                const QVariantMap dyn = client_.readDynamics(idx);
                const QJsonObject comp = dev["comp"].toObject();
                const QJsonObject lim = dev["limiter"].toObject();
                differ(at + "comp",
                       QVariantList{dyn["compEnabled"], dyn["compThrd"], dyn["compKnee"],
                                    dyn["compRatio"], dyn["compAttack"], dyn["compRelease"]},
                       QVariantList{comp["bypass"].toInt() == 0, comp["COMPthrd"].toDouble(),
                                    comp["COMPknee"].toInt(), comp["COMPratio"].toDouble(),
                                    comp["COMPattack"].toInt(), comp["COMPrelease"].toInt()});
                differ(at + "limiter",
                       QVariantList{dyn["limEnabled"], dyn["limThrd"], dyn["limRelease"]},
                       QVariantList{lim["bypass"].toInt() == 0, lim["LIMITERthrd"].toDouble(),
                                    lim["LIMITERrelease"].toInt()});
            }
        }
        return found;
    }

    void expectAgreement()
    {
        const QStringList found = disagreements();
        QVERIFY2(found.isEmpty(), qPrintable(found.mid(0, 5).join('\n')));
    }

    // Waits until the device has received `count` requests, then a little longer for strays.
    bool settleAt(int count)
    {
        const bool reached = QTest::qWaitFor([&] { return bodies().size() >= count; }, 10000);
        QTest::qWait(150);
        return reached && bodies().size() == count;
    }

private slots:
    void initTestCase() { QVERIFY(sim_.start()); }

    void init()
    {
        sim_.command("reset_device");
        sim_.command("clear_faults");
        if (!client_.isConnected())
            QVERIFY(snt::test::connectTo(client_, sim_));
        client_.refreshAll();
        sim_.command("clear_log");
    }

    void writesAsTheDeviceReadsThem_data()
    {
        QTest::addColumn<Action>("action");
        QTest::addColumn<QJsonObject>("body");
        const auto row = [](const char *name, auto operation, QJsonObject body) {
            QTest::newRow(name) << act(operation) << body;
        };
        row("gain of input B", [](auto &c) { c.setChannelGain(false, 1, -6.5); },
            {{"GAINgain17", -6.5}});
        row("gain above the range", [](auto &c) { c.setChannelGain(true, 0, 20); },
            {{"GAINgain28", 15}});
        row("gain below the range", [](auto &c) { c.setChannelGain(false, 0, -60); },
            {{"GAINgain16", -40}});
        row("mute input D", [](auto &c) { c.setChannelMute(false, 3, true); }, {{"GAINmute19", 1}});
        row("mute output 3", [](auto &c) { c.setChannelMute(true, 2, true); },
            {{"GAINmute22", 1}, {"GAINmute30", 1}});
        row("invert output 8", [](auto &c) { c.setChannelPhase(true, 7, false); },
            {{"GAINphase35", 0}});
        row("delay 0", [](auto &c) { c.setChannelDelay(false, 0, 0); }, {{"DELAYtime16", 0}});
        row("delay 0.5 ms", [](auto &c) { c.setChannelDelay(true, 1, 0.5); },
            {{"DELAYtime29", 0.5}, {"DELAYbps29", 0}});
        row("delay above 2 s", [](auto &c) { c.setChannelDelay(true, 0, 2500); },
            {{"DELAYtime28", 2000}, {"DELAYbps28", 0}});
        row("delay below 0", [](auto &c) { c.setChannelDelay(false, 2, -1); },
            {{"DELAYtime18", 0}});
        row("route D to 8", [](auto &c) { c.setRoute(7, 3, true); }, {{"MIXERmute47", 0}});
        row("unroute A from 1", [](auto &c) { c.setRoute(0, 0, false); }, {{"MIXERmute16", 1}});
        const QVariantMap shelf{
                {"freq", 250}, {"gain", -4.5}, {"q", 2.5}, {"type", 1}, {"bypass", false}};
        row("band 4 of output 2", [shelf](auto &c) { return c.setEqBand(true, 1, 3, shelf); },
            {{"PEQfreq158", 250},
             {"PEQgain158", -4.5},
             {"PEQq_value158", 2.5},
             {"PEQtype158", 1},
             {"PEQbps158", 0}});
        row("band defaults", [](auto &c) { return c.setEqBand(false, 0, 14, {}); },
            {{"PEQfreq14", 100},
             {"PEQgain14", 0},
             {"PEQq_value14", 1},
             {"PEQtype14", 0},
             {"PEQbps14", 0}});
        row("high-pass of input C",
            [](auto &c) {
                return c.setEqFilter(false, 2, true, {{"freq", 80}, {"type", 13}});
            },
            {{"HLPFfreq2", 80}, {"HLPFtype2", 13}, {"HLPFbps2", 0}});
        row("low-pass without a frequency opens at 20 kHz",
            [](auto &c) {
                return c.setEqFilter(true, 7, false, {{"type", 3}});
            },
            {{"HLPFfreq23", 20000}, {"HLPFtype23", 3}, {"HLPFbps23", 0}});
        row("dynamics defaults", [](auto &c) { return c.writeDynamics(0, {}); },
            {{"COMPthrd4", 18},
             {"COMPknee4", 30},
             {"COMPratio4", 20},
             {"COMPattack4", 20},
             {"COMPrelease4", 200},
             {"LIMITERthrd0", 18},
             {"LIMITERrelease0", 200},
             {"BYPASSbypass12", 1},
             {"BYPASSbypass20", 1}});
        const QVariantMap both{{"compEnabled", true}, {"compThrd", 6.5}, {"compKnee", 10},
                               {"limEnabled", true},  {"limThrd", 12},   {"limRelease", 50}};
        row("dynamics of output 8", [both](auto &c) { return c.writeDynamics(7, both); },
            {{"COMPthrd11", 6.5},
             {"COMPknee11", 10},
             {"COMPratio11", 20},
             {"COMPattack11", 20},
             {"COMPrelease11", 200},
             {"LIMITERthrd7", 12},
             {"LIMITERrelease7", 50},
             {"BYPASSbypass19", 0},
             {"BYPASSbypass27", 0}});
    }

    void writesAsTheDeviceReadsThem()
    {
        QFETCH(Action, action);
        QFETCH(QJsonObject, body);
        QSignalSpy changed(&client_, &ProcessorClient::channelsChanged);
        QSignalSpy warnings(&client_, &ProcessorClient::message);
        const QVariantMap result = action(client_);
        QCOMPARE(bodies(), QList{body});
        if (!result.isEmpty())
            QVERIFY(result["ok"].toBool());
        QCOMPARE(warnings.count(), 0);
        QCOMPARE(changed.count(), 1);
        expectAgreement();
    }

    // Refused operations send nothing; writes the device fails send one request. Neither
    // changes the cache or the strips.
    void refusalsAndFailuresChangeNothing_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<Action>("action");
        QTest::addColumn<QString>("text");
        const QVariantList bands{band(100, 3, 1)};
        const auto row = [](const char *name, QString state, QString text, auto operation) {
            QTest::newRow(name) << state << act(operation) << text;
        };
        row("gain of output 9", "online", "", [](auto &c) { c.setChannelGain(true, 8, 0); });
        row("gain of input E", "online", "", [](auto &c) { c.setChannelGain(false, 4, 0); });
        row("gain not a number", "online", "", [](auto &c) { c.setChannelGain(false, 0, NAN); });
        row("live gain not a number", "online", "",
            [](auto &c) { c.setChannelGainLive(true, 0, NAN); });
        row("delay infinite", "online", "", [](auto &c) { c.setChannelDelay(true, 0, INFINITY); });
        row("route to output 9", "online", "", [](auto &c) { c.setRoute(8, 0, true); });
        row("route from input E", "online", "", [](auto &c) { c.setRoute(0, 4, true); });
        row("band 16", "online", "频点不对。",
            [](auto &c) { return c.setEqBand(true, 0, 15, {}); });
        row("EQ of output 9", "online", "通道号不对。",
            [](auto &c) { return c.setEqBand(true, 8, 0, {}); });
        row("corner of input -1", "online", "通道号不对。",
            [](auto &c) { return c.setEqFilter(false, -1, true, {}); });
        row("live EQ of input E", "online", "", [](auto &c) { c.setEqBandLive(false, 4, 0, {}); });
        row("dynamics of output 9", "online", "通道号不对。",
            [](auto &c) { return c.writeDynamics(8, {}); });
        row("upload to input E", "online", "通道号不对。",
            [bands](auto &c) { return c.uploadEqScheme(false, 4, bands, {}, {}); });
        row("gain offline", "offline", "先连接处理器。|warning",
            [](auto &c) { c.setChannelGain(false, 0, -3); });
        row("band offline", "offline", "先连接处理器。",
            [](auto &c) { return c.setEqBand(true, 0, 0, {}); });
        row("dynamics offline", "offline", "先连接处理器。",
            [](auto &c) { return c.writeDynamics(0, {}); });
        row("upload offline", "offline", "先连接处理器再上传。",
            [bands](auto &c) { return c.uploadEqScheme(true, 0, bands, {}, {}); });
        row("gain failed", "failing", "没写进去：HTTP 204|warning",
            [](auto &c) { c.setChannelGain(false, 0, -10); });
        row("band failed", "failing", "没写进去：HTTP 204",
            [](auto &c) { return c.setEqBand(true, 0, 0, {}); });
        row("dynamics failed", "failing", "没写进去：HTTP 204",
            [](auto &c) { return c.writeDynamics(0, {}); });
        row("upload failed", "failing", "上传失败：HTTP 204",
            [bands](auto &c) { return c.uploadEqScheme(true, 0, bands, {}, {}); });
        row("gain refused", "refusing", "没写进去：设备没接受这条操作。|warning",
            [](auto &c) { c.setChannelGain(true, 1, -12); });
        row("route refused beside its data", "refusing beside",
            "没写进去：设备没接受这条操作。|warning", [](auto &c) { c.setRoute(1, 3, true); });
        row("band refused", "refusing", "没写进去：设备没接受这条操作。", [](auto &c) {
            return c.setEqBand(true, 0, 0, {{"gain", 6}});
        });
        row("dynamics refused beside their data", "refusing beside",
            "没写进去：设备没接受这条操作。", [](auto &c) { return c.writeDynamics(0, {}); });
        row("upload refused", "refusing", "上传失败：设备没接受这条操作。",
            [bands](auto &c) { return c.uploadEqScheme(true, 0, bands, {}, {}); });
    }

    void refusalsAndFailuresChangeNothing()
    {
        QFETCH(QString, state);
        QFETCH(Action, action);
        QFETCH(QString, text);
        if (state == "offline")
            client_.disconnectDevice();
        if (state == "failing")
            sim_.fault("write", "status", {{"status", 204}});
        if (state == "refusing")
            sim_.fault("write", "error");
        if (state == "refusing beside")
            sim_.fault("write", "error_outside");
        QSignalSpy warnings(&client_, &ProcessorClient::message);
        QSignalSpy changed(&client_, &ProcessorClient::channelsChanged);
        const QJsonObject cache = client_.paramCache();
        const QVariantList outputs = client_.outputs();
        const QVariantMap result = action(client_);
        QCOMPARE(result.isEmpty() ? messages(warnings).join(',') : result["message"].toString(),
                 text);
        QVERIFY(settleAt(state == "failing" || state.startsWith("refusing") ? 1 : 0));
        QCOMPARE(client_.paramCache(), cache);
        QCOMPARE(client_.outputs(), outputs);
        QCOMPARE(changed.count(), 0);
    }

    // Moves within 35 ms go out as one request; moves while it waits for its answer go out
    // after it, with their newest values; the strips follow without a signal.
    void liveGainCoalesces()
    {
        QSignalSpy changed(&client_, &ProcessorClient::channelsChanged);
        sim_.fault("write", "delay", {{"ms", 500}, {"times", 1}});
        for (const double db : {-3.0, -4.0, -5.0})
            client_.setChannelGainLive(false, 0, db);
        QVERIFY(QTest::qWaitFor([&] { return bodies().size() == 1; }, 10000));
        client_.setChannelGainLive(true, 1, -6.0);
        client_.setChannelGainLive(true, 1, -7.0);
        client_.setChannelGainLive(false, 0, 2.0);
        QTest::qWait(250);
        QCOMPARE(bodies().size(), 1);
        QVERIFY(settleAt(2));
        QCOMPARE(bodies(), (QList<QJsonObject>{{{"GAINgain16", -5}},
                                               {{"GAINgain16", 2}, {"GAINgain29", -7}}}));
        QCOMPARE(changed.count(), 0);
        QCOMPARE(client_.inputs()[0].toMap()["gain"], QVariant(2.0));
        QCOMPARE(client_.paramCache()["GAINgain29"].toDouble(), -7.0);
        expectAgreement();
    }

    // A live gain the processor did not take stays neither in the cache nor on the strip: both
    // hold the last gain it took again, from which the next step starts.
    void liveGainNotTakenIsUndone_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QJsonObject>("fields");
        QTest::newRow("HTTP 500") << "status" << QJsonObject{{"status", 500}};
        QTest::newRow("refused") << "error" << QJsonObject();
        QTest::newRow("refused beside its data") << "error_outside" << QJsonObject();
        QTest::newRow("no answer within 800 ms") << "never" << QJsonObject();
    }

    void liveGainNotTakenIsUndone()
    {
        QFETCH(QString, kind);
        QFETCH(QJsonObject, fields);
        client_.setChannelGainLive(true, 2, -12.0);
        QVERIFY(settleAt(1));
        QSignalSpy changed(&client_, &ProcessorClient::channelsChanged);
        fields["times"] = 1;
        sim_.fault("write", kind, fields);
        client_.setChannelGainLive(true, 2, -3.0);
        QVERIFY(settleAt(2));
        QTRY_COMPARE(client_.outputs()[2].toMap()["gain"], QVariant(-12.0));
        QCOMPARE(client_.paramCache()["GAINgain30"].toDouble(), -12.0);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(sim_.state().value("params").toObject().value("GAINgain30").toDouble(), -12.0);
        expectAgreement();

        // A newer value the processor takes is kept as before.
        client_.setChannelGainLive(true, 2, -11.9);
        QVERIFY(settleAt(3));
        QCOMPARE(client_.paramCache()["GAINgain30"].toDouble(), -11.9);
        expectAgreement();
    }

    // A live gain the processor did not take is never shown as its value: the strip shows again
    // the gain its full read reported, or, where that read reported none, what a channel never
    // read shows, as it did before the move.
    void refusedLiveGainIsNotShown_data()
    {
        QTest::addColumn<bool>("reported");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QJsonObject>("fields");
        const QJsonObject moved{{"status", 301},
                                {"headers", QJsonObject{{"Location", "http://127.0.0.1:1/"}}}};
        for (const bool reported : {true, false}) {
            const char *read = reported ? "key in the full read" : "key absent";
            QTest::addRow("%s, redirected", read) << reported << "status" << moved;
            QTest::addRow("%s, HTTP 500", read)
                    << reported << "status" << QJsonObject{{"status", 500}};
            QTest::addRow("%s, refused", read) << reported << "error" << QJsonObject();
        }
    }

    void refusedLiveGainIsNotShown()
    {
        QFETCH(bool, reported);
        QFETCH(QString, kind);
        QFETCH(QJsonObject, fields);
        if (!reported) {
            sim_.command("remove", {{"keys", QJsonArray{"GAINgain16"}}});
            client_.refreshAll();
            sim_.command("clear_log");
        }
        QCOMPARE(client_.paramCache().contains("GAINgain16"), reported);
        QSignalSpy changed(&client_, &ProcessorClient::channelsChanged);
        fields["times"] = 1;
        sim_.fault("write", kind, fields);
        client_.setChannelGainLive(false, 0, -7.0);
        QVERIFY(settleAt(1));
        QTRY_COMPARE(client_.inputs()[0].toMap()["gain"], QVariant(0.0));
        QCOMPARE(client_.paramCache().contains("GAINgain16"), reported);
        QCOMPARE(changed.count(), 1);
        expectAgreement();
    }

    // A final write that lands while a live post is out is the processor's value: the late
    // failure of the older live post does not undo it.
    void finalWriteOutlivesAFailedLivePost()
    {
        sim_.fault("write", "never", {{"times", 1}});
        client_.setEqBandLive(true, 0, 1, {{"freq", 300}, {"gain", 4}});
        QVERIFY(QTest::qWaitFor([&] { return bodies().size() == 1; }, 10000));
        QVERIFY(client_.setEqBand(true, 0, 1, {{"freq", 310}, {"gain", 5}})["ok"].toBool());
        QVERIFY(settleAt(2));
        QTest::qWait(1000);
        QCOMPARE(client_.paramCache()["PEQgain141"].toDouble(), 5.0);
        expectAgreement();
    }

    // The 35 ms run from the first move of a burst: a long drag is heard while it lasts.
    void longDragIsSentWhileItLasts()
    {
        for (int step = 0; step <= 30; ++step) {
            client_.setChannelGainLive(true, 3, -step * 0.5);
            QTest::qWait(10);
        }
        const QJsonObject last{{"GAINgain31", -15}};
        QVERIFY(QTest::qWaitFor([&] { return bodies().value(bodies().size() - 1) == last; },
                                10000));
        QVERIFY2(bodies().size() >= 3, qPrintable(QString::number(bodies().size())));
    }

    // A drag left over from a lost link never reaches the processor after a reconnect.
    void oldDragsAreDropped()
    {
        client_.setChannelGainLive(false, 2, -30);
        client_.setEqBandLive(true, 0, 0, {{"gain", 12}});
        client_.disconnectDevice();
        client_.setChannelGainLive(false, 3, -25); // kept while offline, dropped by the connect
        QVERIFY(snt::test::connectTo(client_, sim_));
        sim_.command("clear_log");
        client_.setChannelGainLive(true, 4, -1);
        client_.setEqBandLive(true, 1, 0, {{"gain", 1}});
        QVERIFY(settleAt(2));
        QStringList sent;
        for (const QJsonObject &body : bodies())
            sent += body.keys();
        sent.sort();
        QCOMPARE(sent, (QStringList{"GAINgain32", "PEQbps155", "PEQfreq155", "PEQgain155",
                                    "PEQq_value155", "PEQtype155"}));
    }

    // The curve waits for the final write; the cache and device follow the drag.
    void liveBandThenFinalWrite()
    {
        QSignalSpy changed(&client_, &ProcessorClient::channelsChanged);
        const QVariant flat = client_.outputs()[5].toMap()["peq"];
        client_.setEqBandLive(true, 5, 2, {{"freq", 500}, {"gain", 3}});
        client_.setEqBandLive(true, 5, 2, {{"freq", 600}, {"gain", 9}, {"q", 2}});
        QVERIFY(settleAt(1));
        QCOMPARE(bodies()[0], QJsonObject({{"PEQfreq217", 600},
                                           {"PEQgain217", 9},
                                           {"PEQq_value217", 2},
                                           {"PEQtype217", 0},
                                           {"PEQbps217", 0}}));
        QCOMPARE(changed.count(), 0);
        QCOMPARE(client_.outputs()[5].toMap()["peq"], flat);
        QCOMPARE(client_.paramCache()["PEQgain217"].toDouble(), 9.0);
        QVERIFY(client_.setEqBand(true, 5, 2, {{"freq", 600}, {"gain", 9}, {"q", 2}})["ok"]
                        .toBool());
        QCOMPARE(changed.count(), 1);
        QVERIFY(client_.outputs()[5].toMap()["peq"] != flat);
        expectAgreement();
    }

    // The strips show the device's settings right after connecting and after every full read.
    void stripsAfterConnectAndRefresh()
    {
        client_.disconnectDevice();
        sim_.seed({{"GAINgain17", -20.5},
                   {"GAINmute22", 1},
                   {"GAINmute30", 1},
                   {"GAINphase29", 0},
                   {"DELAYtime16", 2.5},
                   {"MIXERmute19", 0},
                   {"PEQbps3", 0},
                   {"PEQgain3", 6},
                   {"HLPFbps20", 0},
                   {"COMPthrd9", -3}});
        QVERIFY(snt::test::connectTo(client_, sim_));
        QCOMPARE(client_.inputs()[1].toMap()["gain"], QVariant(-20.5));
        QCOMPARE(client_.inputs()[1].toMap()["fader"], QVariant(19.5 / 55));
        expectAgreement();
        sim_.seed({{"GAINgain17", -7}, {"GAINmute22", 0}, {"DELAYtime16", 0}});
        QSignalSpy changed(&client_, &ProcessorClient::channelsChanged);
        client_.refreshAll();
        QCOMPARE(changed.count(), 1);
        QCOMPARE(client_.inputs()[1].toMap()["gain"], QVariant(-7.0));
        expectAgreement();
    }

    void uploadEndToEnd()
    {
        QVariantList filters;
        for (int b = 0; b < 19; ++b)
            filters << band(40.0 * (b + 1), b % 2 ? -3.5 : 2.0, 0.5 + 0.25 * b, b != 4);
        QSignalSpy changed(&client_, &ProcessorClient::channelsChanged);
        const QVariantMap result = client_.uploadEqScheme(
                true, 1, filters, {{"filter_type", "LR24"}, {"frequency_hz", 80}},
                {{"filter_type", "butter36"}, {"frequency_hz", 16000}});
        QCOMPARE(result, (QVariantMap{{"ok", true},
                                      {"message", "EQ 已写进 OUT 2。 超过 15 段，多出来的没写。"},
                                      {"truncated", true}}));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(bodies().size(), 1);
        QCOMPARE(bodies()[0].size(), 15 * 5 + 3 + 3);
        const QVariantMap eq = client_.readEqChannel(true, 1);
        for (int b = 0; b < 15; ++b) {
            const QVariantMap sent = filters[b < 4 ? b : b + 1].toMap();
            QCOMPARE(eq["bands"].toList()[b].toMap(), (QVariantMap{{"freq", sent["frequency_hz"]},
                                                                   {"gain", sent["gain_db"]},
                                                                   {"q", sent["q"]},
                                                                   {"type", 0},
                                                                   {"bypass", false}}));
        }
        QCOMPARE(eq["hpf"], QVariant(QVariantMap{{"freq", 80.0}, {"type", 13}, {"bypass", false}}));
        QCOMPARE(eq["lpf"],
                 QVariant(QVariantMap{{"freq", 16000.0}, {"type", 4}, {"bypass", false}}));
        expectAgreement();

        // Fewer bands switch the rest off and leave their values; an empty corner is switched off.
        sim_.command("clear_log");
        const QVariantMap again = client_.uploadEqScheme(
                false, 0, {band(100, 1, 1), band(200, 2, 2), band(300, 3, 3)},
                {{"filter_type", "bessel6"}, {"frequency_hz", 30}}, {});
        QCOMPARE(again["message"], QVariant("EQ 已写进 IN 1。"));
        QCOMPARE(again["truncated"], QVariant(false));
        QJsonObject expected{
                {"HLPFbps0", 0}, {"HLPFfreq0", 30}, {"HLPFtype0", 6}, {"HLPFbps12", 1}};
        for (int b = 0; b < 15; ++b) {
            expected.insert(QString("PEQbps%1").arg(b), b < 3 ? 0 : 1);
            if (b >= 3)
                continue;
            expected.insert(QString("PEQfreq%1").arg(b), 100 * (b + 1));
            expected.insert(QString("PEQgain%1").arg(b), b + 1);
            expected.insert(QString("PEQq_value%1").arg(b), b + 1);
            expected.insert(QString("PEQtype%1").arg(b), 0);
        }
        QCOMPARE(bodies(), QList{expected});
        expectAgreement();
    }

    // The typed list and its map form send the same request: disabled bands are left out, a
    // value that is not a finite number goes as 0, a corner without a type is switched off.
    void typedListAndItsMapFormUploadAlike()
    {
        ProcessorEqList list;
        list.bands = {{100, 2, 1, true}, {200, -4, 2, false}, {300, 1.5, 3, true}};
        list.highPass = {"lr24", 80};
        QCOMPARE(
                ProcessorEqList::fromMaps(list.filtersJson().toVariantList(),
                                          ProcessorEqList::cornerJson(list.highPass).toVariantMap(),
                                          ProcessorEqList::cornerJson(list.lowPass).toVariantMap()),
                list);

        list.bands[2].gainDb = NAN;
        QJsonObject expected{
                {"HLPFbps0", 0}, {"HLPFfreq0", 80}, {"HLPFtype0", 13}, {"HLPFbps12", 1}};
        const QList<std::array<double, 3>> sent{{100, 2, 1}, {300, 0, 3}};
        for (int b = 0; b < 15; ++b) {
            expected.insert(QString("PEQbps%1").arg(b), b < 2 ? 0 : 1);
            if (b >= 2)
                continue;
            expected.insert(QString("PEQfreq%1").arg(b), sent[b][0]);
            expected.insert(QString("PEQgain%1").arg(b), sent[b][1]);
            expected.insert(QString("PEQq_value%1").arg(b), sent[b][2]);
            expected.insert(QString("PEQtype%1").arg(b), 0);
        }
        sim_.command("clear_log");
        QCOMPARE(client_.uploadEqScheme(false, 0, list)["ok"], QVariant(true));
        QCOMPARE(bodies(), QList{expected});
        sim_.command("clear_log");
        QCOMPARE(client_.uploadEqScheme(
                         false, 0, list.filtersJson().toVariantList(),
                         ProcessorEqList::cornerJson(list.highPass).toVariantMap(),
                         ProcessorEqList::cornerJson(list.lowPass).toVariantMap())["ok"],
                 QVariant(true));
        QCOMPARE(bodies(), QList{expected});
        expectAgreement();
    }
};

SNT_TEST_MAIN(ChannelWriteTest)
#include "ChannelWriteTest.moc"
