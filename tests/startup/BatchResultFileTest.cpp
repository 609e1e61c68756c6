// The batch's result text against Qt's own JSON writer, the reference its readers rely on, and
// the result file after every save: exactly the indented array of the entries so far, and
// nothing else left beside it once the batch ends.
#include "startup/BatchResultFile.h"
#include "startup/IndentedJson.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointF>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cmath>
#include <limits>

using namespace snt::startup;

namespace {

QByteArray fileText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

} // namespace

class BatchResultFileTest : public QObject
{
    Q_OBJECT

private slots:
    void textAsQtWritesIt_data()
    {
        QTest::addColumn<QVariant>("value");
        const double inf = std::numeric_limits<double>::infinity();
        QTest::newRow("whole and signed zero") << QVariant(QVariantList{20.0, -0.0, 0.0, -480.0});
        QTest::newRow("around 2^53") << QVariant(QVariantList{
                9007199254740992.0, 9007199254740994.0, -9007199254740992.0, 1e16, 1e20});
        QTest::newRow("fractions") << QVariant(
                QVariantList{0.1, 1.0 / 3.0, 1e-7, -2.5e-300, 2000000000000000.5, 123.456e10});
        QTest::newRow("floats") << QVariant(QVariantList{0.1f, -3.5f, 16000.0f, 1e-30f});
        QTest::newRow("not finite") << QVariant(QVariantList{std::nan(""), inf, -inf});
        QTest::newRow("integers and booleans")
                << QVariant(QVariantList{7, -3, qint64(1) << 60, 4000000000u, true, false});
        QTest::newRow("strings") << QVariant(QVariantList{
                "plain", "一号 曲线", "quote \" backslash \\ slash /", QString("\t\n\r\b\f\x01"),
                QString(QChar(0x7f)), QString(QChar(0x2028)), QString(QChar(0xd800)), ""});
        QTest::newRow("empty lists and maps") << QVariant(
                QVariantList{QVariantList(), QVariantMap(), QVariantList{QVariantMap()}});
        QTest::newRow("points and nested maps") << QVariant(QVariantList{
                QVariantMap{{"f", 20.0}, {"d", -3.25}},
                QVariantMap{{"z", QVariantMap{{"b", QVariantList{1, 2}}, {"a", "x"}}}, {"A", 1}}});
        QVariantList random;
        for (int i = 0; i < 20000; ++i) {
            QRandomGenerator *generator = QRandomGenerator::global();
            random.append((generator->generateDouble() - 0.5)
                          * std::pow(10.0, generator->bounded(-12, 22)));
        }
        QTest::newRow("random numbers") << QVariant(random);
    }

    // Inside an object, as every value of the result file stands.
    void textAsQtWritesIt()
    {
        QFETCH(QVariant, value);
        const QVariantMap object{{"key", value}, {"next", 1}};
        QByteArray text;
        appendIndentedJson(text, object, 0);
        QCOMPARE(text + '\n', QJsonDocument(QJsonObject::fromVariantMap(object)).toJson());
    }

