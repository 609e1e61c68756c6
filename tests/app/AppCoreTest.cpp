#include "app/AppCore.h"
#include "app/MeasureSession.h"
#include "files/DataFolder.h"
#include "tests/app/SessionCards.h"
#include "tests/app/store/StoreTestFiles.h"
#include "tests/eq/SyntheticCurves.h"
#include "tests/support/TestMain.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>

namespace {

std::unique_ptr<SessionCards> cards;

using Progress = QList<QPair<int, int>>;

Progress progressOf(const QSignalSpy &spy)
{
    Progress steps;
    for (const QList<QVariant> &args : spy)
        steps.append({args[0].toInt(), args[1].toInt()});
    return steps;
}

// A stand-in for the engine: reports the given progress, keeps what it was handed and returns
// the given schemes.
struct ScriptedEngine
{
    Progress reports;
    QList<snt::eq::Scheme> result;
    snt::eq::Measured measured;
    snt::eq::Options options;

    EqWorker::Compute compute()
    {
        return [this](const snt::eq::Measured &m, const snt::eq::Options &o, QString *log,
                      const EqWorker::Progress &progress) {
            measured = m;
            options = o;
            for (const auto &[done, total] : std::as_const(reports))
                progress(done, total);
            *log = QStringLiteral("scripted");
            return result;
        };
    }
};

} // namespace

