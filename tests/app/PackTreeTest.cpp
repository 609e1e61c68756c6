#include "app/PackTree.h"
#include "app/AppCore.h"
#include "app/QmlBridge.h"
#include "audio/Client.h"
#include "files/DataFolder.h"
#include "tests/app/StoreBridgeSupport.h"
#include "tests/app/store/StoreFolder.h"
#include "tests/audio/FakePlugin.h"
#include "tests/support/TestMain.h"

#include <QAbstractItemModelTester>
#include <QSettings>
#include <QSignalSpy>

namespace {

bool storePack(QmlBridge &bridge, const QString &name, const QString &project, int seq)
{
    return bridge.core().store().savePack(storetest::flatPack(name, project, seq), -1);
}

int indexOf(QmlBridge &bridge, const QString &name)
{
    const QList<CurvePack> &packs = bridge.core().store().curvePacks;
    for (qsizetype i = 0; i < packs.size(); ++i) {
        if (packs[i].name == name)
            return int(i);
    }
    return -1;
}

QVariant roleOf(const PackTree &tree, int row, const char *role)
{
    return tree.index(row).data(tree.roleNames().key(role));
}

// The rows as text: "P:name" for a project, "R" for the root group, "name" for a pack.
QStringList rowsOf(const PackTree &tree)
{
    QStringList rows;
    for (int row = 0; row < tree.rowCount(); ++row) {
        const QString kind = roleOf(tree, row, "kind").toString();
        const QString name = roleOf(tree, row, "name").toString();
        rows << (kind == "pack" ? name : kind == "root" ? QStringLiteral("R") : "P:" + name);
    }
    return rows;
}

// The rows the tree must show without a search, worked out from the store on its own terms.
QStringList expectedRows(QmlBridge &bridge, const PackTree &tree)
{
    const ProjectStore &store = bridge.core().store();
    QStringList rows;
    const auto packsOf = [&](const QString &project) {
        for (const CurvePack &pack : store.curvePacks) {
            if (pack.project == project)
                rows << pack.name;
        }
    };
    for (const ProjectInfo &project : store.projects) {
        rows << "P:" + project.name;
        if (tree.expandedProjects().contains(project.name))
            packsOf(project.name);
    }
    rows << QStringLiteral("R");
    if (tree.rootExpanded())
        packsOf(QString());
    return rows;
}

// Every pack row names the pack at its index, and every project row its place in the list.
bool rowsPointRight(QmlBridge &bridge, const PackTree &tree)
{
    const ProjectStore &store = bridge.core().store();
    for (int row = 0; row < tree.rowCount(); ++row) {
        const QString kind = roleOf(tree, row, "kind").toString();
        const QString name = roleOf(tree, row, "name").toString();
        const int packIndex = roleOf(tree, row, "packIndex").toInt();
        const int position = roleOf(tree, row, "position").toInt();
        if (kind == "pack" && store.curvePacks.value(packIndex).name != name)
            return false;
        if (kind == "project" && store.projects.value(position).name != name)
            return false;
    }
    return true;
}

// What a change told the views: rows inserted, removed and moved, and whether it reset them.
struct Told
{
    explicit Told(PackTree *tree)
        : resets(tree, &QAbstractItemModel::modelReset)
        , layouts(tree, &QAbstractItemModel::layoutChanged)
        , inserted(tree, &QAbstractItemModel::rowsInserted)
        , removed(tree, &QAbstractItemModel::rowsRemoved)
        , moved(tree, &QAbstractItemModel::rowsMoved)
        , changed(tree, &QAbstractItemModel::dataChanged)
    { }

    // The rows a row signal covered, over all its emissions.
    static int rowsIn(const QSignalSpy &spy)
    {
        int rows = 0;
        for (const QList<QVariant> &arguments : spy)
            rows += arguments[2].toInt() - arguments[1].toInt() + 1;
        return rows;
    }
    int insertedRows() const { return rowsIn(inserted); }
    int changedRows() const
    {
        int rows = 0;
        for (const QList<QVariant> &arguments : changed)
            rows += arguments[1].toModelIndex().row() - arguments[0].toModelIndex().row() + 1;
        return rows;
    }
    int removedRows() const { return rowsIn(removed); }
    bool rebuilt() const { return !resets.isEmpty() || !layouts.isEmpty(); }
    void clear()
    {
        for (QSignalSpy *spy : {&resets, &layouts, &inserted, &removed, &moved, &changed})
            spy->clear();
    }

    QSignalSpy resets, layouts, inserted, removed, moved, changed;
};

} // namespace

