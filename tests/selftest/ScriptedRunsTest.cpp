// The program's scripted runs, each in the built program on an X server of its own (one test
// function, one CTest entry, per run). Every run passes on the program as it is; every test also
// breaks one thing its run checks and expects the run's failing code, so that no run passes
// whatever happens.
#include "tests/selftest/CurveFiles.h"
#include "tests/selftest/ProgramRuns.h"
#include "tests/selftest/ShotPixels.h"

#include <QImage>

#include <memory>
#include <optional>

using namespace selftesttest;

namespace {

const QSize mainWindowSize(600, 1145);

// The home's data root, where the program keeps its packs.
QString rootPackFile(const ProgramHome &home)
{
    return home.filePath(QStringLiteral("Documents/Tovan测量工作流/曲线/curve_packs_root.json"));
}

// A sound server for the measure walk: the null sink "loop", on whose monitor the program
// measures; "late" in front of it, which passes on what is played into it 3 s later (a LADSPA
// delay line, which the server clears when a stream starts, so nothing of an earlier run comes
// late); "cable", one channel in front of the right one of "loop" alone, the second input,
// which a loopback cable feeds while the microphone on the first hears nothing; "room", one
// channel in front of the left one alone, the first input, which the microphone hears while no
// cable feeds the second; and "aside", a null sink the measurement does not hear.
const QStringList measuringSinks{
        "module-null-sink sink_name=loop rate=48000 format=float32le channels=2",
        "module-ladspa-sink sink_name=late sink_master=loop plugin=cmt label=delay_5s control=3,1",
        "module-remap-sink sink_name=cable master=loop channels=1 channel_map=mono "
        "master_channel_map=front-right remix=no",
        "module-remap-sink sink_name=room master=loop channels=1 channel_map=mono "
        "master_channel_map=front-left remix=no",
        "module-null-sink sink_name=aside rate=48000 format=float32le channels=2"};

// Where the measure walk's program plays and records: the test command's shared server (its
// null sink "loop", the default), a server of the test's own with the sinks above, or none.
enum class SoundServer { Shared, Own, None };

// The measure walk's screenshot of each step it passed.
const QMap<QString, QString> measureShots{{"idle", "measure-01-idle.png"},
                                          {"play", "measure-02-play.png"},
                                          {"stop", "measure-03-stop.png"},
                                          {"auto-start", "measure-04-auto-start.png"},
                                          {"auto-finish", "measure-05-compute.png"}};

// The share of an image's pixels in the home screen's blue.
double homeBlueShare(const QString &path)
{
    return colourShare(QImage(path), 0x083988);
}

// A shot of the main window shows a page drawn: over a tenth of it at least is something other
// than the bare stage (a page not drawn yet leaves 97 % bare; the thinnest drawn page, the
// microphone guide over its blurred page, 70 %).
bool showsAPage(const QString &path)
{
    const double bare = colourShare(QImage(path), bareStage);
    if (bare < 0.9)
        return true;
    qWarning().noquote() << path << "is" << bare * 100 << "% bare stage";
    return false;
}

// The subwoofer walk's "SUBCALIB live" line while its level calibration plays a live curve,
// beside `measured` measured curves (a loaded main reference counts as one).
bool calibrationLive(const QString &line, int measured)
{
    return QRegularExpression(QStringLiteral("^SUBCALIB live measuring= true calibrating= true "
                                             "curve= [1-9]\\d* measured= %1$")
                                      .arg(measured))
            .match(line)
            .hasMatch();
}

// The share of pixels in which two shots in one folder differ.
double shotsDiffer(const QString &folder, const QString &a, const QString &b)
{
    return differingShare(QImage(folder + '/' + a), QImage(folder + '/' + b));
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// The walks that play measure on the test command's sound server.
#define REQUIRE_SOUND_SERVER() \
    do { \
        if (qEnvironmentVariableIsEmpty("SNT_TEST_ASOUNDRC")) \
            SNT_SKIP("needs the test sound server (scripts/test.sh)"); \
    } while (false)

class ScriptedRunsTest : public QObject
{
    Q_OBJECT
private slots:

    // From the login screen through a measurement, its schemes and back, each screen where the
    // step expects it and each shot showing its screen drawn, also the screens reached through
    // the bridge at once; then the curve window. Started on the home screen its first check
    // fails.
    void clickTest()
    {
        REQUIRE_SOUND_SERVER();
        const ProgramHome home(true);
        const QString out = home.filePath("out");
        const Run run = home.run({"--screen", "登录", "--clicktest", out});
        QVERIFY2(run.code == 0, qPrintable(run.log));
        const QString via = QStringLiteral("through the bridge: no control leads there");
        QCOMPARE(run.lines("CLICK"),
                 QStringList({"CLICK 登录 expect 登录 OK", "CLICK go 工程 " + via,
                              "CLICK 工程 expect 工程 OK", "CLICK go 主页 " + via,
                              "CLICK 主页 expect 主页 OK",
                              "CLICK 点声源-测量中 expect 点声源-测量中 OK",
                              "CLICK 点声源-选用途 expect 点声源-选用途 OK",
                              "CLICK 点声源-交付与复测 expect 点声源-交付与复测 OK",
                              "CLICK 主页 expect 主页 OK", "CLICK 设置 expect 设置 OK",
                              "CLICK go 工程 " + via, "CLICK 工程 expect 工程 OK",
                              "CLICK curveWindowOpen OK"}));
        const QMap<QString, QSize> shots = shotSizes(out);
        QCOMPARE(shots.size(), 15);
        for (int step = 1; step <= 13; ++step) {
            const auto shot
                    = std::find_if(shots.keyBegin(), shots.keyEnd(), [step](const QString &n) {
                          return n.startsWith(
                                  QStringLiteral("click-%1-").arg(step, 2, 10, QLatin1Char('0')));
                      });
            QVERIFY(shot != shots.keyEnd());
            QCOMPARE(shots.value(*shot), mainWindowSize);
            QVERIFY2(showsAPage(out + '/' + *shot), qPrintable(*shot));
        }
        QCOMPARE(shots.value("click-14-curve.png"), QSize(702, 580)); // its first size
        QCOMPARE(shots.value("click-15-curve-resized.png"), QSize(820, 560));

        const ProgramHome broken(true);
        const Run onHome = broken.run({"--clicktest", broken.filePath("out")});
        QCOMPARE(onHome.code, 3);
        QCOMPARE(onHome.lines("CLICK").value(0), QStringLiteral("CLICK 主页 expect 登录 FAIL"));
    }

    // The point-source screen's buttons from idle to the computation: the automatic run is armed
    // once the two meters agree. With the reference on the input that carries the loopback copy
    // of the output, as a loopback cable gives it, on the test command's shared server, they agree
    // as soon as the sound comes back. Against the generator's own signal this takes seconds, and
    // the longer the sound takes to come back the later. A measurement input that hears nothing
    // never agrees, nor does a reference input that hears nothing while the microphone sounds
    // (a walk that took the microphone alone would arm its run there), and the walk fails saying
    // so; with the sound server out of reach the input does not open, so play starts no run, and
    // the failure says that.
    void measureTest_data()
    {
        QTest::addColumn<SoundServer>("server");
        QTest::addColumn<QString>("sink"); // where the program plays on a server of its own
        QTest::addColumn<int>("referenceChannel"); // -1: the generator's own signal
        QTest::addColumn<QStringList>("passedSteps");
        QTest::addColumn<QString>("failure"); // empty: the walk passes
        QTest::addColumn<bool>("measuringAtFailure");
        const QStringList allSteps{"idle", "play", "stop", "auto-start", "auto-finish"};
        const QStringList untilStop = allSteps.mid(0, 3);
        const QString neverAgree
                = QStringLiteral("表头 10 秒内没有对齐：把「测量」和「参考」两个表头调到齐平");
        QTest::newRow("loopback reference")
                << SoundServer::Shared << QString() << 1 << allSteps << QString() << false;
        QTest::newRow("loopback reference late")
                << SoundServer::Own << "late" << 1 << allSteps << QString() << false;
        QTest::newRow("loopback reference, microphone silent")
                << SoundServer::Own << "cable" << 1 << untilStop << neverAgree << true;
        QTest::newRow("loopback reference silent, microphone sounding")
                << SoundServer::Own << "room" << 1 << untilStop << neverAgree << true;
        QTest::newRow("levels agree")
                << SoundServer::Own << "loop" << -1 << allSteps << QString() << false;
        QTest::newRow("levels agree late")
                << SoundServer::Own << "late" << -1 << allSteps << QString() << false;
        QTest::newRow("measurement input silent")
                << SoundServer::Own << "aside" << -1 << untilStop << neverAgree << true;
        QTest::newRow("sound server out of reach")
                << SoundServer::None << QString() << -1 << QStringList("idle")
                << "播放没有起信号或跳页：无法打开音频输入设备" << false;
    }
    void measureTest()
    {
        REQUIRE_SOUND_SERVER();
        QFETCH(SoundServer, server);
        QFETCH(QString, sink);
        QFETCH(int, referenceChannel);
        QFETCH(QStringList, passedSteps);
        QFETCH(QString, failure);
        QFETCH(bool, measuringAtFailure);
        std::optional<OwnSoundServer> own;
        if (server == SoundServer::Own) {
            own.emplace(measuringSinks);
            QVERIFY(own->answers());
            QVERIFY(own->pactl({"set-default-sink", sink}));
        }
        const auto home = own ? std::make_unique<ProgramHome>(*own)
                              : std::make_unique<ProgramHome>(server == SoundServer::Shared);
        home->setReferenceChannel(referenceChannel);
        const QString out = home->filePath("out");
        const Run run = home->run({"--measuretest", out});

        QStringList lines;
        QMap<QString, QSize> shots;
        for (const QString &step : passedSteps) {
            lines << "MEASURETEST " + step + " OK";
            shots.insert(measureShots.value(step), mainWindowSize);
        }
        if (failure.isEmpty()) {
            QVERIFY2(run.code == 0, qPrintable(run.log));
            QVERIFY(!QFile::exists(out + "/fail.txt"));
        } else {
            QVERIFY2(run.code == 4, qPrintable(run.log));
            lines << QStringLiteral("MEASURETEST FAIL %1 screen 点声源-测量中 measuring %2")
                             .arg(failure, measuringAtFailure ? "true" : "false");
            shots.insert("measure-fail.png", mainWindowSize);
            // One line, without a line end, carrying the point count the log line does not.
            QCOMPARE(QString::fromUtf8(fileBytes(out + "/fail.txt")),
                     QStringLiteral("%1 | screen=点声源-测量中 | measuring=%2 | points=0")
                             .arg(failure, measuringAtFailure ? "1" : "0"));
        }
        QCOMPARE(run.lines("MEASURETEST"), lines);
        QCOMPARE(shotSizes(out), shots);
    }

    // The line array: the signal, two points and the compute button, recorded step by step after
    // the lines an earlier run left in the same folder (the log is only ever appended to). With
    // the sound server out of reach nothing plays, and the walk fails saying why.
    void arrayTest()
    {
        REQUIRE_SOUND_SERVER();
        const ProgramHome home(true);
        const QString out = home.filePath("out");
        QVERIFY(QDir().mkpath(out));
        const QByteArray earlier = "idle screen=主页 measuring=0 points=0 live=0 avg=0\n"
                                   "compute screen=主页 measuring=0 points=0 live=0 avg=0\n";
        QFile log(out + "/array-log.txt");
        QVERIFY(log.open(QIODevice::WriteOnly) && log.write(earlier) == earlier.size());
        log.close();
        const Run run = home.run({"--arraytest", out});
        QVERIFY2(run.code == 0, qPrintable(run.log));

        const QString screen = QStringLiteral("screen=线阵列-测量中 ");
        QCOMPARE(QString::fromUtf8(fileBytes(out + "/array-log.txt")),
                 QString::fromUtf8(earlier)
                         + QStringList({"idle " + screen + "measuring=0 points=0 live=0 avg=0",
                                        "live-3s " + screen + "measuring=1 points=0 live=1 avg=0",
                                        "point1 " + screen + "measuring=1 points=0 live=1 avg=0",
                                        "point2 " + screen + "measuring=0 points=1 live=1 avg=0",
                                        "point3 " + screen + "measuring=0 points=2 live=2 avg=0",
                                        "compute " + screen + "measuring=0 points=2 live=2 avg=0",
                                        ""})
                                   .join('\n'));
        const QMap<QString, QSize> shots = shotSizes(out);
        QCOMPARE(shots.keys(), QStringList({"array-01-idle.png", "array-02-live.png",
                                            "array-03-point1.png", "array-04-point2.png",
                                            "array-05-point3.png", "array-06-compute.png"}));
        for (const QSize &size : shots)
            QCOMPARE(size, mainWindowSize);
        QVERIFY(run.lines("ARRAYTEST").isEmpty());

        const ProgramHome silent(false);
        const QString failed = silent.filePath("out");
        const Run noSignal = silent.run({"--arraytest", failed});
        QCOMPARE(noSignal.code, 3);
        QCOMPARE(noSignal.lines("ARRAYTEST"),
                 QStringList("ARRAYTEST FAIL 播放线阵列没有起信号：无法打开音频输入设备 "
                             "screen 线阵列-测量中 measuring false points 0"));
        QCOMPARE(QString::fromUtf8(fileBytes(failed + "/array-log.txt")),
                 "idle " + screen + "measuring=0 points=0 live=0 avg=0\n" + "live-3s " + screen
                         + "measuring=0 points=0 live=0 avg=0\n");
    }

    // The subwoofer flow's level calibration inline, then the merged measurement to the result
    // page against a main loudspeaker's pack. On a fresh install, with no pack, the calibration
    // runs all the same and the walk ends at the merged measurement's skip; with the sound
    // server out of reach the calibration fails, saying why.
    void subcalibTest()
    {
        REQUIRE_SOUND_SERVER();
        const ProgramHome home(true);
        QVERIFY(home.seedMainPack());
        const QString out = home.filePath("out");
        const Run run = home.run({"--subcalibtest", out});
        QVERIFY2(run.code == 0, qPrintable(run.log));
        const QStringList lines = run.lines("SUBCALIB");
        QCOMPARE(lines.size(), 4);
        QVERIFY2(calibrationLive(lines[0], 1), qPrintable(lines[0]));
        QCOMPARE(lines[1], QStringLiteral("SUBCALIB inline OK screen= 超低分频-测量"));
        QVERIFY2(lines[2].startsWith("SUBCALIB wait-level OFF progress "), qPrintable(lines[2]));
        QCOMPARE(lines[3], QStringLiteral("SUBCALIB merged result OK screen= 超低分频-结果"));
        const QMap<QString, QSize> shots = shotSizes(out);
        QCOMPARE(shots.keys(), QStringList({"subcalib-01-idle.png", "subcalib-01a-main-menu.png",
                                            "subcalib-02-live.png", "subcalib-03-stop.png",
                                            "subcalib-04-back.png", "subcalib-05-result.png",
                                            "subcalib-05a-wait.png"}));
        for (const QSize &size : shots)
            QCOMPARE(size, mainWindowSize);

        const ProgramHome fresh(true);
        const QString skipped = fresh.filePath("out");
        const Run noPack = fresh.run({"--subcalibtest", skipped});
        QVERIFY2(noPack.code == 0, qPrintable(noPack.log));
        QCOMPARE(noPack.lines("CLICK"),
                 QStringList("CLICK subLevelCalibrate through the bridge: no control starts it "
                             "without a main reference"));
        const QStringList freshLines = noPack.lines("SUBCALIB");
        QCOMPARE(freshLines.size(), 3);
        QVERIFY2(calibrationLive(freshLines[0], 0), qPrintable(freshLines[0]));
        QCOMPARE(freshLines.mid(1), QStringList({"SUBCALIB inline OK screen= 超低分频-测量",
                                                 "SUBCALIB merged result SKIP: no main pack"}));
        QCOMPARE(shotSizes(skipped).keys(),
                 QStringList({"subcalib-01-idle.png", "subcalib-01a-main-menu.png",
                              "subcalib-02-live.png", "subcalib-03-stop.png",
                              "subcalib-04-back.png"}));

        const ProgramHome silent(false);
        const QString failed = silent.filePath("out");
        const Run noSignal = silent.run({"--subcalibtest", failed});
        QCOMPARE(noSignal.code, 3);
        QCOMPARE(noSignal.lines("SUBCALIB"),
                 QStringList({"SUBCALIB live measuring= false calibrating= false curve= 0 "
                              "measured= 0",
                              "SUBCALIB FAIL 电平校准没起信号：无法打开音频输入设备 screen "
                              "超低分频-测量 measuring false calibrating false"}));
        QCOMPARE(shotSizes(failed).keys(),
                 QStringList({"subcalib-01-idle.png", "subcalib-01a-main-menu.png",
                              "subcalib-02-live.png", "subcalib-fail.png"}));
    }

    // The computation of a curve with a known resonance, every scheme recorded, the delivery
    // screen's edits and the curve window's states; an unreadable curve and an unwritable
    // summary fail it.
    void curveTest()
    {
        const ProgramHome home(false);
        QVERIFY(home.seedMainPack()); // the pack the curve window's delete button takes
        const QString curve = home.filePath("resonance.txt");
        QVERIFY(writeResonanceCurve(curve));
        const QString out = home.filePath("out");
        const Run run
                = home.run({"--curve-test", curve, out, "--result-edit-check",
                            "--management-project", "--management-ui-shots", "--management-last"});
        QVERIFY2(run.code == 0, qPrintable(run.log));
        QCOMPARE(run.lines("CURVETEST OK"), QStringList("CURVETEST OK " + out));
        QCOMPARE(run.lines("MGMT"),
                 QStringList({"MGMT oct 12 3 OK", "MGMT rename true true true true"}));
        checkSummary(out + "/summary.txt");
        QVERIFY(!fileBytes(rootPackFile(home)).contains("主扩 01"));
        QMap<QString, QSize> shots = shotSizes(out);
        for (const char *name : {"real-curve-use.png", "real-curve-plan.png",
                                 "real-curve-delivery.png", "real-curve-delivery-off.png",
                                 "real-curve-delivery-edit.png", "real-curve-delivery-bypass.png"})
            QCOMPARE(shots.take(name), mainWindowSize);
        QCOMPARE(shots.keys(), QStringList({"management-after-delete.png",
                                            "management-collapsed.png", "management-new-dialog.png",
                                            "management-oct-12.png", "management-oct-3.png",
                                            "management-project-menu.png", "management.png"}));
        for (const QSize &size : shots)
            QCOMPARE(size, QSize(702, 580));
        // Each state of the curve window shows in its picture, unlike every other; the side
        // panel, which this window keeps open, changes nothing.
        const QStringList states{"management.png",
                                 "management-oct-12.png",
                                 "management-oct-3.png",
                                 "management-new-dialog.png",
                                 "management-project-menu.png",
                                 "management-after-delete.png"};
        for (qsizetype a = 0; a < states.size(); ++a) {
            for (qsizetype b = a + 1; b < states.size(); ++b) {
                const double share = shotsDiffer(out, states[a], states[b]);
                QVERIFY2(share > 0.0005,
                         qPrintable(
                                 QStringLiteral("%1 %2 %3").arg(states[a], states[b]).arg(share)));
            }
        }
        const double collapsed = shotsDiffer(out, "management.png", "management-collapsed.png");
        QVERIFY2(collapsed < 0.0001, qPrintable(QString::number(collapsed)));

        const ProgramHome unreadable(false);
        const Run noCurve = unreadable.run(
                {"--curve-test", "/nonexistent/curve.txt", unreadable.filePath("out")});
        QCOMPARE(noCurve.code, 3);
        QCOMPARE(noCurve.lines("CURVE"),
                 QStringList({"CURVE load failed /nonexistent/curve.txt", "CURVETEST FAIL load"}));

        // A home without packs: the curve window shows none, so its pictures of a smoothing and
        // of a deletion are left out rather than showing the same empty window.
        const ProgramHome blockedSummary(false);
        const QString folder = blockedSummary.filePath("out");
        QVERIFY(QDir().mkpath(folder + "/summary.txt")); // a folder where the file would go
        QVERIFY(writeResonanceCurve(blockedSummary.filePath("resonance.txt")));
        const Run unwritten
                = blockedSummary.run({"--curve-test", blockedSummary.filePath("resonance.txt"),
                                      folder, "--management-ui-shots"});
        QCOMPARE(unwritten.code, 3);
        QCOMPARE(unwritten.lines("CURVETEST FAIL"),
                 QStringList("CURVETEST FAIL summary " + folder + "/summary.txt"));
        QVERIFY(unwritten.lines("CURVETEST OK").isEmpty());
        QVERIFY(unwritten.lines("MGMT").isEmpty());
        QCOMPARE(QDir(folder).entryList({"management*.png"}),
                 QStringList({"management-collapsed.png", "management-new-dialog.png",
                              "management-project-menu.png", "management.png"}));
    }

    // The demo leaves the home screen for the delivery screen from its own timer and keeps the
    // program running (the shot ends it); a curve it cannot read leaves the home screen shown
    // and is named in the log.
    // The scheme it opens is checked in the test process (tst_selftest's blockedDemo).
    // How long the computation takes depends on the machine's load, and the shot's timer does
    // not wait for it. The demo goes on to the delivery screen at the latest when its 60 s
    // limit on the computation has passed, counted from its start at 700 ms, so the shot
    // comes after that, with a second and a half for loading its curve: then it shows where
    // the demo went on any machine. (Taken at 4 s, it showed the home screen on a loaded
    // machine whose computation had not ended yet.)
    void blockedDemo()
    {
        const ProgramHome home(false);
        const QString curve = home.filePath("dip.txt");
        QVERIFY(writeDipCurve(curve));
        const QString delivery = home.filePath("delivery.png");
        const QString afterTheDemosLimit = QString::number(700 + 60000 + 1500);
        const Run run = home.run(
                {"--blocked-demo", curve, "--shot", delivery, "--wait", afterTheDemosLimit});
        QVERIFY2(run.code == 0, qPrintable(run.log));
        QCOMPARE(imageSize(delivery), mainWindowSize);
        QVERIFY(homeBlueShare(delivery) < 0.05); // the side tabs take about 1 %

        const QString stays = home.filePath("home.png");
        const Run unreadable
                = home.run({"--blocked-demo", "/nonexistent/curve.txt", "--shot", stays});
        QCOMPARE(unreadable.code, 0);
        QVERIFY(homeBlueShare(stays) > 0.5); // about 90 %
        QCOMPARE(unreadable.lines("[SelfTest]"),
                 QStringList("[SelfTest] the blocked demo's curve file cannot be read: "
                             "/nonexistent/curve.txt"));
    }

    // One screenshot of each window; a window asked for but not shown yet falls back to the
    // main window; an image that cannot be saved ends the run with 3.
    void windowShots()
    {
        const ProgramHome home(false);
        const auto shot = [&home](const QString &name, const QStringList &options) {
            const QString path = home.filePath(name);
            const Run run = home.run(options + QStringList{"--shot", path});
            return run.code == 0 ? imageSize(path) : QSize(-run.code, -run.code);
        };
        QCOMPARE(shot("main.png", {}), mainWindowSize);
        QCOMPARE(shot("curve.png", {"--curve"}), QSize(702, 580));
        QCOMPARE(shot("panel.png", {"--dialog", "processor", "--wait", "2500"}), QSize(792, 620));
        // Asked for ("--dialog" and a "processor" argument) but never opened: the panel exists
        // hidden, and the main window is shot.
        QCOMPARE(shot("hidden.png", {"--dialog", "new", "--project", "processor"}), mainWindowSize);

        const Run unsaved = home.run({"--shot", "/nonexistent/folder/shot.png"});
        QCOMPARE(unsaved.code, 3);
        QCOMPARE(unsaved.lines("[SelfTest]"),
                 QStringList(
                         "[SelfTest] the shot could not be saved: /nonexistent/folder/shot.png"));
    }

private:
    // "schemes 6", each scheme's line followed by its bands, 8 coherence and 22 probe lines, in
    // which every scheme takes out most of the 9 dB resonance at 2 kHz; the result-edit and
    // curve-window lines; then the computation's log, which gives the time it took.
    static void checkSummary(const QString &path)
    {
        const QStringList parts = QString::fromUtf8(fileBytes(path)).split("\n\nCOMPUTE LOG\n");
        QCOMPARE(parts.size(), 2);
        const QStringList lines = parts[0].split('\n');
        QCOMPARE(lines.value(0), QStringLiteral("schemes 6"));
        static const QRegularExpression probe2k("^  PROBE 2000 f=\\S+ before=(\\S+) after=(\\S+)$");
        qsizetype at = 1;
        for (int scheme = 0; scheme < 6; ++scheme) {
            QVERIFY2(lines.value(at++).startsWith(QStringLiteral("SCHEME %1 ").arg(scheme)),
                     qPrintable(lines.value(at - 1)));
            QVERIFY(lines.value(at).startsWith("  EQ "));
            while (lines.value(at).startsWith("  EQ "))
                ++at;
            for (int i = 0; i < 8; ++i)
                QVERIFY2(lines.value(at++).startsWith("  COH "), qPrintable(lines.value(at - 1)));
            bool probed = false;
            for (int i = 0; i < 22; ++i) {
                const QString line = lines.value(at++);
                QVERIFY2(line.startsWith("  PROBE "), qPrintable(line));
                if (const auto m = probe2k.match(line); m.hasMatch()) {
                    const double before = m.captured(1).toDouble();
                    const double after = m.captured(2).toDouble();
                    QVERIFY2(before > 6.0 && std::abs(after) < 0.25 * before, qPrintable(line));
                    probed = true;
                }
            }
            QVERIFY(probed);
        }
        const QStringList rest = lines.mid(at);
        QCOMPARE(rest.size(), 6);
        QVERIFY2(rest[0].startsWith("RESULTEDIT base="), qPrintable(rest[0]));
        QVERIFY2(rest[1].startsWith("TOGGLE range="), qPrintable(rest[1]));
        QVERIFY2(rest[2].startsWith("TOGGLE off="), qPrintable(rest[2]));
        QCOMPARE(rest[3], QStringLiteral("BYPASS off=1 on=1 hz=8000.0"));
        QVERIFY2(rest[4].startsWith("AUTORESET ok="), qPrintable(rest[4]));
        QCOMPARE(rest[5], QStringLiteral("MGMT oct 1/12=12 1/3=3 ok=1"));
        const auto time = QRegularExpression("用时 (\\d+) ms").match(parts[1]);
        QVERIFY2(time.hasMatch(), qPrintable(parts[1]));
        qInfo().noquote() << "the resonance curve's schemes took" << time.captured(1) << "ms";
    }
};

SNT_TEST_MAIN(ScriptedRunsTest)
#include "ScriptedRunsTest.moc"
