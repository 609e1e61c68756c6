// The panel's automatic search, inside the private network of scripts/netns-run.sh: two
// simulated processors at 169.254.77.9 and .100 (port 80, discovery on UDP 50002) whose pages
// carry the processor's marker or not, so the search finds none, one or both.
#include "tests/qml/PanelHarness.h"
#include "tests/support/GuiTestMain.h"

using snt::test::PanelHarness;
using snt::test::SimProcessor;

namespace {

const QString kFirst = QStringLiteral("169.254.77.9");
const QString kSecond = QStringLiteral("169.254.77.100");
const QString kMarkedPage = QStringLiteral("<html>Moriat DSP console</html>");
const QString kOtherPage = QStringLiteral("<html>a printer</html>");

} // namespace

class ProcessorPanelSearchTest : public QObject
{
    Q_OBJECT

    SimProcessor first_;
    SimProcessor second_;

private slots:
    void initTestCase()
    {
        const QString child = qEnvironmentVariable("SNT_NETNS_CHILD");
        QVERIFY2(!child.isEmpty(), "run through scripts/netns-run.sh");
        const QStringList into{"nsenter", "--net=/proc/" + child + "/ns/net"};
        QVERIFY(first_.start({"--host", kFirst, "--port", "80", "--udp-port", "50002"}, into));
        QVERIFY(second_.start({"--host", kSecond, "--port", "80", "--udp-port", "50002"}, into));
    }

    void search_data()
    {
        QTest::addColumn<bool>("firstMarked");
        QTest::addColumn<bool>("secondMarked");
        QTest::newRow("none") << false << false;
        QTest::newRow("one") << true << false;
        QTest::newRow("two") << true << true;
    }
    // "连接" in automatic mode searches; one processor is connected without a menu, two open the
    // menu (the row clicked is connected), none leave the button at "连接".
    void search()
    {
        QFETCH(bool, firstMarked);
        QFETCH(bool, secondMarked);
        first_.set({{"page", firstMarked ? kMarkedPage : kOtherPage}});
        second_.set({{"page", secondMarked ? kMarkedPage : kOtherPage}});
        PanelHarness panel;
        QVERIFY(panel.show());
        panel.click("connectButton");
        QCOMPARE(panel.text("connectButton"), QString("搜索中"));
        QTRY_VERIFY_WITH_TIMEOUT(!panel.prop("searching").toBool(), 10000);
        const int found = int(firstMarked) + int(secondMarked);
        QCOMPARE(panel.prop("foundDevices").toList().size(), found);
        QCOMPARE(panel.item("deviceMenu")->isVisible(), found == 2);
        if (found == 0) {
            QCOMPARE(panel.text("connectButton"), QString("连接"));
            QVERIFY(!panel.client()->isConnected());
            return;
        }
        if (found == 2) {
            QCOMPARE(panel.text("deviceRow0/rowText"), "设备 1  " + kFirst);
            QCOMPARE(panel.text("deviceRow1/rowText"), "设备 2  " + kSecond);
            panel.click("deviceRow1");
        }
        QTRY_VERIFY(panel.client()->isConnected());
        QCOMPARE(panel.client()->ip(), found == 2 ? kSecond : kFirst);
        QCOMPARE(panel.text("connectButton"), QString("断开"));
    }
};

SNT_GUI_TEST_MAIN(ProcessorPanelSearchTest)
#include "ProcessorPanelSearchTest.moc"
