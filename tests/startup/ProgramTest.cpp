// The real program: its headless exit codes, and its main window on X servers with screens of
// several sizes, as the X server reports it (xwininfo), with the settings left after quitting.
#include "tests/startup/BatchFiles.h"
#include "tests/support/TestMain.h"

#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <csignal>
#include <functional>

namespace {

const QString mainTitle = QStringLiteral("测量工作流");

// Mesa's softpipe, which compiles no code while it runs: llvmpipe registers its compiled code's
// unwind tables under the unwinder's lock, on which AddressSanitizer's full unwinding at each
// allocation (the test command's setting) would wait for ever.
const QStringList softwareRenderer{"GALLIUM_DRIVER=softpipe", "DRAW_USE_LLVM=0"};

// The window rows look at where the window sits and what it shows. Their leak check, with the
// full unwinding its suppressions need, took two thirds of each run (more than a minute a run on
// two busy processors); the signal rows check the same windowed run for leaks.
const QStringList placementRun
        = softwareRenderer + QStringList{"ASAN_OPTIONS=detect_leaks=0:abort_on_error=1"};

// Starts the program (or a launcher of it) with a home of its own.
void start(QProcess &process, const QString &home, const QStringList &command,
           const QStringList &environment)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    for (const char *xdg : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
        env.remove(xdg); // the test's own sandbox: each run has a home of its own instead
    for (const QString &variable : environment)
        env.insert(variable.section('=', 0, 0), variable.section('=', 1));
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(command.first(), command.mid(1));
}

// Ends a run that outlasted its bound: asked first, so that a launcher script stops what it
// started from its exit trap, which a kill would skip.
void endOverdue(QProcess &process)
{
    process.terminate();
    if (!process.waitForFinished(10000))
        process.kill();
    process.waitForFinished();
}

// Runs the program (or a launcher of it) with a home of its own; its exit code and log.
std::pair<int, QString> run(const QString &home, const QStringList &command,
                            const QStringList &environment)
{
    QProcess process;
    start(process, home, command, environment);
    if (!process.waitForFinished(60000))
        endOverdue(process);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAll())};
}

// The batch's result file as a reader finds it at any moment: the number of results, or -1 when
// it is there but no whole JSON array.
int batchResults(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    return error.error == QJsonParseError::NoError && document.isArray()
                   ? int(document.array().size())
                   : -1;
}

QRect reportedGeometry(const QString &report)
{
    QFile file(report);
    const QString text = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : "";
    const auto field = [&text](const char *name) {
        return QRegularExpression(QString(name) + ":\\s+(-?\\d+)").match(text).captured(1).toInt();
    };
    return {field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"),
            field("Height")};
}

// The program's settings file in `home`.
QString settingsFileIn(const QTemporaryDir &home)
{
    return home.filePath(".config/Halvo/" + mainTitle + ".conf");
}

void saveMainWindowKeys(const QString &settingsFile, const QVariantMap &keys)
{
    QSettings settings(settingsFile, QSettings::IniFormat);
    for (auto it = keys.cbegin(); it != keys.cend(); ++it)
        settings.setValue("window/main/" + it.key(), it.value());
}

// The "window/main" keys, as "key=value" in the keys' order.
QString mainWindowKeys(const QString &settingsFile)
{
    QSettings settings(settingsFile, QSettings::IniFormat);
    settings.beginGroup("window/main");
    QStringList keys;
    for (const QString &key : settings.childKeys())
        keys << key + "=" + settings.value(key).toString();
    return keys.join(' ');
}

} // namespace

class ProgramTest : public QObject
{
    Q_OBJECT
private slots:
    // Without a display the headless modes choose the offscreen platform themselves. The batch
    // runs through the program's own bridge.
    void headlessModes()
    {
        QTemporaryDir home;
        const QStringList noDisplay{"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="};
        const QString input = home.filePath("in.json");
        const QString output = home.filePath("out/result.json");
        QVERIFY(snt::test::writeBatchInput(input, {snt::test::resonanceCurve("一号", 1000.0),
                                                   snt::test::resonanceCurve("二号", 250.0)}));
        auto [code, log]
                = run(home.path(), {SNT_PROGRAM, "--eq-batch", input, output, "--scheme", "7"},
                      noDisplay);
        QVERIFY2(code == 0 && log.contains("EQBATCH done 2 curves -> " + output), qPrintable(log));
        const QJsonArray curves = snt::test::readBatchResult(output);
        QVERIFY(curves.size() == 2 && curves[1]["schemes"].toArray().size() == 6);

        std::tie(code, log)
                = run(home.path(), {SNT_PROGRAM, "--eq-batch", "/none/in.json"}, noDisplay);
        QVERIFY2(code == 2 && log.contains("EQBATCH cannot open /none/in.json"), qPrintable(log));
        QCOMPARE(run(home.path(), {SNT_PROGRAM, "--export-test"}, noDisplay).first, 5); // no pack
    }

