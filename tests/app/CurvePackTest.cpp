#include "app/CurvePack.h"
#include "tests/support/TestMain.h"

#include <QJsonDocument>

#include <limits>

namespace {

QJsonObject parse(const QByteArray& text)
{
    return QJsonDocument::fromJson(text).object();
}

// Every key a pack writes, each away from its default; the floats are exact in single precision.
const QByteArray kFullPack = R"({"schema": 3, "name": "主扩 03", "use": "主扩", "seq": 3,
    "time": "12-06 17:09", "count": 2, "rawFile": "0f8fad5b.raw", "rawPoints": 8193,
    "delayMs": 12.3456789012345, "rawFile2": "7c9e6679.raw", "rawPoints2": 4097,
    "delayMs2": -0.125, "phaseCompensated": false, "smoothBands": 24, "levelRefDb": 93.75,
    "levelRefSet": true, "question": "低频是否被切？", "pointsFile": "0f8fad5b.raw.points",
    "pointCount": 5, "subAlign": {"delayMs": 1.5, "invert": true, "notes": ["a", "b"]},
    "bands": [{"freq": 63.5, "gain": -4.25, "q": 2.125, "enabled": true},
              {"freq": 1000.5, "gain": 3.5, "q": 0.75, "enabled": false}],
    "edges": {"low": {"on": true, "kind": "LR", "order": 4, "hz": 45.5},
              "high": {"on": true, "kind": "BW", "order": 2, "hz": 16000.25}, "lcSuspect": true},
    "curves": [{"label": "前", "points": [1, 0.5, -3.75]}, {"label": "后", "points": [2]}]})";

}  // namespace

class CurvePackTest : public QObject {
    Q_OBJECT

private slots:
    // Every key is read into its field and written back from it; the project is decided by the
    // file a pack is found in and never written.
    void everyKeySurvivesARoundTrip()
    {
        const CurvePack pack = curvePackFromJson(parse(kFullPack), QStringLiteral("大厅"));
        QCOMPARE(curvePackToJson(pack), parse(kFullPack));
        QCOMPARE(pack.project, QStringLiteral("大厅"));
        QCOMPARE(pack.high, (snt::eq::Corner{true, QStringLiteral("BW"), 2, 16000.25}));
        const QByteArray text = QJsonDocument(curvePackToJson(pack)).toJson();
        QCOMPARE(curvePackFromJson(parse(text), QStringLiteral("大厅")), pack);

        // A reference level that is not set, or a point count without a file, is not written.
        CurvePack partial = pack;
        partial.levelRefSet = false;
        partial.pointsFile.clear();
        const QJsonObject object = curvePackToJson(partial);
        for (const char* key : {"levelRefDb", "levelRefSet", "pointsFile", "pointCount"})
            QVERIFY2(!object.contains(QLatin1String(key)), key);
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
        QVERIFY(read.count == 2 && read.phaseCompensated && read.smoothBands == 6);
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

    // JSON has no value for NaN or infinity: such points are left out.
    void namedCurvesKeepOnlyFiniteNumbers()
    {
        CurvePack pack;
        pack.curveLabels = {QStringLiteral("主")};
        const float inf = std::numeric_limits<float>::infinity();
        pack.curves = {{1.0f, std::numeric_limits<float>::quiet_NaN(), 2.0f}, {-inf, 3.0f}};
        QCOMPARE(pointCurvesToJson(pack),
                 QJsonArray({QJsonObject{{"label", "主"}, {"points", QJsonArray{1.0, 2.0}}},
                             QJsonObject{{"label", "点位 2"}, {"points", QJsonArray{3.0}}}}));
        QCOMPARE(jsonArrayToFloats(QJsonDocument::fromJson(R"([1, "x", null, 2.5, true])").array()),
                 (QList<float>{1.0f, 2.5f}));
        QCOMPARE(jsonArrayToFloats(QJsonValue(QStringLiteral("1,2"))), QList<float>());
    }
};

SNT_TEST_MAIN(CurvePackTest)
#include "CurvePackTest.moc"
