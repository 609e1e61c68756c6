#include "app/CaptureFiles.h"
#include "app/DataFolder.h"
#include "app/ProjectStore.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <csignal>
#include <sys/resource.h>

namespace {

QString rawPath(const QString& name)
{
    return rawDir() + QLatin1Char('/') + name;
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool putBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray int32Bytes(qint32 value)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char((quint32(value) >> (8 * i)) & 0xff);
    return bytes;
}

QList<float> ramp(qsizetype n, float start, float step)
{
    QList<float> values(n);
    for (qsizetype i = 0; i < n; ++i)
        values[i] = start + step * float(i);
    return values;
}

CurvePack captured(qsizetype n)
{
    CurvePack pack;
    pack.freq = ramp(n, 20.0f, 2.5f);
    pack.level = ramp(n, -30.0f, 0.01f);
    pack.phase = ramp(n, -180.0f, 0.3f);
    pack.coherence = ramp(n, 0.5f, 1e-6f);
    return pack;
}

// Makes file writes of this process fail beyond `bytes`, as a full disk would.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = nullptr;
};

const QRegularExpression kUuidName(
    QStringLiteral("^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\.raw$"));

}  // namespace

class CaptureFilesTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        QDir(rawDir()).removeRecursively();
    }

    void eightValuesGiveTheDocumentedBytes()
    {
        CurvePack pack;
        pack.freq = {1000.0f, 1.0f, 2.0f, -2.0f, 0.5f, 0.25f, 100.0f, 1.0f};
        pack.level = {1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, -2.0f};
        pack.coherence = {0.5f};
        QVERIFY(writeRawFile(pack));
        QVERIFY(kUuidName.match(pack.rawFile).hasMatch());
        QCOMPARE(pack.rawPoints, 8);
        const QByteArray bytes = fileBytes(rawPath(pack.rawFile));
        QCOMPARE(bytes.size(), 139);
        QCOMPARE(bytes.left(11), QByteArray("SNTRAW3\x08\x00\x00\x00", 11));
        // IEEE single precision, little-endian: 1000 = 447A0000, 1 = 3F800000, -2 = C0000000.
        QCOMPARE(bytes.mid(11, 8), QByteArray::fromHex("00007a440000803f"));
        QCOMPARE(bytes.mid(11 + 4 * 8 + 28, 4), QByteArray::fromHex("000000c0"));
        QCOMPARE(bytes.mid(11 + 4 * 16, 32), QByteArray(32, '\0'));  // no phase: zeros
        QCOMPARE(bytes.mid(11 + 4 * 24, 8), QByteArray::fromHex("0000003f00000000"));
    }

    void shortOrMismatchedCapturesAreNotWritten()
    {
        CurvePack seven = captured(7);
        QVERIFY(!writeRawFile(seven));
        QVERIFY(seven.rawFile.isEmpty());
        CurvePack mismatched = captured(8);
        mismatched.level.removeLast();
        QVERIFY(!writeRawFile(mismatched));
        QVERIFY(QDir(rawDir()).isEmpty());
    }

    // Longer captures would be written and never read back: refused, and said so.
    void capturesBeyondTheReadersLimitAreNotWritten()
    {
        CurvePack pack;
        pack.freq = QList<float>(2000001, 1.0f);
        pack.level = pack.freq;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("longer than a capture file holds"));
        QVERIFY(!writeRawFile(pack));
        QVERIFY(pack.rawFile.isEmpty());
        CurvePack two = captured(8);
        two.freq2 = pack.freq;
        two.level2 = pack.level;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("longer than a capture file holds"));
        QVERIFY(!writeRawFile(two));
        QVERIFY(two.rawFile2.isEmpty());
        QCOMPARE(QDir(rawDir()).entryList(QDir::Files), QStringList{two.rawFile});
    }

    void bothCapturesRoundTrip()
    {
        CurvePack pack = captured(1000);
        pack.phase.resize(10);
        const CurvePack second = captured(4096);
        pack.freq2 = second.freq;
        pack.level2 = second.level;
        pack.phase2 = second.phase;
        pack.coherence2 = second.coherence;
        QVERIFY(writeRawFile(pack));
        QVERIFY(kUuidName.match(pack.rawFile2).hasMatch());
        QVERIFY(pack.rawFile != pack.rawFile2);

        CurvePack read;
        read.rawFile = pack.rawFile;
        read.rawFile2 = pack.rawFile2;
        QVERIFY(readRawFile(read));
        QCOMPARE(read.freq, pack.freq);
        QCOMPARE(read.level, pack.level);
        QCOMPARE(read.phase.mid(0, 10), pack.phase);
        QCOMPARE(read.phase.mid(10), QList<float>(990, 0.0f));
        QCOMPARE(read.coherence, pack.coherence);
        QCOMPARE(read.rawPoints, 1000);
        QCOMPARE(read.freq2, pack.freq2);
        QCOMPARE(read.level2, pack.level2);
        QCOMPARE(read.phase2, pack.phase2);
        QCOMPARE(read.coherence2, pack.coherence2);
        QCOMPARE(read.rawPoints2, 4096);
    }

    void namesAreKeptAcrossWrites()
    {
        CurvePack pack = captured(16);
        QVERIFY(writeRawFile(pack));
        const QString name = pack.rawFile;
        pack.level.fill(-1.0f);
        QVERIFY(writeRawFile(pack));
        QCOMPARE(pack.rawFile, name);
        QCOMPARE(QDir(rawDir()).entryList(QDir::Files).size(), 1);
    }

    void largestCaptureRoundTrips()
    {
        CurvePack pack = captured(2000000);
        QVERIFY(writeRawFile(pack));
        QCOMPARE(QFileInfo(rawPath(pack.rawFile)).size(), 11 + 16 * 2000000LL);
        CurvePack read;
        read.rawFile = pack.rawFile;
        QVERIFY(readRawFile(read));
        QCOMPARE(read.freq, pack.freq);
        QCOMPARE(read.coherence, pack.coherence);
    }

    void badRawFilesReadAsFalse_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray body(16 * 8, '\x01');
        QTest::newRow("n 7") << QByteArray("SNTRAW3") + int32Bytes(7) + body;
        QTest::newRow("n 2000001") << QByteArray("SNTRAW3") + int32Bytes(2000001) + body;
        QTest::newRow("negative n") << QByteArray("SNTRAW3") + int32Bytes(-8) + body;
        QTest::newRow("cut in coherence") << QByteArray("SNTRAW3") + int32Bytes(8) + body.left(120);
        QTest::newRow("points magic") << QByteArray("SNTPTS1") + int32Bytes(8) + body;
        QTest::newRow("short magic") << QByteArray("SNTRA");
        QTest::newRow("empty") << QByteArray();
    }

    void badRawFilesReadAsFalse()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(putBytes(rawPath("bad.raw"), bytes));
        CurvePack pack;
        pack.rawFile = QStringLiteral("bad.raw");
        QVERIFY(!readRawFile(pack));
        QVERIFY(pack.freq.isEmpty() && pack.level.isEmpty() && pack.phase.isEmpty()
                && pack.coherence.isEmpty());
    }

    void badSecondCaptureLeavesItEmpty()
    {
        CurvePack pack = captured(8);
        QVERIFY(writeRawFile(pack));
        QVERIFY(putBytes(rawPath("second.raw"), QByteArray("SNTPTS1") + int32Bytes(8)
                                                    + QByteArray(128, '\0')));
        CurvePack read;
        read.rawFile = pack.rawFile;
        read.rawFile2 = QStringLiteral("second.raw");
        QVERIFY(readRawFile(read));
        QCOMPARE(read.freq, pack.freq);
        QVERIFY(read.freq2.isEmpty() && read.level2.isEmpty());
    }

    void loadedCaptureIsNotReadAgain()
    {
        CurvePack pack = captured(8);
        QVERIFY(writeRawFile(pack));
        QVERIFY(QFile::remove(rawPath(pack.rawFile)));
        QVERIFY(readRawFile(pack));
        CurvePack nothing;
        QVERIFY(!readRawFile(nothing));
    }

    void pointsRoundTripWithPadding()
    {
        CurvePack pack;
        pack.rawFile = QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e.raw");
        const QList<QList<float>> freq{ramp(8, 1, 1), ramp(20, 5, 2), ramp(9, 100, 10)};
        const QList<QList<float>> level{ramp(8, -1, 1), ramp(25, 0, 1)};  // none for the third
        const QList<QList<float>> phase{ramp(3, 7, 1)};
        const QList<QList<float>> coherence{ramp(8, 0, 0.1f), ramp(20, 0, 0.01f), ramp(9, 1, 0)};
        QVERIFY(writePointsFile(pack, freq, level, phase, coherence));
        QCOMPARE(pack.pointsFile, pack.rawFile + ".points");
        QCOMPARE(pack.pointCount, 3);
        QCOMPARE(QFileInfo(rawPath(pack.pointsFile)).size(), 11 + (4 + 16 * 8) + (4 + 16 * 20)
                                                              + (4 + 16 * 9));

        CurvePack read;
        read.pointsFile = pack.pointsFile;
        read.pointCount = 1;
        QVERIFY(readPointsFile(read));
        QCOMPARE(read.pointCount, 3);
        QCOMPARE(read.pointFreq, freq);
        QCOMPARE(read.pointLevel, (QList<QList<float>>{level[0], level[1].mid(0, 20),
                                                       QList<float>(9, 0.0f)}));
        QCOMPARE(read.pointPhase[0], ramp(3, 7, 1) + QList<float>(5, 0.0f));
        QCOMPARE(read.pointPhase[2], QList<float>(9, 0.0f));
        QCOMPARE(read.pointCoherence, coherence);
    }

    void badPointsFilesReadAsFalse_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray point = int32Bytes(8) + QByteArray(128, '\x02');
        QTest::newRow("count 0") << QByteArray("SNTPTS1") + int32Bytes(0) + point;
        QTest::newRow("count 65") << QByteArray("SNTPTS1") + int32Bytes(65) + point;
        QTest::newRow("raw magic") << QByteArray("SNTRAW3") + int32Bytes(1) + point;
        QTest::newRow("second point cut") << QByteArray("SNTPTS1") + int32Bytes(2) + point
                                                 + point.left(100);
        QTest::newRow("point of 7") << QByteArray("SNTPTS1") + int32Bytes(2) + point
                                           + int32Bytes(7) + QByteArray(112, '\0');
    }

    void badPointsFilesReadAsFalse()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(putBytes(rawPath("bad.points"), bytes));
        CurvePack pack;
        pack.pointsFile = QStringLiteral("bad.points");
        pack.pointCount = 2;
        QVERIFY(!readPointsFile(pack));
        QVERIFY(pack.pointFreq.isEmpty() && pack.pointLevel.isEmpty()
                && pack.pointPhase.isEmpty() && pack.pointCoherence.isEmpty());
    }

    void pointsBeyondTheReadersLimitsAreNotWritten()
    {
        CurvePack pack;
        QVERIFY(!writePointsFile(pack, QList<QList<float>>(65, ramp(8, 1, 1)), {}, {}, {}));
        QVERIFY(!writePointsFile(pack, {ramp(8, 1, 1), ramp(7, 1, 1)}, {}, {}, {}));
        QVERIFY(QDir(rawDir()).isEmpty());
        pack.pointsFile = QStringLiteral("x.points");
        pack.pointCount = 2;
        QVERIFY(!writePointsFile(pack, {}, {}, {}, {}));
        QVERIFY(pack.pointsFile.isEmpty());
        QCOMPARE(pack.pointCount, 0);
    }

    // Packs saved without a capture used to share one ".points" file and overwrite each other.
    void packsWithoutCaptureGetPointsFilesOfTheirOwn()
    {
        CurvePack first, second;
        QVERIFY(writePointsFile(first, {ramp(8, 1, 1)}, {ramp(8, 10, 1)}, {}, {}));
        QVERIFY(writePointsFile(second, {ramp(8, 2, 1)}, {ramp(8, 20, 1)}, {}, {}));
        QVERIFY(first.pointsFile.endsWith(".points") && first.pointsFile.size() > 7);
        QVERIFY(first.pointsFile != second.pointsFile);
        CurvePack readFirst;
        readFirst.pointsFile = first.pointsFile;
        readFirst.pointCount = 1;
        QVERIFY(readPointsFile(readFirst));
        QCOMPARE(readFirst.pointLevel, QList<QList<float>>{ramp(8, 10, 1)});
    }

    // Names from copied project files must never reach outside the raw folder.
    void namesWithPathsAreNeverFollowed_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("parent") << QStringLiteral("../../victim.raw");
        QTest::newRow("absolute") << QStringLiteral("%victim%");
        QTest::newRow("backslash") << QStringLiteral("..\\..\\victim.raw");
        QTest::newRow("dot dot") << QStringLiteral("..");
        QTest::newRow("dot") << QStringLiteral(".");
    }

    void namesWithPathsAreNeverFollowed()
    {
        // A valid capture where the name leads: it must be neither read nor touched.
        const QString victim = documentsRoot() + QStringLiteral("/victim.raw");
        QFETCH(QString, name);
        name.replace(QStringLiteral("%victim%"), victim);
        CurvePack original = captured(8);
        QVERIFY(writeRawFile(original));
        QFile::remove(victim);
        QVERIFY(QFile::copy(rawPath(original.rawFile), victim));
        const QByteArray victimBytes = fileBytes(victim);

        CurvePack reading;
        reading.rawFile = name;
        QVERIFY(!readRawFile(reading));
        QVERIFY(reading.freq.isEmpty());
        CurvePack secondReading = original;
        secondReading.freq2.clear();
        secondReading.rawFile2 = name;
        QVERIFY(readRawFile(secondReading));
        QVERIFY(secondReading.freq2.isEmpty());
        CurvePack points;
        points.pointsFile = name;
        points.pointCount = 1;
        QVERIFY(!readPointsFile(points));

        CurvePack writing = captured(8);
        writing.freq2 = writing.freq;
        writing.level2 = writing.level;
        writing.rawFile = name;
        writing.rawFile2 = name;
        writing.pointsFile = name;
        QVERIFY(writeRawFile(writing));
        QVERIFY(kUuidName.match(writing.rawFile).hasMatch());
        QVERIFY(kUuidName.match(writing.rawFile2).hasMatch());
        QVERIFY(writePointsFile(writing, {writing.freq}, {writing.level}, {}, {}));
        QCOMPARE(writing.pointsFile, writing.rawFile + ".points");

        CurvePack deleting;
        deleting.rawFile = name;
        deleting.rawFile2 = name;
        ProjectStore::removeCurvePackFiles(deleting);
        QCOMPARE(fileBytes(victim), victimBytes);
    }

    // A write that fails part-way (disk full) must keep the earlier good file and say so.
    void failedWriteKeepsTheEarlierFile()
    {
        CurvePack pack = captured(8);
        QVERIFY(writeRawFile(pack));
        const QByteArray good = fileBytes(rawPath(pack.rawFile));
        CurvePack larger = captured(100000);
        larger.rawFile = pack.rawFile;
        {
            FileSizeLimit limit(64 * 1024);
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("\\[Store\\] writing .* failed"));
            QVERIFY(!writeRawFile(larger));
        }
        QCOMPARE(fileBytes(rawPath(pack.rawFile)), good);
        QCOMPARE(larger.rawPoints, 0);
        QCOMPARE(QDir(rawDir()).entryList(QDir::Files | QDir::Hidden).size(), 1);

        CurvePack points;
        QVERIFY(writePointsFile(points, {ramp(8, 1, 1)}, {}, {}, {}));
        const QByteArray goodPoints = fileBytes(rawPath(points.pointsFile));
        {
            FileSizeLimit limit(64 * 1024);
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("\\[Store\\] writing .* failed"));
            QVERIFY(!writePointsFile(points, {ramp(50000, 1, 1)}, {}, {}, {}));
        }
        QCOMPARE(fileBytes(rawPath(points.pointsFile)), goodPoints);
        QCOMPARE(points.pointCount, 1);
    }

    void deletingRemovesOnlyTheRawFiles()
    {
        CurvePack pack = captured(8);
        pack.freq2 = pack.freq;
        pack.level2 = pack.level;
        QVERIFY(writeRawFile(pack));
        QVERIFY(writePointsFile(pack, {pack.freq}, {}, {}, {}));
        ProjectStore::removeCurvePackFiles(pack);
        QCOMPARE(QDir(rawDir()).entryList(QDir::Files), QStringList{pack.pointsFile});
    }
};

SNT_TEST_MAIN(CaptureFilesTest)
#include "CaptureFilesTest.moc"