    // Without a display to open the program ends at once with code 2 (as the scripted runs end
    // when they find no window) and says why on stderr, whether no display is named at all or
    // the one named has no X server behind it; a scripted run leaves no shot behind.
    void noDisplayEndsWithCodeTwo_data()
    {
        QTest::addColumn<QString>("display");
        QTest::addColumn<QStringList>("options");
        QTest::newRow("none named") << "" << QStringList{};
        QTest::newRow("none named, a shot") << "" << QStringList{"--screen", "设置", "--shot"};
        QTest::newRow("no X server there") << ":4711" << QStringList{"--shot"};
    }
    void noDisplayEndsWithCodeTwo()
    {
        QFETCH(QString, display);
        QFETCH(QStringList, options);
        QVERIFY(!QFile::exists("/tmp/.X11-unix/X4711"));
        QTemporaryDir home;
        const QString shot = home.filePath("shot.png");
        if (options.contains("--shot"))
            options << shot;
        const auto [code, log]
                = run(home.path(), QStringList{SNT_PROGRAM} + options,
                      {"DISPLAY=" + display, "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="});
        QVERIFY2(code == 2, qPrintable(log));
        QVERIFY2(log.contains(QStringLiteral("critical [Startup] no display could be opened "
                                             "(DISPLAY=\"%1\", WAYLAND_DISPLAY=\"\", "
                                             "QT_QPA_PLATFORM=\"\")")
                                      .arg(display)),
                 qPrintable(log));
        QVERIFY(!QFile::exists(shot));
    }

    // A batch killed outright leaves a spare copy beside its result and its folder of curve files
    // in the temporary folder; the next batch removes both (the folder whatever result it
    // writes), so neither piles up, but never the folder of a batch that runs. SIGTERM stops the
    // batch without leaving either. Whenever it is read, the result is a whole array.
    void batchLeavesNoSpares()
    {
        QTemporaryDir home;
        const QString input = home.filePath("in.json"), output = home.filePath("out/result.json");
        QJsonArray curves;
        for (int i = 0; i < 40; ++i)
            curves.append(snt::test::resonanceCurve(QString("曲线 %1").arg(i), 100.0 + 50.0 * i));
        QVERIFY(snt::test::writeBatchInput(input, curves));
        QVERIFY(QDir().mkpath(home.filePath("tmp")));
        const auto spares = [&] {
            return QDir(home.filePath("out")).entryList({"result.json.*"}, QDir::Files);
        };
        // Runs the batch until its result holds two curves (from then on a spare lies beside
        // it), then runs `meanwhile` and sends `signal`.
        struct Interrupted
        {
            bool midRun = false; // at two curves or more, the result whole before and after
            QString log;
        };
        const auto interrupt
                = [&](int signal, const std::function<void()> &meanwhile = {}) -> Interrupted {
            QProcess batch;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("HOME", home.path());
            env.insert("TMPDIR", home.filePath("tmp"));
            env.insert("QT_QPA_PLATFORM", "offscreen");
            batch.setProcessEnvironment(env);
            batch.setProcessChannelMode(QProcess::MergedChannels);
            QFile::remove(output); // the results counted are this run's
            batch.start(SNT_PROGRAM, {"--eq-batch", input, output});
            int results = 0;
            const bool running = QTest::qWaitFor(
                    [&] {
                        results = batchResults(output);
                        return results < 0 || results >= 2;
                    },
                    120000);
            if (meanwhile)
                meanwhile();
            ::kill(pid_t(batch.processId()), signal);
            batch.waitForFinished(120000);
            return {running && results >= 2 && batch.exitStatus() == QProcess::CrashExit
                            && batchResults(output) >= 2,
                    QStringLiteral("%1 results, exit status %2, then %3 results:\n")
                                    .arg(results)
                                    .arg(batch.exitStatus())
                                    .arg(batchResults(output))
                            + QString::fromUtf8(batch.readAll())};
        };

        // The batches' folders of curve files in the temporary folder.
        const auto curveFolders = [&] {
            return QDir(home.filePath("tmp"))
                    .entryList({"sonetra-eq-batch-*"}, QDir::AllEntries | QDir::Hidden);
        };
        for (int kill = 0; kill < 3; ++kill) {
            const Interrupted killed = interrupt(SIGKILL);
            QVERIFY2(killed.midRun, qPrintable(killed.log));
            const int left = int(spares().size());
            QVERIFY2(left >= 1 && left <= 2, qPrintable(spares().join(' ')));
        }
        // Each killed batch removed the folder of the one killed before it.
        QCOMPARE(curveFolders().size(), 1);
        QVERIFY(snt::test::writeBatchInput(home.filePath("one.json"), QJsonArray{curves.first()}));
        const QStringList oneCurve{SNT_PROGRAM, "--eq-batch", home.filePath("one.json"), output};
        const QStringList environment{"QT_QPA_PLATFORM=offscreen",
                                      "TMPDIR=" + home.filePath("tmp")};
        const auto [code, log] = run(home.path(), oneCurve, environment);
        QVERIFY2(code == 0 && log.contains("spare copies")
                         && log.contains("removed 1 curve folders"),
                 qPrintable(log));
        QCOMPARE(spares(), QStringList());
        QCOMPARE(batchResults(output), 1);
        QCOMPARE(curveFolders(), QStringList());

        // A batch that starts while another runs leaves the other's folder alone.
        QStringList running;
        const Interrupted stopped = interrupt(SIGTERM, [&] {
            running = curveFolders();
            const auto other
                    = run(home.path(), oneCurve.first(3) + QStringList{home.filePath("other.json")},
                          environment);
            QVERIFY2(other.first == 0 && !other.second.contains("curve folders"),
                     qPrintable(other.second));
            QCOMPARE(curveFolders(), running);
        });
        QCOMPARE(running.size(), 1);
        QCOMPARE(spares(), QStringList());
        QVERIFY2(stopped.midRun && stopped.log.contains("EQBATCH stopped by a signal after")
                         && !stopped.log.contains("EQBATCH timeout"),
                 qPrintable(stopped.log));
        QCOMPARE(curveFolders(), QStringList());
    }

