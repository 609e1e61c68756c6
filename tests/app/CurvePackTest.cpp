#include "app/CurvePack.h"
#include "tests/support/TestMain.h"

#include <QJsonDocument>

#include <limits>

namespace {

QJsonObject parse(const QByteArray& text)
{
    return QJsonDocument::fromJson(text).object();
}

// A pack with every field the JSON carries set away from its default.
CurvePack fullPack()
{
    CurvePack pack;
    pack.name = QStringLiteral("主扩 03");
    pack.use = QStringLiteral("主扩");
    pack.project = QStringLiteral("大厅");
    pack.time = QStringLiteral("12-06 17:09");
    pack.seq = 3;
    pack.rawFile = QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e.raw");
    pack.rawPoints = 8193;
    pack.delayMs = 12.3456789012345;
    pack.rawFile2 = QStringLiteral("7c9e6679-7425-40de-944b-e07fc1f90ae7.raw");
    pack.rawPoints2 = 4097;
    pack.delayMs2 = -0.125;
    pack.phaseCompensated = false;
    pack.smoothBands = 24;
    pack.levelRefDb = 93.7f;
    pack.levelRefSet = true;
    pack.bands = {{63.5f, -4.25f, 2.1f, true}, {1000.1f, 3.3f, 0.7f, false}};
    pack.low = {true, QStringLiteral("LR"), 4, 45.5};
    pack.high = {true, QStringLiteral("BW"), 2, 16000.25};
    pack.lcSuspect = true;
    pack.question = QStringLiteral("低频是否被切？");
    pack.subAlign = parse(R"({"delayMs": 1.5, "invert": true, "notes": ["a", "b"]})");
    pack.curveLabels = {QStringLiteral("前"), QStringLiteral("后")};
    pack.curves = {{1.0f, 0.1f, -3.75f}, {2.0f, 1e-7f}};
    pack.pointsFile = pack.rawFile + QStringLiteral(".points");
    pack.pointCount = 5;
    return pack;
}

}  // namespace

class CurvePackTest : public QObject {
    Q_OBJECT

private slots:
    // The project is decided by the file a pack is found in, never by the pack's own object.
    void everyFieldSurvivesATextRoundTrip()
    {
        const CurvePack pack = fullPack();
        const QJsonObject object = curvePackToJson(pack);
        QVERIFY(!object.contains(QStringLiteral("project")));
        const QByteArray text = QJsonDocument(object).toJson();
        QCOMPARE(curvePackFromJson(parse(text), QStringLiteral("大厅")), pack);
        QCOMPARE(curvePackFromJson(parse(text), QString()).project, QString());
    }

    void optionalKeysAreLeftOutAtTheirDefaults()
    {
        CurvePack pack;
        pack.name = QStringLiteral("x");
        pack.pointCount = 3;      // without a file name the count means nothing
        pack.levelRefDb = 90.0f;  // not set: not written
        const QJsonObject object = curvePackToJson(pack);
        for (const char* key : {"pointsFile", "pointCount", "rawFile2", "rawPoints2", "delayMs2",
                                "levelRefDb", "levelRefSet", "question", "subAlign"})
            QVERIFY2(!object.contains(QLatin1String(key)), key);
        QCOMPARE(object.value("schema").toInt(), 3);
        QCOMPARE(curvePackFromJson(object, QString()).levelRefDb, 0.0f);
    }

    // Also: bands without a usable frequency are dropped, as nothing could apply them.
    void valuesOfAnotherTypeTakeTheDefault()
    {
        const CurvePack read = curvePackFromJson(parse(R"({
            "schema": 3, "name": 7, "use": ["主扩"], "time": null, "seq": "4", "count": 2.5,
            "rawFile": 12, "rawPoints": 1e12, "delayMs": "3", "rawFile2": {}, "delayMs2": true,
            "phaseCompensated": 0, "smoothBands": 6.5, "levelRefDb": "80", "levelRefSet": 1,
            "question": 5, "subAlign": "x", "curves": "none", "bands": [{"freq": 0, "gain": 3},
                "junk", {"freq": -5}, {"freq": 1000, "gain": -2, "q": 4}, {"freq": 9, "q": "1"}],
            "pointsFile": false, "pointCount": -0.5, "unknownKey": {"deep": [1, 2, 3]},
            "edges": {"low": {"on": "yes", "kind": 4, "order": 2.5, "hz": "80"},
                      "high": {"on": true, "kind": "BS", "order": 3, "hz": 12000, "extra": 1},
                      "lcSuspect": "true"}
        })"), QString());
        CurvePack expected;
        expected.high = {true, QStringLiteral("BS"), 3, 12000.0};
        expected.bands = {{1000.0f, -2.0f, 4.0f, true}, {9.0f, 0.0f, 0.0f, true}};
        QCOMPARE(read, expected);
        QCOMPARE(read.count, 2);
        QVERIFY(read.phaseCompensated);
        QCOMPARE(read.smoothBands, 6);
    }

    void countFollowsTheNamedCurves_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<int>("count");
        QTest::newRow("curves win") << QByteArray(R"({"count": 5, "curves": [{}, {}, {}]})") << 3;
        QTest::newRow("zero") << QByteArray(R"({"count": 0})") << 2;
        QTest::newRow("negative") << QByteArray(R"({"count": -4})") << 2;
        QTest::newRow("given") << QByteArray(R"({"count": 7})") << 7;
        QTest::newRow("empty curves") << QByteArray(R"({"count": 7, "curves": []})") << 7;
    }

    void countFollowsTheNamedCurves()
    {
        QFETCH(QByteArray, json);
        QFETCH(int, count);
        QCOMPARE(curvePackFromJson(parse(json), QString()).count, count);
    }

    void namedCurvesKeepOnlyFiniteNumbers()
    {
        CurvePack pack;
        pack.curveLabels = {QStringLiteral("主")};
        const float inf = std::numeric_limits<float>::infinity();
        pack.curves = {{1.0f, std::numeric_limits<float>::quiet_NaN(), 2.0f}, {-inf, 3.0f}};
        const QJsonArray curves = pointCurvesToJson(pack);
        QCOMPARE(curves, QJsonArray({QJsonObject{{"label", "主"}, {"points", QJsonArray{1.0, 2.0}}},
                                     QJsonObject{{"label", "点位 2"}, {"points", QJsonArray{3.0}}}}));
        QCOMPARE(jsonArrayToFloats(QJsonDocument::fromJson(R"([1, "x", null, 2.5, true])").array()),
                 (QList<float>{1.0f, 2.5f}));
        QCOMPARE(jsonArrayToFloats(QJsonValue(QStringLiteral("1,2"))), QList<float>());
    }
};

SNT_TEST_MAIN(CurvePackTest)
#include "CurvePackTest.moc"
