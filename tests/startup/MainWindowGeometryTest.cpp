// The main window's geometry on a real Quick window, on two offscreen screens side by side
// (Left 1920 x 1040 at 0,0, primary; Right 1366 x 728 at 1920,0): what the restore applies,
// what the settings hold after moves, resizes and quitting, and the refit after a change of
// screen.
#include "startup/MainWindowGeometry.h"
#include "tests/support/GuiTestMain.h"

#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QScreen>
#include <QSettings>

#include <memory>

using namespace snt::startup;

namespace {

constexpr int saveDelayMs = 800;

std::unique_ptr<QQmlApplicationEngine> loadWindow()
{
    auto engine = std::make_unique<QQmlApplicationEngine>();
    engine->loadData("import QtQuick\n"
                     "Window { property bool userSized: false; width: 600; height: 1145;\n"
                     "         flags: Qt.Window | Qt.FramelessWindowHint; visible: true }");
    return engine;
}

QQuickWindow *window(QQmlApplicationEngine &engine)
{
    return qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
}

QVariantMap storedKeys()
{
    QSettings settings;
    settings.beginGroup("window/main");
    QVariantMap keys;
    for (const QString &key : settings.childKeys())
        keys.insert(key, settings.value(key).toString());
    return keys;
}

void store(const QVariantMap &keys)
{
    QSettings settings;
    settings.clear();
    for (auto it = keys.cbegin(); it != keys.cend(); ++it)
        settings.setValue("window/main/" + it.key(), it.value());
}

QScreen *screenNamed(const QString &name)
{
    for (QScreen *screen : QGuiApplication::screens())
        if (screen->name() == name)
            return screen;
    return nullptr;
}

} // namespace

class MainWindowGeometryTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { store({}); }

    void firstStartCentresTheDefaultSize()
    {
        QCOMPARE(QGuiApplication::screens().size(), 2);
        store({{"layoutVersion", 3}});
        auto engine = loadWindow();
        restoreMainWindowGeometry(*engine, QString());
        QCOMPARE(window(*engine)->geometry(), QRect(700, 24, 520, 992));
        QCOMPARE(storedKeys(), QVariantMap{}); // the restore saves nothing, the old key is gone
    }

    // A size the user gave the window survives the next run's moves: the window comes back
    // user-sized, so the debounced save keeps the size keys.
    void restoredUserSizeStaysTheUsers()
    {
        store({{"x", 100}, {"y", 50}, {"w", 400}, {"h", 763}, {"userSized", true}});
        auto engine = loadWindow();
        restoreMainWindowGeometry(*engine, QString());
        QQuickWindow *w = window(*engine);
        QCOMPARE(w->geometry(), QRect(100, 50, 400, 763));
        QVERIFY(w->property("userSized").toBool());
        w->setPosition(300, 60);
        QTest::qWait(saveDelayMs + 300);
        QCOMPARE(storedKeys(), (QVariantMap{{"x", "300"},
                                            {"y", "60"},
                                            {"w", "400"},
                                            {"h", "763"},
                                            {"userSized", "true"}}));
    }

    void automaticSizeKeepsOnlyThePosition()
    {
        store({{"x", 10}, {"y", 20}, {"w", 999}, {"h", 999}});
        auto engine = loadWindow();
        restoreMainWindowGeometry(*engine, QString());
        QQuickWindow *w = window(*engine);
        QCOMPARE(w->geometry(), QRect(10, 20, 520, 992));
        w->setX(40);
        QTest::qWait(saveDelayMs / 2);
        w->setY(30); // restarts the wait
        QTest::qWait(saveDelayMs / 2 + 100);
        QCOMPARE(storedKeys().value("x"), QVariant("10"));
        QTest::qWait(saveDelayMs / 2);
        QCOMPARE(storedKeys(), (QVariantMap{{"x", "40"}, {"y", "30"}}));
    }

    void changeOfScreenRefits()
    {
        auto engine = loadWindow();
        restoreMainWindowGeometry(*engine, QString());
        QQuickWindow *w = window(*engine);
        w->setPosition(1800, 300);
        w->setScreen(screenNamed("Right"));
        QTRY_COMPARE(w->size(), QSize(356, 680));
        QCOMPARE(w->position(), QPoint(1920, 48));
        w->setScreen(screenNamed("Left"));
        QTRY_COMPARE(w->size(), QSize(520, 992));
        QCOMPARE(w->position(), QPoint(1400, 48));

        w->setProperty("userSized", true);
        w->resize(400, 763);
        w->setScreen(screenNamed("Right"));
        QTRY_COMPARE(w->size(), QSize(356, 679));
        w->resize(340, 649);
        w->setScreen(screenNamed("Left"));
        QTest::qWait(50);
        QCOMPARE(w->size(), QSize(340, 649)); // a user's size is never grown
    }

    // "--size" sizes the window for this run only: nothing is restored or saved on moves, and
    // the save on quit writes the position (and a user's size) without removing anything.
    void sizeOptionSizesThisRunOnly()
    {
        store({{"x", 10},
               {"y", 20},
               {"w", 400},
               {"h", 763},
               {"userSized", true},
               {"layoutVersion", 3}});
        auto engine = loadWindow();
        restoreMainWindowGeometry(*engine, "500x954");
        QQuickWindow *w = window(*engine);
        QCOMPARE(w->size(), QSize(500, 954));
        QVERIFY(!w->property("userSized").toBool());
        w->setPosition(70, 80);
        QTest::qWait(saveDelayMs + 300);
        QCOMPARE(storedKeys().value("x"), QVariant("10"));
        saveMainWindowGeometryOnQuit(*engine);
        QCOMPARE(storedKeys(), (QVariantMap{{"x", "70"},
                                            {"y", "80"},
                                            {"w", "400"},
                                            {"h", "763"},
                                            {"userSized", "true"},
                                            {"layoutVersion", "3"}}));
        w->setProperty("userSized", true);
        saveMainWindowGeometryOnQuit(*engine);
        QCOMPARE(storedKeys().value("w"), QVariant("500"));
    }

    void invalidSizeOptionRestores()
    {
        store({{"x", 5000}, {"y", 5000}});
        auto engine = loadWindow();
        restoreMainWindowGeometry(*engine, "500X954");
        QCOMPARE(window(*engine)->geometry(), QRect(1400, 48, 520, 992));
    }
};

SNT_GUI_TEST_MAIN(MainWindowGeometryTest)
#include "MainWindowGeometryTest.moc"
