#include "app/store/PackMerge.h"
#include "tests/support/TestMain.h"

namespace {

// Packs written as "name:gain" separated by spaces: each with a capture file of its name and one
// band of that gain.
QList<CurvePack> packs(const QString &text)
{
    QList<CurvePack> list;
    for (const QString &item : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        CurvePack pack;
        pack.name = item.section(QLatin1Char(':'), 0, 0);
        pack.rawFile = pack.name + QStringLiteral(".raw");
        pack.bands = {{1000.0f, item.section(QLatin1Char(':'), 1).toFloat(), 1.4f, true}};
        list.append(pack);
    }
    return list;
}

QJsonArray objects(const QString &text)
{
    QJsonArray array;
    for (const CurvePack &pack : packs(text))
        array.append(curvePackToJson(pack));
    return array;
}

// The merge in the same notation, or "!name" for the pack whose changes met.
QString merged(const QString &read, const QString &listed, const QString &found)
{
    const store::MergedPacks result = store::mergePacks(packs(read), packs(listed), objects(found));
    if (!result.applied)
        return QLatin1Char('!') + result.conflictingPack;
    QStringList items;
    for (const QJsonValue &pack : result.packs)
        items << QStringLiteral("%1:%2")
                         .arg(pack["name"].toString())
                         .arg(pack["bands"][0]["gain"].toDouble());
    return items.join(QLatin1Char(' '));
}

} // namespace

// The store's change of one file (from what it read to what its list holds) applied to what
// another program left in the file since: each case worked out by hand.
class PackMergeTest : public QObject
{
    Q_OBJECT

private slots:
    void theOtherProgramsWorkStays_data()
    {
        QTest::addColumn<QString>("read");
        QTest::addColumn<QString>("listed");
        QTest::addColumn<QString>("found");
        QTest::addColumn<QString>("expected");
        QTest::newRow("nobody else wrote") << "a:1 b:2"
                                           << "a:1 b:5"
                                           << "a:1 b:2"
                                           << "a:1 b:5";
        QTest::newRow("their pack after the one it followed") << "a:1 b:2 c:3"
                                                              << "a:1 b:2 c:3 d:4"
                                                              << "a:1 x:9 b:2 c:3"
                                                              << "a:1 x:9 b:2 c:3 d:4";
        QTest::newRow("their first pack first, our order") << "a:1 b:2"
                                                           << "b:2 a:1"
                                                           << "x:9 a:1 b:2"
                                                           << "x:9 b:2 a:1";
        QTest::newRow("their removal of a pack left alone") << "a:1 b:2"
                                                            << "a:1 b:2 c:3"
                                                            << "b:2"
                                                            << "b:2 c:3";
        QTest::newRow("their edit of a pack left alone") << "a:1 b:2"
                                                         << "a:1 b:2 c:3"
                                                         << "a:4 b:2"
                                                         << "a:4 b:2 c:3";
        QTest::newRow("our removal beside their pack") << "a:1 b:2"
                                                       << "a:1"
                                                       << "a:1 b:2 x:9"
                                                       << "a:1 x:9";
        QTest::newRow("the same edit on both sides") << "a:1"
                                                     << "a:2"
                                                     << "a:2"
                                                     << "a:2";
        QTest::newRow("both edited one pack") << "a:1"
                                              << "a:2"
                                              << "a:3"
                                              << "!a";
        QTest::newRow("edited here, removed there") << "a:1 b:2"
                                                    << "a:5 b:2"
                                                    << "b:2"
                                                    << "!a";
        QTest::newRow("removed here, edited there") << "a:1 b:2"
                                                    << "b:2"
                                                    << "a:7 b:2"
                                                    << "!a";
        QTest::newRow("added on both sides, otherwise") << ""
                                                        << "a:1"
                                                        << "a:2"
                                                        << "!a";
    }

    void theOtherProgramsWorkStays()
    {
        QFETCH(QString, read);
        QFETCH(QString, listed);
        QFETCH(QString, found);
        QFETCH(QString, expected);
        QCOMPARE(merged(read, listed, found), expected);
    }
};

SNT_TEST_MAIN(PackMergeTest)
#include "PackMergeTest.moc"
