#include "tests/processor/FloodPeer.h"
#include "tests/processor/LogCatcher.h"
#include "tests/processor/SimProcessor.h"
#include "tests/support/TestMain.h"

#include "processor/MessageLimits.h"

#include <QNetworkReply>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

using snt::test::FloodPeer;
using snt::test::LogCatcher;
using snt::test::MemoryWatch;
using snt::test::verifyFloodCut;

namespace {

const QString kCut = QStringLiteral("设备回的数据大得不正常，已断开");
// Longer than the peer takes to send its whole flood (256 MiB at 125 MB/s: 2.1 s).
constexpr unsigned long kBusyMs = 3000;

} // namespace

// A peer posing as a processor floods one kind of message with 256 MiB: the client takes no
// more than its limit, closes the connection, says so in the log and tells the user as it tells
// any other failure of that step, and the process's memory rises by a fraction of the flood.
class MessageLimitTest : public QObject
{
    Q_OBJECT

private slots:
    void floodedAnswersAreCut_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("told");
        QTest::newRow("connect probe")
                << "probe" << QStringList() << "连不上处理器：" + kCut + "|warning";
        QTest::newRow("connect probe announcing its length")
                << "probe" << QStringList{"--announce"} << "连不上处理器：" + kCut + "|warning";
        QTest::newRow("full read")
                << "read" << QStringList() << "读设备参数失败：" + kCut + "|warning";
        QTest::newRow("preset export") << "export" << QStringList() << "导出失败：" + kCut;
    }

    void floodedAnswersAreCut()
    {
        QFETCH(QString, target);
        QFETCH(QStringList, options);
        QFETCH(QString, told);
        FloodPeer peer;
        QVERIFY(peer.start(target, options));
        ProcessorClient client;
        client.setIp(peer.address());
        QSignalSpy messages(&client, &ProcessorClient::message);
        LogCatcher log;
        MemoryWatch memory;
        QVERIFY(memory.valid());

        client.connectToDevice();
        QStringList said = snt::test::messages(messages);
        if (target == "export")
            said << client.exportPreset(0).value("message").toString();
        QVERIFY2(said.contains(told), qPrintable(said.join('\n')));
        QVERIFY(log.contains("[ProcessorClient] answer of http://" + peer.address()));
        verifyFloodCut(peer, memory);
        QVERIFY(!QFile::exists(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation)
                               + "/预设-1.Parm"));
    }

    // The client's thread may be held up as an answer begins, on a loaded machine for longer than
    // a flood takes. Qt's network thread reads no further than the reply's buffer meanwhile: the
    // rest of the flood waits at the peer, and the cut comes when the thread is free again.
    void floodWaitsWhileTheClientIsBusy()
    {
        FloodPeer peer;
        QVERIFY(peer.start("probe"));
        ProcessorClient client;
        client.setIp(peer.address());
        LogCatcher log;
        MemoryWatch memory;
        QVERIFY(memory.valid());
        // Fires in the event loop that waits for the probe's answer, before any of it can come.
        QTimer::singleShot(0, this, [&client] {
            connect(client.findChild<QNetworkReply *>(), &QNetworkReply::metaDataChanged,
                    [] { QThread::msleep(kBusyMs); });
        });

        client.connectToDevice();
        QVERIFY(!client.isConnected());
        QVERIFY(log.contains("[ProcessorClient] answer of http://" + peer.address()));
        verifyFloodCut(peer, memory);
    }

    // The level socket is closed at its limit; the link stays, and the socket is opened again.
    void floodedLevelMessageIsCut()
    {
        FloodPeer peer;
        QVERIFY(peer.start("socket"));
        ProcessorClient client;
        client.setIp(peer.address());
        LogCatcher log;
        MemoryWatch memory;
        QVERIFY(memory.valid());

        client.connectToDevice();
        QVERIFY(client.isConnected());
        verifyFloodCut(peer, memory);
        QTRY_VERIFY(log.contains(QString("[ProcessorClient] level socket closed: a message of more "
                                         "than %1 bytes")
                                         .arg(processor::kLevelMessageLimit)));
        QVERIFY(client.isConnected());
        QVERIFY(peer.nextLine().value("closed").toBool());
    }
};

SNT_TEST_MAIN(MessageLimitTest)
#include "MessageLimitTest.moc"
