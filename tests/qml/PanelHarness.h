#pragma once

#include "app/AppCore.h"
#include "app/QmlBridge.h"
#include "audio/Client.h"
#include "processor/ProcessorClient.h"
#include "tests/audio/FakePlugin.h"
#include "tests/processor/SimProcessor.h"
#include "ui/QmlSetup.h"

#include <QtTest/qtestkeyboard.h>
#include <QtTest/qtestmouse.h>

#include <QImage>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <memory>
#include <utility>

namespace snt::test {

// The write requests (not the reads and probes of a connection) the simulator received.
inline QList<QJsonObject> writes(SimProcessor &sim)
{
    QList<QJsonObject> result;
    for (const QJsonObject &body : sim.bodies()) {
        if (!body.contains("CURSOR") && !body.contains("DEVICEINFO") && !body.contains("login"))
            result << body;
    }
    return result;
}

// The processor panel as the program shows it: the real bridge with its processor client, the
// panel window loaded from the resources, driven with the mouse and the keyboard.
class PanelHarness
{
public:
    PanelHarness()
    {
        QCoreApplication::setOrganizationName("Halvo");
        QCoreApplication::setApplicationName("测量工作流");
        static const auto plugin = std::make_shared<FakePlugin>("Fake");
        audio::Client::setPluginFactories({[] {
            return plugin;
        }});
        bridge = std::make_unique<QmlBridge>();
        ui::setUpQmlEngine(engine);
        engine.rootContext()->setContextProperty("bridge", bridge.get());
    }

    ~PanelHarness()
    {
        delete window;
        client()->disconnectDevice();
    }

    // Loads and shows the panel at `width` (its content scale is width / 660).
    bool show(int width = 660)
    {
        QQmlComponent component(&engine, QUrl("qrc:/qml/ProcessorPanel.qml"));
        window = qobject_cast<QQuickWindow *>(component.create());
        if (!window) {
            qWarning() << component.errors();
            return false;
        }
        window->setWidth(width);
        window->setHeight(qRound(width * 620.0 / 792.0));
        window->show();
        return QTest::qWaitForWindowExposed(window);
    }

    // Manual mode, `sim`'s address typed in, "连接" pressed; returns with the level socket open
    // and the simulator's log cleared.
    void connectByHand(SimProcessor &sim)
    {
        window->setProperty("manualMode", true);
        type("addressField", sim.address());
        click("connectButton");
        QTRY_VERIFY(client()->isConnected());
        QTRY_COMPARE(sim.state().value("sockets").toInt(), 1);
        sim.command("clear_log");
    }

    ProcessorClient *client() { return qobject_cast<ProcessorClient *>(bridge->processor()); }
    QVariant prop(const char *name) const { return window->property(name); }

    // The item at `path`: object names separated by "/", each found anywhere below the last.
    QQuickItem *item(const QString &path) const
    {
        QQuickItem *at = window->contentItem();
        for (const QString &name : path.split('/')) {
            at = find(at, name);
            if (!at) {
                qWarning() << "no item" << name << "in" << path;
                return nullptr;
            }
        }
        return at;
    }

    // The first visible item showing `text` (a button of a dialog, for example).
    QQuickItem *itemWithText(const QString &text) const
    {
        return findText(window->contentItem(), text);
    }

    QPoint scenePoint(QQuickItem *target, QPointF local) const
    {
        return target->mapToScene(local).toPoint();
    }
    QPoint centre(QQuickItem *target) const
    {
        return scenePoint(target, {target->width() / 2, target->height() / 2});
    }

    void click(const QString &path) { clickAt(item(path)); }
    void clickAt(QQuickItem *target)
    {
        QVERIFY(target);
        QVERIFY2(target->isVisible(), qPrintable(target->objectName() + " is hidden"));
        QTest::mouseClick(window, Qt::LeftButton, {}, centre(target));
        QTest::qWait(20);
    }

    // Clicks into the text field at `path`, replaces its text and presses Enter.
    void type(const QString &path, const QString &text)
    {
        QQuickItem *field = item(path + "/input");
        QVERIFY(field);
        clickAt(field);
        QVERIFY(field->hasActiveFocus());
        QTest::keyClick(window, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(window, Qt::Key_Backspace);
        typeText(text);
        QTest::keyClick(window, Qt::Key_Return);
        QTest::qWait(20);
    }

    // Key presses for each character of `text` into the focused item.
    void typeText(const QString &text)
    {
        for (QChar c : text)
            QTest::keyClick(window, c.toLatin1());
    }

    // A drag with the left button from `from` by `by` (scene pixels) in `steps` moves.
    void drag(QPoint from, QPoint by, int steps = 10)
    {
        QTest::mousePress(window, Qt::LeftButton, {}, from);
        for (int i = 1; i <= steps; ++i) {
            QTest::mouseMove(window, from + by * i / steps);
            QTest::qWait(10);
        }
        QTest::mouseRelease(window, Qt::LeftButton, {}, from + by);
        QTest::qWait(20);
    }

    // The scene point of `f` Hz and `db` dB on the EQ page's chart: its plot spans 60, 10,
    // 1080 x 308 canvas units, 20 Hz to 20 kHz on a log scale and +18 to -18 dB.
    QPointF eqChartPoint(double f, double db) const
    {
        return item("eqChart")->mapToScene(
                {60 + std::log(f / 20) / std::log(1000.0) * 1080, 10 + (1 - (db + 18) / 36) * 308});
    }
    // The band a point dragged to `scene` gets on the chart: whole Hz and 0.1 dB.
    std::pair<double, double> eqChartValue(QPointF scene) const
    {
        const QPointF at = item("eqChart")->mapFromScene(scene);
        return {std::round(20 * std::pow(1000.0, (at.x() - 60) / 1080)),
                std::round(((1 - (at.y() - 10) / 308) * 36 - 18) * 10) / 10};
    }

    QImage shot() const { return window->grabWindow(); }
    QString text(const QString &path) const { return item(path)->property("text").toString(); }
    QString toast() const { return bridge->toastText(); }

    std::unique_ptr<QmlBridge> bridge;
    QQmlEngine engine;
    QQuickWindow *window = nullptr;

private:
    static QQuickItem *findText(QQuickItem *in, const QString &text)
    {
        for (QQuickItem *child : in->childItems()) {
            if (!child->isVisible())
                continue;
            if (child->property("text").toString() == text)
                return child;
            if (QQuickItem *found = findText(child, text))
                return found;
        }
        return nullptr;
    }

    static QQuickItem *find(QQuickItem *in, const QString &name)
    {
        for (QQuickItem *child : in->childItems()) {
            if (child->objectName() == name)
                return child;
        }
        for (QQuickItem *child : in->childItems()) {
            if (QQuickItem *found = find(child, name))
                return found;
        }
        return nullptr;
    }
};

// A fresh simulated processor and panel for one test function.
inline bool startPanel(std::unique_ptr<SimProcessor> &sim, std::unique_ptr<PanelHarness> &panel)
{
    sim = std::make_unique<SimProcessor>();
    if (!sim->start())
        return false;
    panel = std::make_unique<PanelHarness>();
    return panel->show();
}

} // namespace snt::test
