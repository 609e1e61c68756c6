#include "app/store/CaptureFiles.h"
#include "app/store/ProjectStore.h"
#include "files/DataFolder.h"
#include "tests/app/store/StoreTestFiles.h"
#include "tests/audio/LogCapture.h"
#include "tests/support/TestMain.h"

#include <QRegularExpression>
#include <QtEndian>

#include <functional>

namespace {

using Points = QList<QList<float>>;

QString rawPath(const QString &name)
{
    return rawDir() + QLatin1Char('/') + name;
}

QByteArray int32Bytes(qint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

QByteArray floatBytes(const QList<float> &values)
{
    QByteArray bytes(4 * values.size(), '\0');
    for (qsizetype i = 0; i < values.size(); ++i)
        qToLittleEndian(values[i], bytes.data() + 4 * i);
    return bytes;
}

CurvePack captured(qsizetype n, qsizetype n2 = 0)
{
    CurvePack pack;
    pack.freq = ramp(n, 20.0f, 2.5f);
    pack.level = ramp(n, -30.0f, 1e-4f); // below 200 dB, as any measured level
    pack.phase = ramp(n, -180.0f, 0.3f);
    pack.coherence = ramp(n, 0.5f, 1e-6f);
    pack.freq2 = ramp(n2, 30.0f, 2.0f);
    pack.level2 = ramp(n2, -20.0f, 0.02f);
    pack.phase2 = ramp(n2, 10.0f, 0.1f);
    pack.coherence2 = ramp(n2, 0.9f, 1e-5f);
    return pack;
}

// Runs `write` while file writes of this process fail beyond 64 KiB, as on a full disk.
bool failsOnAFullDisk(const std::function<bool()> &write)
{
    const FileSizeLimit fullDisk(64 * 1024);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("\\[Store\\] writing .* failed"));
    return !write();
}

bool isUuidName(const QString &name)
{
    static const QRegularExpression uuid(
            QStringLiteral("^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\.raw$"));
    return uuid.match(name).hasMatch();
}

} // namespace

class CaptureFilesTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { QDir(rawDir()).removeRecursively(); }

    void eightValuesGiveTheDocumentedBytes()
    {
        CurvePack pack;
        pack.freq = {1000.0f, 1.0f, 2.0f, -2.0f, 0.5f, 0.25f, 100.0f, 1.0f};
        pack.level = {1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, -2.0f};
        pack.coherence = {0.5f};
        QVERIFY(writeRawFile(pack) && isUuidName(pack.rawFile));
        const QByteArray bytes = fileBytes(rawPath(pack.rawFile));
        QCOMPARE(bytes.size(), 139);
        // IEEE single precision, little-endian: 1000 = 447A0000, 1 = 3F800000, -2 = C0000000;
        // no phase gives zeros, a short coherence list is padded with them.
        QCOMPARE(bytes.left(19), QByteArray("SNTRAW3\x08\x00\x00\x00", 11)
                                         + QByteArray::fromHex("00007a440000803f"));
        QCOMPARE(bytes.mid(11 + 4 * 8 + 28, 4), QByteArray::fromHex("000000c0"));
        QCOMPARE(bytes.mid(11 + 4 * 16, 40),
                 QByteArray(32, '\0') + QByteArray::fromHex("0000003f00000000"));
    }

    void capturesRoundTrip_data()
    {
        QTest::addColumn<int>("n");
        QTest::addColumn<int>("n2");
        QTest::newRow("two captures") << 1000 << 4096;
        QTest::newRow("largest capture") << 2000000 << 0;
    }

    // Read back exactly, written again under the same names.
    void capturesRoundTrip()
    {
        QFETCH(int, n);
        QFETCH(int, n2);
        CurvePack pack = captured(n, n2);
        pack.phase.resize(10); // padded with zeros
        QVERIFY(writeRawFile(pack));
        QCOMPARE(QFileInfo(rawPath(pack.rawFile)).size(), 11 + 16 * qint64(n));
        QCOMPARE(isUuidName(pack.rawFile2), n2 > 0);
        CurvePack read;
        read.rawFile = pack.rawFile;
        read.rawFile2 = pack.rawFile2;
        QVERIFY(readRawFile(read));
        pack.phase += QList<float>(n - 10, 0.0f);
        QCOMPARE(read, pack);
        QCOMPARE(read.rawPoints, n);
        const QStringList names{pack.rawFile, pack.rawFile2};
        QVERIFY(writeRawFile(pack));
        QCOMPARE((QStringList{pack.rawFile, pack.rawFile2}), names);
        QCOMPARE(QDir(rawDir()).entryList(QDir::Files).size(), n2 > 0 ? 2 : 1);
    }

    // Nothing is written that the reader would refuse.
    void unreadableCapturesAreNotWritten()
    {
        CurvePack seven = captured(7), mismatched = captured(8), tooLong = captured(8), points;
        mismatched.level.removeLast();
        tooLong.freq2 = tooLong.level2 = QList<float>(2000001, 1.0f);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("longer than a capture file holds"));
        QVERIFY(!writeRawFile(seven) && !writeRawFile(mismatched) && !writeRawFile(tooLong));
        QVERIFY(seven.rawFile.isEmpty() && mismatched.rawFile.isEmpty()
                && tooLong.rawFile2.isEmpty());
        QVERIFY(!writePointsFile(points, Points(65, ramp(8, 1)), {}, {}, {}));
        QVERIFY(!writePointsFile(points, {ramp(8, 1), ramp(7, 1)}, {}, {}, {}));
        QCOMPARE(QDir(rawDir()).entryList(QDir::Files), QStringList{tooLong.rawFile});
        points.pointsFile = QStringLiteral("x.points");
        points.pointCount = 2;
        QVERIFY(!writePointsFile(points, {}, {}, {}, {}));
        QVERIFY(points.pointsFile.isEmpty() && points.pointCount == 0);
    }

    void badFilesReadAsFalse_data()
    {
        QTest::addColumn<bool>("points");
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray body(16 * 8, '\x01'), raw("SNTRAW3"), pts("SNTPTS1");
        const QByteArray point = int32Bytes(8) + body;
        QTest::newRow("n 7") << false << raw + int32Bytes(7) + body;
        QTest::newRow("n 2000001") << false << raw + int32Bytes(2000001) + body;
        QTest::newRow("negative n") << false << raw + int32Bytes(-8) + body;
        QTest::newRow("cut in coherence") << false << raw + point.left(124);
        QTest::newRow("points magic") << false << pts + point;
        QTest::newRow("short magic") << false << QByteArray("SNTRA");
        QTest::newRow("count 0") << true << pts + int32Bytes(0) + point;
        QTest::newRow("count 65") << true << pts + int32Bytes(65) + point;
        QTest::newRow("raw magic") << true << raw + int32Bytes(1) + point;
        QTest::newRow("second point cut") << true << pts + int32Bytes(2) + point + point.left(100);
        QTest::newRow("point of 7") << true << pts + int32Bytes(2) + point + int32Bytes(7) + body;
    }

    void badFilesReadAsFalse()
    {
        QFETCH(bool, points);
        QFETCH(QByteArray, bytes);
        QVERIFY(putBytes(rawPath("bad"), bytes));
        CurvePack pack;
        pack.rawFile = pack.pointsFile = QStringLiteral("bad");
        pack.pointCount = 2;
        const CurvePack unread = pack;
        QVERIFY(points ? !readPointsFile(pack) : !readRawFile(pack));
        QCOMPARE(pack, unread); // nothing half-read stays behind
    }

    // A value that is not a finite number, in any of the four arrays, or a level no measurement
    // gives (beyond 200 dB either way: a capture's levels are in dB, a point's are magnitudes),
    // refuses the whole file with a warning and a sentence for the user that name it and why.
    void implausibleCapturesAreNotRead_data()
    {
        QTest::addColumn<bool>("points");
        QTest::addColumn<int>("array"); // 0 frequencies, 1 levels, 2 phases, 3 coherences
        QTest::addColumn<float>("value");
        QTest::addColumn<QString>("why"); // the log's words
        QTest::addColumn<QString>("sentence"); // the user's
        const QString notFinite = "holds values that are not finite numbers";
        const QString nan = QStringLiteral("NaN 或无穷大");
        QTest::newRow("NaN level") << false << 1 << NAN << notFinite << nan;
        QTest::newRow("infinite frequency") << false << 0 << INFINITY << notFinite << nan;
        QTest::newRow("negative infinite coherence") << false << 3 << -INFINITY << notFinite << nan;
        QTest::newRow("NaN phase of a second point") << true << 2 << NAN << notFinite << nan;
        const QString beyond = "holds levels beyond 200 dB either way";
        const QString tooLoud = QStringLiteral("超出 ±200 dB 的电平");
        QTest::newRow("level of 3.0e38 dB") << false << 1 << 3.0e38f << beyond << tooLoud;
        QTest::newRow("level of -200.5 dB") << false << 1 << -200.5f << beyond << tooLoud;
        QTest::newRow("magnitude of 1.1e10 in a second point")
                << true << 1 << 1.1e10f << beyond << tooLoud;
    }

    void implausibleCapturesAreNotRead()
    {
        QFETCH(bool, points);
        QFETCH(int, array);
        QFETCH(float, value);
        QFETCH(QString, why);
        QFETCH(QString, sentence);
        QList<float> spoilt = ramp(32, 1.0f);
        spoilt[8 * array + 5] = value;
        const QByteArray good = int32Bytes(8) + floatBytes(ramp(32, 1.0f));
        const QByteArray bad = int32Bytes(8) + floatBytes(spoilt);
        QVERIFY(putBytes(rawPath("bad"),
                         points ? "SNTPTS1" + int32Bytes(2) + good + bad : "SNTRAW3" + bad));
        CurvePack pack;
        pack.rawFile = pack.pointsFile = QStringLiteral("bad");
        pack.pointCount = 2;
        const CurvePack unread = pack;
        QTest::ignoreMessage(QtWarningMsg, qPrintable("[Store] capture file " + rawPath("bad") + " "
                                                      + why + ", not read"));
        QString refusal;
        QVERIFY(points ? !readPointsFile(pack, &refusal) : !readRawFile(pack, &refusal));
        QCOMPARE(pack, unread);
        QVERIFY2(refusal.startsWith("「bad」") && refusal.contains(sentence), qPrintable(refusal));
    }

    // Nor are such values written, so that every file written reads back; what lies beyond the
    // values a file holds does not matter.
    void nonFiniteCapturesAreNotWritten()
    {
        CurvePack first = captured(8), second = captured(8, 8), points, longer = captured(8);
        first.phase[3] = NAN;
        second.level2[7] = INFINITY;
        longer.coherence.append(NAN);
        QTest::ignoreMessage(QtWarningMsg,
                             "[Store] capture holds values that are not finite numbers");
        QVERIFY(!writeRawFile(first) && first.rawFile.isEmpty());
        QTest::ignoreMessage(QtWarningMsg,
                             "[Store] second capture holds values that are not finite numbers");
        QVERIFY(!writeRawFile(second) && second.rawFile2.isEmpty());
        QTest::ignoreMessage(QtWarningMsg,
                             "[Store] point 2 holds values that are not finite numbers");
        QVERIFY(!writePointsFile(points, {ramp(8, 1), ramp(8, 1)}, {}, {},
                                 {ramp(8, 1), {0.5f, -INFINITY}}));
        QVERIFY(points.pointsFile.isEmpty() && points.pointCount == 0);
        QCOMPARE(QDir(rawDir()).entryList(QDir::Files), QStringList{second.rawFile});
        QVERIFY(writeRawFile(longer));
        CurvePack read;
        read.rawFile = longer.rawFile;
        QVERIFY(readRawFile(read));
    }

    // Nor levels no measurement gives; up to 200 dB either way they are written and read back.
    void implausibleLevelsAreNotWritten()
    {
        CurvePack loud = captured(8), points, most = captured(8), read;
        loud.level[2] = 200.5f;
        QTest::ignoreMessage(QtWarningMsg, "[Store] capture holds levels beyond 200 dB either way");
        QVERIFY(!writeRawFile(loud) && loud.rawFile.isEmpty());
        QList<float> magnitudes = ramp(8, 1.0f);
        magnitudes[7] = -2e10f;
        QTest::ignoreMessage(QtWarningMsg, "[Store] point 1 holds levels beyond 200 dB either way");
        QVERIFY(!writePointsFile(points, {ramp(8, 1)}, {magnitudes}, {}, {}));
        QVERIFY(QDir(rawDir()).entryList(QDir::Files).isEmpty());

        most.level[0] = -200.0f;
        most.level[1] = 200.0f;
        magnitudes[7] = 1e10f;
        QVERIFY(writeRawFile(most) && writePointsFile(most, {ramp(8, 1)}, {magnitudes}, {}, {}));
        read.rawFile = most.rawFile;
        read.pointsFile = most.pointsFile;
        read.pointCount = 1;
        QVERIFY(readRawFile(read) && readPointsFile(read));
        QVERIFY(read.level == most.level && read.pointLevel == QList<QList<float>>{magnitudes});
    }

    // A FIFO or a link to a device in the raw folder is refused at once, with a log line and a
    // sentence for the user that name it; a refused second capture leaves the first one read.
    void specialFilesAreRefused_data()
    {
        QTest::addColumn<bool>("fifo"); // else a link to an endless device
        QTest::addColumn<QString>("kind");
        for (const char *kind : {"raw", "second raw", "points"}) {
            QTest::newRow(QByteArray("FIFO as ") + kind) << true << kind;
            QTest::newRow(QByteArray("endless link as ") + kind) << false << kind;
        }
    }

    void specialFilesAreRefused()
    {
        QFETCH(bool, fifo);
        QFETCH(QString, kind);
        const QString name = QStringLiteral("特殊.raw");
        QVERIFY(fifo ? putFifo(rawPath(name)) : putEndlessLink(rawPath(name)));
        CurvePack pack = captured(8);
        QVERIFY(writeRawFile(pack));
        pack.freq.clear();
        if (kind == "second raw")
            pack.rawFile2 = name;
        else
            pack.rawFile = pack.pointsFile = name;
        pack.pointCount = 1;
        const LogCapture log;
        QString refusal;
        const bool read
                = kind == "points" ? readPointsFile(pack, &refusal) : readRawFile(pack, &refusal);
        QCOMPARE(read, kind == "second raw");
        QVERIFY(pack.freq2.isEmpty() && pack.pointFreq.isEmpty());
        QVERIFY2(refusal.contains("「" + name + "」"), qPrintable(refusal));
        QCOMPARE(log.lines().filter(QRegularExpression("refused to read .*" + name)).size(), 1);
    }

    // A points file holds at most 64 points of as many values as a measurement has bins (a
    // 65536-point transform gives 32768): so many read back. A larger file, which the program
    // never writes, is refused at once with a sentence that names it, before anything of it is
    // read (each of its points within the limit of a point).
    void pointsFilesHoldWhatAMeasurementGives()
    {
        CurvePack most;
        const Points full(64, ramp(32768, 20.0f, 0.5f));
        QVERIFY(writePointsFile(most, full, full, {}, {}));
        CurvePack read;
        read.pointsFile = most.pointsFile;
        read.pointCount = 1;
        QVERIFY(readPointsFile(read) && read.pointFreq == full && read.pointLevel == full);

        CurvePack larger;
        const qint32 n = 1100000;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("bytes are more than the"));
        QVERIFY(!writePointsFile(larger, Points(2, ramp(n, 1.0f)), {}, {}, {}));
        QVERIFY(larger.pointsFile.isEmpty() && QDir(rawDir()).entryList(QDir::Files).size() == 1);
        QFile file(rawPath("大.points")); // sparse: zeros but for the two counts
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("SNTPTS1" + int32Bytes(2))
                && file.write(int32Bytes(n)) == 4 && file.seek(11 + 4 + 16 * qint64(n))
                && file.write(int32Bytes(n)) == 4 && file.resize(11 + 2 * (4 + 16 * qint64(n))));
        file.close();
        larger.pointsFile = file.fileName().section('/', -1);
        larger.pointCount = 2;
        const LogCapture log;
        QString refusal;
        QVERIFY(!readPointsFile(larger, &refusal) && larger.pointFreq.isEmpty());
        QVERIFY2(refusal.contains("「大.points」"), qPrintable(refusal));
        QCOMPARE(log.lines().filter(QRegularExpression("refused to read .*大.points")).size(), 1);
    }

    // Packs without a capture used to share one ".points" file and overwrite each other.
    void pointsRoundTripInFilesOfTheirOwn()
    {
        CurvePack pack, first, second;
        pack.rawFile = QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e.raw");
        const Points freq{ramp(8, 1), ramp(20, 5, 2), ramp(9, 100, 10)};
        const Points level{ramp(8, -1), ramp(25, 0)}; // none for the third
        const Points coherence{ramp(8, 0, 0.1f), ramp(20, 0, 0.01f), ramp(9, 1, 0)};
        QVERIFY(writePointsFile(pack, freq, level, {ramp(3, 7)}, coherence));
        QVERIFY(writePointsFile(first, {ramp(8, 1)}, {ramp(8, 10)}, {}, {}));
        QVERIFY(writePointsFile(second, {ramp(8, 2)}, {ramp(8, 20)}, {}, {}));
        QCOMPARE(pack.pointsFile, pack.rawFile + ".points");
        QVERIFY(first.pointsFile.endsWith(".points") && first.pointsFile != second.pointsFile);
        QCOMPARE(QFileInfo(rawPath(pack.pointsFile)).size(),
                 11 + (4 + 16 * 8) + (4 + 16 * 20) + (4 + 16 * 9));
        CurvePack read, readFirst;
        read.pointsFile = pack.pointsFile;
        readFirst.pointsFile = first.pointsFile;
        read.pointCount = readFirst.pointCount = 1;
        QVERIFY(readPointsFile(read) && readPointsFile(readFirst));
        QCOMPARE(read.pointCount, 3);
        QCOMPARE(read.pointFreq, freq);
        const QList<float> zeros20(20, 0.0f), zeros9(9, 0.0f);
        QCOMPARE(read.pointLevel, (Points{level[0], level[1].mid(0, 20), zeros9}));
        QCOMPARE(read.pointPhase, (Points{ramp(3, 7) + QList<float>(5, 0.0f), zeros20, zeros9}));
        QCOMPARE(read.pointCoherence, coherence);
        QCOMPARE(readFirst.pointLevel, Points{ramp(8, 10)});
    }

    // Names from copied project files must never reach outside the raw folder.
    void namesWithPathsAreNeverFollowed_data()
    {
        QTest::addColumn<QString>("name");
        for (const char *name : {"../../victim.raw", "%victim%", "..\\..\\victim.raw", "..", "."})
            QTest::newRow(name) << QString::fromLatin1(name);
    }

    void namesWithPathsAreNeverFollowed()
    {
        // A valid capture where the name leads: it must be neither read nor touched.
        const QString victim = documentsRoot() + QStringLiteral("/victim.raw");
        QFETCH(QString, name);
        name.replace(QStringLiteral("%victim%"), victim);
        const QByteArray victimBytes = "SNTRAW3" + int32Bytes(8) + QByteArray(128, '\x01');
        QVERIFY(putBytes(victim, victimBytes));
        CurvePack reading, secondReading = captured(8); // an unreadable second capture stays empty
        reading.rawFile = reading.pointsFile = secondReading.rawFile2 = name;
        reading.pointCount = 1;
        QVERIFY(!readRawFile(reading) && !readPointsFile(reading) && reading.freq.isEmpty());
        QVERIFY(readRawFile(secondReading) && secondReading.freq2.isEmpty());

        CurvePack writing = captured(8, 8);
        writing.rawFile = writing.rawFile2 = writing.pointsFile = name;
        QVERIFY(writeRawFile(writing) && isUuidName(writing.rawFile)
                && isUuidName(writing.rawFile2));
        QVERIFY(writePointsFile(writing, {writing.freq}, {writing.level}, {}, {}));
        QCOMPARE(writing.pointsFile, writing.rawFile + ".points");
        CurvePack deleting;
        deleting.rawFile = deleting.rawFile2 = name;
        ProjectStore::removeCurvePackFiles(deleting);
        QCOMPARE(fileBytes(victim), victimBytes);
    }

    // A write that fails part-way (disk full) must keep the earlier good file and say so.
    void failedWriteKeepsTheEarlierFile()
    {
        CurvePack pack = captured(8), larger = captured(100000);
        QVERIFY(writeRawFile(pack) && writePointsFile(pack, {ramp(8, 1)}, {}, {}, {}));
        const QByteArray raw = fileBytes(rawPath(pack.rawFile)),
                         points = fileBytes(rawPath(pack.pointsFile));
        larger.rawFile = pack.rawFile;
        QVERIFY(failsOnAFullDisk([&] { return writeRawFile(larger); }));
        QVERIFY(failsOnAFullDisk(
                [&] { return writePointsFile(pack, {ramp(50000, 1)}, {}, {}, {}); }));
        QCOMPARE(fileBytes(rawPath(pack.rawFile)), raw);
        QCOMPARE(fileBytes(rawPath(pack.pointsFile)), points);
        QVERIFY(larger.rawPoints == 0 && pack.pointCount == 1);
        QCOMPARE(QDir(rawDir()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }
};

SNT_TEST_MAIN(CaptureFilesTest)
#include "CaptureFilesTest.moc"