// The curve window's tree over the bridge and its store in the sandboxed documents folder: the
// rows its rules list, rows that follow each change of the store one by one (checked by Qt's
// model tester for consistency), and the packs the window asks it for.
class PackTreeTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QmlBridge> bridge;
    PackTree *tree = nullptr;

    // Hall (Main L, Main R) newer than Theatre (Sub), Spare and `extra` packs "Extra n" in no
    // project; the tree as the window opens it, nothing expanded. Any file written afterwards
    // is newer than both.
    void storeFixture(int extra = 0)
    {
        for (const char *name : {"Theatre", "Hall"})
            QVERIFY(bridge->createProjectInWindow(QString::fromLatin1(name)));
        bridge->setProjectName(QString());
        QVERIFY(storePack(*bridge, "Main L", "Hall", 1));
        QVERIFY(storePack(*bridge, "Main R", "Hall", 2));
        QVERIFY(storePack(*bridge, "Sub", "Theatre", 3));
        QVERIFY(storePack(*bridge, "Spare", QString(), 4));
        for (int i = 0; i < extra; ++i)
            QVERIFY(storePack(*bridge, QStringLiteral("Extra %1").arg(i), QString(), 10 + i));
        const QDateTime now = QDateTime::currentDateTime();
        for (const auto &[name, age] : {std::pair{"Hall", 60}, std::pair{"Theatre", 3600}}) {
            QFile file(ProjectStore::projectFilePath(QString::fromLatin1(name)));
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(now.addSecs(-age), QFileDevice::FileModificationTime));
        }
        bridge->openCurveWindow();
        tree->setExpandedProjects({});
        tree->setRootExpanded(true);
        tree->setQuery(QString());
    }

