#include "tests/app/UpdatePeer.h"
#include "tests/qml/PillProbe.h"
#include "tests/qml/ScreenTestSupport.h"
#include "tests/support/LoopbackCard.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQmlComponent>
#include <QQmlPropertyMap>
#include <QSettings>
#include <QSignalSpy>

using namespace snt::test;

namespace {

QVariantMap entry(const char *name, bool ok, const char *flag = nullptr, const char *action = "")
{
    QVariantMap item{{"name", QString::fromLatin1(name)},
                     {"ok", ok},
                     {"detail", QStringLiteral("说明")},
                     {"action", QString::fromLatin1(action)}};
    if (flag)
        item.insert(QString::fromLatin1(flag), true);
    return item;
}

// The check dialog alone, open, over a stand-in bridge whose checks are `entries`.
struct CheckDialogOnItsOwn
{
    CheckDialogOnItsOwn(const QVariantMap &theme, const QVariantList &entries)
    {
        bridge.insert("theme", theme);
        bridge.insert("darkMode", true);
        bridge.insert("systemChecks", entries);
        snt::ui::setUpQmlEngine(engine);
        engine.rootContext()->setContextProperty("bridge", &bridge);
        QQmlComponent component(&engine);
        component.setData("import QtQuick\nWindow { width: 600; height: 1145; visible: true\n"
                          "SystemCheckDialog { open: true } }",
                          QUrl("qrc:/qml/Probe.qml"));
        window.reset(qobject_cast<QQuickWindow *>(component.create()));
        if (!window)
            qWarning() << component.errorString();
    }

    QQmlPropertyMap bridge;
    QQmlEngine engine;
    std::unique_ptr<QQuickWindow> window;
};

} // namespace

// The main window's dialogs over the real bridge: the system check's re-check, the update offer
// against an update server of our own on 127.0.0.1 that fails and that stalls, and the
// point-source microphone guide; the check's entries of every kind with a stand-in bridge.
class SideDialogsTest : public QObject
{
    Q_OBJECT

    MainWindowUnderTest m;
    UpdatePeer peer;
    QByteArray installer = QByteArray(200 << 10, 'x');

    // The one a user reaches: the top bars of the guides hold hidden twins of the page's.
    QQuickItem *item(const QString &name) const { return itemNamed(m.window->contentItem(), name); }

    bool offerUpdate(const QString &path)
    {
        const QJsonObject file{
                {"version", "1.2.0"},
                {"date", "2026-03-01"},
                {"notes", "更稳的测量"},
                {"url", peer.origin().toString() + path},
                {"sha256",
                 QString::fromLatin1(
                         QCryptographicHash::hash(installer, QCryptographicHash::Sha256).toHex())}};
        if (!peer.serve("version.json", QJsonDocument(file).toJson()))
            return false;
        QSignalSpy offered(m.bridge.get(), &QmlBridge::updateChanged);
        QMetaObject::invokeMethod(m.bridge.get(), "checkForUpdates");
        return offered.wait(8000) && m.bridge->property("updateAvailable").toBool();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(peer.origin().isValid());
        QVERIFY(peer.serve("setup.bin", installer));
        QCoreApplication::setOrganizationName("Halvo");
        QCoreApplication::setApplicationName("测量工作流");
        QSettings().setValue("update/origin", peer.origin().toString());
        QSettings().setValue("measure/signalType", 0); // pink noise: the music file is not here
        QVERIFY(m.start([] { return std::make_shared<LoopbackCard>(); }));
        // Checks are counted below: the start-up one is let finish, the periodic one stopped.
        QTRY_VERIFY_WITH_TIMEOUT(!m.bridge->property("systemChecks").toList().isEmpty(), 10000);
        m.find<QObject>("systemCheckTimer")->setProperty("running", false);
    }

    void cleanupTestCase() { m.stop(); }

