// The main window's size and position rules, on screens given as rectangles, with the figures
// worked out by hand from the design size 600 x 1145 and the 48 px margin.
#include "startup/WindowRules.h"
#include "tests/support/TestMain.h"

using namespace snt::startup::windowrules;

namespace {

using Screens = QList<ScreenArea>;

ScreenArea screen(int x, int y, int w, int h)
{
    return {QRect(x, y, w, h), QRect(x, y, w, h)};
}

// A screen whose bottom 40 px are a panel.
ScreenArea screenWithPanel(int x, int y, int w, int h)
{
    return {QRect(x, y, w, h), QRect(x, y, w, h - 40)};
}

} // namespace

class WindowRulesTest : public QObject
{
    Q_OBJECT
private slots:
    void defaultSizeFitsTheScreen_data()
    {
        QTest::addColumn<QRect>("available"); // empty: no screen
        QTest::addColumn<QSize>("size");
        QTest::newRow("no screen") << QRect() << QSize(600, 1145);
        QTest::newRow("1920x1040") << QRect(0, 0, 1920, 1040) << QSize(520, 992);
        QTest::newRow("1920x1152") << QRect(0, 0, 1920, 1152) << QSize(579, 1104);
        QTest::newRow("1366x728") << QRect(0, 0, 1366, 728) << QSize(356, 680);
        QTest::newRow("2560x1400") << QRect(0, 0, 2560, 1400) << QSize(600, 1145);
        QTest::newRow("exactly the design plus margin")
                << QRect(0, 0, 648, 1193) << QSize(600, 1145);
        QTest::newRow("narrow portrait") << QRect(0, 0, 400, 2000) << QSize(352, 672);
        QTest::newRow("smaller than the margin") << QRect(0, 0, 30, 30) << QSize(1, 1);
    }

    void defaultSizeFitsTheScreen()
    {
        QFETCH(QRect, available);
        QTEST(defaultSize(available.isEmpty() ? std::nullopt : std::optional(available)), "size");
    }

    void clamping_data()
    {
        QTest::addColumn<QPoint>("point");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QPoint>("clamped");
        QTest::newRow("inside") << QPoint(10, 20) << QSize(100, 100) << QRect(0, 0, 1920, 1040)
                                << QPoint(10, 20);
        QTest::newRow("bottom right") << QPoint(5000, 5000) << QSize(520, 992)
                                      << QRect(0, 0, 1920, 1040) << QPoint(1400, 48);
        QTest::newRow("above and left")
                << QPoint(-300, -9) << QSize(520, 992) << QRect(0, 0, 1920, 1040) << QPoint(0, 0);
        QTest::newRow("larger than the area goes to its top left")
                << QPoint(50, 50) << QSize(700, 1300) << QRect(100, 10, 600, 1000)
                << QPoint(100, 10);
        QTest::newRow("second screen") << QPoint(1800, 700) << QSize(356, 680)
                                       << QRect(1920, 0, 1366, 728) << QPoint(1920, 48);
        QTest::newRow("no screen")
                << QPoint(5000, -5) << QSize(600, 1145) << QRect() << QPoint(5000, -5);
    }

    void clamping()
    {
        QFETCH(QPoint, point);
        QFETCH(QSize, size);
        QFETCH(QRect, available);
        QTEST(clampToScreen(point, size,
                            available.isEmpty() ? std::nullopt : std::optional(available)),
              "clamped");
    }

    void screenOfAPoint()
    {
        const Screens screens{screenWithPanel(0, 0, 1920, 1080), screen(1920, 0, 1366, 768),
                              screen(1000, 0, 1920, 1080)};
        QCOMPARE(screenForPoint({10, 10}, screens), 0);
        QCOMPARE(screenForPoint({2000, 10}, screens), 1); // in the third too: the first wins
        QCOMPARE(screenForPoint({500, 1060}, screens), 0); // on the panel: whole area only
        QCOMPARE(screenForPoint({1500, 1060}, screens), 2); // available in the third
        QCOMPARE(screenForPoint({-1, 0}, screens), -1);
        QCOMPARE(screenForPoint({0, 0}, {}), -1);
    }

