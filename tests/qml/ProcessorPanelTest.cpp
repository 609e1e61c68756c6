// The processor panel driven as the engineer drives it (clicks, keys, drags) against the real
// bridge and the simulated processor on 127.0.0.1 (manual address), checked on what the
// simulated processor received and on what the panel shows.
#include "eq/CurvePreparation.h"
#include "tests/qml/PanelHarness.h"
#include "tests/qml/PillProbe.h"
#include "tests/support/GuiTestMain.h"

#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QJsonArray>

using snt::test::PanelHarness;
using snt::test::SimProcessor;

namespace {

// A result with `bands` on a flat level, as the delivery screen holds it.
snt::eq::Scheme flatScheme(const QList<snt::eq::SchemeBand> &bands)
{
    snt::eq::Scheme scheme;
    scheme.name = "平直";
    scheme.freq = snt::eq::standardGrid();
    scheme.measuredRaw = QList<float>(scheme.freq.size(), 0.0f);
    scheme.measured = scheme.target = scheme.measuredRaw;
    scheme.bands = bands;
    return scheme;
}

} // namespace

class ProcessorPanelTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<PanelHarness> panel_;
    std::unique_ptr<SimProcessor> sim_;

    // The delivery screen with `scheme` as the chosen result.
    void useScheme(const snt::eq::Scheme &scheme)
    {
        panel_->bridge->core().setSchemes({scheme});
        panel_->bridge->core().setSelectedScheme(0);
        panel_->bridge->go("点声源-交付与复测");
    }