private slots:
    void initTestCase() { QVERIFY(storebridge::useProgramSettingsAndOneMicrophone()); }

    void init()
    {
        QDir(documentsRoot()).removeRecursively();
        QSettings().clear();
        bridge = std::make_unique<QmlBridge>();
        tree = qobject_cast<PackTree *>(bridge->packTree());
        QVERIFY(tree);
    }

    void cleanup() { bridge.reset(); }

    void rowsFollowTheRules_data()
    {
        QTest::addColumn<QStringList>("expanded");
        QTest::addColumn<bool>("rootOpen");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("all closed but the root group")
                << QStringList() << true << "" << QStringList{"P:Hall", "P:Theatre", "R", "Spare"};
        QTest::newRow("a project open")
                << QStringList{"Hall"} << true << ""
                << QStringList{"P:Hall", "Main L", "Main R", "P:Theatre", "R", "Spare"};
        QTest::newRow("the root group closed") << QStringList{"Theatre"} << false << ""
                                               << QStringList{"P:Hall", "P:Theatre", "Sub", "R"};
        QTest::newRow("a pack of a closed project, in any case")
                << QStringList() << true << "SUB" << QStringList{"P:Theatre", "Sub"};
        QTest::newRow("a project's name only")
                << QStringList{"Hall"} << true << "hall" << QStringList{"P:Hall"};
        QTest::newRow("packs of closed groups")
                << QStringList() << false << "ma" << QStringList{"P:Hall", "Main L", "Main R"};
        QTest::newRow("the root group's own name is not searched")
                << QStringList() << true << "未归属" << QStringList();
    }
    void rowsFollowTheRules()
    {
        QFETCH(QStringList, expanded);
        QFETCH(bool, rootOpen);
        QFETCH(QString, query);
        QFETCH(QStringList, rows);
        storeFixture();
        QAbstractItemModelTester tester(tree,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        tree->setExpandedProjects(expanded);
        tree->setRootExpanded(rootOpen);
        tree->setQuery(query);
        QCOMPARE(rowsOf(*tree), rows);
        QVERIFY(rowsPointRight(*bridge, *tree));
    }

    // Each change reaches the views as the rows it touches: never a reset, one row for one
    // pack, and the packs whose index changed reported changed. Afterwards the rows are those
    // of the store.
    void eachChangeTouchesItsRows()
    {
        storeFixture(40);
        QAbstractItemModelTester tester(tree,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        tree->setExpandedProjects({"Hall", "Theatre"});
        Told told(tree);
        const auto check = [&](int inserted, int removed) {
            QVERIFY(!told.rebuilt());
            QCOMPARE(told.insertedRows(), inserted);
            QCOMPARE(told.removedRows(), removed);
            QCOMPARE(rowsOf(*tree), expectedRows(*bridge, *tree));
            QVERIFY(rowsPointRight(*bridge, *tree));
        };

        QVERIFY(bridge->deleteCurvePack(indexOf(*bridge, "Extra 5")));
        check(0, 1);
        // The 34 packs after it moved up one place in the pack list.
        QCOMPARE(told.changedRows(), 34);
        told.clear();

        ProjectStore &store = bridge->core().store();
        store.curvePacks[indexOf(*bridge, "Extra 7")].name = QStringLiteral("Extra 7 改名");
        QVERIFY(store.saveCurvePacks());
        bridge->openCurveWindow();
        check(1, 1);
        QVERIFY(told.changed.isEmpty());
        told.clear();

        bridge->openCurveWindow();
        check(0, 0);
        QVERIFY(told.moved.isEmpty() && told.changed.isEmpty());

        tree->setExpandedProjects({"Hall"});
        check(0, 1);
        told.clear();
        QVERIFY(bridge->createProjectInWindow("Club"));
        check(1, 0);
    }

    // A pack moved into a project lower in the list writes that project's file, which brings
    // the project up: its rows move as one block, the pack is inserted among them.
    void aProjectMovedUpMovesAsOneBlock()
    {
        storeFixture();
        tree->setExpandedProjects({"Hall", "Theatre"});
        QAbstractItemModelTester tester(tree,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        Told told(tree);
        QVERIFY(bridge->movePack(indexOf(*bridge, "Spare"), -1, "Theatre"));
        QCOMPARE(rowsOf(*tree),
                 QStringList({"P:Theatre", "Sub", "Spare", "P:Hall", "Main L", "Main R", "R"}));
        QVERIFY(!told.rebuilt());
        QCOMPARE(told.insertedRows(), 1);
        QCOMPARE(told.removedRows(), 1);
        QCOMPARE(told.moved.size(), 1);
        QCOMPARE(Told::rowsIn(told.moved), 2);
        QVERIFY(rowsPointRight(*bridge, *tree));
    }

    // What the window asks for: packs only of groups it shows, the newest by "seq" (on equal
    // seq the greater index), the first of a name with projects before the root group, and
    // where a drop lands.
    void packsTheWindowAsksFor()
    {
        storeFixture();
        QVERIFY(storePack(*bridge, "Main L", QString(), 2));
        QVERIFY(storePack(*bridge, "Lost", "Gone", 99));
        bridge->openCurveWindow();
        const int lost = indexOf(*bridge, "Lost");
        QCOMPARE(bridge->core().store().curvePacks[lost].project, QString());
        // A pack whose project has no file any more is not shown anywhere.
        bridge->core().store().curvePacks[lost].project = QStringLiteral("Gone");
        QVERIFY(tree->packAt(lost).isEmpty());
        QVERIFY(tree->packAt(-1).isEmpty() && tree->packAt(1000).isEmpty());
        QCOMPARE(tree->packAt(indexOf(*bridge, "Sub")).value("project").toString(), "Theatre");

        const QVariantMap latest = tree->latestPack();
        QCOMPARE(latest.value("name").toString(), QString("Spare"));
        QCOMPARE(tree->packNamed("Main L").value("project").toString(), QString("Hall"));
        QVERIFY(tree->packNamed("Lost").isEmpty());
        QCOMPARE(tree->firstProject(), QString("Hall"));
        // Main R (seq 2) and the second Main L (seq 2): the greater index wins.
        for (const char *name : {"Spare", "Sub"})
            bridge->core().store().curvePacks[indexOf(*bridge, name)].seq = 1;
        QCOMPARE(tree->latestPack().value("project").toString(), QString());
        QCOMPARE(tree->latestPack().value("name").toString(), QString("Main L"));

        tree->setExpandedProjects({"Hall"});
        // P:Hall, Main L, Main R, P:Theatre, R, Spare, Main L
        const auto drop = [&](int row) {
            const QVariantMap target = tree->dropTarget(row);
            return QStringLiteral("%1 %2")
                    .arg(target.value("before").toInt())
                    .arg(target.value("project").toString());
        };
        QCOMPARE(drop(0), QString("%1 Hall").arg(indexOf(*bridge, "Main L")));
        QCOMPARE(drop(2), QString("%1 Hall").arg(indexOf(*bridge, "Main R")));
        QCOMPARE(drop(3), QString("-1 Theatre"));
        QCOMPARE(drop(4), QString("%1 ").arg(indexOf(*bridge, "Spare")));
        QVERIFY(tree->dropTarget(-1).isEmpty() && tree->dropTarget(7).isEmpty());
    }
};

SNT_TEST_MAIN(PackTreeTest)
#include "PackTreeTest.moc"
