// The scheme choice, editing and delivery members of the bridge, in process after a real EQ
// computation on a synthetic curve: previews against the analytic band response, edits through
// to the pack file on disk, the preset on the desktop and the clipboard, the upload as the
// simulated processor logs it, and the real converter's outputs.
#include "app/AppCore.h"
#include "app/PackTextExport.h"
#include "app/QmlBridge.h"
#include "audio/Client.h"
#include "eq/BandRules.h"
#include "eq/CurvePreparation.h"
#include "files/DataFolder.h"
#include "tests/audio/FakePlugin.h"
#include "tests/eq/SyntheticCurves.h"
#include "tests/files/CutShortSaves.h"
#include "tests/processor/SimProcessor.h"
#include "tests/support/GuiTestMain.h"

#include <QClipboard>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointF>
#include <QSignalSpy>
#include <QTest>

using snt::eq::Scheme;

namespace {

constexpr int computeWaitMs = 120000;

// The value of a curve point list at the point nearest to `hz`.
// Curves given as point lists, in the map form the screens read.
QVariantMap asPointMaps(const QVariantMap &curves)
{
    QVariantMap maps;
    for (auto it = curves.cbegin(); it != curves.cend(); ++it) {
        QVariantList list;
        for (const QPointF &point : it.value().value<QList<QPointF>>())
            list.append(QVariantMap{{"f", point.x()}, {"d", point.y()}});
        maps.insert(it.key(), list);
    }
    return maps;
}

double valueAt(const QVariant &points, double hz)
{
    double best = 1e9;
    double value = NAN;
    for (const QVariant &point : points.toList()) {
        const QVariantMap p = point.toMap();
        const double distance = std::abs(std::log(p.value("f").toDouble() / hz));
        if (distance < best) {
            best = distance;
            value = p.value("d").toDouble();
        }
    }
    return value;
}

// A scheme on the standard grid with a flat level and target, as a stored result has it.
Scheme storedScheme(int targetIndex)
{
    Scheme scheme;
    scheme.name = "平直 A";
    scheme.targetIndex = targetIndex;
    scheme.freq = snt::eq::standardGrid();
    scheme.measuredRaw = QList<float>(scheme.freq.size(), 0.0f);
    scheme.measured = scheme.measuredRaw;
    scheme.target = scheme.measuredRaw;
    scheme.bands = {{1000, 6, 1, true}};
    return scheme;
}

CurvePack packOnDisk(const QString &name)
{
    ProjectStore store;
    store.loadCurvePacks();
    for (const CurvePack &pack : std::as_const(store.curvePacks)) {
        if (pack.name == name)
            return pack;
    }
    return {};
}

} // namespace

class DeliveryBridgeTest : public QObject
{
    Q_OBJECT

private:
    std::shared_ptr<FakePlugin> plugin_;
    std::unique_ptr<QmlBridge> bridge_;