    // Chart point lists (x in Hz) stand in the file as the point maps {"f", "d"} the screens
    // read: widened floats, whole numbers, values that are not finite, an empty list, one list
    // under two keys and again one level deeper, another on the same frequencies, and one whose
    // frequencies differ from those before it in places (a signed zero, a value not finite, one
    // point more).
    void pointListsAsTheirMaps()
    {
        const double nan = std::nan("");
        const QList<QPointF> points{{20.0, double(-69.05811f)},
                                    {double(20.29051f), 1e-7},
                                    {1000.0, -0.0},
                                    {19999.5, nan},
                                    {double(16000.1f), 123456789.0}};
        QList<QPointF> sameFrequencies;
        for (const QPointF &point : points)
            sameFrequencies.append({point.x(), double(float(point.x() / 7.0))});
        QList<QPointF> otherFrequencies = sameFrequencies;
        otherFrequencies[0].setX(-0.0);
        otherFrequencies[2].setX(1000.5);
        otherFrequencies[3].setX(nan);
        otherFrequencies.append({double(20001.3f), 0.5});
        const auto asPointMaps = [](const QList<QPointF> &list) {
            QVariantList maps;
            for (const QPointF &point : list)
                maps.append(QVariantMap{{"f", point.x()}, {"d", point.y()}});
            return maps;
        };
        const QVariantList maps = asPointMaps(points);
        const QVariant shared = QVariant::fromValue(points);
        const QVariantMap object{{"a", shared},
                                 {"b", QVariant::fromValue(QList<QPointF>())},
                                 {"c", QVariantList{QVariant::fromValue(points.first(1)), shared}},
                                 {"d", shared},
                                 {"e", QVariant::fromValue(sameFrequencies)},
                                 {"f", QVariant::fromValue(otherFrequencies)},
                                 {"g", QVariant::fromValue(points)}};
        const QVariantMap asMaps{{"a", maps},
                                 {"b", QVariantList()},
                                 {"c", QVariantList{QVariant(maps.first(1)), QVariant(maps)}},
                                 {"d", maps},
                                 {"e", asPointMaps(sameFrequencies)},
                                 {"f", asPointMaps(otherFrequencies)},
                                 {"g", maps}};
        QByteArray text;
        appendIndentedJson(text, object, 0);
        QCOMPARE(text + '\n', QJsonDocument(QJsonObject::fromVariantMap(asMaps)).toJson());
    }

    // An earlier, longer file is replaced, and so is one put in its place between two saves;
    // after every save the file is exactly the array so far, and at the end it is alone in its
    // folder.
    void everySaveLeavesTheWholeArray()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("out.json");
        QFile earlier(path);
        QVERIFY(earlier.open(QIODevice::WriteOnly) && earlier.write(QByteArray(100000, ' ')) > 0);
        earlier.close();
        QList<QByteArray> entries;
        {
            BatchResultFile results(path);
            for (int i = 0; i < 6; ++i) {
                if (i == 3) {
                    QFile other(path);
                    QVERIFY(QFile::remove(path) && other.open(QIODevice::WriteOnly));
                    QVERIFY(other.write("[\n]\n") > 0);
                }
                entries.append("    {\n        \"n\": " + QByteArray::number(i) + ",\n"
                               + QByteArray(1000 * (i % 3), 'x') + "\n    }");
                QVERIFY(results.append(entries.last()));
                QCOMPARE(fileText(path), "[\n" + entries.join(",\n") + "\n]\n");
                QVERIFY(QDir(dir.path()).entryList(QDir::Files).size() <= 2);
            }
            QCOMPARE(results.size(), 6);
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"out.json"});
    }

    // A batch killed outright leaves its spare behind: the next one writing the same file
    // removes every spare of that file, and nothing else.
    void staleSparesOfTheFileAreRemoved()
    {
        QTemporaryDir dir;
        const QStringList stale{"out.json.spare-0", "out.json.spare-1x9k2p"};
        QStringList kept{"out.json",          "out.json.bak",       "out.json.spare-",
                         "out.json.spare-X1", "out.json.spare-a.b", "other.json.spare-1x9k2p"};
        for (const QString &name : stale + kept) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("[\n]\n") > 0);
        }
        {
            BatchResultFile results(dir.filePath("out.json"));
            kept.sort();
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files, QDir::Name), kept);
            QVERIFY(results.append("    1") && results.append("    2"));
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files, QDir::Name), kept);
        QCOMPARE(fileText(dir.filePath("out.json")), "[\n    1,\n    2\n]\n");
    }

    // Where no file can be put, the save fails and leaves nothing behind; the entry stays for the
    // next save.
    void aSaveThatFailsKeepsTheEntry()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("taken");
        QVERIFY(QDir(dir.path()).mkdir("taken"));
        {
            BatchResultFile results(path);
            QVERIFY(!results.append("    1"));
            QVERIFY(QDir(dir.path()).rmdir("taken"));
            QVERIFY(results.append("    2"));
            QCOMPARE(fileText(path), "[\n    1,\n    2\n]\n");
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"taken"});
    }
};

SNT_TEST_MAIN(BatchResultFileTest)
#include "BatchResultFileTest.moc"
