#include "app/AppCore.h"
#include "app/PackCurves.h"
#include "tests/app/store/StoreFolder.h"
#include "tests/qml/ChartGeometry.h"
#include "tests/qml/ContrastProbe.h"
#include "tests/qml/PillProbe.h"
#include "tests/qml/ScreenTestSupport.h"
#include "tests/selftest/CurveFiles.h"
#include "tests/support/LoopbackCard.h"

#include <QDir>
#include <QFontMetricsF>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>

using namespace snt::test;

namespace {

const QRect designGeometry(100, 50, 600, 1145);

// A pack of a flat response with zero phase and full coherence, for `use` with the EQ `bands`.
bool storePack(QmlBridge &bridge, const QString &name, const QString &project, int seq,
               const QString &use = QStringLiteral("主扩"),
               const QList<snt::eq::SchemeBand> &bands = {})
{
    CurvePack pack = storetest::flatPack(name, project, seq);
    pack.use = use;
    pack.bands = bands;
    return bridge.core().store().savePack(pack, -1);
}

// The tree as the window shows it, as text: "P:name" for a project, "R" for the root group,
// "name" for a pack.
QStringList treeText(const QmlBridge &bridge)
{
    const auto *tree = qobject_cast<const QAbstractItemModel *>(bridge.packTree());
    const QHash<int, QByteArray> roles = tree->roleNames();
    const auto role = [&roles](const char *name) {
        return roles.key(name);
    };
    QStringList rows;
    for (int row = 0; row < tree->rowCount(); ++row) {
        const QModelIndex at = tree->index(row, 0);
        const QString kind = at.data(role("kind")).toString();
        const QString name = at.data(role("name")).toString();
        rows << (kind == "pack" ? name : kind == "root" ? QStringLiteral("R") : "P:" + name);
    }
    return rows;
}

// Pack names by group as the bridge lists them, projects by name: "Hall: a b | Theatre: c |
// root: d".
QString groups(const QmlBridge &bridge)
{
    QStringList parts;
    const auto names = [](const QVariantList &packs) {
        QStringList list;
        for (const QVariant &pack : packs)
            list << pack.toMap().value("name").toString();
        return list.join(' ');
    };
    for (const QVariant &project : bridge.projects())
        parts << project.toMap().value("name").toString() + ": "
                         + names(project.toMap().value("packs").toList());
    parts.sort();
    parts << "root: " + names(bridge.rootPacks());
    return parts.join(" | ");
}

// Adds a pack of that name to the project's file as another program would: the file read, the
// pack put in its list (at `at`, or at the end) and the whole written back. False unless the
// file grew.
bool appendPackAsAnotherProgram(const QString &project, const QString &name, int at = -1)
{
    const QString path = ProjectStore::projectFilePath(project);
    const qint64 before = QFileInfo(path).size();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QJsonObject object = QJsonDocument::fromJson(file.readAll()).object();
    file.close();
    QJsonArray packs = object.value("packs").toArray();
    packs.insert(at < 0 ? packs.size() : at,
                 QJsonObject{{"schema", 3}, {"name", name}, {"use", "主扩"}, {"seq", 50}});
    object.insert("packs", packs);
    const QByteArray text = QJsonDocument(object).toJson();
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size()
           && file.flush() && QFileInfo(path).size() > before;
}

// The row of a chart's area holding the most pixels near `color`, and how many it holds.
std::pair<int, int> busiestRow(const QImage &image, const QRect &area, QColor color)
{
    std::pair<int, int> best{-1, 0};
    for (int y = area.top(); y <= area.bottom(); ++y) {
        int count = 0;
        for (int x = area.left(); x <= area.right(); ++x)
            count += distance(image.pixel(x, y), color.rgb()) < 90;
        if (count > best.second)
            best = {y, count};
    }
    return best;
}

// The value of a point list of maps {"f", "d"} at its frequency nearest to f.
double valueNear(const QVariantList &points, double f)
{
    const auto distance = [f](const QVariant &point) {
        return std::abs(std::log(point.toMap().value("f").toDouble() / f));
    };
    return std::min_element(
                   points.cbegin(), points.cend(),
                   [&](const QVariant &a, const QVariant &b) { return distance(a) < distance(b); })
            ->toMap()
            .value("d")
            .toDouble();
}

} // namespace