    AppCore &core() { return bridge_->core(); }

private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName("Halvo");
        QCoreApplication::setApplicationName("测量工作流");
        plugin_ = std::make_shared<FakePlugin>("Fake");
        QVERIFY(audio::Client::setPluginFactories({[this] {
            return plugin_;
        }}));
        bridge_ = std::make_unique<QmlBridge>();
        const snt::eq::Measured curve
                = snt::eq::synthetic::curve({{1000, 6, 1}, {250, -4, 1.5}}, 60, 4, 18000, 2);
        core().setMeasured(
                {.freq = curve.freq, .magnitude = curve.magnitude, .coherence = curve.coherence});
        bridge_->startCompute();
        QTRY_COMPARE_WITH_TIMEOUT(bridge_->screen(), QString("点声源-选用途"), computeWaitMs);
        QCOMPARE(core().result().schemes.size(), 6);
    }

    void cleanupTestCase() { bridge_.reset(); }

    void targetsAndTheirCoreIndices()
    {
        QStringList slugs;
        QList<int> coreIndices;
        for (const QVariant &entry : bridge_->targets()) {
            slugs << entry.toMap().value("slug").toString();
            coreIndices << entry.toMap().value("coreIndex").toInt();
            QVERIFY(entry.toMap().value("points").toList().size() <= 80);
        }
        QCOMPARE(slugs,
                 QStringList({"flat", "main_lf2", "outdoor3", "dj_edm", "fill120", "monitor120"}));
        QCOMPARE(coreIndices, QList<int>({0, 1, 3, 2, 4, 5}));
        QSignalSpy targets(bridge_.get(), &QmlBridge::targetsChanged);
        QSignalSpy schemes(bridge_.get(), &QmlBridge::schemesChanged);
        for (const auto &[position, coreIndex] : {std::pair{2, 3}, {2, 3}, {99, 5}, {-4, 0}}) {
            bridge_->selectTarget(position);
            QCOMPARE(core().result().selectedTarget, coreIndex);
            QCOMPARE(bridge_->selectedTarget(), std::clamp(position, 0, 5));
        }
        QCOMPARE(targets.count(), 3);
        QCOMPARE(schemes.count(), 3);
    }

    // From the compute snapshot: the levels relative to the scheme's level, the bands applied
    // as their analytic response, the corners far away at 1 kHz.
    void previewsFromTheComputeSnapshot()
    {
        const QVariantList schemes = bridge_->schemes();
        QCOMPARE(schemes.size(), core().result().schemes.size());
        for (qsizetype i = 0; i < schemes.size(); ++i) {
            const QVariantMap entry = schemes[i].toMap();
            const Scheme &scheme = core().result().schemes[i];
            QCOMPARE(entry.value("name").toString(), scheme.name);
            QCOMPARE(entry.value("blocked").toBool(), scheme.blocked());
            for (const char *key : {"before", "after", "phaseBefore", "phaseAfter", "coherence"}) {
                QVERIFY(entry.contains(key));
                QVERIFY(entry.value(key).toList().size() <= 480);
            }
            // The synthetic curve has no phase; its level and coherence are drawn.
            QVERIFY(!entry.value("after").toList().isEmpty());
            QVERIFY(!entry.value("coherence").toList().isEmpty());
            const double before = valueAt(entry.value("before"), 1000);
            QVERIFY(std::abs(before - valueAt(entry.value("before"), 400) - 6.0) < 1.0);
            double eq = 0.0;
            for (const snt::eq::SchemeBand &band : scheme.bands)
                eq += band.enabled ? snt::eq::peakingGainDb(1000, band.freq, band.gain, band.q)
                                   : 0.0;
            QVERIFY2(std::abs(valueAt(entry.value("after"), 1000) - before - eq) < 0.75,
                     qPrintable(scheme.name));
        }
        QCOMPARE(bridge_->schemeCurves(99), QVariantMap());
    }

    // Without a compute snapshot the preview comes from the scheme's own curves, the coherence
    // from the current measurement; a blocked scheme is listed with its preview.
    void previewsFromTheSchemeAndBlockedSchemes()
    {
        QmlBridge bridge;
        QSignalSpy schemesChanged(&bridge, &QmlBridge::schemesChanged);
        bridge.selectScheme(1);
        QCOMPARE(schemesChanged.count(), 0);
        Scheme fallback = storedScheme(-1);
        fallback.measuredRaw.clear();
        fallback.measured.fill(2.0f);
        fallback.blockedReason = "曲线太乱";
        bridge.core().setSchemes({storedScheme(3), fallback});
        const QList<float> grid = snt::eq::standardGrid();
        bridge.core().setMeasured({.freq = grid, .coherence = QList<float>(grid.size(), 0.5f)});
        bridge.selectScheme(0);
        QCOMPARE(bridge.core().result().selectedTarget, 3);
        bridge.selectScheme(7);
        QCOMPARE(bridge.selectedScheme(), 1);
        QCOMPARE(bridge.core().result().selectedTarget, 3);
        QCOMPARE(schemesChanged.count(), 2);

        const QVariantMap first = bridge.schemeCurves(0);
        QVERIFY(std::abs(valueAt(first.value("before"), 1000)) < 0.01);
        QVERIFY(std::abs(valueAt(first.value("after"), 1000) - 6.0) < 0.3);
        QVERIFY(std::abs(valueAt(first.value("target"), 1000)) < 0.01);
        QVERIFY(std::abs(valueAt(first.value("coherence"), 1000) - 0.5) < 0.01);
        const QVariantMap blocked = bridge.schemes().at(1).toMap();
        QVERIFY(blocked.value("blocked").toBool());
        QVERIFY(std::abs(valueAt(blocked.value("before"), 1000) - 2.0) < 0.01);
        QCOMPARE(bridge.corners().value("blockedReason"), QVariant("曲线太乱"));

        bridge.exportCurrentPack();
        QCOMPARE(bridge.toastText(), QString("这条曲线不建议计算，没有 EQ 可以导出"));
        bridge.copyCurrentParams();
        QCOMPARE(bridge.toastText(), QString("这条曲线不建议计算，没有 EQ 可以复制"));
        QCOMPARE(bridge.uploadEqToOfficial(true, 0).value("message"),
                 QVariant("请先测量音响并计算结果，再到这里上传。"));
        QVERIFY(QDir(QDir::homePath() + "/Desktop").isEmpty());
    }

    // A kept preview is handed out again only while its sources stand: a target, a band or the
    // coherence changed shows at the next read.
    void previewsFollowTheirSources()
    {
        QmlBridge bridge;
        AppCore &core = bridge.core();
        core.setSchemes({storedScheme(3)});
        const QList<float> grid = snt::eq::standardGrid();
        core.setMeasured({.freq = grid, .coherence = QList<float>(grid.size(), 0.5f)});
        QCOMPARE(bridge.schemes().first().toMap().value("after"),
                 bridge.schemeCurves(0).value("after"));
        Scheme scheme = core.result().schemes[0];
        scheme.target.fill(-2.0f);
        core.setScheme(0, scheme);
        QVERIFY(std::abs(valueAt(bridge.schemeCurves(0).value("target"), 1000) + 2.0) < 0.01);
        scheme.bands[0].gain = -4.0f;
        core.setScheme(0, scheme);
        // Read first as points, the kept preview then gives its maps: the same curves.
        const QVariantMap points = bridge.schemeCurvePoints(0);
        QCOMPARE(asPointMaps(points), bridge.schemeCurves(0));
        QVERIFY(std::abs(valueAt(bridge.schemeCurves(0).value("after"), 1000) + 4.0) < 0.3);
        MeasuredCurve measured = core.measured();
        measured.coherence.fill(0.25f);
        core.setMeasured(measured);
        QVERIFY(std::abs(valueAt(bridge.schemeCurves(0).value("coherence"), 1000) - 0.25) < 0.01);
    }

    // The pack curves show the result as it was computed, whenever they are first read: an edit
    // made before that does not reach them, as it does the scheme's own preview.
    void packCurvesShowTheResultAsComputed()
    {
        QmlBridge bridge;
        bridge.core().setMeasured(core().measured());
        bridge.startCompute();
        QTRY_VERIFY_WITH_TIMEOUT(!bridge.computing(), computeWaitMs);
        const snt::eq::SchemeBand band = bridge.core().result().schemes[0].bands.value(0);
        bridge.selectScheme(0);
        bridge.updateEqBand(0, band.freq, band.q, band.gain - 2.0);
        const QVariantList bundles = bridge.property("curveBundles").toList();
        QCOMPARE(bundles.size(), bridge.core().result().schemes.size());
        QVERIFY(bundles[0].toMap().value("after") != bridge.schemeCurves(0).value("after"));
        bridge.updateEqBand(0, band.freq, band.q, band.gain);
        QCOMPARE(bundles[0].toMap().value("after"), bridge.schemeCurves(0).value("after"));
        QCOMPARE(bundles[0].toMap().value("before"), bridge.schemeCurves(0).value("before"));
    }

    // Edits change the selected scheme and, 350 ms later, the bound pack on disk; the same edit
    // again, a value that is not finite or an index outside the list changes nothing.
    void editsReachThePackFileAndGoOnReselect()
    {
        bridge_->enterScheme(0);
        QCOMPARE(bridge_->screen(), QString("点声源-交付与复测"));
        QCOMPARE(bridge_->toastText(), QString("曲线已放进「未归属」"));
        const QString packName = core().store().curvePacks.last().name;
        const QList<snt::eq::SchemeBand> computed = core().result().schemes[0].bands;
        QVERIFY(!computed.isEmpty());

        QSignalSpy changed(bridge_.get(), &QmlBridge::schemesChanged);
        bridge_->updateEqBand(0, 5, 50, 30);
        QCOMPARE(bridge_->eqBands().first().toMap(), (QVariantMap{{"index", 1},
                                                                  {"freq", 20.0f},
                                                                  {"gain", 18.0f},
                                                                  {"q", 20.0f},
                                                                  {"enabled", true}}));
        bridge_->updateEqBand(0, 20, 20, 18);
        bridge_->updateEqBand(0, NAN, 1, 1);
        bridge_->updateEqBand(computed.size(), 100, 1, 1);
        bridge_->removeEqBand(-1);
        bridge_->setEqBandEnabled(0, true);
        bridge_->updateCorner("hpf", INFINITY, 12);
        QCOMPARE(changed.count(), 1);
        QTRY_COMPARE(packOnDisk(packName).bands.value(0).freq, 20.0f);

        bridge_->selectScheme(0);
        QCOMPARE(core().result().schemes[0].bands, computed);
        QCOMPARE(packOnDisk(packName).bands.value(0).freq, 20.0f);
        bridge_->go("主页");
        QCOMPARE(core().result().schemes[0].bands, computed);
    }

    void bandLimitAndCornerRules()
    {
        bridge_->enterScheme(0);
        while (core().result().schemes[0].bands.size() < 12)
            bridge_->addEqBand();
        QCOMPARE(bridge_->eqBands().size(), 12);
        bridge_->addEqBand();
        QCOMPARE(bridge_->toastText(), QString("EQ 最多 12 段"));
        QCOMPARE(bridge_->eqBands().size(), 12);

        bridge_->updateCorner("hpf", 5, 18);
        QCOMPARE(bridge_->corners().value("hpfHz"), QVariant(10.0));
        QCOMPARE(bridge_->corners().value("hpfSlopeDb"), QVariant(18));
        bridge_->updateCornerType("hpf", "lr");
        QCOMPARE(bridge_->corners().value("hpfType"), QVariant("LR"));
        QCOMPARE(bridge_->corners().value("hpfSlopeDb"), QVariant(24));
        bridge_->updateCorner("lpf", 8000, 0);
        QCOMPARE(bridge_->corners().value("lpfOn"), QVariant(false));
        QCOMPARE(bridge_->corners().value("lpfSlopeDb"), QVariant(0));
        QCOMPARE(core().result().schemes[0].hpf, (snt::eq::Corner{true, "LR", 4, 10}));
    }

    void presetFileAndClipboardCarryTheEditedScheme()
    {
        QVERIFY(bridge_->exportCurrentPack());
        QCOMPARE(bridge_->toastText(), QString("EQ 预设已导出到桌面"));
        const QString name = QString(core().store().curvePacks.last().name).remove(' ');
        QFile file(QDir::homePath() + "/Desktop/" + name + ".kvr");
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
        const QJsonArray iir = QJsonDocument::fromJson(content).object().value("iir").toArray();
        QCOMPARE(iir.first().toObject(),
                 (QJsonObject{{"freq", 10}, {"order", 4}, {"type", "hpfLr"}}));
        int bands = 0;
        for (const snt::eq::SchemeBand &band : core().result().schemes[0].bands)
            bands += band.enabled && std::abs(band.gain) >= 0.0001f;
        QCOMPARE(iir.size(), bands + 1);

        bridge_->copyCurrentParams();
        QCOMPARE(bridge_->toastText(), QString("EQ 参数已复制"));
        QCOMPARE(QGuiApplication::clipboard()->text().toUtf8(), content);
    }

    // A 36 dB/oct Linkwitz-Riley and a 6 dB/oct Butterworth corner reach the processor as such.
    void uploadReachesTheSimulatedProcessor()
    {
        snt::test::SimProcessor sim;
        QVERIFY(sim.start());
        auto *client = qobject_cast<ProcessorClient *>(bridge_->processor());
        QVERIFY(snt::test::connectTo(*client, sim));
        bridge_->updateCorner("hpf", 50, 36);
        bridge_->updateCornerType("lpf", "bw");
        bridge_->updateCorner("lpf", 12000, 6);
        const QVariantMap result = bridge_->uploadEqToOfficial(true, 0);
        QCOMPARE(result.value("message"), QVariant("EQ 已写进 OUT 1。"));
        const QJsonObject body = sim.bodies().last();
        QCOMPARE(body.value("HLPFtype4").toInt(), 14);
        QCOMPARE(body.value("HLPFfreq4").toDouble(), 50.0);
        QCOMPARE(body.value("HLPFtype16").toInt(), 0);
        QCOMPARE(body.value("HLPFfreq16").toDouble(), 12000.0);
        QCOMPARE(body.value("PEQfreq140").toDouble(),
                 double(core().result().schemes[0].bands[0].freq));
        client->disconnectDevice();
    }

    void converterOutputsThroughTheBridge()
    {
        bridge_->setConverterFolder(EQ_EXPORT_FOLDER);
        const QVariantMap nst = bridge_->exportEqToProcessor("nst");
        QCOMPARE(nst.value("ok"), QVariant(true));
        QCOMPARE(nst.value("path"), QVariant(QDir::homePath() + "/Desktop/NST-EQ.txt"));
        QCOMPARE(nst.value("supported"), QVariant(12));
        QFile file(nst.value("path").toString());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().startsWith(
                "[NST OUTPUT CHANNEL]\r\nHPF=LR,36,50\r\nLPF=BUTTER,6,12000\r\n"));

        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            SNT_SKIP("the clipboard needs an X display (the test runs on an X server of its own)");
        const QVariantMap xta = bridge_->exportEqToProcessor(" XTA ");
        QCOMPARE(xta.value("warning"),
                 QVariant("XTA 只有 9 段。当前分频占用 2 段，只写进 7 段，5 段被裁掉。"));
        QProcess xclip;
        xclip.start("xclip", {"-o", "-selection", "clipboard"});
        QVERIFY(xclip.waitForFinished(5000));
        const QByteArray text = xclip.readAllStandardOutput();
        QVERIFY(text.startsWith("XTA OUTPUT FILTERS\r\n1 HPF LR 36 50\r\n2 PEQ "));
        QVERIFY(text.endsWith("9 LPF BUTTER 6 12000\r\n"));
    }

    // Every export to the desktop first removes what an export cut short by a kill left in its
    // folder, as no start looks there: the EQ preset, a pack's curve files and the processor's
    // own preset.
    void exportsRemoveWhatACutShortOneLeft_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("EQ preset") << "preset";
        QTest::newRow("curve files") << "curves";
        QTest::newRow("processor preset") << "processor";
    }

    void exportsRemoveWhatACutShortOneLeft()
    {
        QFETCH(QString, kind);
        const qsizetype last = core().store().curvePacks.size() - 1;
        const QString folder
                = kind == "curves"
                          ? PackTextExport::folderFor(core().store().curvePacks.last().name)
                          : QDir::homePath() + "/Desktop";
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(saveKilledBeforeItsRenames({folder + "/上次.txt"}, true));
        QCOMPARE(stagedFilesIn(folder).size(), 1);
        if (kind == "preset") {
            QVERIFY(bridge_->exportCurrentPack());
        } else if (kind == "curves") {
            QVERIFY(bridge_->exportCurvePack(int(last)));
        } else {
            snt::test::SimProcessor sim;
            QVERIFY(sim.start());
            auto *client = qobject_cast<ProcessorClient *>(bridge_->processor());
            QVERIFY(snt::test::connectTo(*client, sim));
            sim.set({{"export", QString(QByteArray("preset").toBase64())}});
            const bool exported = client->exportPreset(0).value("ok").toBool();
            client->disconnectDevice();
            QVERIFY(exported);
        }
        QCOMPARE(stagedFilesIn(folder), QStringList());
    }

    // Other programs read what the bridge put on the clipboard; the window system asks the
    // program for it, so the event loop runs while xclip reads. Registered a second time on the
    // X11 platform; the offscreen run checks the program's own clipboard only.
    void clipboardServedToOtherPrograms()
    {
        bridge_->copyCurrentParams();
        const QString text = QGuiApplication::clipboard()->text();
        QVERIFY(text.startsWith("{\n    \"delay\": 0,"));
        if (QGuiApplication::platformName() != "xcb")
            return;
        QProcess xclip;
        xclip.start("xclip", {"-o", "-selection", "clipboard"});
        QTRY_COMPARE(xclip.state(), QProcess::NotRunning);
        QCOMPARE(xclip.readAllStandardOutput(), text.toUtf8());
    }
};

SNT_GUI_TEST_MAIN(DeliveryBridgeTest)
#include "DeliveryBridgeTest.moc"
