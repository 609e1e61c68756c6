#include "app/AppCore.h"
#include "files/DataFolder.h"
#include "tests/app/store/StoreFolder.h"
#include "tests/qml/ScreenTestSupport.h"
#include "tests/support/LoopbackCard.h"

#include <QPointer>
#include <QQmlIncubationController>

using namespace snt::test;

namespace {

constexpr int rootPacks = 2000;
constexpr int projects = 20;
constexpr int packsPerProject = 10;

QJsonObject packObject(int seq)
{
    CurvePack pack;
    pack.name = QStringLiteral("主扩 %1").arg(seq, 4, 10, QLatin1Char('0'));
    pack.use = QStringLiteral("主扩");
    pack.seq = seq;
    pack.rawFile = QStringLiteral("capture-%1.raw").arg(seq);
    return curvePackToJson(pack);
}

// Years of measurements as the store keeps them: 2,000 packs in the root group and 20 projects
// of 10 packs each.
bool writeLargeStore()
{
    initStorageFolders();
    int seq = 0;
    for (int p = 0; p < projects; ++p) {
        QJsonArray packs;
        for (int i = 0; i < packsPerProject; ++i)
            packs.append(packObject(++seq));
        if (!storetest::writePackFile(storetest::numberedProject(p), packs))
            return false;
    }
    QJsonArray loose;
    for (int i = 0; i < rootPacks; ++i)
        loose.append(packObject(++seq));
    return storetest::writePackFile(QString(), loose);
}

} // namespace

// The curve window over a store of 2,000 packs, driven as a user would: an action on one pack
// makes no row of the tree anew but the one that comes into view, and the tree makes rows only
// near what it shows. Counted, not timed: a tree rebuilt on every change makes every row in view
// again each time.
class CurveWindowScaleTest : public QObject
{
    Q_OBJECT

    MainWindowUnderTest m;
    QQuickWindow *curves = nullptr;
    QQuickItem *tree = nullptr;

    QQuickItem *item(const QString &name) const { return m.find(name, curves); }

    // The tree's rows (its delegates) now, each watched for its end.
    QHash<QQuickItem *, QPointer<QQuickItem>> rowsMade() const
    {
        QHash<QQuickItem *, QPointer<QQuickItem>> rows;
        const auto *content = qvariant_cast<QQuickItem *>(tree->property("contentItem"));
        for (QQuickItem *row : content->childItems()) {
            if (row->objectName().startsWith("packRow")
                || row->objectName().startsWith("projectHeader"))
                rows.insert(row, row);
        }
        return rows;
    }

    // Whether the rows the tree made reach the edges of its cache on both sides (or the ends of
    // its list).
    bool cacheFilled() const
    {
        const double cache = tree->property("cacheBuffer").toDouble();
        const double originY = tree->property("originY").toDouble();
        const double contentY = tree->property("contentY").toDouble();
        const double top = std::max(contentY - cache, originY);
        const double bottom = std::min(contentY + tree->height() + cache,
                                       originY + tree->property("contentHeight").toDouble());
        double first = bottom, last = top;
        for (QQuickItem *row : rowsMade().keys()) {
            if (!row->isVisible())
                continue;
            first = std::min(first, row->y());
            last = std::max(last, row->y() + row->height());
        }
        return first <= top + 1 && last >= bottom - 1;
    }

    // Whether the tree has made and placed every row its view and cache ask for: the view makes
    // the rows of its cache a pause after a scroll, and asynchronously, so on a busy machine they
    // come frames after the scroll's own polish.
    bool rowsSettled() const
    {
        return QTest::qWaitFor([this] {
            return QQuickTest::qWaitForPolish(curves)
                   && curves->incubationController()->incubatingObjectCount() == 0 && cacheFilled();
        });
    }

    // How many rows the tree made since `before` (once it has made and placed its rows).
    int rowsMadeSince(const QHash<QQuickItem *, QPointer<QQuickItem>> &before) const
    {
        if (!rowsSettled())
            return -1;
        int made = 0;
        const auto now = rowsMade();
        for (auto row = now.cbegin(); row != now.cend(); ++row) {
            const auto earlier = before.constFind(row.key());
            made += earlier == before.cend() || earlier->isNull();
        }
        return made;
    }

    // The pack rows in the tree's view, top to bottom.
    QList<QQuickItem *> packRowsInView() const
    {
        QList<QQuickItem *> rows;
        const QRectF view = tree->mapRectToScene(QRectF(0, 0, tree->width(), tree->height()));
        for (QQuickItem *row : rowsMade().keys()) {
            const QRectF at = row->mapRectToScene(QRectF(0, 0, row->width(), row->height()));
            if (row->objectName().startsWith("packRow") && view.contains(at))
                rows << row;
        }
        std::sort(rows.begin(), rows.end(), [](QQuickItem *a, QQuickItem *b) {
            return a->mapToScene({}).y() < b->mapToScene({}).y();
        });
        return rows;
    }