    void firstStartFitsTheScreen_data()
    {
        addWindowColumns();
        QTest::newRow("first start, 1920x1040")
                << "1920x1040" << QVariantMap{} << "" << QRect(700, 24, 520, 992) << "x=700 y=24";
        QTest::newRow("first start, 1366x728")
                << "1366x728" << QVariantMap{} << "" << QRect(505, 24, 356, 680) << "x=505 y=24";
        QTest::newRow("first start, 2560x1440") << "2560x1440" << QVariantMap{} << ""
                                                << QRect(980, 147, 600, 1145) << "x=980 y=147";
    }

    void firstStartFitsTheScreen() { windowOnScreen(); }

    void savedPlaceIsRestored_data()
    {
        addWindowColumns();
        QTest::newRow("user's size")
                << "1920x1040" << QVariantMap{{"x", 100}, {"y", 50},           {"w", 400},
                                              {"h", 763}, {"userSized", true}, {"layoutVersion", 2}}
                << "" << QRect(100, 50, 400, 763) << "h=763 userSized=true w=400 x=100 y=50";
        QTest::newRow("off the screen") << "1920x1040" << QVariantMap{{"x", 5000}, {"y", 5000}}
                                        << "" << QRect(1400, 48, 520, 992) << "x=1400 y=48";
        // Not restored: the window stays where the window system put it, and the save on quit
        // writes that position.
        QTest::newRow("size option")
                << "1920x1200" << QVariantMap{{"x", 30}, {"layoutVersion", 2}} << "500x954"
                << QRect(0, 0, 500, 954) << "layoutVersion=2 x=0 y=0";
    }

    void savedPlaceIsRestored() { windowOnScreen(); }

