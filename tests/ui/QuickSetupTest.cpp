#include "tests/support/GuiTestMain.h"
#include "tests/ui/ChartProbes.h"
#include "ui/IconImageProvider.h"
#include "ui/QmlSetup.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QRawFont>

#include <memory>

using namespace snt::ui;

namespace {

// A chart that counts its paints, to see which writes reach the texture.
class CountingChart : public CurveChartItem
{
public:
    void paint(QPainter *painter) override
    {
        ++paints;
        CurveChartItem::paint(painter);
    }
    int paints = 0;
};

bool sameWithin(const QImage &a, const QImage &b, int tolerance)
{
    if (a.size() != b.size())
        return false;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            for (char c : {'r', 'g', 'b'})
                if (std::abs(channel(a.pixel(x, y), c) - channel(b.pixel(x, y), c)) > tolerance)
                    return false;
    return true;
}

// Shows the QML item in a window of its size.
std::unique_ptr<QQuickWindow> show(QQmlEngine &engine, const QByteArray &qml)
{
    QQmlComponent component(&engine);
    component.setData(qml, QUrl());
    auto *root = qobject_cast<QQuickItem *>(component.create());
    if (!root) {
        qWarning() << component.errors();
        return {};
    }
    auto window = std::make_unique<QQuickWindow>();
    root->setParent(window.get());
    root->setParentItem(window->contentItem());
    window->resize(root->size().toSize());
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        return {};
    return window;
}

} // namespace

// The chart, the icons and the fonts as QML shows them, in real windows on the software scene
// graph backend (the one every machine has), with the engine prepared by the one set-up call.
class QuickSetupTest : public QObject
{
    Q_OBJECT

    QQmlEngine m_engine;

private slots:
    void initTestCase()
    {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        setUpQmlEngine(m_engine);
        QCOMPARE(QQuickStyle::name(), QStringLiteral("Basic"));
    }

    // The three list forms as QML hands them over: 6 dB maps (blue, y 104.67), -6 dB pairs
    // (green, y 187.33), a flat 0 dB list (red, y 146). The window shows what the chart paints.
    void chartTakesTheThreeFormsFromQml()
    {
        const auto window = show(m_engine, R"(
            import QtQuick
            import Sonetra 1.0
            Rectangle {
                width: 480; height: 307; color: "black"
                CurveChartItem {
                    objectName: "chart"; anchors.fill: parent
                    showGrid: false; showFill: false
                    axisColor: "transparent"; labelColor: "transparent"
                    lineColor: "blue"; line2Color: "lime"; line3Color: "red"
                    secondSolid: true; thirdSolid: true
                    points: [{f: 20, d: 6}, {f: 20000, d: 6}]
                    points2: [[20, -6], [20000, -6]]
                    points3: [20, 0, 20000, 0]
                }
            })");
        QVERIFY(window);
        const QImage shown = window->grabWindow().convertToFormat(QImage::Format_RGB32);
        const auto centreAt = [&](char which) {
            const QList<Line> lines = linesDown(shown, 300, which);
            return lines.size() == 1 ? lines[0].centre : -1.0;
        };
        QVERIFY(std::abs(centreAt('b') - 104.67) < 0.25);
        QVERIFY(std::abs(centreAt('g') - 187.33) < 0.25);
        QVERIFY(std::abs(centreAt('r') - 146) < 0.25);
        auto *chart = window->findChild<CurveChartItem *>("chart");
        QVERIFY(chart);
        QVERIFY(sameWithin(shown, paintOverBlack(*chart).convertToFormat(QImage::Format_RGB32), 2));
    }

    void identicalWritesDoNotRepaint()
    {
        QQuickWindow window;
        CountingChart chart;
        chart.setParentItem(window.contentItem());
        chart.setSize(QSizeF(480, 307));
        window.resize(480, 307);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const auto list = [](double d) {
            return QVariantList{20, d, 20000, d};
        };
        chart.setPoints(list(1));
        window.grabWindow();
        const int paints = chart.paints;
        chart.setPoints(list(1));
        window.grabWindow();
        QCOMPARE(chart.paints, paints);
        chart.setPoints(list(2));
        window.grabWindow();
        QCOMPARE(chart.paints, paints + 1);

        QCOMPARE(window.effectiveDevicePixelRatio(), 1.0);
        chart.setRenderScale(2);
        QCOMPARE(chart.textureSize(), QSize(960, 614));
    }

