// The processor panel's number fields as the keyboard focus moves among them and the charts and
// faders beside them, on an X server of its own, against the real bridge and the simulated
// processor on 127.0.0.1: a field writes only what was typed into it, and a point or fader
// dragged while a field holds the focus stays where it was let go.
#include "tests/qml/PanelHarness.h"
#include "tests/support/GuiTestMain.h"

#include <QJsonArray>

using snt::test::PanelHarness;
using snt::test::SimProcessor;
using snt::test::writes;

class ProcessorFieldsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<PanelHarness> panel_;
    std::unique_ptr<SimProcessor> sim_;

    double deviceValue(const QString &key)
    {
        return sim_->state().value("params").toObject().value(key).toDouble();
    }

    QQuickItem *input(const QString &field) { return panel_->item(field + "/input"); }

    // Output 1's EQ page with band 1 active at 1 kHz, +9 dB.
    void openEqOfOutputOne()
    {
        sim_->seed({{"PEQfreq140", 1000}, {"PEQgain140", 9}, {"PEQbps140", 0}});
        panel_->connectByHand(*sim_);
        panel_->click("out0/thumbnail");
        QVERIFY(panel_->item("eqPage")->isVisible());
    }

    // Drags band 1's point from `gainDb` by `by`; returns the band it was let go as.
    std::pair<double, double> dragBandOne(double gainDb, QPoint by)
    {
        const QPoint from = panel_->eqChartPoint(1000, gainDb).toPoint();
        panel_->drag(from, by, 8);
        return panel_->eqChartValue(from + by);
    }

private slots:
    void init()
    {
        QVERIFY(snt::test::startPanel(sim_, panel_));
        panel_->window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(panel_->window));
    }
    void cleanup()
    {
        panel_.reset();
        sim_.reset();
    }

    // A gain typed and entered, then the point dragged: the processor keeps the drag, and
    // moving the focus on through fields nobody typed in sends nothing.
    void dragAfterAnEnteredGainStays()
    {
        openEqOfOutputOne();
        panel_->type("band0/gainField", "-6");
        QCOMPARE(writes(*sim_).last().value("PEQgain140").toDouble(), -6.0);
        QVERIFY(input("band0/gainField")->hasActiveFocus());
        const auto [freq, gain] = dragBandOne(-6, {60, -40});
        QTRY_COMPARE(deviceValue("PEQgain140"), gain);
        QCOMPARE(deviceValue("PEQfreq140"), freq);
        QCOMPARE(input("band0/gainField")->property("text").toString(),
                 QString::number(gain, 'f', 1));

        sim_->command("clear_log");
        panel_->clickAt(input("band1/freqField"));
        panel_->clickAt(input("band2/qField"));
        panel_->clickAt(input("band0/gainField"));
        panel_->clickAt(input("lpfCard/cornerFreq"));
        QTest::qWait(200);
        QCOMPARE(writes(*sim_), QList<QJsonObject>());
        QCOMPARE(deviceValue("PEQgain140"), gain);
    }

    // A gain typed but not entered goes out when the point is pressed, before the drag, so the
    // drag is what the processor keeps; leaving for another field adds nothing.
    void dragAfterATypedGainStays()
    {
        openEqOfOutputOne();
        panel_->clickAt(input("band0/gainField"));
        QTest::keyClick(panel_->window, Qt::Key_A, Qt::ControlModifier);
        panel_->typeText("-3");
        const auto [freq, gain] = dragBandOne(9, {-50, 30});
        QTRY_COMPARE(deviceValue("PEQgain140"), gain);
        panel_->clickAt(input("band1/freqField"));
        QTest::qWait(200);
        const QList<QJsonObject> sent = writes(*sim_);
        QCOMPARE(sent.first().value("PEQgain140").toDouble(), -3.0);
        QCOMPARE(sent.last().value("PEQgain140").toDouble(), gain);
        QCOMPARE(sent.last().value("PEQfreq140").toDouble(), freq);
        QCOMPARE(deviceValue("PEQgain140"), gain);
    }

    // The strip's gain field follows a fader dragged while it holds the focus, and leaving it
    // then, or leaving the delay field untouched, writes nothing over the drag.
    void faderDragUnderAFocusedGainField()
    {
        panel_->connectByHand(*sim_);
        panel_->clickAt(input("out3/gainField"));
        QVERIFY(input("out3/gainField")->hasActiveFocus());
        QQuickItem *knob = panel_->item("out3/knob");
        panel_->drag(panel_->centre(knob) + QPoint(0, 3), {0, 93});
        QTRY_COMPARE(deviceValue("GAINgain31"), -27.5);
        QCOMPARE(input("out3/gainField")->property("text").toString(), QString("-27.5"));

        sim_->command("clear_log");
        panel_->clickAt(input("out3/delayField"));
        panel_->clickAt(input("out4/gainField"));
        panel_->clickAt(input("addressField"));
        QTest::qWait(200);
        QCOMPARE(writes(*sim_), QList<QJsonObject>());
        QCOMPARE(deviceValue("GAINgain31"), -27.5);
    }
};

SNT_GUI_TEST_MAIN(ProcessorFieldsTest)
#include "ProcessorFieldsTest.moc"
