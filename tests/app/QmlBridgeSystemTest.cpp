#include "app/QmlBridge.h"
#include "audio/Client.h"
#include "audio/wasapi/WasapiPlugin.h"
#include "tests/app/SystemCheckSupport.h"
#include "tests/app/UpdatePeer.h"
#include "tests/support/TestMain.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {

QString sourceVolume()
{
    QProcess pactl;
    pactl.start("pactl", {"get-source-volume", "@DEFAULT_SOURCE@"});
    pactl.waitForFinished(10000);
    return QString::fromUtf8(pactl.readAllStandardOutput());
}

} // namespace

// The system check and the update check through the bridge, by the names the screens use: the
// check against the test command's second sound server, the update against an update server of
// our own, with the program's own installer launcher.
class QmlBridgeSystemTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!useSettingsServer())
            SNT_SKIP("needs the test command's sound servers (scripts/test.sh)");
        QVERIFY(QDir().mkpath(QDir::homePath() + "/tmp"));
        qputenv("TMPDIR", (QDir::homePath() + "/tmp").toLocal8Bit());
        QCoreApplication::setOrganizationName("Halvo");
        QCoreApplication::setApplicationName("测量工作流");
        QVERIFY(audio::Client::setPluginFactories({[] {
            return std::make_shared<audio::WasapiPlugin>();
        }}));
        QVERIFY(peer_.origin().isValid());
        QSettings().setValue("update/origin", peer_.origin().toString());
    }

    void systemCheckThroughTheBridge()
    {
        QmlBridge bridge;
        QCOMPARE(bridge.property("systemChecks").toList().size(), 0);
        QVERIFY(QProcess::execute("pactl", {"set-source-volume", "@DEFAULT_SOURCE@", "60%"}) == 0);
        QSignalSpy changed(&bridge, &QmlBridge::systemChecksChanged);
        QVERIFY(QMetaObject::invokeMethod(&bridge, "runSystemCheck"));
        QVERIFY(changed.wait(10000));
        const QVariantList items = bridge.property("systemChecks").toList();
        QCOMPARE(items.size(), 6);
        QCOMPARE(items.at(1).toMap().value("detail").toString(),
                 QString("系统输入音量 60%，必须 100% 才能测"));

        QString progress;
        QVERIFY(QMetaObject::invokeMethod(&bridge, "applySystemFixes",
                                          Q_RETURN_ARG(QString, progress)));
        QCOMPARE(progress, QString("正在自动修复…"));
        QVERIFY(QTest::qWaitFor(
                [&] { return bridge.toastText() != progress && changed.count() == 2; }, 10000));
        QCOMPARE(bridge.toastText(), QString("已把系统输入音量拉到 100% 并取消静音"));
        QCOMPARE(bridge.systemChecks().at(1).toMap().value("detail").toString(),
                 QString("系统输入音量 100%"));
        QVERIFY2(sourceVolume().contains("/ 100% /"), qPrintable(sourceVolume()));

        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QDir::homePath().toLocal8Bit()); // no sound settings program there
        QVERIFY(QMetaObject::invokeMethod(&bridge, "openSystemAction",
                                          Q_ARG(QString, "soundprops")));
        qputenv("PATH", path);
        QVERIFY(bridge.toastText().startsWith("没有找到声音设置程序"));
    }

    // The first check runs by itself 4 s after start; an installer that does not start leaves
    // an error to show (the program's own launcher, on bytes that are no program).
    void updateThroughTheBridge()
    {
        QByteArray installer(64 << 10, 'x');
        QVERIFY(peer_.serve("setup.bin", installer));
        const QJsonObject file{
                {"version", "1.1.0"},
                {"url", peer_.origin().toString() + "/setup.bin"},
                {"sha256",
                 QString::fromLatin1(
                         QCryptographicHash::hash(installer, QCryptographicHash::Sha256).toHex())}};
        QVERIFY(peer_.serve("version.json", QJsonDocument(file).toJson()));
        QmlBridge bridge;
        QVERIFY(QTest::qWaitFor([&] { return bridge.property("updateAvailable").toBool(); }, 8000));
        QCOMPARE(bridge.property("updateVersion").toString(), QString("1.1.0"));
        QSignalSpy dialog(&bridge, &QmlBridge::updateDialogOpenChanged);
        QVERIFY(bridge.setProperty("updateDialogOpen", true));
        QVERIFY(bridge.setProperty("updateDialogOpen", true));
        QCOMPARE(dialog.count(), 1);

        QVERIFY(QMetaObject::invokeMethod(&bridge, "startUpdate"));
        QVERIFY(bridge.property("updating").toBool());
        QVERIFY(QTest::qWaitFor([&] { return !bridge.property("updating").toBool(); }, 10000));
        QCOMPARE(bridge.property("updateError").toString(),
                 QString("安装包没能启动，请到临时目录手动运行 Tovan-Update-Setup.exe"));
        QFile saved(QDir::tempPath() + "/Tovan-Update-Setup.exe");
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QVERIFY(saved.readAll() == installer);
    }

private:
    UpdatePeer peer_;
};

SNT_TEST_MAIN(QmlBridgeSystemTest)
#include "QmlBridgeSystemTest.moc"