private slots:
    void init() { QVERIFY(snt::test::startPanel(sim_, panel_)); }
    void cleanup()
    {
        panel_.reset();
        sim_.reset();
    }

    // Texts and colours through a manual connect and disconnect; one toast per user connect; an
    // empty address only focuses the field.
    void manualConnection()
    {
        QCOMPARE(panel_->text("connectButton"), QString("连接"));
        QCOMPARE(panel_->item("statusDot")->property("color").value<QColor>(), QColor("#8A8F98"));
        panel_->window->setProperty("manualMode", true);
        panel_->click("connectButton");
        QVERIFY(panel_->item("addressField/input")->hasActiveFocus());
        QCOMPARE(panel_->prop("firstConnectAttempt").toBool(), false);
        QVERIFY(sim_->log("http").isEmpty());

        QSignalSpy toastSpy(panel_->bridge.get(), &QmlBridge::toastTextChanged);
        panel_->type("addressField", sim_->address());
        panel_->click("connectButton");
        QTRY_VERIFY(panel_->client()->isConnected());
        QCOMPARE(panel_->text("connectButton"), QString("断开"));
        QCOMPARE(panel_->item("statusDot")->property("color").value<QColor>(), QColor("#3DDC84"));
        QCOMPARE(panel_->toast(), "已连接 Moriat DP48（" + sim_->address() + "）");
        QCOMPARE(toastSpy.count(), 1);

        panel_->click("connectButton");
        QVERIFY(!panel_->client()->isConnected());
        QCOMPARE(panel_->text("connectButton"), QString("连接"));
        QCOMPARE(panel_->prop("userDisconnected").toBool(), true);

        // Nothing listens there: the one message of the attempt, then silence.
        panel_->bridge->clearToast();
        toastSpy.clear();
        panel_->type("addressField", "127.0.0.1:1");
        panel_->click("connectButton");
        QTRY_VERIFY(panel_->toast().startsWith("连不上处理器："));
        QCOMPARE(panel_->item("statusDot")->property("color").value<QColor>(), QColor("#FF4D4D"));
        QTRY_COMPARE_WITH_TIMEOUT(panel_->prop("failedIp").toString(), QString("127.0.0.1:1"),
                                  6000);
        QTest::qWait(5500);
        QCOMPARE(toastSpy.count(), 1);
    }

    // A processor answering the connect's probe with a server error or with a body no client
    // can inflate is told in the client's words, without the address the probe went to.
    void probeFailuresToldInTheClientsWords_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QJsonObject>("fields");
        QTest::addColumn<QString>("toast");
        QTest::newRow("server error")
                << "status" << QJsonObject{{"status", 500}} << "连不上处理器：HTTP 500";
        QTest::newRow("gzip inflating to 16 MiB") << "gzip" << QJsonObject{{"inflated", 16 << 20}}
                                                  << "连不上处理器：设备回的不是 JSON";
    }
    void probeFailuresToldInTheClientsWords()
    {
        QFETCH(QString, kind);
        QFETCH(QJsonObject, fields);
        QFETCH(QString, toast);
        sim_->fault("DEVICEINFO", kind, fields);
        panel_->window->setProperty("manualMode", true);
        panel_->type("addressField", sim_->address());
        panel_->click("connectButton");
        QTRY_COMPARE(panel_->toast(), toast);
        QVERIFY(!panel_->client()->isConnected());
    }

    // A link the watch gave up is retried every 5 s at the last address, silently; after
    // "断开" nothing is retried.
    void relinkAfterLostLink()
    {
        panel_->connectByHand(*sim_);
        panel_->bridge->clearToast();
        sim_->set({{"silent", true}});
        sim_->fault("DEVICEINFO", "status", {{"status", 503}, {"times", 2}});
        QTRY_VERIFY_WITH_TIMEOUT(!panel_->client()->isConnected(), 40000);
        QCOMPARE(panel_->text("connectButton"), QString("重连中"));
        sim_->set({{"silent", false}});
        QTRY_VERIFY_WITH_TIMEOUT(panel_->client()->isConnected(), 20000);

        QList<double> probes;
        for (const QJsonObject &entry : sim_->log("http")) {
            if (entry.value("body").toString().contains("DEVICEINFO"))
                probes << entry.value("time").toDouble();
        }
        QCOMPARE(probes.size(), 3);
        for (qsizetype i = 1; i < probes.size(); ++i)
            QVERIFY2(std::abs(probes[i] - probes[i - 1] - 5.0) < 1.0, "a retry every 5 s");
        QVERIFY(panel_->toast().isEmpty());

        panel_->click("connectButton");
        sim_->command("clear_log");
        QTest::qWait(6000);
        QVERIFY(sim_->log("http").isEmpty());
        QCOMPARE(panel_->text("connectButton"), QString("连接"));
    }

    void resetDialog_data()
    {
        QTest::addColumn<bool>("agree");
        QTest::newRow("agree") << true;
        QTest::newRow("decline") << false;
    }
    void resetDialog()
    {
        QFETCH(bool, agree);
        sim_->seed({{"GAINgain22", -6}});
        panel_->window->setProperty("manualMode", true);
        panel_->type("addressField", sim_->address());
        panel_->click("connectButton");
        QTRY_VERIFY(panel_->item("resetDialog")->isVisible());
        SNT_VERIFY_PRIMARY_FILL(*panel_->bridge, panel_->item("agreeReset"));
        panel_->click(agree ? "agreeReset" : "declineReset");
        QTRY_VERIFY(!panel_->item("resetDialog")->isVisible());
        QCOMPARE(panel_->client()->isConnected(), agree);
        const double legacyGain
                = sim_->state().value("params").toObject().value("GAINgain22").toDouble();
        QCOMPARE(legacyGain, agree ? 0.0 : -6.0);
    }

    // Each strip control as the processor receives it.
    void stripControls_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QJsonObject>("sent");
        QTest::newRow("mute output 2") << "out1/muteButton"
                                       << "" << QJsonObject{{"GAINmute21", 1}, {"GAINmute29", 1}};
        QTest::newRow("polarity input B") << "in1/polarityButton"
                                          << "" << QJsonObject{{"GAINphase17", 0}};
        QTest::newRow("route A off output 1") << "out0/route0"
                                              << "" << QJsonObject{{"MIXERmute16", 1}};
        QTest::newRow("route B on output 1") << "out0/route1"
                                             << "" << QJsonObject{{"MIXERmute17", 0}};
        QTest::newRow("delay") << "out0/delayField"
                               << "12.5" << QJsonObject{{"DELAYtime28", 12.5}, {"DELAYbps28", 0}};
        QTest::newRow("delay above 2 s")
                << "out0/delayField"
                << "2500" << QJsonObject{{"DELAYtime28", 2000}, {"DELAYbps28", 0}};
        QTest::newRow("negative delay") << "in0/delayField"
                                        << "-3" << QJsonObject{{"DELAYtime16", 0}};
        QTest::newRow("empty delay") << "in0/delayField"
                                     << "" << QJsonObject{{"DELAYtime16", 0}};
        QTest::newRow("delay typo") << "in0/delayField"
                                    << "1O" << QJsonObject{};
        QTest::newRow("gain") << "out3/gainField"
                              << "7.26" << QJsonObject{{"GAINgain31", 7.3}};
        QTest::newRow("gain below -40") << "out3/gainField"
                                        << "-50" << QJsonObject{{"GAINgain31", -40}};
        QTest::newRow("gain typo") << "out3/gainField"
                                   << "x" << QJsonObject{};
    }
    void stripControls()
    {
        QFETCH(QString, control);
        QFETCH(QString, typed);
        QFETCH(QJsonObject, sent);
        sim_->seed({{"DELAYtime16", 5}, {"GAINgain16", 0}});
        panel_->connectByHand(*sim_);
        if (control.endsWith("Field"))
            panel_->type(control, typed);
        else
            panel_->click(control);
        QCOMPARE(snt::test::writes(*sim_),
                 sent.isEmpty() ? QList<QJsonObject>{} : QList<QJsonObject>{sent});
        if (control == "in0/delayField" && sent.isEmpty())
            QCOMPARE(panel_->item("in0/delayField")->property("shown").toString(), QString("5.00"));
    }

    // Dragging is relative: 93 px down on the 186 px of travel is half the 55 dB scale. A click
    // above the knob steps 0.1 dB up. Both go out on the live path.
    void faderDragAndClick()
    {
        panel_->connectByHand(*sim_);
        QQuickItem *knob = panel_->item("out2/knob");
        panel_->drag(panel_->centre(knob) + QPoint(0, 3), {0, 93});
        QTRY_COMPARE(snt::test::writes(*sim_).last().value("GAINgain30").toDouble(), -27.5);
        QCOMPARE(panel_->item("out2/gainField")->property("shown").toString(), QString("-27.5"));

        sim_->command("clear_log");
        QTest::mouseClick(panel_->window, Qt::LeftButton, {},
                          panel_->scenePoint(panel_->item("out2/fader"), {13, 5}));
        QTRY_COMPARE(snt::test::writes(*sim_).size(), 1);
        QCOMPARE(snt::test::writes(*sim_).first().value("GAINgain30").toDouble(), -27.4);
    }

    // A drag goes out in the 0.1 dB steps the strip shows: 37 px of the 186 px travel are
    // -10.94 dB, sent and shown as -10.9.
    void faderSendsWhatItShows()
    {
        panel_->connectByHand(*sim_);
        QQuickItem *knob = panel_->item("out1/knob");
        panel_->drag(panel_->centre(knob) + QPoint(0, 3), {0, 37});
        QTRY_VERIFY(!snt::test::writes(*sim_).isEmpty());
        QTest::qWait(200);
        for (const QJsonObject &body : snt::test::writes(*sim_)) {
            const double sent = body.value("GAINgain29").toDouble();
            QVERIFY2(std::abs(sent * 10 - std::round(sent * 10)) < 1e-9,
                     qPrintable(QString::number(sent, 'g', 17)));
        }
        QCOMPARE(snt::test::writes(*sim_).last().value("GAINgain29").toDouble(), -10.9);
        QCOMPARE(panel_->item("out1/gainField")->property("shown").toString(), QString("-10.9"));
    }

    // A step the processor did not take goes back on the strip: the next click steps from the
    // gain the processor holds.
    void faderStepsFromTheProcessorsGain()
    {
        panel_->connectByHand(*sim_);
        const QPoint above = panel_->scenePoint(panel_->item("out2/fader"), {13, 5});
        QTest::mouseClick(panel_->window, Qt::LeftButton, {}, above);
        QTRY_COMPARE(snt::test::writes(*sim_).size(), 1);
        sim_->fault("write", "status", {{"status", 500}, {"times", 1}});
        QTest::mouseClick(panel_->window, Qt::LeftButton, {}, above);
        QTRY_COMPARE(snt::test::writes(*sim_).size(), 2);
        QCOMPARE(snt::test::writes(*sim_).last().value("GAINgain30").toDouble(), 0.2);
        QTRY_COMPARE(panel_->item("out2/gainField")->property("shown").toString(), QString("0.1"));
        QTest::mouseClick(panel_->window, Qt::LeftButton, {}, above);
        QTRY_COMPARE(snt::test::writes(*sim_).size(), 3);
        QCOMPARE(snt::test::writes(*sim_).last().value("GAINgain30").toDouble(), 0.2);
        QCOMPARE(sim_->state().value("params").toObject().value("GAINgain30").toDouble(), 0.2);
    }

    // A write the processor refuses is shown as a panel note and the strip shows the client's
    // state again; offline the controls send nothing and the route dots ask for a connection.
    void refusedAndOfflineWrites()
    {
        panel_->connectByHand(*sim_);
        sim_->fault("write", "status", {{"status", 500}});
        panel_->click("out4/muteButton");
        QCOMPARE(panel_->text("panelNote"), QString("没写进去：HTTP 500"));
        QCOMPARE(panel_->item("out4")->property("muted").toBool(), false);

        panel_->click("connectButton");
        sim_->command("clear_log");
        panel_->click("out0/route2");
        QCOMPARE(panel_->toast(), QString("先连接处理器。"));
        panel_->click("out0/muteButton");
        panel_->type("out0/gainField", "3");
        QVERIFY(sim_->log("http").isEmpty());
    }

    // Pushed levels fill the meters: an output at -6 dB to 90 %.
    void metersFromPushedLevels()
    {
        panel_->connectByHand(*sim_);
        sim_->push({{"data", QJsonObject{{"VUvu30", -6}, {"VUvu17", -6}}}});
        QQuickItem *fill = panel_->item("out2/meterFill");
        QTRY_COMPARE(fill->height(), 92 * 0.9);
        QCOMPARE(panel_->item("in1/meterFill")->height(), 92 * (-6 - 20 + 60) / 60.0);
    }

    // Online the result's EQ is written into the channel; offline the strip shows it as a demo.
    void uploadOnlineAndDemoOffline()
    {
        useScheme(flatScheme({{1000, 6, 1, true}, {250, -4, 2, true}}));
        panel_->click("out0/uploadButton");
        QCOMPARE(panel_->text("panelNote"),
                 QString("处理器不在线 · 本地演示模式，EQ 已显示在缩略窗"));
        const QVariantList demo = panel_->prop("demoPeq").toMap().value("o0").toList();
        QCOMPARE(demo.size(), 48);
        QImage shot = panel_->shot();
        QQuickItem *thumb = panel_->item("out0/thumbnail");
        int amber = 0;
        for (int x = 0; x < int(thumb->width()); ++x)
            for (int y = 0; y < int(thumb->height()); ++y)
                amber += shot.pixelColor(panel_->scenePoint(thumb, QPointF(x, y)))
                         == QColor("#FFC53D");
        QVERIFY(amber > 20);

        panel_->connectByHand(*sim_);
        panel_->click("out0/uploadButton");
        QCOMPARE(panel_->text("panelNote"), QString("EQ 已写进 OUT 1。"));
        QVERIFY(!panel_->prop("demoPeq").toMap().contains("o0"));
        const QJsonObject body = snt::test::writes(*sim_).last();
        QCOMPARE(body.value("PEQfreq140").toDouble(), 1000.0);
        QCOMPARE(body.value("PEQgain141").toDouble(), -4.0);
    }

    // The guides run the converter; a make without support gets the placeholder.
    void guidesAndPlaceholder()
    {
        panel_->window->setProperty("deviceIndex", 2);
        QCOMPARE(panel_->text("guideTitle"), QString("NST · 文件导入教程"));
        QVERIFY(!panel_->item("connectButton")->isVisible());
        panel_->bridge->setConverterFolder(EQ_EXPORT_FOLDER);
        SNT_VERIFY_PRIMARY_FILL(*panel_->bridge, panel_->item("guidePage/exportButton"));
        QTest::mouseClick(panel_->window, Qt::LeftButton, {},
                          panel_->centre(panel_->item("guidePage/exportButton")));
        QCOMPARE(panel_->text("guidePage/exportButton"), QString("正在生成…"));
        QTRY_COMPARE(panel_->prop("exportNoteText").toString(),
                     QString("请先测量音响并计算结果，再到这里生成。"));
        QCOMPARE(panel_->prop("exportNoteWarning").toBool(), true);

        useScheme(flatScheme({{1000, 6, 1, true}}));
        panel_->click("guidePage/exportButton");
        QTRY_COMPARE(panel_->prop("exportNoteText").toString(),
                     QString("预设已生成到桌面。去 NST 右键，选 Load Output Channel Settings。"));
        QCOMPARE(panel_->prop("exportNoteWarning").toBool(), false);
        QVERIFY(QFile::exists(QDir::homePath() + "/Desktop/NST-EQ.txt"));

        panel_->window->setProperty("deviceIndex", 1);
        QCOMPARE(panel_->text("guideTitle"), QString("XTA · 复制粘贴教程"));
        panel_->window->setProperty("deviceIndex", 3);
        QVERIFY(panel_->item("placeholderPage")->isVisible());
        QCOMPARE(panel_->text("placeholderText"),
                 QString("韵乐 X5 的协议还没接，入口先留在这里。"));
    }

    // The window keeps 792 : 620 whichever edge is dragged, within its limits.
    void aspectLockedResize_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QPoint>("by");
        QTest::addColumn<int>("width");
        QTest::newRow("right edge") << "r" << QPoint(132, 0) << 792;
        QTest::newRow("bottom edge") << "b" << QPoint(0, 310) << 1056;
        QTest::newRow("past the maximum") << "br" << QPoint(900, 0) << 1188;
        QTest::newRow("below the minimum") << "l" << QPoint(300, 0) << 660;
    }
    void aspectLockedResize()
    {
        QFETCH(QString, mode);
        QFETCH(QPoint, by);
        QFETCH(int, width);
        QMetaObject::invokeMethod(panel_->window, "beginResize", Q_ARG(QVariant, mode),
                                  Q_ARG(QVariant, 0), Q_ARG(QVariant, 0));
        QMetaObject::invokeMethod(panel_->window, "updateResize", Q_ARG(QVariant, by.x()),
                                  Q_ARG(QVariant, by.y()));
        QCOMPARE(panel_->window->width(), width);
        QCOMPARE(panel_->window->height(), qRound(width * 620.0 / 792.0));
    }

    // Every page in both palettes on its own background (the shots are kept in the temporary
    // folder), and Chinese text in the pinned CJK face.
    void palettesAndFont()
    {
        for (bool dark : {true, false}) {
            panel_->bridge->setDarkMode(dark);
            for (const char *page : {"main", "eq", "dyn", "preset"}) {
                panel_->window->setProperty("page", page);
                QTest::qWait(100);
                const QImage shot = panel_->shot();
                QCOMPARE(shot.pixelColor(8, 470),
                         QColor(panel_->bridge->theme().value("bg").toString()));
                shot.save(QDir::tempPath()
                          + QString("/panel-%1-%2.png").arg(page, dark ? "dark" : "light"));
            }
        }
        QQuickItem *label = nullptr;
        for (QQuickItem *child : panel_->item("connectButton")->childItems()) {
            if (child->property("text").toString() == "连接")
                label = child;
        }
        QVERIFY(label);
        QCOMPARE(QFontInfo(label->property("font").value<QFont>()).family(),
                 QString("Noto Sans CJK SC"));
    }
};

SNT_GUI_TEST_MAIN(ProcessorPanelTest)
#include "ProcessorPanelTest.moc"
