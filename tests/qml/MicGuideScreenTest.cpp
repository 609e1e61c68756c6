#include "tests/qml/ContrastProbe.h"
#include "tests/qml/PillProbe.h"
#include "tests/qml/ScreenTestSupport.h"
#include "tests/support/LoopbackCard.h"

#include <QSettings>

using namespace snt::test;

// "测量引导" in the main window over the real bridge: the "不再显示" toggle and its setting, the
// way to the line-array measuring screen, and the 3-D venue driven by drags, the wheel, its
// buttons and a double click, with its limits seen in the pictures it draws.
class MicGuideScreenTest : public QObject
{
    Q_OBJECT

    MainWindowUnderTest m;

    QQuickItem *item(const QString &name) const { return m.find(name, m.page()); }
    QQuickItem *scene() const { return item("guideScene"); }

    QImage picture() const
    {
        QQuickItem *view = scene();
        return m.window->grabWindow().copy(view->mapRectToScene(view->boundingRect()).toRect());
    }

    void showGuide()
    {
        m.bridge->go("测量引导");
        QTRY_VERIFY(m.page() && m.page()->objectName() == "MicGuideScreen");
        QTRY_COMPARE(m.page()->opacity(), 1.0);
        QMetaObject::invokeMethod(scene(), "reset");
    }

    // Drags across the venue by (dx, dy) pixels, starting at its middle.
    void dragScene(int dx, int dy)
    {
        const QPoint from = middleOf(scene());
        drag(m.window, from, from + QPoint(dx, dy), 10);
    }