// The core against the real EQ engine (thread use, signal order) and against a scripted engine
// (what it is handed, progress rules, a computation that outlives the core), with sessions on an
// in-process test card.
class AppCoreTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        cards = std::make_unique<SessionCards>();
        QVERIFY(cards->install());
    }

    void cleanupTestCase() { cards.reset(); }

    // A second request while one runs changes nothing; progress never goes back and ends at
    // the lane count; completion comes once, on the GUI thread, after a computation elsewhere.
    void computesOffTheGuiThread()
    {
        std::atomic<QThread *> computedOn{nullptr};
        AppCore core(nullptr, [&](const snt::eq::Measured &m, const snt::eq::Options &o,
                                  QString *log, const EqWorker::Progress &progress) {
            computedOn = QThread::currentThread();
            return snt::eq::computeSchemes(m, o, log, progress);
        });
        const snt::eq::Measured curve = snt::eq::synthetic::curve({{1000.0, 6.0, 2.0}});
        core.setMeasured(
                {.freq = curve.freq, .magnitude = curve.magnitude, .coherence = curve.coherence});
        QSignalSpy progress(&core, &AppCore::computeProgressChanged);
        QSignalSpy finished(&core, &AppCore::computeFinished);
        core.startEqCompute();
        QVERIFY(core.computing());
        core.startEqCompute();
        QCOMPARE(progress.count(), 1);

        QVERIFY(finished.wait(60000));
        QTest::qWait(100);
        QCOMPARE(finished.count(), 1);
        QVERIFY(computedOn && computedOn != QThread::currentThread());
        const Progress steps = progressOf(progress);
        QCOMPARE(steps.first(), qMakePair(0, 6));
        QCOMPARE(steps.last(), qMakePair(6, 6));
        for (qsizetype i = 1; i < steps.size(); ++i)
            QVERIFY(steps[i].first >= steps[i - 1].first);
        QVERIFY(!core.computing());
        const SchemeResult &result = core.result();
        QCOMPARE(result.schemes.size(), 6);
        QCOMPARE(result.selectedBands, result.schemes.first().bands);
        QCOMPARE(result.selectedTarget, result.schemes.first().targetIndex);
        QVERIFY(!result.selectedBands.isEmpty());
        QVERIFY(!core.computeLog().isEmpty());
    }

    void computeInputs_data()
    {
        QTest::addColumn<QString>("use");
        QTest::addColumn<bool>("verify");
        QTest::addColumn<double>("imported");
        QTest::addColumn<bool>("lineArray");
        QTest::addColumn<QString>("label");
        QTest::addColumn<double>("delay");
        QTest::addColumn<Progress>("expected");
        // The engine reports (3, 6), then (2, 6) and (4, 0): progress holds and the total
        // falls back to six lanes.
        QTest::newRow("imported delay wins")
                << "主扩" << false << 2.5 << false << "单只音箱·主扩" << 2.5
                << Progress{{0, 6}, {3, 6}, {3, 6}, {4, 6}, {6, 6}};
        QTest::newRow("measured delay, verification, line array")
                << "" << true << 0.0 << true << "单只音箱验证" << 7.0
                << Progress{{0, 3}, {3, 6}, {3, 6}, {4, 6}, {6, 6}};
    }

    void computeInputs()
    {
        QFETCH(QString, use);
        QFETCH(bool, verify);
        QFETCH(double, imported);
        QFETCH(bool, lineArray);
        QFETCH(QString, label);
        QFETCH(double, delay);
        QFETCH(Progress, expected);
        ScriptedEngine engine{{{3, 6}, {2, 6}, {4, 0}}, {}, {}, {}};
        AppCore core(nullptr, engine.compute());
        core.setUse(use);
        core.setVerifyRun(verify);
        core.setLineArray(lineArray);
        core.setEqSmoothing(12);
        core.setMeasured({.freq = {100.0f, 200.0f}, .delayMs = 7.0, .importedDelayMs = imported});
        core.setSelectedTarget(4);
        core.setSelectedBands({snt::eq::SchemeBand{1000.0f, -3.0f, 2.0f, true}});
        const QList<snt::eq::SchemeBand> bands = core.result().selectedBands;

        QSignalSpy progress(&core, &AppCore::computeProgressChanged);
        QSignalSpy finished(&core, &AppCore::computeFinished);
        core.startEqCompute();
        QVERIFY(finished.wait(10000));
        QCOMPARE(progressOf(progress), expected);
        QCOMPARE(engine.measured.label, label);
        QCOMPARE(engine.measured.delayMs, delay);
        QCOMPARE(engine.measured.freq, core.measured().freq);
        QVERIFY(!engine.measured.hasLevel);
        QCOMPARE(engine.options.use, use);
        QCOMPARE(engine.options.roomType, QStringLiteral("室内"));
        QCOMPARE(engine.options.programType, QStringLiteral("Livehouse"));
        QCOMPARE(engine.options.setting, 12);
        QCOMPARE(engine.options.lineArray, lineArray);
        // No schemes: the selection stays as it was.
        QCOMPARE(core.result().selectedScheme, 0);
        QCOMPARE(core.result().selectedTarget, 4);
        QCOMPARE(core.result().selectedBands, bands);
        QCOMPARE(core.computeLog(), QStringLiteral("scripted"));
    }

    // The engine cannot be stopped: a core destroyed while it runs waits for it past the usual
    // three seconds, and says so, instead of destroying a running thread.
    void destroyedWhileComputing()
    {
        std::atomic<bool> started{false}, ended{false};
        auto *core = new AppCore(nullptr, [&](const snt::eq::Measured &, const snt::eq::Options &,
                                              QString *, const EqWorker::Progress &progress) {
            started = true;
            QThread::msleep(3500);
            progress(1, 6);
            ended = true;
            return QList<snt::eq::Scheme>{};
        });
        QSignalSpy finished(core, &AppCore::computeFinished);
        core->startEqCompute();
        QTRY_VERIFY(started);
        QTest::ignoreMessage(QtWarningMsg,
                             "[AppCore] an EQ computation is still running after 3000 ms; "
                             "waiting for it to end before closing");
        delete core;
        QVERIFY(ended);
        QTest::qWait(50);
        QCOMPARE(finished.count(), 0);
    }

    // The saved microphone channel is clamped as the settings screen shows it; the reference
    // channel is taken as saved.
    void sessionFromTheSavedSettings_data()
    {
        QTest::addColumn<int>("saved");
        QTest::addColumn<int>("used");
        QTest::newRow("40") << 40 << 31;
        QTest::newRow("-2") << -2 << 0;
        QTest::newRow("5") << 5 << 5;
    }

    void sessionFromTheSavedSettings()
    {
        QFETCH(int, saved);
        QFETCH(int, used);
        QSettings settings;
        settings.setValue("audio/dataChannel", saved);
        settings.setValue("audio/referenceChannel", -1);
        AppCore core;
        core.setGeneratorGain(-12.0);
        MeasureSession *session = core.ensureSession();
        QVERIFY(session);
        QCOMPARE(core.ensureSession(), session);
        QCOMPARE(session->dataChannel(), used);
        QCOMPARE(session->referenceChannel(), -1);
        QCOMPARE(session->generatorLevel(), -12.0f);
        core.releaseSession();
        QVERIFY(!core.session());
    }

    void noUsableSoundCard()
    {
        cards->scripted->defaultInput = QStringLiteral("gone");
        QSettings().setValue("audio/inputDevice", "nothing by that name");
        AppCore core;
        QSignalSpy toast(&core, &AppCore::toastRequested);
        QVERIFY(!core.ensureSession());
        QVERIFY(!core.session());
        QCOMPARE(toast.count(), 1);
        QCOMPARE(toast.first().first().toString(), QStringLiteral("没找到可用的声卡 / 话筒"));
        cards->scripted->defaultInput.clear();
        QSettings().remove("audio/inputDevice");
    }

    // Construction reads the store; an import replaces the measured curve and the results but
    // keeps the chosen target; a failed one changes nothing.
    void storeAndImport()
    {
        QVERIFY(putBytes(projectsDir() + "/大厅.json", R"({"name":"大厅","roomHeight":"6 m"})"));
        ScriptedEngine engine{{}, {snt::eq::Scheme{}}, {}, {}};
        AppCore core(nullptr, engine.compute());
        QCOMPARE(core.store().projects.size(), 1);
        QCOMPARE(core.store().projects.first().roomHeight, QStringLiteral("6 m"));
        QVERIFY(!core.store().freshInstall);

        core.setMeasured({.freq = {100.0f}, .magnitude = {1.0f}, .delayMs = 4.0});
        QSignalSpy finished(&core, &AppCore::computeFinished);
        core.startEqCompute();
        QVERIFY(finished.wait(10000));
        QCOMPARE(core.result().schemes.size(), 1);
        core.setSelectedScheme(3);
        core.setSelectedTarget(2);
        QTemporaryDir dir;
        QString text = "# Delay: 1.5 ms\n";
        for (int i = 1; i <= 8; ++i)
            text += QString("%1 -6.0206 10 0.5\n").arg(i * 100);
        QVERIFY(putBytes(dir.filePath("short.txt"), text.section('\n', 0, 7).toUtf8()));
        QVERIFY(!core.importCurveText(dir.filePath("short.txt")));
        QCOMPARE(core.measured().delayMs, 4.0);
        QVERIFY(putBytes(dir.filePath("curve.txt"), text.toUtf8()));
        QVERIFY(core.importCurveText(dir.filePath("curve.txt")));
        const MeasuredCurve &measured = core.measured();
        QCOMPARE(measured.freq.size(), 8);
        QVERIFY(std::abs(measured.magnitude.first() - 0.5f) < 1e-4f);
        QCOMPARE(measured.phase.last(), 10.0f);
        QCOMPARE(measured.coherence.first(), 0.5f);
        QCOMPARE(measured.importedDelayMs, 1.5);
        QCOMPARE(measured.delayMs, 0.0);
        QCOMPARE(measured.source, dir.filePath("curve.txt"));
        QVERIFY(core.result().schemes.isEmpty());
        QCOMPARE(core.result().selectedScheme, 0);
        QCOMPARE(core.result().selectedTarget, 2);

        core.clearMeasuredCurve();
        QVERIFY(core.measured().freq.isEmpty() && core.measured().phase.isEmpty());
        QCOMPARE(core.measured().importedDelayMs, 0.0);
        QCOMPARE(core.measured().source, dir.filePath("curve.txt"));
    }
};

SNT_TEST_MAIN(AppCoreTest)
#include "AppCoreTest.moc"