    void restore_data()
    {
        QTest::addColumn<QList<ScreenArea>>("screens");
        QTest::addColumn<int>("primary");
        QTest::addColumn<QPoint>("position"); // (-1, -1): none saved
        QTest::addColumn<QSize>("userSize"); // empty: none saved
        QTest::addColumn<QRect>("geometry");
        const QPoint unsaved(-1, -1);
        const Screens laptop{screen(0, 0, 1920, 1040)};
        const Screens large{screen(0, 0, 2560, 1440)};
        const Screens pair{screen(0, 0, 1920, 1040), screen(1920, 0, 1366, 728)};
        QTest::newRow("first start")
                << laptop << 0 << unsaved << QSize() << QRect(700, 24, 520, 992);
        QTest::newRow("user size larger than the design, large screen")
                << large << 0 << unsaved << QSize(700, 1300) << QRect(980, 147, 600, 1145);
        QTest::newRow("user size larger than the design, small screen")
                << laptop << 0 << unsaved << QSize(700, 1300) << QRect(700, 24, 520, 992);
        QTest::newRow("user size that fits")
                << laptop << 0 << QPoint(100, 50) << QSize(400, 763) << QRect(100, 50, 400, 763);
        QTest::newRow("limit acts on each side")
                << large << 0 << QPoint(0, 0) << QSize(650, 900) << QRect(0, 0, 600, 900);
        QTest::newRow("position off every screen")
                << laptop << 0 << QPoint(5000, 5000) << QSize() << QRect(1400, 48, 520, 992);
        QTest::newRow("position on the second screen")
                << pair << 0 << QPoint(2000, 10) << QSize() << QRect(2000, 10, 356, 680);
        QTest::newRow("second screen is primary")
                << pair << 1 << unsaved << QSize() << QRect(2425, 24, 356, 680);
        QTest::newRow("user size shrunk on the second screen")
                << pair << 0 << QPoint(3000, 100) << QSize(500, 954) << QRect(2930, 49, 356, 679);
        QTest::newRow("no screen, saved position")
                << Screens{} << -1 << QPoint(30, 40) << QSize() << QRect(30, 40, 600, 1145);
        QTest::newRow("no screen, nothing saved")
                << Screens{} << -1 << unsaved << QSize(400, 763) << QRect(0, 0, 400, 763);
    }

    void restore()
    {
        QFETCH(QList<ScreenArea>, screens);
        QFETCH(int, primary);
        QFETCH(QPoint, position);
        QFETCH(QSize, userSize);
        SavedGeometry saved;
        if (position != QPoint(-1, -1))
            saved.position = position;
        if (!userSize.isEmpty())
            saved.userSize = userSize;
        QTEST(restoredGeometry(saved, screens, primary), "geometry");
    }

    void sizeAfterAChangeOfScreen_data()
    {
        QTest::addColumn<QSize>("current");
        QTest::addColumn<bool>("userSized");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QSize>("size");
        QTest::newRow("automatic shrinks")
                << QSize(520, 992) << false << QRect(0, 0, 1366, 728) << QSize(356, 680);
        QTest::newRow("automatic grows back")
                << QSize(356, 680) << false << QRect(0, 0, 1920, 1040) << QSize(520, 992);
        QTest::newRow("user size that fits stays")
                << QSize(340, 649) << true << QRect(0, 0, 1366, 728) << QSize(340, 649);
        QTest::newRow("user size too tall shrinks")
                << QSize(400, 763) << true << QRect(0, 0, 1366, 728) << QSize(356, 679);
        QTest::newRow("user size never grows")
                << QSize(400, 763) << true << QRect(0, 0, 2560, 1440) << QSize(400, 763);
    }

    void sizeAfterAChangeOfScreen()
    {
        QFETCH(QSize, current);
        QFETCH(bool, userSized);
        QFETCH(QRect, available);
        QTEST(sizeOnScreen(current, userSized, available), "size");
    }

    void sizeOption_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QSize>("size"); // empty: ignored
        QTest::newRow("valid") << "500x954" << QSize(500, 954);
        QTest::newRow("zero height") << "500x0" << QSize();
        QTest::newRow("upper-case X") << "500X954" << QSize();
        QTest::newRow("empty width") << "x954" << QSize();
        QTest::newRow("three parts") << "500x954x2" << QSize();
        QTest::newRow("negative") << "-500x954" << QSize();
        QTest::newRow("words") << "wide" << QSize();
        QTest::newRow("larger than the design") << "800x1600" << QSize(800, 1600);
    }

    void sizeOption()
    {
        QFETCH(QString, value);
        QTEST(parseSizeOption(value).value_or(QSize()), "size");
    }
};

SNT_TEST_MAIN(WindowRulesTest)
#include "WindowRulesTest.moc"
