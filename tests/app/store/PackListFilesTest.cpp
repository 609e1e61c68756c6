#include "app/store/PackListFiles.h"
#include "files/DataFolder.h"
#include "tests/app/store/StoreFolder.h"
#include "tests/support/TestMain.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <memory>

namespace {

constexpr int rootPacks = 2000;
const QString project = storetest::numberedProject(1);

QList<CurvePack> rootList()
{
    QList<CurvePack> packs;
    for (int i = 0; i < rootPacks; ++i) {
        CurvePack pack;
        pack.name = QStringLiteral("主扩 %1").arg(i, 4, 10, QLatin1Char('0'));
        pack.use = QStringLiteral("主扩");
        pack.seq = i + 1;
        pack.rawFile = QStringLiteral("capture-%1.raw").arg(i);
        packs.append(pack);
    }
    return packs;
}

// The names of the packs a store file holds, in its order, as QJsonDocument reads them.
QStringList namesIn(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {QStringLiteral("unreadable")};
    QStringList names;
    const QJsonArray packs
            = QJsonDocument::fromJson(file.readAll()).object().value("packs").toArray();
    for (const QJsonValue &pack : packs)
        names << pack.toObject().value("name").toString();
    return names;
}

QStringList namesOf(const QList<CurvePack> &packs, const QString &group)
{
    QStringList names;
    for (const CurvePack &pack : packs) {
        if (pack.project == group)
            names << pack.name;
    }
    return names;
}

} // namespace

// The pack list's files at 2,000 packs in the root group: a save after a pack moved turns only
// that pack into text again (none when it kept its group), where a save comparing the list place
// by place made the text of every pack behind the moved one anew. Counted, not timed; the files
// are read back to show that the save still wrote the list as it stands.
class PackListFilesTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        initStorageFolders();
        QVERIFY(storetest::writePackFile(project, {}));
    }

    void aMoveMakesTheTextOfTheMovedPackAlone_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<QString>("into");
        QTest::addColumn<int>("textsMade");
        QTest::newRow("the first to the end") << 0 << rootPacks - 1 << QString() << 0;
        QTest::newRow("the last to the front") << rootPacks - 1 << 0 << QString() << 0;
        QTest::newRow("the first into a project") << 0 << rootPacks - 1 << project << 1;
    }
    void aMoveMakesTheTextOfTheMovedPackAlone()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(QString, into);
        QFETCH(int, textsMade);
        QVERIFY(storetest::writePackFile(QString(), {}));
        QVERIFY(storetest::writePackFile(project, {}));
        PackListFiles files([](const QString &) {});
        QHash<QString, QJsonObject> contents;
        QList<CurvePack> packs = rootList();
        QCOMPARE(files.save(packs, &contents), PackListFiles::Written::All);
        QCOMPARE(files.textsMade(), quint64(rootPacks));

        packs.move(from, to);
        packs[to].project = into;
        QCOMPARE(files.save(packs, &contents), PackListFiles::Written::All);
        QCOMPARE(files.textsMade(), quint64(rootPacks + textsMade));
        QCOMPARE(namesIn(curvePackRootFile()), namesOf(packs, QString()));
        QCOMPARE(namesIn(projectsDir() + QLatin1Char('/') + project + QStringLiteral(".json")),
                 namesOf(packs, project));
    }
};

SNT_TEST_MAIN(PackListFilesTest)
#include "PackListFilesTest.moc"