    // A run ended at its bound leaves neither its X server nor the program behind, which would
    // otherwise hold a display and a processor beside the runs after it. The odd screen size
    // tells this run's server from those of the tests running beside it.
    void aRunEndedAtItsBoundLeavesNothingRunning()
    {
        QTemporaryDir home;
        const QString shown = home.filePath("display.txt");
        const QString pidFile = home.filePath("pid.txt");
        const QString program
                = QStringLiteral("echo \"$DISPLAY\" >'%1'; echo $$ >'%2'; exec sleep 600")
                          .arg(shown, pidFile);
        const QStringList command{QFINDTESTDATA("on_screen.sh"),
                                  "641x479",
                                  mainTitle,
                                  home.filePath("xwininfo.txt"),
                                  "sh",
                                  "-c",
                                  program};
        const auto firstLine = [](const QString &path) {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readLine()).trimmed()
                                                  : QString();
        };
        QProcess process;
        start(process, home.path(), command, {});
        QTRY_VERIFY_WITH_TIMEOUT(!firstLine(pidFile).isEmpty(), 60000);
        endOverdue(process);
        const QString display = firstLine(shown);
        QVERIFY(!display.isEmpty());
        QProcess servers;
        servers.start("pgrep", {"-f", "Xvfb " + display + " .*641x479x24"});
        QVERIFY(servers.waitForFinished());
        QVERIFY2(servers.exitCode() == 1, servers.readAll().constData()); // none found
        const QString stat = "/proc/" + firstLine(pidFile) + "/stat";
        const auto ended = [&] { // gone, or a zombie whose reaping is not ours
            const QString state = firstLine(stat).section(')', 1).trimmed();
            return state.isEmpty() || state.startsWith('Z');
        };
        QTRY_VERIFY(ended());
    }

    // SIGTERM (a logout, a shutdown), SIGINT and SIGHUP quit the event loop as closing the window
    // does, which saves the window's place on quit (the only save of a run with "--size"), and
    // the program then ends by the signal: its launcher's shell reports 128 + its number.
    void aSignalEndsTheProgramAsACloseDoes_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }

    void aSignalEndsTheProgramAsACloseDoes()
    {
        QFETCH(int, signal);
        QTemporaryDir home;
        saveMainWindowKeys(settingsFileIn(home), {{"x", 30}, {"layoutVersion", 2}});
        const QString report = home.filePath("xwininfo.txt"), pidFile = home.filePath("pid");
        // on_screen.sh starts the program as a background job of its script, which ignores
        // SIGINT; a desktop or a terminal starts it with no signal ignored, as env does here.
        QProcess launcher;
        start(launcher, home.path(),
              {QFINDTESTDATA("on_screen.sh"), "1920x1200", mainTitle, report, "env",
               "--default-signal=INT", "sh", "-c", R"(echo $$ >"$0" && exec "$@")", pidFile,
               SNT_PROGRAM, "--size", "500x954"},
              softwareRenderer);
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(report); }, 120000));
        QFile pid(pidFile);
        QVERIFY(pid.open(QIODevice::ReadOnly));
        QCOMPARE(::kill(pid_t(pid.readAll().trimmed().toInt()), signal), 0);
        QVERIFY(launcher.waitForFinished(120000));
        const QString log = QString::fromUtf8(launcher.readAll());
        QVERIFY2(launcher.exitCode() == 128 + signal, qPrintable(log));
        QCOMPARE(mainWindowKeys(settingsFileIn(home)), "layoutVersion=2 x=0 y=0");
    }

private:
    // Each row starts the whole program under AddressSanitizer with a software renderer, tens of
    // seconds on a busy machine: the rows are split in two groups, each a test entry of its own.
    static void addWindowColumns()
    {
        QTest::addColumn<QString>("screen");
        QTest::addColumn<QVariantMap>("saved"); // "window/main" keys before the run
        QTest::addColumn<QString>("sizeOption");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("kept"); // "window/main" keys after it
    }

    // The program opens its window, takes a shot of it and quits cleanly ("--shot").
    void windowOnScreen()
    {
        QFETCH(QString, screen);
        QFETCH(QVariantMap, saved);
        QFETCH(QString, sizeOption);
        QTemporaryDir home;
        saveMainWindowKeys(settingsFileIn(home), saved);
        const QString report = home.filePath("xwininfo.txt");
        const QString shot = home.filePath("shot.png");
        QStringList command{QFINDTESTDATA("on_screen.sh"),
                            screen,
                            mainTitle,
                            report,
                            SNT_PROGRAM,
                            "--shot",
                            shot,
                            "--wait",
                            "2500"};
        if (!sizeOption.isEmpty())
            command << "--size" << sizeOption;
        const auto [code, log] = run(home.path(), command, placementRun);
        QVERIFY2(code == 0, qPrintable(log));
        QTEST(reportedGeometry(report), "geometry");
        QFETCH(QRect, geometry);
        const QImage image(shot);
        QCOMPARE(image.size(), geometry.size());
        QSet<QRgb> colours; // the home screen drawn, not an empty frame
        for (int y = 0; y < image.height(); y += 8)
            for (int x = 0; x < image.width(); x += 8)
                colours.insert(image.pixel(x, y));
        QVERIFY(colours.size() > 8);

        QTEST(mainWindowKeys(settingsFileIn(home)), "kept");
    }
};

SNT_TEST_MAIN(ProgramTest)
#include "ProgramTest.moc"