    int packIndexOf(const QQuickItem *row) const
    {
        return row->objectName().mid(int(qstrlen("packRow"))).toInt();
    }

    // Scrolls the tree past the projects (the first one open) to the packs of the root group and
    // clicks one of them.
    void selectARootPack()
    {
        tree->setProperty("contentY", 35 * projects + 31 * packsPerProject + 200);
        QVERIFY(QQuickTest::qWaitForPolish(curves));
        const QList<QQuickItem *> rows = packRowsInView();
        QVERIFY(rows.size() > 5);
        const int index = packIndexOf(rows[2]);
        click(rows[2]);
        QTRY_COMPARE(curves->property("currentPackIndex").toInt(), index);
        QVERIFY(rowsSettled());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(writeLargeStore());
        QVERIFY(m.start([] { return std::make_shared<LoopbackCard>(); }));
        curves = m.find<QQuickWindow>("curveWindow");
        QVERIFY(curves);
        m.bridge->openCurveWindow();
        QVERIFY(QTest::qWaitForWindowExposed(curves));
        tree = item("curveTree");
        QVERIFY(tree);
        QTRY_VERIFY(packRowsInView().size() > 5);
    }

    void cleanupTestCase() { m.stop(); }

    // Rows are made for the view and its cache on both sides, not for 2,000 packs.
    void rowsOnlyNearTheView()
    {
        const double reach = tree->height() + 2 * tree->property("cacheBuffer").toDouble();
        QVERIFY(tree->property("count").toInt() > rootPacks);
        QVERIFY2(rowsMade().size() <= reach / 30 + 2,
                 qPrintable(QString::number(rowsMade().size())));
    }

    void aPackSelectedMakesNoRow()
    {
        selectARootPack();
        const auto before = rowsMade();
        const QList<QQuickItem *> rows = packRowsInView();
        click(rows[3]);
        QTRY_COMPARE(curves->property("currentPackIndex").toInt(), packIndexOf(rows[3]));
        QCOMPARE(rowsMadeSince(before), 0);
    }

    // Renamed in the store and the window told, as the delivery screen renames the pack it
    // saves again for another scheme.
    void aPackRenamedMakesOneRow()
    {
        selectARootPack();
        const auto before = rowsMade();
        const int index = packIndexOf(packRowsInView()[4]);
        ProjectStore &store = m.bridge->core().store();
        store.curvePacks[index].name += QStringLiteral(" 改名");
        QVERIFY(store.saveCurvePacks());
        m.bridge->openCurveWindow();
        QTRY_VERIFY(m.find(QStringLiteral("packRow%1").arg(index), curves));
        const int made = rowsMadeSince(before);
        QVERIFY2(made >= 0 && made <= 1, qPrintable(QString::number(made)));
    }

    void aPackDeletedMakesTheRowThatComesIntoView()
    {
        selectARootPack();
        const int packs = int(m.bridge->core().store().curvePacks.size());
        const auto before = rowsMade();
        click(item("deletePack"));
        QTRY_COMPARE(int(m.bridge->core().store().curvePacks.size()), packs - 1);
        const int made = rowsMadeSince(before);
        QVERIFY2(made >= 0 && made <= 1, qPrintable(QString::number(made)));
    }

    void aPackMovedMakesTheRowsThatComeIntoView_data()
    {
        QTest::addColumn<QString>("into");
        QTest::newRow("to the end of its group") << QString();
        // The project's file is written: it comes first in the list, with its rows.
        QTest::newRow("into a project") << storetest::numberedProject(projects / 2);
    }
    void aPackMovedMakesTheRowsThatComeIntoView()
    {
        QFETCH(QString, into);
        selectARootPack();
        const auto before = rowsMade();
        const int from = packIndexOf(packRowsInView()[1]);
        const QString name = m.bridge->core().store().curvePacks[from].name;
        QVERIFY(m.bridge->movePack(from, -1, into));
        QCOMPARE(m.bridge->core().store().curvePacks.last().name, name);
        const int made = rowsMadeSince(before);
        QVERIFY2(made >= 0 && made <= 2, qPrintable(QString::number(made)));
    }
};

SNT_GUI_TEST_MAIN(CurveWindowScaleTest)
#include "CurveWindowScaleTest.moc"