    void checkEntriesOfEveryKind_data()
    {
        QTest::addColumn<QVariantList>("entries");
        QTest::addColumn<QStringList>("headings");
        QTest::addColumn<bool>("fixOffered");
        QTest::newRow("each kind")
                << QVariantList{entry("A", true), entry("B", false, "fixable"),
                                entry("C", true, "info", "micprivacy"), entry("D", false, "note")}
                << QStringList{"正常 · A", "需要处理 · B", "提示 · C", "小贴士 · D"} << true;
        QTest::newRow("hints and tips only")
                << QVariantList{entry("C", true, "info"), entry("D", false, "note")}
                << QStringList{"提示 · C", "小贴士 · D"} << false;
        QTest::newRow("a hint that can be fixed")
                << QVariantList{entry("C", true, "info"), entry("E", true, "fixable")}
                << QStringList{"提示 · C", "正常 · E"} << true;
    }
    void checkEntriesOfEveryKind()
    {
        QFETCH(QVariantList, entries);
        QFETCH(QStringList, headings);
        QFETCH(bool, fixOffered);
        const CheckDialogOnItsOwn dialog(m.bridge->theme(), entries);
        QQuickWindow *window = dialog.window.get();
        QVERIFY(window);
        QStringList shown;
        QList<QQuickItem *> rows;
        QTRY_COMPARE((rows = itemsNamed(window->contentItem(), "entryHeading")).size(),
                     entries.size());
        std::sort(rows.begin(), rows.end(), [](QQuickItem *a, QQuickItem *b) {
            return a->mapToScene({}).y() < b->mapToScene({}).y();
        });
        const QVariantMap theme = m.bridge->theme();
        for (QQuickItem *heading : rows) {
            shown << heading->property("text").toString();
            const bool failed = shown.last().startsWith("需要处理");
            QCOMPARE(heading->property("color").value<QColor>(),
                     QColor(theme.value(failed ? "danger" : "text").toString()));
            const bool note = shown.last().startsWith("小贴士");
            QCOMPARE(heading->x(), note ? 0.0 : 20.0);
            QQuickItem *dot = nullptr;
            for (QQuickItem *sibling : heading->parentItem()->childItems())
                if (sibling->objectName() == "entryDot")
                    dot = sibling;
            QCOMPARE(dot->isVisible(), !note);
            const QString expectedDot = failed ? "#4a8eff"
                                        : shown.last().startsWith("提示")
                                                ? "#8a8f98"
                                                : QColor(theme.value("text").toString()).name();
            if (!note)
                QCOMPARE(dot->property("color").value<QColor>().name(), expectedDot);
        }
        QCOMPARE(shown, headings);
        QCOMPARE(window->findChild<QQuickItem *>("fixButton")->isVisible(), fixOffered);
        const auto actions = itemsNamed(window->contentItem(), "openAction");
        QCOMPARE(std::count_if(actions.cbegin(), actions.cend(),
                               [](QQuickItem *a) { return a->isVisible(); }),
                 qsizetype(QTest::currentDataTag() == QByteArray("each kind")));
    }

    // A detail longer than two lines is shown whole, its entry taller; "一键修复" is filled in
    // both palettes.
    void longDetailsWrapAndTheFixIsFilled()
    {
        QVariantMap detailed = entry("A", false, "fixable");
        detailed.insert("detail", QString("声音设置 → 输入设备：启用「Monitor of Null Output with "
                                          "a long name」并取消静音，端口选接测量麦的那一路；")
                                          .repeated(2));
        CheckDialogOnItsOwn dialog(m.bridge->theme(), QVariantList{detailed, entry("B", true)});
        QQuickWindow *window = dialog.window.get();
        QVERIFY(window && QTest::qWaitForWindowExposed(window));
        QList<QQuickItem *> details;
        QTRY_COMPARE((details = itemsNamed(window->contentItem(), "entryDetail")).size(), 2);
        std::sort(details.begin(), details.end(), [](QQuickItem *a, QQuickItem *b) {
            return a->mapToScene({}).y() < b->mapToScene({}).y();
        });
        QQuickItem *longOne = details.first();
        QVERIFY(longOne->property("lineCount").toInt() >= 3);
        QVERIFY(!longOne->property("truncated").toBool());
        QVERIFY(longOne->parentItem()->height() >= longOne->y() + longOne->height());
        QCOMPARE(details.last()->parentItem()->height(), 74.0);
        // The next entry starts below the long one's last line.
        QVERIFY(details.last()->mapToScene({}).y()
                > longOne->mapToScene({0, longOne->height()}).y());

        QQuickItem *fix = window->findChild<QQuickItem *>("fixButton");
        QVERIFY(fix->isVisible());
        for (const bool dark : {true, false}) {
            m.bridge->setDarkMode(dark);
            dialog.bridge.insert("theme", m.bridge->theme());
            dialog.bridge.insert("darkMode", dark);
            const QString problem = primaryFillProblem(window->grabWindow(), fix);
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
        }
        m.bridge->setDarkMode(true);
    }

    // Opened from the top bar it checks once; two quick presses of "重新检查" check once more.
    void recheckPressedTwiceChecksOnce()
    {
        QSignalSpy checked(m.bridge.get(), &QmlBridge::systemChecksChanged);
        click(item("checkButton"));
        QTRY_VERIFY(item("systemCheckDialog")->isVisible());
        // Counted, not awaited: a loaded machine may finish the check before a wait begins.
        QTRY_COMPARE_WITH_TIMEOUT(checked.count(), 1, 10000);
        checked.clear();
        QQuickItem *again = item("recheckButton");
        click(again);
        QCOMPARE(again->property("text").toString(), QString("正在检查…"));
        click(again);
        QTRY_COMPARE_WITH_TIMEOUT(checked.count(), 1, 10000);
        QTRY_COMPARE(again->property("text").toString(), QString("重新检查"));
        QTest::qWait(600);
        QCOMPARE(checked.count(), 1);
        click(item("closeCheck"));
        QTRY_VERIFY(!item("systemCheckDialog")->isVisible());
    }

