// The real program: its exit codes, and its main window on X servers with screens of several
// sizes, seen by the X server itself (xwininfo), with the settings file it leaves on quitting.
#include "tests/support/TestMain.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

namespace {

const QString program = QStringLiteral(SNT_PROGRAM);
const QString mainTitle = QStringLiteral("测量工作流");

struct Run
{
    int exitCode = -1;
    QString output;
};

// Runs the program with a home of its own and returns its exit code and log.
Run runProgram(const QString &home, const QStringList &arguments,
               const QProcessEnvironment &extra = {})
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", home);
    for (const char *xdg : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_DOCUMENTS_DIR"})
        environment.remove(xdg);
    for (const QString &key : extra.keys())
        environment.insert(key, extra.value(key));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(arguments.first(), arguments.mid(1));
    if (!process.waitForFinished(60000))
        process.kill();
    process.waitForFinished();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAll())};
}

QString settingsFile(const QString &home)
{
    return home + "/.config/Halvo/" + mainTitle + ".conf";
}

// The window's geometry as xwininfo reported it.
QRect reportedGeometry(const QString &report)
{
    QFile file(report);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(file.readAll());
    const auto field = [&text](const QString &name) {
        return QRegularExpression(name + ":\\s+(-?\\d+)").match(text).captured(1).toInt();
    };
    return {field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"),
            field("Height")};
}

int distinctColours(const QImage &image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 7)
        for (int x = 0; x < image.width(); x += 7)
            colours.insert(image.pixel(x, y));
    return int(colours.size());
}

} // namespace

class ProgramTest : public QObject
{
    Q_OBJECT
private slots:
    void headlessExitCodes_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("logged");
        QTest::newRow("batch input missing") << QStringList{"--eq-batch", "/nonexistent/in.json"}
                                             << 2 << "EQBATCH cannot open /nonexistent/in.json";
        QTest::newRow("export test without packs") << QStringList{"--export-test"} << 5 << "";
    }

    // No display: the headless modes choose the offscreen platform themselves.
    void headlessExitCodes()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, logged);
        QTemporaryDir home;
        QProcessEnvironment noDisplay;
        noDisplay.insert("DISPLAY", "");
        noDisplay.insert("WAYLAND_DISPLAY", "");
        noDisplay.insert("QT_QPA_PLATFORM", "");
        const Run run = runProgram(home.path(), QStringList{program} + arguments, noDisplay);
        QVERIFY2(run.output.contains(logged), qPrintable(run.output));
        QTEST(run.exitCode, "exitCode");
    }

    void windowOnScreens_data()
    {
        QTest::addColumn<QString>("screen");
        QTest::addColumn<QVariantMap>("saved"); // window/main keys before the run
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QVariantMap>("kept"); // window/main keys after the run
        QTest::newRow("first start, 1920x1040")
                << "1920x1040" << QVariantMap{} << QStringList{} << QRect(700, 24, 520, 992)
                << QVariantMap{{"x", "700"}, {"y", "24"}};
        QTest::newRow("first start, 1366x728")
                << "1366x728" << QVariantMap{} << QStringList{} << QRect(505, 24, 356, 680)
                << QVariantMap{{"x", "505"}, {"y", "24"}};
        QTest::newRow("first start, 2560x1440")
                << "2560x1440" << QVariantMap{} << QStringList{} << QRect(980, 147, 600, 1145)
                << QVariantMap{{"x", "980"}, {"y", "147"}};
        const QVariantMap userSize{{"x", 100}, {"y", 50},           {"w", 400},
                                   {"h", 763}, {"userSized", true}, {"layoutVersion", 2}};
        QTest::newRow("user's size restored")
                << "1920x1040" << userSize << QStringList{} << QRect(100, 50, 400, 763)
                << QVariantMap{{"x", "100"},
                               {"y", "50"},
                               {"w", "400"},
                               {"h", "763"},
                               {"userSized", "true"}};
        QTest::newRow("position off the screen")
                << "1920x1040" << QVariantMap{{"x", 5000}, {"y", 5000}} << QStringList{}
                << QRect(1400, 48, 520, 992) << QVariantMap{{"x", "1400"}, {"y", "48"}};
        // Without the restore the window stays where the window system put it, and the save on
        // quit writes that position over the saved one.
        QTest::newRow("size option")
                << "1920x1200" << QVariantMap{{"x", 30}, {"y", 40}, {"layoutVersion", 2}}
                << QStringList{"--size", "500x954"} << QRect(0, 0, 500, 954)
                << QVariantMap{{"x", "0"}, {"y", "0"}, {"layoutVersion", "2"}};
    }

    // The program opens its window, takes a shot of it and quits cleanly ("--shot").
    void windowOnScreens()
    {
        QFETCH(QString, screen);
        QFETCH(QVariantMap, saved);
        QFETCH(QStringList, options);
        QFETCH(QRect, geometry);
        QTemporaryDir home;
        {
            QSettings settings(settingsFile(home.path()), QSettings::IniFormat);
            for (auto it = saved.cbegin(); it != saved.cend(); ++it)
                settings.setValue("window/main/" + it.key(), it.value());
        }
        const QString report = home.filePath("xwininfo.txt");
        const QString shot = home.filePath("shot.png");
        // Mesa's softpipe, with no code compiled at run time: llvmpipe registers its compiled
        // code's unwind tables under the unwinder's lock, where AddressSanitizer's full unwinding
        // on allocation (the test command's setting) would wait on that lock for ever.
        QProcessEnvironment softpipe;
        softpipe.insert("GALLIUM_DRIVER", "softpipe");
        softpipe.insert("DRAW_USE_LLVM", "0");
        const Run run = runProgram(home.path(),
                                   QStringList{QFINDTESTDATA("on_screen.sh"), screen, mainTitle,
                                               report, program, "--shot", shot, "--wait", "2500"}
                                           + options,
                                   softpipe);
        QVERIFY2(run.exitCode == 0, qPrintable(run.output));
        QCOMPARE(reportedGeometry(report), geometry);
        const QImage image(shot);
        QCOMPARE(image.size(), geometry.size());
        QVERIFY(distinctColours(image) > 8); // the home screen, not an empty frame

        QSettings settings(settingsFile(home.path()), QSettings::IniFormat);
        settings.beginGroup("window/main");
        QVariantMap kept;
        for (const QString &key : settings.childKeys())
            kept.insert(key, settings.value(key).toString());
        QTEST(kept, "kept");
    }
};

SNT_TEST_MAIN(ProgramTest)
#include "ProgramTest.moc"