    // The test icon is 20 x 10 with ink on its left half; asked for 40 x 40 it comes as 40 x 20.
    void iconProviderTintsOnTheCpu_data()
    {
        QTest::addColumn<QString>("tint");
        QTest::newRow("bare hex") << QStringLiteral("ff3300");
        QTest::newRow("escaped #") << QStringLiteral("%23ff3300");
        QTest::newRow("with #") << QStringLiteral("#ff3300");
    }
    void iconProviderTintsOnTheCpu()
    {
        QFETCH(QString, tint);
        IconImageProvider provider;
        QSize natural;
        const QImage image
                = provider.requestImage("test-half-square?tint=" + tint, &natural, QSize(40, 40));
        QCOMPARE(natural, QSize(20, 10));
        QCOMPARE(image.size(), QSize(40, 20));
        QCOMPARE(image.pixel(10, 10), qRgb(255, 51, 0));
        QCOMPARE(qAlpha(image.pixel(30, 10)), 0);

        const auto window = show(m_engine, QStringLiteral(R"(
            import QtQuick
            Rectangle {
                width: 40; height: 20; color: "white"
                Image { source: "%1"; sourceSize: "40x20" }
            })")
                                                   .arg("image:"
                                                        "//icon/test-half-square?tint="
                                                        + tint)
                                                   .toUtf8());
        QVERIFY(window);
        const QImage shown = window->grabWindow();
        QCOMPARE(shown.pixel(10, 10) & 0xffffff, qRgb(255, 51, 0) & 0xffffff);
        QCOMPARE(shown.pixel(30, 10) & 0xffffff, 0xffffffu);
    }

    void iconProviderStaysInItsFolder()
    {
        IconImageProvider provider;
        QSize natural;
        QVERIFY(provider.requestImage("test-half-square", &natural, QSize()).size()
                == QSize(20, 10));
        QVERIFY(provider.requestImage("../icons/test-half-square", &natural, QSize()).isNull());
        QVERIFY(provider.requestImage("no-such-icon", &natural, QSize()).isNull());
    }

    // Text in the family the screens ask for looks exactly like the same text set in the CJK face,
    // and that face has every glyph (no boxes).
    void chineseTextUsesTheCjkFace()
    {
        const QString text = QStringLiteral("测量工作流 超低分频");
        QFont asked(QStringLiteral("Microsoft YaHei UI"));
        QCOMPARE(QFontInfo(asked).family(), QStringLiteral("Noto Sans CJK SC"));
        const QRawFont raw = QRawFont::fromFont(asked);
        for (QChar c : text)
            QVERIFY(c.isSpace() || raw.supportsCharacter(c));

        const auto window = show(m_engine, QStringLiteral(R"(
            import QtQuick
            Rectangle {
                width: 260; height: 80; color: "black"
                Text { y: 0; text: "%1"; color: "white"; font.pixelSize: 22
                       font.family: "Microsoft YaHei UI" }
                Text { y: 40; text: "%1"; color: "white"; font.pixelSize: 22
                       font.family: "Noto Sans CJK SC" }
            })")
                                                   .arg(text)
                                                   .toUtf8());
        QVERIFY(window);
        const QImage shown = window->grabWindow();
        const QImage asDrawn = shown.copy(0, 0, 260, 40);
        QCOMPARE(asDrawn, shown.copy(0, 40, 260, 40));
        int inked = 0;
        for (int x = 0; x < 260; ++x)
            inked += !linesDown(asDrawn, x, 'r').isEmpty();
        QVERIFY(inked > 150); // ten glyphs across, not an empty strip
    }
};

SNT_GUI_TEST_MAIN(QuickSetupTest)
#include "QuickSetupTest.moc"