    // Switches the palette and waits until the venue's card shows its fill: in the dark palette
    // its own, in the light one the theme's solid card colour.
    void showPalette(bool dark)
    {
        m.bridge->setDarkMode(dark);
        const QColor card = dark ? QColor("#0B0D12")
                                 : QColor(m.bridge->theme().value("cardSolid").toString());
        QImage shot;
        QTRY_COMPARE((shot = picture()).pixelColor(shot.width() / 2, 3), card);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m.start([] { return std::make_shared<LoopbackCard>(); }));
    }
    void init() { showGuide(); }
    void cleanupTestCase() { m.stop(); }

    void hideToggleFlipsTheSetting()
    {
        QQuickItem *toggle = item("hideGuideToggle");
        const QColor blue(m.bridge->theme().value("blue").toString());
        for (const bool hidden : {true, false}) {
            click(toggle);
            QTRY_COMPARE(m.bridge->measureGuideHidden(), hidden);
            QCOMPARE(QSettings().value("measure/guideHidden").toBool(), hidden);
            QCOMPARE(toggle->property("color").value<QColor>() == blue, hidden);
        }
    }

    // The venue stands clear of the side tabs; "开始测量" is filled in both palettes and leads to
    // the line-array measurement.
    void startLeadsToTheArrayMeasurement()
    {
        QQuickItem *tabs = m.find("sideTabs");
        QVERIFY(scene()->mapRectToScene(scene()->boundingRect()).right()
                < tabs->mapRectToScene(tabs->boundingRect()).left());
        SNT_VERIFY_PRIMARY_FILL(*m.bridge, item("startArrayButton"));
        click(item("startArrayButton"));
        QTRY_COMPARE(m.bridge->screen(), QString("线阵列-测量中"));
        QTRY_VERIFY(m.page() && m.page()->objectName() == "ArrayMeasuringScreen");
    }

    // Each row: what the hand does, and the view it leaves (yaw, pitch, zoom).
    void interactionStaysWithinItsLimits_data()
    {
        QTest::addColumn<QString>("gesture");
        QTest::addColumn<double>("pitch");
        QTest::addColumn<double>("zoom");
        QTest::newRow("wheel far up") << "wheel+30" << 0.0 << 2.4;
        QTest::newRow("wheel far down") << "wheel-30" << 0.0 << 0.55;
        QTest::newRow("plus twice") << "plus" << 0.0 << 1.18 * 1.18;
        QTest::newRow("minus") << "minus" << 0.0 << 0.85;
        QTest::newRow("dragged far down") << "down" << 1.2 << 1.0;
        QTest::newRow("dragged far up") << "up" << -1.2 << 1.0;
        QTest::newRow("dragged, then a double click") << "reset" << 0.0 << 1.0;
    }
    void interactionStaysWithinItsLimits()
    {
        QFETCH(QString, gesture);
        QFETCH(double, pitch);
        QFETCH(double, zoom);
        if (gesture.startsWith("wheel"))
            for (int i = 0; i < 30; ++i)
                wheel(m.window, middleOf(scene()), gesture.endsWith("+30") ? 1 : -1);
        else if (gesture == "plus")
            for (int i = 0; i < 2; ++i)
                click(m.find("zoomIn", scene()));
        else if (gesture == "minus")
            click(m.find("zoomOut", scene()));
        else
            dragScene(50, gesture == "up" ? -400 : 400);
        if (gesture == "reset")
            QTest::mouseDClick(m.window, Qt::LeftButton, {}, middleOf(scene()));
        QTRY_VERIFY(std::abs(scene()->property("pitch").toDouble() - pitch) < 1e-9);
        QVERIFY(std::abs(scene()->property("zoom").toDouble() - zoom) < 1e-9);
        const double yaw = scene()->property("yaw").toDouble();
        QVERIFY2(gesture.startsWith("wheel") || gesture == "plus" || gesture == "minus"
                                 || gesture == "reset"
                         ? yaw == 0
                         : std::abs(yaw + 0.006 * 50) < 0.006 * 0.5, // on whole window pixels
                 qPrintable(QString::number(yaw)));
    }

    // The same view draws the same picture; the elevation stops at 0.10 and 0.85 rad, so pitches
    // beyond (0.10 - 0.235, 0.85 - 0.235) draw what the limit draws, and pitches within do not.
    void equalViewsDrawEqualPictures()
    {
        QQuickItem *view = scene();
        const auto at = [&](double yaw, double pitch, double zoom) {
            view->setProperty("yaw", yaw);
            view->setProperty("pitch", pitch);
            view->setProperty("zoom", zoom);
            QImage shot;
            // Two equal grabs in a row: the repaint has landed.
            QTest::qWaitFor([&] {
                const QImage a = picture();
                QTest::qWait(50);
                shot = picture();
                return a == shot;
            });
            return shot;
        };
        const QImage first = at(0.5, 0.2, 1.3);
        QVERIFY(at(0, 0, 1) != first);
        QCOMPARE(at(0.5, 0.2, 1.3), first);
        QCOMPARE(at(0, -1.2, 1), at(0, 0.10 - 0.235, 1));
        QCOMPARE(at(0, 1.2, 1), at(0, 0.85 - 0.235, 1));
        QVERIFY(at(0, 0.3, 1) != at(0, 0.5, 1));
    }

    // Both palettes draw the venue: the card's own fill, the audience area in the palette's
    // blue, and lines of the palette's line colour.
    void bothPalettesDraw()
    {
        for (const bool dark : {false, true}) {
            showPalette(dark);
            const QImage shot = picture();
            int blue = 0;
            for (int y = 0; y < shot.height(); ++y)
                for (int x = 0; x < shot.width(); ++x) {
                    const QColor p = shot.pixelColor(x, y);
                    blue += p.blue() - std::max(p.red(), p.green()) > 40;
                }
            QVERIFY2(blue > shot.width() * shot.height() / 50, qPrintable(QString::number(blue)));
        }
    }

    // The two hints at the top and the stage's name can be read in both palettes: where their
    // glyphs are solid they stand out from what lies under them by at least the contrast ratio
    // of 4.5 that WCAG 2 asks of body text.
    void textsStandOutInBothPalettes()
    {
        for (const bool dark : {true, false}) {
            showPalette(dark);
            QList<QQuickItem *> texts = itemsNamed(scene(), "sceneHint");
            for (QQuickItem *label : itemsNamed(scene(), "sceneLabel"))
                if (label->property("text").toString() == "舞台")
                    texts << label;
            QCOMPARE(texts.size(), 3);
            for (QQuickItem *text : texts) {
                const double ratio = itemContrast(text);
                QVERIFY2(ratio >= 4.5, qPrintable(QStringLiteral("%1 %2: %3")
                                                          .arg(dark ? "dark" : "light",
                                                               text->property("text").toString(),
                                                               QString::number(ratio))));
            }
        }
    }
};

SNT_GUI_TEST_MAIN(MicGuideScreenTest)
#include "MicGuideScreenTest.moc"
