// The main window's size and position: the rules on screens given as rectangles, with figures
// worked out by hand from the design size 600 x 1145 and the 48 px margin; then on a real Quick
// window on two offscreen screens side by side (Left 1920 x 1040 at 0,0, primary; Right
// 1366 x 728 at 1920,0), with the settings it writes.
#include "startup/MainWindowGeometry.h"
#include "startup/WindowRules.h"
#include "tests/support/GuiTestMain.h"

#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QScreen>
#include <QSettings>

using namespace snt::startup;
using namespace snt::startup::windowrules;

namespace {

constexpr int saveDelayMs = 800;

QString storedKeys()
{
    QSettings settings;
    settings.beginGroup("window/main");
    QStringList keys;
    for (const QString &key : settings.childKeys())
        keys << key + "=" + settings.value(key).toString();
    return keys.join(' ');
}

void store(const QVariantMap &keys)
{
    QSettings settings;
    settings.clear();
    for (auto it = keys.cbegin(); it != keys.cend(); ++it)
        settings.setValue("window/main/" + it.key(), it.value());
}

} // namespace

class MainWindowGeometryTest : public QObject
{
    Q_OBJECT

    QQmlApplicationEngine engine;

    QQuickWindow *restoredWindow(const QVariantMap &saved, const QString &sizeOption = {})
    {
        store(saved);
        qDeleteAll(engine.rootObjects());
        engine.loadData("import QtQuick\nWindow { property bool userSized: false; width: 600;"
                        " height: 1145; flags: Qt.FramelessWindowHint; visible: true }");
        restoreMainWindowGeometry(engine, sizeOption);
        return qobject_cast<QQuickWindow *>(engine.rootObjects().last());
    }

private slots:
    void rules()
    {
        QCOMPARE(defaultSize(std::nullopt), QSize(600, 1145));
        QCOMPARE(defaultSize(QRect(0, 0, 1920, 1152)), QSize(579, 1104));
        QCOMPARE(defaultSize(QRect(0, 0, 400, 2000)), QSize(352, 672));
        QCOMPARE(defaultSize(QRect(0, 0, 30, 30)), QSize(1, 1));
        QCOMPARE(clampToScreen({50, 50}, {700, 1300}, QRect(100, 10, 600, 1000)), QPoint(100, 10));
        QCOMPARE(sizeOnScreen({400, 763}, true, QRect(0, 0, 1366, 728)), QSize(356, 679));
        QCOMPARE(sizeOnScreen({400, 763}, true, QRect(0, 0, 2560, 1440)), QSize(400, 763));
        const QList<ScreenArea> screens{{QRect(0, 0, 1920, 1080), QRect(0, 0, 1920, 1040)},
                                        {QRect(1000, 0, 1920, 1080), QRect(1000, 0, 1920, 1080)}};
        QCOMPARE(screenForPoint({500, 1060}, screens), 0); // on the panel: the whole area counts
        QCOMPARE(screenForPoint({1500, 1060}, screens), 1);
        QCOMPARE(screenForPoint({-1, 0}, screens), -1);
        QCOMPARE(restoredGeometry({QPoint(30, 40), std::nullopt}, {}, -1),
                 QRect(30, 40, 600, 1145));
        QCOMPARE(restoredGeometry({std::nullopt, QSize(650, 900)}, {}, -1), QRect(0, 0, 600, 900));
        for (const QString &ignored : {"500x0", "500X954", "x954", "5x9x2", "-5x9", "wide"})
            QVERIFY2(!parseSizeOption(ignored), qPrintable(ignored));
        QCOMPARE(parseSizeOption("500x954"), QSize(500, 954));
    }

    void restoreOnTheSavedScreen()
    {
        QCOMPARE(QGuiApplication::screens().size(), 2);
        QCOMPARE(restoredWindow({{"x", 2000}, {"y", 10}, {"layoutVersion", 3}})->geometry(),
                 QRect(2000, 10, 356, 680));
        QCOMPARE(storedKeys(), "x=2000 y=10"); // the restore saves nothing; the old key goes
        QCOMPARE(restoredWindow(
                         {{"x", 3000}, {"y", 100}, {"w", 500}, {"h", 954}, {"userSized", true}})
                         ->geometry(),
                 QRect(2930, 49, 356, 679));
    }

    // A size the user gave the window survives the next run's moves: the restored window is
    // user-sized, so the save 800 ms after the last move keeps the size keys.
    void restoredUserSizeStaysTheUsers()
    {
        QQuickWindow *w = restoredWindow(
                {{"x", 100}, {"y", 50}, {"w", 400}, {"h", 763}, {"userSized", true}});
        QCOMPARE(w->geometry(), QRect(100, 50, 400, 763));
        w->setX(300);
        QTest::qWait(saveDelayMs / 2);
        w->setY(60);
        QTest::qWait(saveDelayMs / 2 + 100);
        QCOMPARE(storedKeys(), "h=763 userSized=true w=400 x=100 y=50");
        QTRY_COMPARE(storedKeys(), "h=763 userSized=true w=400 x=300 y=60");
        w->setProperty("userSized", false);
        w->setX(310);
        QTRY_COMPARE(storedKeys(), "x=310 y=60");
    }

    void changeOfScreenRefits()
    {
        QQuickWindow *w = restoredWindow({{"x", 1800}, {"y", 300}});
        const QList<QScreen *> screens = QGuiApplication::screens();
        w->setScreen(screens[1]);
        QTRY_COMPARE(w->geometry(), QRect(1920, 48, 356, 680));
        w->setScreen(screens[0]);
        QTRY_COMPARE(w->geometry(), QRect(1400, 48, 520, 992));
        w->setProperty("userSized", true);
        w->resize(340, 649);
        w->setScreen(screens[1]);
        QTRY_COMPARE(w->position(), QPoint(1920, 48));
        QCOMPARE(w->size(), QSize(340, 649)); // a user's size that fits stays
    }

    // "--size" sizes this run only: nothing restored or saved on moves; the save on quit writes
    // the position (and a user's size) and removes nothing.
    void sizeOptionSizesThisRunOnly()
    {
        QQuickWindow *w = restoredWindow({{"x", 10},
                                          {"y", 20},
                                          {"w", 400},
                                          {"h", 763},
                                          {"userSized", true},
                                          {"layoutVersion", 3}},
                                         "500x954");
        QCOMPARE(w->size(), QSize(500, 954));
        w->setPosition(70, 80);
        QTest::qWait(saveDelayMs + 200);
        QVERIFY(storedKeys().contains("x=10"));
        w->setProperty("userSized", true);
        saveMainWindowGeometryOnQuit(engine);
        QCOMPARE(storedKeys(), "h=954 layoutVersion=3 userSized=true w=500 x=70 y=80");
    }
};

SNT_GUI_TEST_MAIN(MainWindowGeometryTest)
#include "MainWindowGeometryTest.moc"
