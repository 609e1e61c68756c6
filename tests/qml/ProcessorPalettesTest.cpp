// The texts of the processor panel's preset page read from the window's pixels, in the dark and
// the light palette, on an X server of its own against the real bridge and the simulated
// processor on 127.0.0.1: the selected row's on its blue fill, an unselected row's and the hint's
// on their card, each standing out from what lies under it by at least the 4.5:1 that WCAG 2
// asks of text.
#include "tests/qml/ContrastProbe.h"
#include "tests/qml/PanelHarness.h"
#include "tests/support/GuiTestMain.h"

#include <QJsonObject>

using snt::test::PanelHarness;
using snt::test::SimProcessor;

class ProcessorPalettesTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<PanelHarness> panel_;
    std::unique_ptr<SimProcessor> sim_;

private slots:
    void init() { QVERIFY(snt::test::startPanel(sim_, panel_)); }
    void cleanup()
    {
        panel_.reset();
        sim_.reset();
    }

    void presetTextIsReadable_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<QString>("fill");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shows");
        const QList<std::pair<const char *, const char *>> texts{
                {"presetRow0/rowName", "Main"},
                {"presetRow0/rowNumber", "01"},
                {"presetRow0/badgeText", "当前"},
                {"presetRow1/rowName", "空"},
                {"presetRow1/rowNumber", "02"},
                {"presetPage/hint", "选中左边的预设槽，更改或填入名称，点击保存"}};
        for (bool dark : {true, false}) {
            for (const auto &[text, shows] : texts) {
                QTest::addRow("%s %s", dark ? "dark" : "light", text)
                        << dark << QString(dark ? "#083988" : "#0A3E8C") << QString(text)
                        << QString(shows);
            }
        }
    }

    // The running preset's slot clicked in the list: its row takes the palette's blue fill, and
    // its name, its number and its "当前" badge are read on that fill; the empty slot after it,
    // its number and its "空", and the hint under the actions are read on their card.
    void presetTextIsReadable()
    {
        QFETCH(bool, dark);
        QFETCH(QString, fill);
        QFETCH(QString, text);
        QFETCH(QString, shows);
        panel_->bridge->setDarkMode(dark);
        sim_->command("slots",
                      {{"slots", QJsonObject{{"0", "默认"}, {"1", "出厂"}, {"2", "Main"}}}});
        sim_->command("device", {{"running_name", "Main"}});
        panel_->connectByHand(*sim_);
        panel_->click("presetButton");
        panel_->click("presetRow0");
        QCOMPARE(panel_->item("presetPage")->property("selectedSlot").toInt(), 2);

        // The selected row's fill, read above its text and inside its border.
        QQuickItem *row = panel_->item("presetRow0");
        const QPoint above = panel_->scenePoint(row, {row->width() / 2, 4});
        QCOMPARE(panel_->shot().pixelColor(above), QColor(fill));
        QQuickItem *item = panel_->item(text);
        QVERIFY(item);
        QCOMPARE(item->property("text").toString(), shows);
        const double ratio = snt::test::itemContrast(item);
        QVERIFY2(ratio >= 4.5, qPrintable(QString("%1:1").arg(ratio, 0, 'f', 2)));
    }
};

SNT_GUI_TEST_MAIN(ProcessorPalettesTest)
#include "ProcessorPalettesTest.moc"