// The curve window beside the main window over the real bridge and its store in the sandboxed
// documents folder, on an X server of 1920 x 1280: placement, geometry kept in the settings, the
// tree with its search, selection, drags and project dialogs, the pack's controls and charts.
class CurveWindowTest : public QObject
{
    Q_OBJECT

    MainWindowUnderTest m;
    QQuickWindow *curves = nullptr;

    QQuickItem *item(const QString &name) const { return m.find(name, curves); }

    // Waits for the focus itself: the window counts as active while the main window, its
    // transient parent, has the focus. A window hidden a moment ago keeps the focus until the
    // window system's change reaches the program; awaited first, so that the wait below sees
    // this showing's focus. Otherwise the late change came during the next press and cancelled
    // its grab.
    void showCurves()
    {
        if (!curves->isVisible())
            QTRY_VERIFY(QGuiApplication::focusWindow() != curves);
        m.bridge->openCurveWindow();
        QVERIFY(QTest::qWaitForWindowExposed(curves));
        // Other tests' windows may share the X server: keys go to the active one.
        curves->requestActivate();
        QTRY_VERIFY(QGuiApplication::focusWindow() == curves);
    }

    // Two projects of two and one packs and one pack outside: Spare is the newest.
    void storeFixture()
    {
        for (const char *name : {"Hall", "Theatre"})
            QVERIFY(m.bridge->createProjectInWindow(QString::fromLatin1(name)));
        m.bridge->setProjectName(QString());
        QVERIFY(storePack(*m.bridge, "Main L", "Hall", 1));
        QVERIFY(storePack(*m.bridge, "Main R", "Hall", 2));
        QVERIFY(storePack(*m.bridge, "Sub", "Theatre", 3));
        QVERIFY(storePack(*m.bridge, "Spare", QString(), 4));
        // Projects are listed newest first: Hall, then Theatre.
        const QDateTime now = QDateTime::currentDateTime();
        for (const auto &[name, age] : {std::pair{"Hall", 0}, std::pair{"Theatre", 3600}}) {
            QFile file(ProjectStore::projectFilePath(QString::fromLatin1(name)));
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(now.addSecs(-age), QFileDevice::FileModificationTime));
        }
    }

    // A pack's row (or its handle) by the pack's name: rows carry the pack's index.
    QQuickItem *packItem(const QString &name, const char *prefix = "packRow") const
    {
        for (qsizetype i = 0; i < m.bridge->core().store().curvePacks.size(); ++i) {
            if (m.bridge->core().store().curvePacks[i].name == name)
                return treeRow(QString::fromLatin1(prefix) + QString::number(i));
        }
        return nullptr;
    }

    // A row of the tree where a user sees it: once the tree has placed its rows. Until its next
    // polish a row may stand where it stood before a change, and a row it lets go of then is
    // deleted, so a row found before the polish may be gone when it is clicked.
    QQuickItem *treeRow(const QString &name) const
    {
        QQuickItem *found = nullptr;
        const bool shown = QTest::qWaitFor(
                [&] {
                    return QQuickTest::qWaitForPolish(curves) && (found = item(name))
                           && found->isVisible();
                },
                2000);
        return shown ? found : nullptr;
    }

    // Whether a menu row's text ending in "）" shows that bracket's ink where the whole text puts
    // it: within the bracket's width before the text's natural end, ink (told from the row's own
    // fill right of the text) spanning most of the font's height. An elided text ends earlier,
    // in a "…" only a dot high.
    bool bracketDrawn(const QQuickItem *text) const
    {
        const QFont font = text->property("font").value<QFont>();
        const QFontMetricsF metrics(font);
        const qreal bracket = metrics.horizontalAdvance(QStringLiteral("）"));
        const QImage shot = curves->grabWindow();
        const qreal ratio = shot.devicePixelRatio();
        const QRect cell = QRectF(text->mapToScene({text->implicitWidth() - bracket, 0}) * ratio,
                                  QSizeF(bracket, text->height()) * ratio)
                                   .toAlignedRect();
        const QQuickItem *row = text->parentItem();
        const QRgb fill = shot.pixel(
                (row->mapToScene({row->width() - 4, row->height() / 2}) * ratio).toPoint());
        int top = cell.bottom();
        int bottom = cell.top();
        for (int y = cell.top(); y <= cell.bottom(); ++y) {
            for (int x = cell.left(); x <= cell.right(); ++x) {
                if (distance(shot.pixel(x, y), fill) > 120) {
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
            }
        }
        return bottom - top + 1 >= 0.6 * font.pixelSize() * ratio;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m.start([] { return std::make_shared<LoopbackCard>(); }));
        QCOMPARE(m.window->screen()->size(), QSize(1920, 1280));
        curves = m.find<QQuickWindow>("curveWindow");
        QVERIFY(curves);
    }

    void init()
    {
        QMetaObject::invokeMethod(curves, "closeDialog");
        // A toast still showing from the test before would end the next one early: a new text
        // does not restart its clock.
        m.bridge->clearToast();
        // The window saves its geometry on hiding, on a later turn of the event loop: that save
        // is awaited before the settings are cleared, so that it cannot land on a size a test
        // writes next.
        const bool shown = curves->isVisible();
        QSettings().remove("window/curve");
        m.bridge->setCurveWindowOpen(false);
        if (shown)
            QTRY_VERIFY(QSettings().contains("window/curve/w"));
        m.window->setGeometry(designGeometry);
        QTRY_COMPARE(m.window->geometry(), designGeometry);
        ProjectStore &store = m.bridge->core().store();
        while (!store.curvePacks.isEmpty())
            QVERIFY(store.deleteCurvePack(0));
        while (!store.projects.isEmpty())
            QVERIFY(store.deleteProject(store.projects.first().name));
        QSettings().remove("window/curve");
        curves->setProperty("preferredSize", QSizeF(702, 580));
        storeFixture();
        // Creating the projects made each the current one, and the window opened them.
        curves->setProperty("expandedProjects", QVariantList{});
        item("searchField")->setProperty("text", QString());
    }

    void cleanupTestCase() { m.stop(); }

    // Worked out by hand on the 1920 x 1280 screen with the preferred 702 x 580.
    void placedBesideTheMainWindow_data()
    {
        QTest::addColumn<QRect>("main");
        QTest::addColumn<QSize>("saved");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("right, bottoms aligned")
                << designGeometry << QSize() << QRect(710, 615, 702, 580);
        QTest::newRow("left, no room on the right")
                << QRect(1300, 50, 600, 1145) << QSize() << QRect(588, 615, 702, 580);
        QTest::newRow("left, narrowed to the room there")
                << QRect(700, 100, 600, 1145) << QSize() << QRect(10, 665, 680, 580);
        QTest::newRow("no room on either side: the screen's right edge")
                << QRect(650, 50, 600, 1145) << QSize() << QRect(1208, 615, 702, 580);
        QTest::newRow("kept 10 px above the screen's bottom")
                << QRect(100, 700, 340, 649) << QSize() << QRect(450, 690, 702, 580);
        QTest::newRow("the saved size")
                << designGeometry << QSize(800, 640) << QRect(710, 555, 800, 640);
    }
    void placedBesideTheMainWindow()
    {
        QFETCH(QRect, main);
        QFETCH(QSize, saved);
        QFETCH(QRect, expected);
        m.window->setGeometry(main);
        QTRY_COMPARE(m.window->geometry(), main);
        if (saved.isValid())
            m.bridge->saveWindowState("curve", 0, 0, saved.width(), saved.height());
        showCurves();
        QTRY_COMPARE(curves->geometry(), expected);
        // Placed once more 120 ms later, to the same place.
        QTest::qWait(200);
        QCOMPARE(curves->geometry(), expected);
    }

    // A drag of the corner grip writes the settings once, 600 ms after the last step; hiding
    // writes the position too.
    void geometryKeptInTheSettings()
    {
        showCurves();
        QTRY_COMPARE(curves->geometry(), QRect(710, 615, 702, 580));
        // After the second placement, as a hand would come.
        QTest::qWait(200);
        // The placement saves the size it set 600 ms later, and on a busy machine the drag may
        // start after that: that save is awaited and cleared, so that what is saved next is the
        // drag's.
        QTRY_VERIFY(!curves->findChild<QObject *>("geometrySave")->property("running").toBool());
        QSettings().remove("window/curve");
        const QPoint grip = middleOf(item("cornerGrip"));
        drag(curves, grip, grip + QPoint(90, 40), 12);
        QTRY_COMPARE(curves->size(), QSize(792, 620));
        QSettings settings;
        QVERIFY(!settings.contains("window/curve/w"));
        QTRY_COMPARE(settings.value("window/curve/w").toInt(), 792);
        QCOMPARE(settings.value("window/curve/h").toInt(), 620);
        curves->setPosition(300, 400);
        QTRY_COMPARE(curves->position(), QPoint(300, 400));
        click(item("closeCurveWindow"));
        QTRY_VERIFY(!m.bridge->curveWindowOpen());
        QCOMPARE(settings.value("window/curve/x").toInt(), 300);
        QCOMPARE(settings.value("window/curve/y").toInt(), 400);
    }

    // A resize just before hiding is saved by the hiding, and no save still pending writes the
    // hidden window's geometry over what is stored afterwards.
    void nothingSavedOnceHidden()
    {
        showCurves();
        QTRY_COMPARE(curves->geometry(), QRect(710, 615, 702, 580));
        curves->resize(760, 600);
        QVERIFY(curves->findChild<QObject *>("geometrySave")->property("running").toBool());
        m.bridge->setCurveWindowOpen(false);
        QTRY_COMPARE(QSettings().value("window/curve/w").toInt(), 760);
        m.bridge->saveWindowState("curve", 0, 0, 800, 640);
        QTest::qWait(800);
        QCOMPARE(QSettings().value("window/curve/w").toInt(), 800);
    }

    void searchListsMatchingGroups_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("no query: the first project opened, the root group open")
                << "" << QStringList{"P:Hall", "Main L", "Main R", "P:Theatre", "R", "Spare"};
        QTest::newRow("a pack of a collapsed project") << "SUB" << QStringList{"P:Theatre", "Sub"};
        QTest::newRow("a project name only") << "hall" << QStringList{"P:Hall"};
        QTest::newRow("packs of two groups")
                << "a" << QStringList{"P:Hall", "Main L", "Main R", "P:Theatre", "R", "Spare"};
        QTest::newRow("nothing") << "zzz" << QStringList{};
    }
    void searchListsMatchingGroups()
    {
        QFETCH(QString, typed);
        QFETCH(QStringList, rows);
        showCurves();
        QQuickItem *field = item("searchField");
        click(field);
        typeText(curves, typed);
        QTRY_VERIFY2(treeText(*m.bridge) == rows, qPrintable(treeText(*m.bridge).join(',')));
        QTest::keyClick(curves, Qt::Key_Escape);
        QTRY_COMPARE(field->property("text").toString(), QString());
    }

    // The newest pack is selected on opening; a selection survives a change that keeps it
    // where it is. Deleting it leaves nothing selected, so a second click where the delete
    // button was takes no other pack with it; the next showing selects the newest again.
    void selectionKeptOrClearedByItsDeletion()
    {
        showCurves();
        QTRY_COMPARE(curves->property("currentPack").toMap().value("name").toString(),
                     QString("Spare"));
        click(packItem("Main L"));
        QTRY_COMPARE(curves->property("currentPack").toMap().value("name").toString(),
                     QString("Main L"));
        QCOMPARE(m.bridge->curveIndex(), curves->property("currentPackIndex").toInt());
        // Appended outside any project, so that no listed pack moves.
        QVERIFY(storePack(*m.bridge, "Newest", QString(), 9));
        m.bridge->openCurveWindow();
        QTRY_COMPARE(curves->property("currentPack").toMap().value("name").toString(),
                     QString("Main L"));
        QQuickItem *deleteButton = item("deletePack");
        const QPoint deleteAt = middleOf(deleteButton);
        click(deleteButton);
        QTRY_VERIFY(!groups(*m.bridge).contains("Main L"));
        QCOMPARE(m.bridge->toastText(), QString("Main L 已删除"));
        QCOMPARE(curves->property("currentPackIndex").toInt(), -1);
        QVERIFY(curves->property("currentPack").toMap().isEmpty());
        const QString left = groups(*m.bridge);
        QVERIFY(QQuickTest::qWaitForPolish(curves));
        QTest::mouseClick(curves, Qt::LeftButton, {}, deleteAt);
        QTest::qWait(200);
        QCOMPARE(groups(*m.bridge), left);
        QCOMPARE(curves->property("currentPackIndex").toInt(), -1);

        m.bridge->setCurveWindowOpen(false);
        QTRY_VERIFY(!curves->isVisible());
        showCurves();
        QTRY_COMPARE(curves->property("currentPack").toMap().value("name").toString(),
                     QString("Newest"));
    }

    // While the subwoofer flow asks for its main reference, the pack the window selects
    // becomes it: on opening, the newest.
    void selectedPackOffersTheSubwooferFlowItsMain()
    {
        QVERIFY(QMetaObject::invokeMethod(m.bridge.get(), "subPickMain"));
        QTRY_VERIFY(!m.bridge->property("subPickingMain").toBool());
        QCOMPARE(m.bridge->toastText(), QString("已将「未归属 · Spare」设为主扩参考"));
    }

    // Another program adds a pack to a project's file while the program runs: every opening of
    // the window from its tab reads the files once and lists it; setting the open window open
    // again reads nothing.
    void openedFromItsTabItListsWhatTheFilesHold()
    {
        QQuickItem *tab = m.find("projectTab");
        QVERIFY(tab);
        QSignalSpy reads(m.bridge.get(), &QmlBridge::curvePacksChanged);
        QString hall = QStringLiteral("Hall: Main L Main R");
        for (const QString name : {"外来 01", "外来 02"}) {
            QVERIFY(appendPackAsAnotherProgram("Hall", name));
            hall += ' ' + name;
            reads.clear();
            click(tab);
            QTRY_VERIFY(curves->isVisible());
            QVERIFY2(packItem(name), qPrintable(treeText(*m.bridge).join(',')));
            QCOMPARE(groups(*m.bridge), hall + " | Theatre: Sub | root: Spare");
            QCOMPARE(reads.size(), 1);
            m.bridge->setCurveWindowOpen(true);
            QCOMPARE(reads.size(), 1);
            click(tab);
            QTRY_VERIFY(!curves->isVisible());
        }
    }

    // Another program puts a pack first in Hall.json while the window shows Main R: deleting the
    // project is refused, and the window then shows what the files hold, the other program's
    // pack too, so that a project deleted next is deleted seen. A pack deleted next is the one
    // the window shows selected, though the packs' places moved.
    void aRefusedProjectDeletionShowsWhatTheFilesHold()
    {
        showCurves();
        curves->setProperty("expandedProjects", QVariantList{"Hall"});
        click(packItem("Main R"));
        QTRY_COMPARE(curves->property("currentPack").toMap().value("name").toString(),
                     QString("Main R"));
        QVERIFY(appendPackAsAnotherProgram("Hall", "外来 01", 0));
        click(treeRow("projectHeader0"), Qt::RightButton);
        click(item("deleteProjectEntry"));
        click(item("confirmDelete"));
        QTRY_VERIFY2(m.bridge->toastText().startsWith("「Hall.json」刚被别的程序改过"),
                     qPrintable(m.bridge->toastText()));
        QTRY_VERIFY2(treeText(*m.bridge).contains("外来 01"),
                     qPrintable(treeText(*m.bridge).join(',')));
        QVERIFY(packItem("外来 01"));

        const QString shown = curves->property("currentPack").toMap().value("name").toString();
        const QString before = groups(*m.bridge);
        QVERIFY(before.contains(shown));
        click(item("deletePack"));
        QTRY_COMPARE(groups(*m.bridge), QString(before).remove(' ' + shown));
    }

    void packsMovedByDragging_data()
    {
        QTest::addColumn<QString>("pack");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("after");
        QTest::newRow("onto a pack: before it, in its project")
                << "Spare"
                << "Main R"
                << "Hall: Main L Spare Main R | Theatre: Sub | root: ";
        QTest::newRow("onto a collapsed project: at its end")
                << "Main L"
                << "projectHeader1"
                << "Hall: Main R | Theatre: Sub Main L | root: Spare";
        QTest::newRow("onto the root group: before its first pack")
                << "Main L"
                << "projectHeaderRoot"
                << "Hall: Main R | Theatre: Sub | root: Main L Spare";
    }
    void packsMovedByDragging()
    {
        QFETCH(QString, pack);
        QFETCH(QString, target);
        QFETCH(QString, after);
        showCurves();
        QQuickItem *handle = packItem(pack, "packHandle");
        QQuickItem *onto = target.startsWith("project") ? treeRow(target) : packItem(target);
        QVERIFY(handle && onto);
        drag(curves, middleOf(handle), middleOf(onto));
        QTRY_COMPARE(groups(*m.bridge), after);
    }

    void projectsDeletedAndCreated()
    {
        showCurves();
        // The menu, then the backdrop cancels; the second time the confirmation deletes.
        click(treeRow("projectHeader0"), Qt::RightButton);
        QTRY_VERIFY(item("projectMenu")->isVisible());
        click(item("deleteProjectEntry"));
        QTRY_VERIFY(item("confirmDeleteProject")->isVisible());
        QTest::mouseClick(curves, Qt::LeftButton, {}, QPoint(20, 20));
        QTRY_VERIFY(!item("confirmDeleteProject")->isVisible());
        QCOMPARE(m.bridge->projects().size(), 2);
        click(treeRow("projectHeader0"), Qt::RightButton);
        click(item("deleteProjectEntry"));
        click(item("confirmDelete"));
        QTRY_COMPARE(groups(*m.bridge), QString("Theatre: Sub | root: Spare"));

        click(item("newProjectButton"));
        QTRY_VERIFY(item("projectNameInput")->hasActiveFocus());
        SNT_VERIFY_PRIMARY_FILL(*m.bridge, item("confirmNewProject"));
        QTest::keyClick(curves, Qt::Key_Return);
        QTRY_COMPARE(item("newProjectError")->property("text").toString(),
                     QString("工程名不能空着"));
        typeText(curves, "Club/1");
        QCOMPARE(item("newProjectError")->property("text").toString(), QString());
        QTest::keyClick(curves, Qt::Key_Return);
        QTRY_COMPARE(item("newProjectError")->property("text").toString(),
                     QString("这个工程建不了"));
        QTest::keyClick(curves, Qt::Key_Backspace);
        QTest::keyClick(curves, Qt::Key_Backspace);
        QTest::keyClick(curves, Qt::Key_Return);
        QTRY_VERIFY(!item("newProjectDialog")->isVisible());
        QTRY_VERIFY(curves->property("expandedProjects").toStringList().contains("Club"));
        QVERIFY(QFile::exists(ProjectStore::projectFilePath("Club")));
    }

    void smoothingPickerWritesTheBridge()
    {
        showCurves();
        QQuickItem *chip = treeRow("octChip");
        QVERIFY(pick(chip, "1/12 OCT"));
        QCOMPARE(m.bridge->smoothingBands(), 12);
        QCOMPARE(QSettings().value("curve/smoothingBandsV2").toInt(), 12);
        QTRY_COMPARE(m.find("pickerText", chip)->property("text").toString(), QString("1/12 OCT"));
        QVERIFY(pick(chip, "1/6 OCT（默认）"));
        QTRY_COMPARE(m.find("pickerText", chip)->property("text").toString(), QString("1/6 OCT"));
    }

    // Opened in either palette, the smoothing menu shows each entry whole: no text elided or
    // past the menu, and the default's closing bracket drawn where the whole text puts it. The
    // picker stays 92 wide with the short text, "1/6 OCT".
    void smoothingMenuShowsEveryEntryWhole()
    {
        showCurves();
        QQuickItem *chip = treeRow("octChip");
        QVERIFY(chip);
        QCOMPARE(chip->width(), 92.0);
        QCOMPARE(m.bridge->smoothingBands(), 6);
        const bool darkBefore = m.bridge->darkMode();
        for (const bool dark : {false, true}) {
            m.bridge->setDarkMode(dark);
            const QObject *menu = openMenu(chip);
            QVERIFY(menu);
            const auto *inside = qvariant_cast<QQuickItem *>(menu->property("contentItem"));
            QHash<QString, QQuickItem *> entries;
            for (const QString &label : optionLabels(chip))
                QVERIFY2((entries[label] = menuRow(menu, label)), qPrintable(label));
            QVERIFY(QQuickTest::qWaitForPolish(curves));
            const QRectF menuArea = inside->mapRectToScene(inside->boundingRect());
            for (auto entry = entries.cbegin(); entry != entries.cend(); ++entry) {
                const QQuickItem *text = entry.value();
                const QString where = (dark ? "dark: " : "light: ") + entry.key();
                QVERIFY2(!text->property("truncated").toBool(), qPrintable(where));
                QVERIFY2(text->implicitWidth() <= text->width(), qPrintable(where));
                const QRectF drawn = text->mapRectToScene({0, 0, text->implicitWidth(), 1});
                QVERIFY2(menuArea.contains(drawn), qPrintable(where));
            }
            QVERIFY2(bracketDrawn(entries.value("1/6 OCT（默认）")), dark ? "dark" : "light");
            QCOMPARE(chip->width(), 92.0);
            QCOMPARE(m.find("pickerText", chip)->property("text").toString(), QString("1/6 OCT"));
            QTest::keyClick(curves, Qt::Key_Escape);
            QTRY_VERIFY(!menu->property("visible").toBool());
        }
        m.bridge->setDarkMode(darkBefore);
    }

    void exportLandsOnTheDesktop()
    {
        showCurves();
        QTRY_COMPARE(curves->property("currentPack").toMap().value("name").toString(),
                     QString("Spare"));
        click(item("exportPack"));
        const QDir folder(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation)
                          + "/Spare_导出");
        QTRY_VERIFY(folder.exists());
        QVERIFY(!folder.entryList(QDir::Files).isEmpty());
        QCOMPARE(m.bridge->toastText(), QString("曲线已导出到桌面"));
    }

    // A flat response draws a horizontal line in both charts: the phase of 0 degrees in the
    // middle of +-180, moved to three quarters down by six notches up (the axis then centred on
    // 90 degrees, 0 a quarter above its bottom), back in the middle for another pack.
    void chartsDrawThePack()
    {
        showCurves();
        QQuickItem *phase = treeRow("phaseChart");
        QQuickItem *magnitude = item("magnitudeChart");
        QTRY_VERIFY(!magnitude->property("points").toList().isEmpty());
        const QColor line = m.bridge->theme().value("chartLine").value<QColor>();
        const auto plot = [](QQuickItem *chart) {
            return chart->mapRectToScene(QRectF(50, 16, chart->width() - 66, chart->height() - 48))
                    .toRect();
        };
        const QRect phaseArea = plot(phase);
        const QRect magnitudeArea = plot(magnitude);
        QImage shot = curves->grabWindow();
        QVERIFY(busiestRow(shot, magnitudeArea, line).second > magnitudeArea.width() * 0.8);
        auto [row, count] = busiestRow(shot, phaseArea, line);
        QVERIFY(count > phaseArea.width() * 0.8);
        QVERIFY(std::abs(row - phaseArea.center().y()) <= 2);

        const QPoint over = middleOf(phase);
        for (int notch = 0; notch < 6; ++notch)
            wheel(curves, over, 1);
        QCOMPARE(phase->property("phaseCenter").toDouble(), 90.0);
        QTRY_VERIFY(std::abs(busiestRow(curves->grabWindow(), phaseArea, line).first
                             - (phaseArea.top() + 0.75 * phaseArea.height()))
                    <= 3);
        click(packItem("Main L"));
        QCOMPARE(phase->property("phaseCenter").toDouble(), 0.0);
    }

    // Hidden, the window follows no change (nobody would see it): shown again, it shows the
    // selected pack as it then stands.
    void aHiddenWindowCatchesUpWhenShown()
    {
        showCurves();
        click(packItem("Main L"));
        QTRY_COMPARE(curves->property("currentPack").toMap().value("name").toString(),
                     QString("Main L"));
        m.bridge->setCurveWindowOpen(false);
        QTRY_VERIFY(!curves->isVisible());
        QSignalSpy reloads(curves, SIGNAL(currentPackChanged()));
        // Every change signal the bridge has for packs: smoothingChanged, curvePacksChanged and
        // projectsChanged.
        m.bridge->setSmoothingBands(12);
        QTest::qWait(100);
        QCOMPARE(reloads.size(), 0);
        showCurves();
        QTRY_COMPARE(curves->property("currentPack").toMap().value("smoothBands").toInt(), 12);
        QCOMPARE(curves->property("currentPack").toMap().value("name").toString(),
                 QString("Main L"));
        m.bridge->setSmoothingBands(6);
    }

    // The pack the window shows is the result saved on the delivery screen; a band's gain typed
    // there raised by 3.7 dB: at once the window draws the pack's response 3.7 dB higher at that
    // band's frequency (unsmoothed, where a peaking band gives exactly its gain), as stored.
    void theShownPackFollowsAnEditOfItsEq()
    {
        const QString curve = QDir::home().filePath("resonance.txt");
        QVERIFY(selftesttest::writeResonanceCurve(curve));
        QVERIFY(m.bridge->loadCurveFile(curve));
        m.bridge->startCompute();
        QTRY_VERIFY_WITH_TIMEOUT(!m.bridge->computing(), 60000);
        QVERIFY(!m.bridge->core().result().schemes.isEmpty());
        m.bridge->enterScheme(0);
        QCOMPARE(m.bridge->screen(), QStringLiteral("点声源-交付与复测"));
        const QString saved = m.bridge->core().result().pack.name;
        QVERIFY(!saved.isEmpty());

        showCurves();
        QVERIFY(QMetaObject::invokeMethod(curves, "selectPackByName", Q_ARG(QVariant, saved)));
        QTRY_COMPARE(curves->property("currentPack").toMap().value("name").toString(), saved);
        QVERIFY(pick(item("octChip"), "不平滑"));
        QQuickItem *magnitude = item("magnitudeChart");
        const QVariantMap band = m.bridge->eqBands().value(0).toMap();
        const double frequency = band.value("freq").toDouble();
        const double gain = band.value("gain").toDouble();
        QTRY_VERIFY(!magnitude->property("points").toList().isEmpty());
        const double drawn = valueNear(magnitude->property("points").toList(), frequency);

        m.window->requestActivate();
        // Keys go to the window with the focus. The main window counts as active already while
        // the curve window, its transient child, has it.
        QTRY_COMPARE(QGuiApplication::focusWindow(), m.window);
        QQuickItem *field = m.find("gainField", m.find("bandRow0"));
        click(field);
        QTest::keyClick(m.window, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(m.window, Qt::Key_Backspace);
        typeText(m.window, QString::number(gain + 3.7, 'f', 1));
        QTest::keyClick(m.window, Qt::Key_Return);
        const double typed = QString::number(gain + 3.7, 'f', 1).toDouble();
        QVERIFY(std::abs(m.bridge->eqBands().value(0).toMap().value("gain").toDouble() - typed)
                < 1e-4);
        QTRY_VERIFY2(
                std::abs(valueNear(magnitude->property("points").toList(), frequency) - drawn
                         - (typed - gain))
                        < 0.2,
                qPrintable(QString::number(
                        valueNear(magnitude->property("points").toList(), frequency) - drawn)));
        m.bridge->go(QStringLiteral("主页"));
    }

    // A line-array pack draws its measured curve solid and lighter than the curve with its EQ:
    // where the EQ's 9 dB cut at 1 kHz parts the two, the measured one stands out from the
    // window in both palettes by at least the contrast ratio of 3 that WCAG 2 asks of graphics.
    void arrayPackMeasuredCurveStandsOut()
    {
        QVERIFY(storePack(*m.bridge, "Array", QString(), 9, lineArrayUse,
                          {{1000.0f, -9.0f, 1.0f, true}}));
        showCurves();
        click(packItem("Array"));
        QQuickItem *magnitude = item("magnitudeChart");
        QTRY_VERIFY(magnitude->property("secondSolid").toBool());
        const QVariantList measured = magnitude->property("points2").toList();
        const QVariantList equalised = magnitude->property("points").toList();
        QVERIFY(valueNear(measured, 1000) - valueNear(equalised, 1000) > 8);
        for (const bool dark : {false, true}) {
            m.bridge->setDarkMode(dark);
            for (const double f : {800.0, 1000.0, 1250.0}) {
                const int row = int(levelRow(magnitude, valueNear(measured, f)));
                const QRect around(plotColumn(magnitude, f) - 6, row - 5, 13, 11);
                const double ratio = itemContrast(magnitude, around);
                QVERIFY2(ratio >= 3.0, qPrintable(QString("%1 palette, %2 Hz: contrast %3")
                                                          .arg(dark ? "dark" : "light")
                                                          .arg(f)
                                                          .arg(ratio)));
            }
        }
    }
};

SNT_GUI_TEST_MAIN(CurveWindowTest)
#include "CurveWindowTest.moc"
