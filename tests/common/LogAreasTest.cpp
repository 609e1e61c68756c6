#include "tests/support/TestMain.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

// What the probe logs, by level and text, as a field log shows it after the time stamp.
const QString storeLine = QStringLiteral("info [Store] kept 3 packs in 工程");
const QString measurementLine = QStringLiteral("warning [Measurement] no input on alsa:default");
const QString calibrationLine
        = QStringLiteral("debug [CalibrationManager] Both calibration files are empty");
const QString wasapiLine = QStringLiteral("debug Initialize audio client 0x88890004");
const QString alsaLine = QStringLiteral("debug [ALSA] snd_pcm_open gone No such device");
const QString jackLine = QStringLiteral("debug [JACK] cannot connect to server");
const QString asioLine
        = QStringLiteral("debug ASIOOutputReady not supported by this driver (result: -1000 )");

// "2026-12-07 10:42:03.123 " in front of every line.
const QRegularExpression
        stampedLine(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d (.*)$"));

QStringList unstamped(const QByteArray &text, QString *badLine)
{
    QStringList lines;
    for (const QString &line : QString::fromUtf8(text).split(u'\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = stampedLine.match(line);
        if (!match.hasMatch())
            *badLine = line;
        lines.append(match.captured(1));
    }
    return lines;
}

} // namespace

// Each area logs through a category of its own: QT_LOGGING_RULES silences or opens one area
// while the others go on, and the lines read exactly as the program's handler has always
// written them (time, level, tag and text, no category), on stderr and in the mirror file alike.
class LogAreasTest : public QObject
{
    Q_OBJECT

private slots:
    void rulesChooseAreasAndLinesKeepTheirForm_data()
    {
        QTest::addColumn<QString>("rules");
        QTest::addColumn<QStringList>("expected");
        // The sound layers' debug lines are off by default; every other area logs all levels.
        QTest::newRow("default") << QString()
                                 << QStringList{storeLine, measurementLine, calibrationLine};
        QTest::newRow("store silenced")
                << "snt.store.info=false" << QStringList{measurementLine, calibrationLine};
        QTest::newRow("measurement silenced")
                << "snt.measurement=false" << QStringList{storeLine, calibrationLine};
        QTest::newRow("wasapi opened")
                << "snt.wasapi.debug=true"
                << QStringList{storeLine, measurementLine, calibrationLine, wasapiLine};
        QTest::newRow("sound layers opened, calibration silenced")
                << "snt.alsa.debug=true;snt.jack.debug=true;snt.asio.debug=true;"
                   "snt.calibration.debug=false"
                << QStringList{storeLine, measurementLine, alsaLine, jackLine, asioLine};
    }
    void rulesChooseAreasAndLinesKeepTheirForm()
    {
        QFETCH(QString, rules);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        const QString mirror = dir.filePath("mirror.log");
        QProcess probe;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("QT_LOGGING_RULES"));
        environment.remove(QStringLiteral("QT_LOGGING_CONF"));
        if (!rules.isEmpty())
            environment.insert(QStringLiteral("QT_LOGGING_RULES"), rules);
        probe.setProcessEnvironment(environment);
        probe.start(QStringLiteral(LOG_AREAS_PROBE), {mirror});
        QVERIFY(probe.waitForFinished(30000));
        QCOMPARE(probe.exitCode(), 0);

        const QByteArray err = probe.readAllStandardError();
        QString badLine;
        QCOMPARE(unstamped(err, &badLine), expected);
        QVERIFY2(badLine.isEmpty(), qPrintable(badLine));
        QFile file(mirror);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), err);
    }
};

SNT_TEST_MAIN(LogAreasTest)
#include "LogAreasTest.moc"
