#include "app/store/PackMerge.h"
#include "tests/support/TestMain.h"

namespace {

// Packs written as "name:gain" separated by spaces: each with a capture file of its name (or of
// the name after "@": "a@b" is pack a with b's capture file) and one band of that gain; "+note"
// gives it a key of another program's, "x-note": "note"; "new<old:gain" is pack new saved again
// in place of pack old.
QList<CurvePack> packs(const QString &text, store::Replacements *replacements = nullptr)
{
    QList<CurvePack> list;
    for (const QString &item : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString names = item.section(QLatin1Char(':'), 0, 0).section(QLatin1Char('@'), 0, 0);
        const QString capture = item.section(QLatin1Char(':'), 0, 0).section(QLatin1Char('@'), 1);
        const QString value = item.section(QLatin1Char(':'), 1);
        CurvePack pack;
        pack.name = names.section(QLatin1Char('<'), 0, 0);
        pack.rawFile = (capture.isEmpty() ? pack.name : capture) + QStringLiteral(".raw");
        pack.bands = {{1000.0f, value.section(QLatin1Char('+'), 0, 0).toFloat(), 1.4f, true}};
        if (value.contains(QLatin1Char('+'))) {
            QJsonObject read = curvePackToJson(pack);
            read.insert("x-note", value.section(QLatin1Char('+'), 1));
            pack = curvePackFromJson(read, QString());
        }
        if (names.contains(QLatin1Char('<')) && replacements) {
            const QString old = names.section(QLatin1Char('<'), 1);
            replacements->insert(store::packIdentity(pack.rawFile, pack.name),
                                 store::packIdentity(old + QStringLiteral(".raw"), old));
        }
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
    store::Replacements replacements;
    const QList<CurvePack> ours = packs(listed, &replacements);
    const store::MergedPacks result
            = store::mergePacks(packs(read), ours, objects(found), replacements);
    if (!result.applied)
        return QLatin1Char('!') + result.conflictingPack;
    QStringList items;
    for (const QJsonValue &pack : result.packs) {
        QString item = QStringLiteral("%1:%2")
                               .arg(pack["name"].toString())
                               .arg(pack["bands"][0]["gain"].toDouble());
        if (pack.toObject().contains("x-note"))
            item += QLatin1Char('+') + pack["x-note"].toString();
        items << item;
    }
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
        // Keys this program does not know, added by the other program.
        QTest::newRow("their key beside our edit") << "a:1"
                                                   << "a:2"
                                                   << "a:1+n"
                                                   << "a:2+n";
        QTest::newRow("their key on a pack we left") << "a:1 b:1"
                                                     << "a:1 b:2"
                                                     << "a:1+n b:1"
                                                     << "a:1+n b:2";
        QTest::newRow("their key and edit beside ours") << "a:1"
                                                        << "a:2"
                                                        << "a:3+n"
                                                        << "!a";
        // A pack saved again under a new name.
        QTest::newRow("saved again under a new name") << "a:1 b:2"
                                                      << "c<a:1 b:2"
                                                      << "a:1 b:2"
                                                      << "c:1 b:2";
        QTest::newRow("renamed here, removed there") << "a:1 b:2"
                                                     << "c<a:1 b:2"
                                                     << "b:2"
                                                     << "!c";
        QTest::newRow("renamed on both sides") << "a:1"
                                               << "c<a:1"
                                               << "d:1"
                                               << "!c";
        QTest::newRow("renamed here, edited there") << "a:1"
                                                    << "c<a:1"
                                                    << "a:5"
                                                    << "!c";
        // The order of the packs.
        QTest::newRow("their order beside our edit") << "a:1 b:2 c:3"
                                                     << "a:1 b:2 c:9"
                                                     << "c:3 a:1 b:2"
                                                     << "c:9 a:1 b:2";
        QTest::newRow("our new pack in their order") << "a:1 b:2"
                                                     << "a:1 b:2 d:4"
                                                     << "b:2 a:1"
                                                     << "b:2 d:4 a:1";
        QTest::newRow("ordered alike on both sides") << "a:1 b:2"
                                                     << "b:2 a:1"
                                                     << "b:2 a:1"
                                                     << "b:2 a:1";
        QTest::newRow("ordered otherwise on both sides") << "a:1 b:2 c:3"
                                                         << "c:3 a:1 b:2"
                                                         << "b:2 c:3 a:1"
                                                         << "!b";
        // A removal (a deletion, a move out) of a pack the other program removed too: a second
        // copy of the program moved or deleted it. A deletion is never undone.
        QTest::newRow("removed on both sides") << "a:1 b:2"
                                               << "b:2"
                                               << "b:2"
                                               << "!a";
        QTest::newRow("one of two copies removed on each side") << "a:1 a:1 b:2"
                                                                << "a:1 b:2"
                                                                << "a:1 b:2"
                                                                << "!a";
        QTest::newRow("one of two copies removed here") << "a:1 a:1 b:2"
                                                        << "a:1 b:2"
                                                        << "a:1 a:1 b:2"
                                                        << "a:1 b:2";
        // A new pack under the name of one the other program added, with another capture.
        QTest::newRow("one new name on both sides") << "b:2"
                                                    << "b:2 a:1"
                                                    << "b:2 a@x:1"
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
