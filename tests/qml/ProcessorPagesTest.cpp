// The processor panel's preset, EQ and dynamics pages, driven with the mouse and the keyboard
// against the real bridge and the simulated processor on 127.0.0.1, checked on what the
// simulated processor received and holds, and on the EQ chart's pixels.
#include "tests/qml/PanelHarness.h"
#include "tests/qml/PillProbe.h"
#include "tests/support/GuiTestMain.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>

#include <complex>

using snt::test::PanelHarness;
using snt::test::SimProcessor;

namespace {

// Peaking band of the audio EQ cookbook at 96 kHz, evaluated on the unit circle.
double peakingDb(double f, double f0, double gainDb, double q)
{
    const double w0 = 2 * M_PI * f0 / 96000, a = std::pow(10, gainDb / 40);
    const double alpha = std::sin(w0) / (2 * q);
    const std::complex<double> z = std::polar(1.0, -2 * M_PI * f / 96000);
    const auto h = (1 + alpha * a - 2 * std::cos(w0) * z + (1 - alpha * a) * z * z)
                   / (1 + alpha / a - 2 * std::cos(w0) * z + (1 - alpha / a) * z * z);
    return 20 * std::log10(std::abs(h));
}

// The magnitude of an n-th order Butterworth high-pass.
double butterworthHighPassDb(double f, double fc, int order)
{
    return -10 * std::log10(1 + std::pow(fc / f, 2 * order));
}

// dBu of a voltage: 0 dBu is 0.775 V.
double dbu(double volts)
{
    return 20 * std::log10(volts / 0.775);
}

const QString kRefused = QStringLiteral("没写进去：设备没接受这条操作。");

bool isCurveBlue(QColor c)
{
    return std::abs(c.red() - 0x4A) + std::abs(c.green() - 0x8E) + std::abs(c.blue() - 0xFF) < 90;
}

} // namespace

class ProcessorPagesTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<PanelHarness> panel_;
    std::unique_ptr<SimProcessor> sim_;

    void typeName(const QString &name)
    {
        panel_->click("nameField");
        QTest::keyClick(panel_->window, Qt::Key_A, Qt::ControlModifier);
        panel_->typeText(name);
    }

    QJsonObject channels() { return sim_->command("channels"); }

    // Opens the import dialog, picks `name` among the files it lists and opens it; returns the
    // names of the files listed.
    QStringList pickFile(QObject *dialog, const QString &name)
    {
        panel_->click("presetPage/importButton");
        QStringList listed;
        QQuickItem *chosen = nullptr;
        QTest::qWaitFor([&] { return panel_->item("fileDialogDelegate0") != nullptr; }, 5000);
        for (int i = 0; QQuickItem *row = panel_->item("fileDialogDelegate" + QString::number(i));
             ++i) {
            const QString file = row->property("fileName").toString();
            if (QFileInfo(folderOf(dialog) + "/" + file).isFile())
                listed << file;
            if (file == name)
                chosen = row;
        }
        if (!chosen)
            return listed;
        panel_->clickAt(chosen);
        // Qt's dialog speaks the interface's language.
        QQuickItem *open = panel_->itemWithText("打开");
        if (open)
            panel_->clickAt(open);
        return listed;
    }
    static QString folderOf(QObject *dialog)
    {
        return dialog->property("currentFolder").toUrl().toLocalFile();
    }

    // Output 1 with one active peaking band (1 kHz, +9 dB, Q 1.4) and a 24 dB/oct Butterworth
    // high-pass at 100 Hz.
    void seedOutputOne()
    {
        sim_->seed({{"PEQfreq140", 1000},
                    {"PEQgain140", 9},
                    {"PEQq_value140", 1.4},
                    {"PEQtype140", 0},
                    {"PEQbps140", 0},
                    {"HLPFfreq4", 100},
                    {"HLPFtype4", 3},
                    {"HLPFbps4", 0}});
    }

    // The refusal was said and the field shows the processor's value again; the toast is cleared
    // for the next edit.
    void verifyRefusedThenShows(const QString &field, const QString &shown)
    {
        QCOMPARE(panel_->toast(), kRefused);
        // A dragged value the processor did not take comes back when its answer does.
        QTRY_COMPARE(panel_->item(field)->property("shown").toString(), shown);
        QCOMPARE(panel_->item(field + "/input")->property("text").toString(), shown);
        panel_->bridge->clearToast();
    }

    void openEq()
    {
        panel_->click("out0/thumbnail");
        QVERIFY(panel_->item("eqPage")->isVisible());
    }