    // A download that fails shows its error; one that stalls shows the bar at its 2 % floor,
    // and neither the backdrop nor the buttons close the dialog.
    void updateFailsThenStalls()
    {
        QVERIFY(offerUpdate("/missing.bin"));
        // The home page's pill appears with the offer, placed in its row at the next frame.
        QQuickItem *pill = item("updatePill");
        QTRY_VERIFY(pill->isVisible() && pill->isEnabled());
        click(pill);
        QTRY_VERIFY(item("updateDialog")->isVisible());
        SNT_VERIFY_PRIMARY_FILL(*m.bridge, item("updateButton"));
        click(item("updateButton"));
        QTRY_VERIFY(!m.bridge->property("updateError").toString().isEmpty());
        QQuickItem *error = item("updateError");
        QTRY_VERIFY(error->isVisible());
        QCOMPARE(error->property("text"), m.bridge->property("updateError"));
        QTest::mouseClick(m.window, Qt::LeftButton, {}, QPoint(20, 20));
        QTRY_VERIFY(!m.bridge->property("updateDialogOpen").toBool());

        QVERIFY(offerUpdate("/stall/setup.bin"));
        m.bridge->setProperty("updateDialogOpen", true);
        click(item("updateButton"));
        QTRY_VERIFY(m.bridge->property("updating").toBool());
        QByteArray requests;
        QTRY_VERIFY_WITH_TIMEOUT((requests += peer.requests()).contains("GET /stall/setup.bin"),
                                 15000);
        // Qt reports no progress for a first burst that is not followed by more.
        QCOMPARE(m.bridge->property("updateProgress").toDouble(), 0.0);
        QQuickItem *track = item("updateTrack");
        QTRY_VERIFY(track->isVisible());
        QCOMPARE(item("updateFill")->width(), 0.02 * track->width());
        QCOMPARE(item("updateButton")->property("text").toString(), QString("更新中…"));
        QVERIFY(!item("updateButton")->isEnabled() && !item("laterButton")->isEnabled());
        QTest::mouseClick(m.window, Qt::LeftButton, {}, QPoint(20, 20));
        click(item("laterButton"));
        QTest::qWait(100);
        QVERIFY(m.bridge->property("updateDialogOpen").toBool());
        QVERIFY(item("updateDialog")->isVisible());
    }

    // "不再显示" hides the guide for good without measuring; "开始测量" measures.
    void micGuideButtons()
    {
        m.bridge->setProperty("updateDialogOpen", false);
        m.bridge->setMicGuideOpen(true);
        QTRY_VERIFY(item("micGuideDialog")->isVisible());
        click(item("hideGuideButton"));
        QTRY_VERIFY(!m.bridge->micGuideOpen());
        QVERIFY(m.bridge->pointGuideHidden());
        QVERIFY(QSettings().value("point/guideHidden").toBool());
        QVERIFY(!m.bridge->measuring());

        m.bridge->setMicGuideOpen(true);
        click(item("closeGuide"));
        QTRY_VERIFY(!m.bridge->micGuideOpen());
        QVERIFY(!m.bridge->measuring());

        m.bridge->setMicGuideOpen(true);
        QTRY_VERIFY(item("micGuideDialog")->isVisible());
        // The bar's check button stands clear of the guide's close button.
        const auto onWindow = [](const QQuickItem *i) {
            return i->mapRectToScene(i->boundingRect());
        };
        QQuickItem *check = itemNamed(item("micGuideDialog"), "checkButton");
        QVERIFY(check && check->isVisible());
        QVERIFY(!onWindow(check).intersects(onWindow(item("closeGuide"))));
        QCOMPARE(onWindow(item("closeGuide")).left() - onWindow(check).right(), 10.0);
        // Its venue stands clear of the side tabs at the window's edge.
        QVERIFY(onWindow(item("pointScene")).right() < onWindow(m.find("sideTabs")).left());
        SNT_VERIFY_PRIMARY_FILL(*m.bridge, item("startMeasureButton"));
        click(item("startMeasureButton"));
        QTRY_VERIFY(!item("micGuideDialog")->isVisible());
        QTRY_VERIFY(m.bridge->measuring());
        m.bridge->stopAnyAction();
    }
};

SNT_GUI_TEST_MAIN(SideDialogsTest)
#include "SideDialogsTest.moc"
