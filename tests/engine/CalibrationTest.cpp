#include "audio/Client.h"
#include "engine/CalibrationManager.h"
#include "engine/dsp/CalCurve.h"
#include "engine/dsp/CalFileParser.h"
#include "tests/audio/FakePlugin.h"
#include "tests/support/TestMain.h"

#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <cmath>

using Points = QList<CalCurve::Point>;

namespace {

FakePlugin *card = nullptr;

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &content)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write(content);
    return path;
}

} // namespace

class CalibrationTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString micFile; // (100, 1), (1000, 1)
    QString secondFile; // (500, 2), (2000, 4)
    QString oneLineFile; // a single data line: refused
    QString missingFile;

private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Halvo"));
        QCoreApplication::setApplicationName(QStringLiteral("测量工作流"));
        QVERIFY(audio::Client::setPluginFactories({[] {
            auto p = std::make_shared<FakePlugin>(QStringLiteral("WASAPI"));
            card = p.get();
            return p;
        }}));
        QVERIFY(dir.isValid());
        micFile = writeFile(dir, "mic.txt", "100\t1\n1000\t1\n");
        secondFile = writeFile(dir, "second.txt", "500, 2\n2000, 4\n");
        oneLineFile = writeFile(dir, "one.txt", "Sensitivity 12 mV/Pa\n1000 0\n");
        missingFile = dir.filePath("gone.txt");

        // What earlier runs left in the settings: a profile under an old numeric id, one whose
        // name two devices share, one under an id its backend has since renamed, one whose id holds both separators and refers to a file that
        // no longer exists, and the phone offset.
        QSettings settings;
        settings.setValue("Calibration/3/deviceName", "Solo Mic");
        settings.setValue("Calibration/3/splRef_0", 120.5);
        settings.setValue("Calibration/3/calFile_0_0", micFile);
        settings.setValue("Calibration/4/deviceName", "Twin");
        settings.setValue("Calibration/alsa%2Fusb%5Cmic/deviceName", "Slashed");
        settings.setValue("Calibration/alsa%2Fusb%5Cmic/calFile_1_0", missingFile);
        settings.setValue("Calibration/alsa%2Fusb%5Cmic/calFile_1_1", secondFile);
        settings.setValue("Calibration/alsa:capture:desk/deviceName", "Desk");
        settings.setValue("Calibration/alsa:capture:desk/splRef_1", 118.0);
        settings.setValue("Calibration/phoneMicSplOffset", 3.5);
        settings.sync();
    }

    // ---- parser ----

    void parse_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<Points>("points");
        QTest::addColumn<int>("skipped");

        const Points three{{20.0f, -1.5f}, {1000.0f, 0.0f}, {20000.0f, 2.0f}};
        QTest::newRow("tabs, CRLF, byte-order mark")
                << QByteArray("\xEF\xBB\xBF"
                              "20\t-1.5\r\n1000\t0\r\n20000\t2.0\r\n")
                << three << 0;
        QTest::newRow("commas, more columns")
                << QByteArray("20,-1.5,90\n1000,0,0\n20000, 2.0 ,5\n") << three << 0;
        QTest::newRow("white space, plus signs")
                << QByteArray("+20  -1.5\n1000 +0\n  20000   +2.0  \n") << three << 0;
        QTest::newRow("comments and blanks are not counted")
                << QByteArray("\n# mic 1234\nSens Factor =-1.2dB\n\n20\t-1.5\n\n1000\t0\n.5\t3\n"
                              "*\n20000\t2.0\n")
                << three << 0;
        QTest::newRow("zero frequency and units are counted")
                << QByteArray("0\t3\n1kHz\t2\n20\t-1.5\n1000\t0\n-5\t1\n20000\t2\n") << three << 3;
        QTest::newRow("one column is counted")
                << QByteArray("20\t-1.5\n1000\n1000\t0\n20000 2\n") << three << 1;
        // Numbers the reader would take as infinite or not-a-number never reach the curve.
        QTest::newRow("non-finite values are counted")
                << QByteArray("+inf 0\n20\t-1.5\n1000 nan\n1000\t0\n-inf 1\n100 +inf\n"
                              "1e40 2\n20000\t2\n")
                << three << 5;
        // So are gains no calibration has, from a broken file; ±200 dB still read.
        QTest::newRow("gains beyond 200 dB are counted")
                << QByteArray("20\t-1.5\n100 1e30\n1000\t0\n500 -1e30\n2000 200.01\n"
                              "3000 -3e38\n20000\t2\n")
                << three << 4;
        QTest::newRow("200 dB is still a gain")
                << QByteArray("20 -200\n20000 200\n")
                << Points{{20.0f, -200.0f}, {20000.0f, 200.0f}} << 0;
    }

    void parse()
    {
        QFETCH(QByteArray, content);
        QFETCH(Points, points);
        QFETCH(int, skipped);
        const QString path = writeFile(dir, "parse.txt", content);
        // Every refused line is reported once.
        for (int i = 0; i < skipped; ++i)
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression("^\\[CalFileParser\\] Skipping line \\d+ : "));
        const CalFileParser::Result result = CalFileParser::parse(path);
        QVERIFY(result.ok);
        QVERIFY(result.error.isEmpty());
        QCOMPARE(result.points, points);
        QCOMPARE(result.skippedLines, skipped);
    }

    void parseFailures()
    {
        const CalFileParser::Result one = CalFileParser::parse(oneLineFile);
        QVERIFY(!one.ok);
        QCOMPARE(one.error, QStringLiteral("校准文件至少需要 2 个数据点"));
        // A file whose every value is no number, or no calibration, is refused with the message.
        const QString broken
                = writeFile(dir, "broken.txt", "20\tnan\n100\tinf\n1000\t1e30\n20000\t-1e30\n");
        for (int line = 1; line <= 4; ++line)
            QTest::ignoreMessage(
                    QtWarningMsg,
                    QRegularExpression(
                            QString("^\\[CalFileParser\\] Skipping line %1 : ").arg(line)));
        const CalFileParser::Result refused = CalFileParser::parse(broken);
        QVERIFY(!refused.ok && refused.points.isEmpty());
        QCOMPARE(refused.error, QStringLiteral("校准文件至少需要 2 个数据点"));
        QCOMPARE(refused.skippedLines, 4);
        const CalFileParser::Result none = CalFileParser::parse(missingFile);
        QVERIFY(!none.ok);
        QCOMPARE(none.error, QStringLiteral("无法打开文件: %1").arg(missingFile));
    }

    // Linear in dB over log frequency, held at the ends; the per-bin table holds 10^(dB/20),
    // 1 outside it and for an empty curve, and is forgotten with new points.
    void curveInterpolatesOverLogFrequency()
    {
        CalCurve curve;
        curve.buildLut({10.0f, 100.0f});
        QCOMPARE(curve.gainForBin(1), 1.0f);
        curve.setPoints({{1000.0f, 10.0f}, {100.0f, 0.0f}}); // sorted by the curve
        const QList<float> bins{50.0f, 200.0f, 316.22777f, 1000.0f, 5000.0f};
        const float expectedDb[] = {0.0f, 3.0103f, 5.0f, 10.0f, 10.0f};
        curve.buildLut(bins);
        for (int k = 0; k < bins.size(); ++k) {
            QVERIFY(std::abs(curve.gainDbAt(bins[k]) - expectedDb[k]) < 1e-4f);
            QVERIFY(std::abs(curve.gainForBin(k) - std::pow(10.0f, expectedDb[k] / 20.0f)) < 1e-4f);
        }
        QCOMPARE(curve.gainForBin(5), 1.0f);
        QCOMPARE(curve.gainForBin(-1), 1.0f);
        curve.setPoints({{1.0f, 1.0f}, {2.0f, 2.0f}});
        QCOMPARE(curve.gainForBin(1), 1.0f);
    }

    // A microphone-like curve with uneven spacing and a repeated frequency, against the bins of
    // a 16384-point transform at 48 kHz: the table agrees with the curve at every bin.
    void tableFollowsTheCurveAtEveryBin()
    {
        CalCurve curve;
        curve.setPoints({{20, -3},
                         {31.5, -1.2},
                         {63, -0.4},
                         {1000, 0},
                         {1000, 0.3},
                         {4000, 1.1},
                         {8000, 2.5},
                         {12500, 4},
                         {16000, 3.2},
                         {20000, -2}});
        QList<float> bins;
        for (int k = 0; k <= 8192; ++k)
            bins.append(float(k) * 48000.0f / 16384.0f);
        curve.buildLut(bins);
        for (int k = 0; k <= 8192; ++k) {
            const float expected = std::pow(10.0f, curve.gainDbAt(bins[k]) / 20.0f);
            QVERIFY2(std::abs(curve.gainForBin(k) - expected) <= 1e-5f * expected,
                     qPrintable(QString::number(k)));
        }
    }

    // ---- manager ----

    void groupNamesRoundTrip_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("group");
        QTest::newRow("plain") << "{0.0.1.00000000}.{a1b2}"
                               << "{0.0.1.00000000}.{a1b2}";
        QTest::newRow("slash") << "alsa/hw:1,0"
                               << "alsa%2Fhw:1,0";
        QTest::newRow("backslash") << "SWD\\MMDEVAPI"
                                   << "SWD%5CMMDEVAPI";
        QTest::newRow("percent") << "100%"
                                 << "100%25";
        QTest::newRow("escape lookalike") << "a%2Fb"
                                          << "a%252Fb";
        QTest::newRow("empty") << ""
                               << "";
    }

    void groupNamesRoundTrip()
    {
        QFETCH(QString, id);
        QFETCH(QString, group);
        QCOMPARE(CalibrationManager::groupForDeviceId(id), group);
        QCOMPARE(CalibrationManager::deviceIdForGroup(group), id);
        QVERIFY(!group.contains('/') && !group.contains('\\'));
    }

    void startRemovesVanishedFiles()
    {
        QTest::ignoreMessage(
                QtWarningMsg,
                "[CalibrationManager] Removed 1 missing calibration file reference(s)");
        CalibrationManager *manager = CalibrationManager::instance();
        QSignalSpy warnings(manager, &CalibrationManager::warningRaised);

        const CalibrationManager::Profile slashed = manager->getProfile("alsa/usb\\mic");
        QCOMPARE(slashed.deviceName, QStringLiteral("Slashed"));
        QCOMPARE(slashed.calFile(1, 0), QString());
        QCOMPARE(slashed.calFile(1, 1), secondFile);
        QVERIFY(!QSettings().contains("Calibration/alsa%2Fusb%5Cmic/calFile_1_0"));

        QVERIFY(warnings.wait(3000));
        QCOMPARE(warnings.count(), 1);
        QCOMPARE(warnings.at(0).at(0).toString(), QStringLiteral("校准文件缺失"));
        QCOMPARE(warnings.at(0).at(1).toString(),
                 QStringLiteral("以下校准文件已不存在，已自动移除关联：Slashed (通道 2): %1。"
                                "请在校准设置里重新指定。")
                         .arg(missingFile));
        QCOMPARE(manager->phoneMicSplOffset(), 3.5);
    }

    void legacyIdsMoveOnceToUniqueNames()
    {
        CalibrationManager *manager = CalibrationManager::instance();
        // Nothing listed at start, so nothing moved yet.
        QCOMPARE(manager->getProfile("3").deviceName, QStringLiteral("Solo Mic"));

        card->rows = {row("uid-solo", "Solo Mic", "WASAPI"), row("uid-twin-a", "Twin", "WASAPI"),
                      row("uid-twin-b", "Twin", "WASAPI"), row("alsa:desk", "Desk", "WASAPI")};
        card->renamedIds = {{"alsa:capture:desk", "alsa:desk"}};
        QTest::ignoreMessage(QtInfoMsg,
                             "[CalibrationManager] 迁移校准配置: 3 (Solo Mic) → uid-solo");
        QTest::ignoreMessage(QtInfoMsg, "[CalibrationManager] legacy id 迁移完成：成功 1 跳过 1 "
                                        "（跳过原因：名称为空/多设备重名/目标 UID 已存在）");
        QTest::ignoreMessage(QtInfoMsg, "[CalibrationManager] 迁移校准配置: alsa:capture:desk "
                                        "(Desk) → alsa:desk");
        audio::Client::instance()->reloadDevices();
        // The renamed device's profile follows it.
        QCOMPARE(manager->getProfile("alsa:capture:desk").deviceId, QString());
        QCOMPARE(manager->splReference("alsa:desk", 1), 118.0);
        QCOMPARE(QSettings().value("Calibration/alsa:desk/deviceName").toString(),
                 QStringLiteral("Desk"));

        QCOMPARE(manager->getProfile("3").deviceId, QString());
        QCOMPARE(manager->getProfile("uid-solo").calFile(0, 0), micFile);
        QCOMPARE(manager->splReference("uid-solo", 0), 120.5);
        QCOMPARE(manager->splReference("uid-solo", 1), 140.0); // the default
        QSettings settings;
        QVERIFY(!settings.contains("Calibration/3/deviceName"));
        QCOMPARE(settings.value("Calibration/uid-solo/deviceName").toString(),
                 QStringLiteral("Solo Mic"));
        QCOMPARE(manager->getProfile("4").deviceName, QStringLiteral("Twin")); // ambiguous

        // The move runs once per process, even when the name later becomes unique.
        card->rows = {row("uid-twin-a", "Twin", "WASAPI")};
        audio::Client::instance()->reloadDevices();
        QCOMPARE(manager->getProfile("4").deviceName, QStringLiteral("Twin"));
        QCOMPARE(manager->getProfile("uid-twin-a").deviceId, QString());
    }

    void savedProfileKeepsSeparatorsInOneGroup()
    {
        CalibrationManager *manager = CalibrationManager::instance();
        QSignalSpy updated(manager, &CalibrationManager::profileUpdated);
        CalibrationManager::Profile profile;
        profile.deviceId = "pulse/alsa_input.usb\\x";
        profile.deviceName = "USB Mic";
        profile.splRefs[2] = 118.0;
        profile.setCalFile(2, 1, secondFile);
        manager->saveProfile(profile);
        QCOMPARE(updated.count(), 1);

        QSettings settings;
        settings.beginGroup("Calibration");
        QVERIFY(!settings.childGroups().contains("pulse"));
        settings.beginGroup("pulse%2Falsa_input.usb%5Cx");
        QCOMPARE(settings.value("deviceName").toString(), QStringLiteral("USB Mic"));
        QVERIFY(settings.contains("calFile_2_0")); // an empty slot keeps its place
        QCOMPARE(settings.value("calFile_2_1").toString(), secondFile);
        QCOMPARE(manager->splReference(profile.deviceId, 2), 118.0);

        QTest::ignoreMessage(QtWarningMsg,
                             "[CalibrationManager] Cannot save profile with empty deviceId");
        manager->saveProfile(CalibrationManager::Profile{});
        QCOMPARE(updated.count(), 1);
    }

    void combinedCurve_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<Points>("points");
        QTest::newRow("no profile") << "nobody" << micFile << QString() << Points{};
        QTest::newRow("none") << "combine-card" << QString() << QString() << Points{};
        QTest::newRow("microphone only") << "combine-card" << micFile << QString()
                                         << Points{{100.0f, 1.0f}, {1000.0f, 1.0f}};
        QTest::newRow("second only") << "combine-card" << QString() << secondFile
                                     << Points{{500.0f, 2.0f}, {2000.0f, 4.0f}};
        // At 1000 Hz the second file lies halfway (in log frequency) between 2 and 4 dB.
        QTest::newRow("both add in dB")
                << "combine-card" << micFile << secondFile
                << Points{{100.0f, 3.0f}, {500.0f, 3.0f}, {1000.0f, 4.0f}, {2000.0f, 5.0f}};
    }

    void combinedCurve()
    {
        QFETCH(QString, device);
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(Points, points);
        CalibrationManager *manager = CalibrationManager::instance();
        CalibrationManager::Profile profile;
        profile.deviceId = "combine-card";
        profile.setCalFile(0, 0, first);
        profile.setCalFile(0, 1, second);
        manager->saveProfile(profile);
        if (device == QLatin1String("nobody"))
            QTest::ignoreMessage(QtWarningMsg,
                                 "[CalibrationManager] No profile found for device: nobody");
        const std::shared_ptr<CalCurve> curve = manager->getCombinedCalCurve(device, 0);
        QVERIFY(curve);
        QCOMPARE(curve->frequencies().size(), points.size());
        for (qsizetype i = 0; i < points.size(); ++i) {
            QCOMPARE(curve->frequencies()[i], points[i].first);
            QVERIFY(std::abs(curve->gainsDb()[i] - points[i].second) < 1e-5f);
        }
    }

    void brokenFileIsDroppedWithAWarning()
    {
        CalibrationManager *manager = CalibrationManager::instance();
        CalibrationManager::Profile profile;
        profile.deviceId = "broken-card";
        profile.setCalFile(1, 0, oneLineFile);
        profile.setCalFile(1, 1, secondFile);
        manager->saveProfile(profile);

        QSignalSpy warnings(manager, &CalibrationManager::warningRaised);
        QSignalSpy updated(manager, &CalibrationManager::profileUpdated);
        QTest::ignoreMessage(QtWarningMsg, "[CalibrationManager] Failed to parse file1: "
                                           "校准文件至少需要 2 个数据点");
        const auto curve = manager->getCombinedCalCurve("broken-card", 1);
        QVERIFY(curve->isEmpty()); // even though the second file is fine
        QCOMPARE(warnings.count(), 1);
        QCOMPARE(warnings.at(0).at(0).toString(), QStringLiteral("校准文件解析失败"));
        QCOMPARE(updated.count(), 1);
        QCOMPARE(manager->getProfile("broken-card").calFile(1, 0), QString());
        QCOMPARE(QSettings().value("Calibration/broken-card/calFile_1_0").toString(), QString());

        // With the broken reference gone, the second file applies on its own.
        QCOMPARE(manager->getCombinedCalCurve("broken-card", 1)->frequencies(),
                 QList<float>({500.0f, 2000.0f}));
    }
};

SNT_TEST_MAIN(CalibrationTest)
#include "CalibrationTest.moc"