private slots:
    void init() { QVERIFY(snt::test::startPanel(sim_, panel_)); }
    void cleanup()
    {
        panel_.reset();
        sim_.reset();
    }

    // Rows numbered from 01, the running preset marked; the guards send nothing; a save keeps
    // its slot selected; a second long action while one waits is ignored.
    void presetList()
    {
        sim_->command("slots",
                      {{"slots",
                        QJsonObject{{"0", "默认"}, {"1", "出厂"}, {"2", "Main"}, {"5", "Sub"}}}});
        sim_->command("device", {{"running_name", "Sub"}});
        panel_->connectByHand(*sim_);
        panel_->click("presetButton");
        QCOMPARE(panel_->text("presetRow0/rowNumber"), QString("01"));
        QCOMPARE(panel_->text("presetRow0/rowName"), QString("Main"));
        QCOMPARE(panel_->text("presetRow1/rowName"), QString("空"));
        QVERIFY(panel_->item("presetRow3/currentBadge")->isVisible());
        QVERIFY(!panel_->item("presetRow0/currentBadge")->isVisible());
        QCOMPARE(panel_->text("currentName"), QString("Sub"));

        SNT_VERIFY_PRIMARY_FILL(*panel_->bridge, panel_->item("presetPage/saveButton"));
        panel_->click("presetPage/saveButton");
        QCOMPARE(panel_->toast(), QString("先在左边选一格。"));
        panel_->click("presetRow1");
        for (const auto &[button, toast] :
             {std::pair{"presetPage/loadButton", "先在左边选一个预设。"},
              {"presetPage/exportButton", "先在左边选一个预设。"},
              {"presetPage/deleteButton", "这一格是空的。"}}) {
            panel_->click(button);
            QCOMPARE(panel_->toast(), QString(toast));
        }
        QTest::qWait(100);
        QVERIFY(sim_->log("http").isEmpty());

        typeName("Gig");
        panel_->click("presetPage/saveButton");
        QCOMPARE(panel_->toast(), QString("保存成功"));
        QCOMPARE(sim_->state().value("slots").toObject().value("3").toString(), QString("Gig"));
        QCOMPARE(panel_->item("presetPage")->property("selectedSlot").toInt(), 3);
        QCOMPARE(panel_->item("nameField")->property("text").toString(), QString("Gig"));
        QCOMPARE(panel_->text("presetRow1/rowName"), QString("Gig"));

        sim_->command("clear_log");
        panel_->click("presetRow0");
        QQuickItem *load = panel_->item("presetPage/loadButton");
        QTest::mouseClick(panel_->window, Qt::LeftButton, {}, panel_->centre(load));
        QTest::mouseClick(panel_->window, Qt::LeftButton, {}, panel_->centre(load));
        QTRY_COMPARE(panel_->toast(), QString("加载成功"));
        int loads = 0;
        for (const QJsonObject &body : sim_->bodies())
            loads += body.contains("LOAD");
        QCOMPARE(loads, 1);
        QCOMPARE(sim_->state().value("running_name").toString(), QString("Main"));
    }

    // The running settings go to the desktop under the slot's number; a file picked with any
    // letter case of its extension is imported, and a full device says the preset was not stored.
    void presetFiles()
    {
        sim_->command("slots",
                      {{"slots", QJsonObject{{"0", "默认"}, {"1", "出厂"}, {"2", "Main"}}}});
        panel_->connectByHand(*sim_);
        panel_->click("presetButton");
        panel_->click("presetRow0");
        panel_->click("presetPage/exportButton");
        QTRY_COMPARE(panel_->toast(), QString("导出成功"));
        QFile exported(QDir::homePath() + "/Desktop/预设-3.Parm");
        QVERIFY(exported.open(QIODevice::ReadOnly));
        QCOMPARE(QJsonDocument::fromJson(exported.readAll()).object().value("GAINgain28"),
                 QJsonValue(0));

        QTemporaryDir folder;
        for (const char *name : {"My Set.PARM", "b.parm", "c.Parm", "d.txt"}) {
            QFile file(folder.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(R"({"GAINgain28": -3})");
        }
        QObject *dialog = panel_->window->findChild<QObject *>("importDialog");
        QVERIFY(dialog);
        // It opens where the exports land.
        QCOMPARE(dialog->property("currentFolder").toUrl(),
                 QUrl::fromLocalFile(QDir::homePath() + "/Desktop"));
        dialog->setProperty("currentFolder", QUrl::fromLocalFile(folder.path()));
        QCOMPARE(pickFile(dialog, "My Set.PARM"), QStringList({"b.parm", "c.Parm", "My Set.PARM"}));
        QTRY_COMPARE(panel_->toast(), QString("已导入并载入：My Set"));
        QCOMPARE(sim_->state().value("params").toObject().value("GAINgain28").toDouble(), -3.0);

        QJsonObject full;
        for (int slot = 0; slot <= 78; ++slot)
            full.insert(QString::number(slot), "P" + QString::number(slot));
        sim_->command("slots", {{"slots", full}});
        panel_->client()->refreshAll();
        pickFile(dialog, "b.parm");
        QTRY_COMPARE(panel_->toast(), QString("导入进来了，但预设格满了，先删几条。"));
    }

    // After a full read whose validity words are no numbers, no slot reads as empty: each says
    // its state is unknown, with the name it last had; a save into one is refused, naming the
    // preset it may hold, and the processor gets no save.
    void presetSlotsOfUnknownState()
    {
        sim_->command("slots",
                      {{"slots", QJsonObject{{"0", "默认"}, {"1", "出厂"}, {"2", "ShowA"}}}});
        sim_->fault("CURSOR", "override",
                    {{"values", QJsonObject{{"PRESETINFOpreset_valid10", "?"},
                                            {"PRESETINFOpreset_valid20", "n/a"},
                                            {"PRESETINFOpreset_valid30", QJsonValue::Null}}}});
        panel_->connectByHand(*sim_);
        panel_->click("presetButton");
        QCOMPARE(panel_->text("presetRow0/rowName"), QString("ShowA（状态未知）"));
        QCOMPARE(panel_->text("presetRow1/rowName"), QString("状态未知"));

        for (const auto &[row, toast] :
             {std::pair{"presetRow0",
                        "设备没报告这一格是不是空的，里面可能存着预设「ShowA」，没存。"},
              {"presetRow1", "设备没报告这一格是不是空的，里面可能存着一个预设，没存。"}}) {
            panel_->click(row);
            typeName("SAVENAME");
            panel_->click("presetPage/saveButton");
            QCOMPARE(panel_->toast(), QString(toast));
            // Nor is such a slot called empty when asked to delete it.
            panel_->click("presetPage/deleteButton");
            QCOMPARE(panel_->toast(), QString("设备没报告这一格是不是空的，没删。"));
        }
        for (const QJsonObject &body : sim_->bodies())
            QVERIFY(!body.contains("SAVENAME") && !body.contains("SAVEDELETE"));
        QCOMPARE(sim_->state().value("slots").toObject().value("2").toString(), QString("ShowA"));
    }

    // The chart draws the cookbook peaking band plus the Butterworth-shaped high-pass; where the
    // sum leaves +-17.5 dB nothing is drawn.
    void chartPixels()
    {
        seedOutputOne();
        panel_->connectByHand(*sim_);
        openEq();
        QTest::qWait(100);
        const QImage shot = panel_->shot();
        for (double f : {40.0, 60.0, 70.0, 100.0, 200.0, 500.0, 800.0, 1300.0, 3000.0, 10000.0}) {
            const double expected = peakingDb(f, 1000, 9, 1.4) + butterworthHighPassDb(f, 100, 4);
            const QPointF at = panel_->eqChartPoint(f, std::clamp(expected, -18.0, 18.0));
            QList<int> rows;
            const int top = qRound(panel_->eqChartPoint(f, 18).y()),
                      bottom = qRound(panel_->eqChartPoint(f, -18).y());
            for (int y = top; y <= bottom; ++y) {
                if (isCurveBlue(shot.pixelColor(qRound(at.x()), y)))
                    rows << y;
            }
            if (std::abs(expected) > 17.5) {
                QVERIFY2(rows.isEmpty(), qPrintable(QString("drawn at %1 Hz").arg(f)));
                continue;
            }
            QVERIFY2(!rows.isEmpty(), qPrintable(QString("nothing at %1 Hz").arg(f)));
            const double mean = std::accumulate(rows.begin(), rows.end(), 0.0) / rows.size();
            QVERIFY2(std::abs(mean - at.y()) < 2.0,
                     qPrintable(QString("%1 Hz at %2, not %3").arg(f).arg(mean).arg(at.y())));
        }
    }

    // While a point is dragged the processor follows on the live path (posts that the client does
    // not merge); on release it gets one final write (merged) of where the point was let go.
    void bandDrag()
    {
        seedOutputOne();
        panel_->connectByHand(*sim_);
        openEq();
        const QPoint from = panel_->eqChartPoint(1000, 9).toPoint();
        QSignalSpy merges(panel_->client(), &ProcessorClient::channelsChanged);
        panel_->drag(from, {40, -20}, 8);
        const auto [freq, gain] = panel_->eqChartValue(from + QPoint(40, -20));
        QTRY_COMPARE(sim_->state().value("params").toObject().value("PEQfreq140").toDouble(), freq);
        QCOMPARE(sim_->state().value("params").toObject().value("PEQgain140").toDouble(), gain);
        QVERIFY(sim_->log("http").size() >= 2);
        QCOMPARE(merges.count(), 1);
    }

    void eqFields_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("key");
        QTest::addColumn<double>("sent");
        QTest::newRow("band frequency above 20 kHz") << "band0/freqField"
                                                     << "50000"
                                                     << "PEQfreq140" << 20000.0;
        QTest::newRow("Q below 0.2") << "band0/qField"
                                     << "0.1"
                                     << "PEQq_value140" << 0.2;
        QTest::newRow("gain below -18") << "band0/gainField"
                                        << "-30"
                                        << "PEQgain140" << -18.0;
        QTest::newRow("high-pass below 20 Hz") << "hpfCard/cornerFreq"
                                               << "5"
                                               << "HLPFfreq4" << 20.0;
        QTest::newRow("low-pass above 20 kHz") << "lpfCard/cornerFreq"
                                               << "90000"
                                               << "HLPFfreq16" << 20000.0;
        QTest::newRow("not a number") << "band0/freqField"
                                      << "abc"
                                      << "" << 0.0;
    }
    void eqFields()
    {
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(QString, key);
        QFETCH(double, sent);
        seedOutputOne();
        panel_->connectByHand(*sim_);
        openEq();
        panel_->type(field, typed);
        const QList<QJsonObject> sentWrites = snt::test::writes(*sim_);
        if (key.isEmpty()) {
            QVERIFY(sentWrites.isEmpty());
            QCOMPARE(panel_->item(field)->property("shown").toString(), QString("1000"));
            return;
        }
        QCOMPARE(sentWrites.size(), 1);
        QCOMPARE(sentWrites.first().value(key).toDouble(), sent);
    }

    // Paste without a copy sends nothing; an output's EQ pasted onto input A writes all 15 bands
    // and both corners there; reset switches everything off and keeps the frequencies.
    void copyPasteAndReset()
    {
        seedOutputOne();
        panel_->connectByHand(*sim_);
        openEq();
        panel_->click("eqPage/pasteButton");
        QTest::qWait(150);
        QVERIFY(snt::test::writes(*sim_).isEmpty());
        panel_->click("eqPage/copyButton");
        QTRY_COMPARE(panel_->toast(), QString("已复制"));
        panel_->click("channelButtons/in0");
        panel_->click("eqPage/pasteButton");
        QTRY_COMPARE(panel_->toast(), QString("已粘贴"));
        QCOMPARE(snt::test::writes(*sim_).size(), 17);
        const QJsonObject view = channels();
        const QJsonObject input = view.value("inputs").toArray().at(0).toObject();
        const QJsonObject output = view.value("outputs").toArray().at(0).toObject();
        QCOMPARE(input.value("bands"), output.value("bands"));
        QCOMPARE(input.value("hpf"), output.value("hpf"));
        QCOMPARE(input.value("lpf"), output.value("lpf"));

        panel_->click("eqPage/resetButton");
        QTRY_VERIFY(panel_->item("eqPage")->property("busyText").toString().isEmpty());
        const QJsonObject reset = channels().value("inputs").toArray().at(0).toObject();
        for (const QJsonValue &band : reset.value("bands").toArray())
            QCOMPARE(band.toObject().value("bypass").toInt(), 1);
        QCOMPARE(reset.value("bands").toArray().at(0).toObject().value("freq").toDouble(), 1000.0);
        QCOMPARE(reset.value("hpf").toObject().value("bypass").toInt(), 1);
        QCOMPARE(reset.value("lpf").toObject().value("bypass").toInt(), 1);
    }

    // With the processor refusing every write, each edit of the EQ page, typed, clicked or
    // dragged, says so and shows the processor's own value again.
    void refusedEqWritesGoBack()
    {
        seedOutputOne();
        panel_->connectByHand(*sim_);
        openEq();
        sim_->fault("write", "error");
        panel_->type("band1/gainField", "-9");
        verifyRefusedThenShows("band1/gainField", "0.0");
        if (QTest::currentTestFailed())
            return;
        panel_->type("hpfCard/cornerFreq", "200");
        verifyRefusedThenShows("hpfCard/cornerFreq", "100");
        if (QTest::currentTestFailed())
            return;
        panel_->click("band1/bandSwitch");
        QCOMPARE(panel_->toast(), kRefused);
        QCOMPARE(panel_->item("band1/bandSwitch")->property("checked").toBool(), false);
        panel_->bridge->clearToast();

        panel_->drag(panel_->eqChartPoint(1000, 9).toPoint(), {40, -20}, 8);
        verifyRefusedThenShows("band0/freqField", "1000");
        if (QTest::currentTestFailed())
            return;
        QTRY_COMPARE(panel_->item("band0/gainField")->property("shown").toString(), QString("9.0"));

        const QJsonObject output = channels().value("outputs").toArray().at(0).toObject();
        const QJsonObject band1 = output.value("bands").toArray().at(1).toObject();
        QCOMPARE(band1.value("gain").toDouble(), 0.0);
        QCOMPARE(band1.value("bypass").toInt(), 1);
        QCOMPARE(output.value("hpf").toObject().value("freq").toDouble(), 100.0);

        // A server error is said in the client's words, without the request's address.
        sim_->command("clear_faults");
        sim_->fault("write", "status", {{"status", 500}});
        panel_->bridge->clearToast();
        panel_->click("band1/bandSwitch");
        QCOMPARE(panel_->toast(), QString("没写进去：HTTP 500"));
    }

    // "计算" from the ratings, written to the processor: thresholds from the dBu definition.
    void dynamicsCalculation_data()
    {
        QTest::addColumn<bool>("byGain");
        QTest::addColumn<QString>("lowCut");
        QTest::addColumn<double>("gain");
        QTest::addColumn<int>("attack");
        QTest::addColumn<int>("release");
        const double sensitivity = std::sqrt(800.0 * 8) / 1.4;
        QTest::newRow("sensitivity") << false << "100" << sensitivity << 20 << 200;
        QTest::newRow("voltage gain") << true << "100" << std::pow(10.0, 32 / 20.0) << 20 << 200;
        QTest::newRow("low cut 0.1 Hz") << false << "0.1" << sensitivity << 10000 << 10000;
    }
    void dynamicsCalculation()
    {
        QFETCH(bool, byGain);
        QFETCH(QString, lowCut);
        QFETCH(double, gain);
        QFETCH(int, attack);
        QFETCH(int, release);
        panel_->connectByHand(*sim_);
        panel_->click("dynamicsTab");
        if (byGain)
            panel_->click("byGain");
        panel_->type("lowCutField/entry", lowCut);
        SNT_VERIFY_PRIMARY_FILL(*panel_->bridge, panel_->item("calculateButton"));
        panel_->click("calculateButton");
        QCOMPARE(panel_->toast(), QString("已写进设备。"));
        const QJsonObject body = snt::test::writes(*sim_).last();
        const double rms = std::sqrt(400.0 * 8), peak = std::sqrt(4 * 400.0 * 8);
        QVERIFY(std::abs(body.value("COMPthrd4").toDouble() - dbu(rms / gain)) < 1e-9);
        QVERIFY(std::abs(body.value("LIMITERthrd0").toDouble() - dbu(peak / gain)) < 1e-9);
        QCOMPARE(body.value("COMPattack4").toInt(), attack);
        QCOMPARE(body.value("COMPrelease4").toInt(), release);
        QCOMPARE(body.value("LIMITERrelease0").toInt(), release);
        QCOMPARE(body.value("COMPknee4").toInt(), 30);
        QCOMPARE(body.value("COMPratio4").toDouble(), 20.0);
        QCOMPARE(body.value("BYPASSbypass12").toInt(), 0);
        QCOMPARE(body.value("BYPASSbypass20").toInt(), 0);
    }

    // Offline every write path ends in its own toast without a request; ratings that would make
    // a threshold infinite are refused; a switch writes the whole block of its output.
    void dynamicsOfflineAndSwitches()
    {
        panel_->click("dynamicsTab");
        for (const auto &[button, toast] :
             {std::pair{"calculateButton", "先连接处理器，参数已算好。"},
              {"compSwitch", "先连接处理器。"},
              {"dynPage/pasteButton", "先复制一次"},
              {"dynPage/copyButton", "已复制压缩限幅"},
              {"dynPage/pasteButton", "已粘贴，未连接处理器"}}) {
            panel_->click(button);
            QCOMPARE(panel_->toast(), QString(toast));
        }
        QVERIFY(sim_->log("http").isEmpty());

        panel_->type("spkPowerField/entry", "1e308");
        QCOMPARE(panel_->item("spkPowerField/entry")->property("shown").toString(), QString("400"));
        panel_->click("byGain");
        panel_->type("dynPage/gainField/entry", "7000");
        QCOMPARE(panel_->item("dynPage/gainField/entry")->property("shown").toString(),
                 QString("32"));
        QVERIFY(std::isfinite(panel_->item("dynPage")->property("compThrd").toDouble()));

        panel_->connectByHand(*sim_);
        panel_->click("dynPage/out2");
        panel_->click("compSwitch");
        const QJsonObject body = snt::test::writes(*sim_).last();
        QCOMPARE(body.value("BYPASSbypass14").toInt(), 0);
        QCOMPARE(body.value("BYPASSbypass22").toInt(), 1);
        QCOMPARE(body.size(), 9);
    }

    // With the processor refusing every write, a switch flipped and a calculation both say so,
    // and the page shows the processor's own dynamics again (compressor off, threshold 0 dBu,
    // ratio 4:1, knee 0 dB, limiter at 10 dBu).
    void refusedDynamicsWritesGoBack()
    {
        panel_->connectByHand(*sim_);
        panel_->click("dynamicsTab");
        sim_->fault("write", "error");
        panel_->click("compSwitch");
        QCOMPARE(panel_->toast(), kRefused);
        QCOMPARE(panel_->item("compSwitch")->property("checked").toBool(), false);
        panel_->bridge->clearToast();

        panel_->click("calculateButton");
        QCOMPARE(panel_->toast(), kRefused);
        for (const auto &[row, value] : {std::pair{"result_压缩阈值", "0.0 dBu"},
                                         {"result_压缩比", "4:1"},
                                         {"result_拐点", "0 dB"},
                                         {"result_峰值阈值", "10.0 dBu"}})
            QCOMPARE(panel_->item(row)->property("value").toString(), QString(value));
        QCOMPARE(panel_->item("compSwitch")->property("checked").toBool(), false);
        QCOMPARE(panel_->item("limSwitch")->property("checked").toBool(), false);
    }
};

SNT_GUI_TEST_MAIN(ProcessorPagesTest)
#include "ProcessorPagesTest.moc"
