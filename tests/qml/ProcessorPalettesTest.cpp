// The text of the processor panel's selected preset row read from the window's pixels, in the
// dark and the light palette, on an X server of its own against the real bridge and the simulated
// processor on 127.0.0.1: every part of it stands out from the row's blue fill by at least the
// 4.5:1 that WCAG 2 asks of text.
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

    void selectedPresetRowIsReadable_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<QString>("fill");
        QTest::addColumn<QString>("part");
        for (bool dark : {true, false}) {
            for (const char *part : {"rowName", "rowNumber", "badgeText"}) {
                QTest::addRow("%s %s", dark ? "dark" : "light", part)
                        << dark << QString(dark ? "#083988" : "#0A3E8C") << QString(part);
            }
        }
    }

    // The running preset's slot clicked in the list: its row takes the palette's blue fill, and
    // its name, its number and its "当前" badge are read on that fill.
    void selectedPresetRowIsReadable()
    {
        QFETCH(bool, dark);
        QFETCH(QString, fill);
        QFETCH(QString, part);
        panel_->bridge->setDarkMode(dark);
        sim_->command("slots",
                      {{"slots", QJsonObject{{"0", "默认"}, {"1", "出厂"}, {"2", "Main"}}}});
        sim_->command("device", {{"running_name", "Main"}});
        panel_->connectByHand(*sim_);
        panel_->click("presetButton");
        panel_->click("presetRow0");
        QCOMPARE(panel_->item("presetPage")->property("selectedSlot").toInt(), 2);

        // The row's fill, read above its text and inside its border.
        QQuickItem *row = panel_->item("presetRow0");
        const QPoint above = panel_->scenePoint(row, {row->width() / 2, 4});
        QCOMPARE(panel_->shot().pixelColor(above), QColor(fill));
        QQuickItem *text = panel_->item("presetRow0/" + part);
        QVERIFY(text);
        const double ratio = snt::test::itemContrast(text);
        QVERIFY2(ratio >= 4.5, qPrintable(QString("%1:1").arg(ratio, 0, 'f', 2)));
    }
};

SNT_GUI_TEST_MAIN(ProcessorPalettesTest)
#include "ProcessorPalettesTest.moc"
