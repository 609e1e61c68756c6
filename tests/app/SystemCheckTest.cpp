#include "app/SystemCheck.h"
#include "audio/Client.h"
#include "audio/wasapi/WasapiPlugin.h"
#include "platform/SoundSettings.h"
#include "tests/app/SystemCheckSupport.h"
#include "tests/audio/FakePlugin.h"
#include "tests/support/TestMain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

namespace {

// pactl, the sound server's own command line, as the independent view of the server.
bool pactl(const QStringList &args, QString *output = nullptr)
{
    QProcess process;
    process.start(QStringLiteral("pactl"), args);
    if (!process.waitForFinished(10000) || process.exitCode() != 0) {
        qWarning() << "pactl" << args << process.readAllStandardError();
        return false;
    }
    if (output)
        *output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    return true;
}

// "desk_in" leads straight to the sink's monitor; "plugged_in" reaches it through a plug.
const char declarations[]
        = R"(pcm.desk_in { type asym capture.pcm { type pulse device "desk.monitor" } hint { show on description "Desk in" } }
pcm.plugged_in { type plug slave.pcm "desk_in" hint { show on description "Desk plugged" } }
)";

// The description the server gives its sink or source of that name.
QString description(const QString &kind, const QString &name)
{
    QString listed;
    if (!pactl({"-f", "json", "list", kind}, &listed))
        return QString();
    for (const QJsonValue &device : QJsonDocument::fromJson(listed.toUtf8()).array()) {
        if (device["name"].toString() == name)
            return device["description"].toString();
    }
    return QString();
}

} // namespace

// The check against a real sound server (the test command's second PulseAudio, a null sink
// "desk"), through ALSA's mixer and PCM definitions as the program reaches them. pactl sets the
// scene and reads back what the fixes did.
class SystemCheckTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!useSettingsServer(declarations))
            SNT_SKIP("needs the test command's sound servers (scripts/test.sh)");
        check_ = std::make_unique<syscheck::SystemCheck>(
                std::make_shared<audio::Client>(QList<audio::Client::PluginFactory>{[] {
                    return std::make_shared<audio::WasapiPlugin>();
                }}),
                platform::systemSoundSettings());
    }

    // Back to the server's start: the desk as default, full levels, nothing loaded.
    void cleanup()
    {
        for (const QString &module : std::as_const(modules_))
            QVERIFY(pactl({"unload-module", module}));
        modules_.clear();
        QVERIFY(pactl({"set-default-sink", "desk"}));
        QVERIFY(pactl({"set-default-source", "desk.monitor"}));
        setLevels(100, false, 100, false);
    }

    void levelsAsTheServerHasThem_data()
    {
        QTest::addColumn<int>("input");
        QTest::addColumn<bool>("inputMuted");
        QTest::addColumn<int>("output");
        QTest::addColumn<bool>("outputMuted");
        QTest::addColumn<QString>("microphone");
        QTest::addColumn<QString>("speaker");
        QTest::newRow("full") << 100 << false << 100 << false << "ok: 系统输入音量 100%"
                              << "ok: 系统输出音量 100% · Desk";
        QTest::newRow("lowered") << 60 << false << 70 << false
                                 << "attention fixable: 系统输入音量 60%，必须 100% 才能测"
                                 << "ok fixable: 系统输出音量 70% · Desk";
        QTest::newRow("silent") << 0 << false << 30 << false
                                << "attention fixable: 系统输入音量 0% · 已静音，测量会没有信号"
                                << "attention fixable: 系统输出音量 30%，不能低于 50% · Desk";
        QTest::newRow("muted")
                << 100 << true << 80 << true
                << "attention fixable: 系统输入音量 100% · 已静音，测量会没有信号"
                << "attention fixable: 系统输出音量 80% · 已静音，测量信号放不出来 · Desk";
    }

    void levelsAsTheServerHasThem()
    {
        QFETCH(int, input);
        QFETCH(bool, inputMuted);
        QFETCH(int, output);
        QFETCH(bool, outputMuted);
        setLevels(input, inputMuted, output, outputMuted);
        const QVariantList items = check_->runSystemCheck(QString());
        QStringList names;
        for (const QVariant &entry : items)
            names << entry.toMap().value("name").toString();
        QCOMPARE(names, QStringList({"麦克风隐私", "麦克风音量", "输出音量", "采样率 / 通道数",
                                     "通信时降音量", "音频增强 / 空间音效"}));
        QTEST(describe(items.at(1)), "microphone");
        QTEST(describe(items.at(2)), "speaker");
    }

    // The two hints name what the check found: the server's input and output devices as the
    // server describes them (pactl's view), and its sound settings, not another system's menus.
    void hintsNameTheServersDevices()
    {
        const QVariantList items = check_->runSystemCheck(QString());
        const QString source = description("sources", "desk.monitor");
        const QString sink = description("sinks", "desk");
        QVERIFY(!source.isEmpty() && !sink.isEmpty());
        QCOMPARE(describe(items.at(0)),
                 QString("ok info: 声音设置 → "
                         "输入设备：启用「%1」并取消静音，端口选接测量麦的那一路")
                         .arg(source));
        QCOMPARE(items.at(0).toMap().value("action").toString(), QString("micprivacy"));
        QCOMPARE(describe(items.at(5)),
                 QString("ok info: 声音设置 → 配置：「%1」选普通的模拟立体声；声音服务器里的均衡、"
                         "回声消除和虚拟环绕请关掉")
                         .arg(sink));
        QCOMPARE(items.at(5).toMap().value("action").toString(), QString("soundprops"));
    }

    // A named endpoint is read and raised where its definition leads (through a plug to the
    // desk's monitor), not at the server's default source; a fix unmutes as it raises.
    void fixesRaiseAndUnmute()
    {
        setLevels(40, true, 70, false);
        QCOMPARE(check_->applySystemFixes(QString()),
                 QString("已把系统输入音量拉到 100% 并取消静音；已把系统输出音量拉到 100% "
                         "并取消静音"));
        QString source, mute;
        QVERIFY(pactl({"get-source-volume", "desk.monitor"}, &source));
        QVERIFY(pactl({"get-source-mute", "desk.monitor"}, &mute));
        QVERIFY2(source.contains("front-left: 65536 / 100% /")
                         && source.contains("front-right: 65536"),
                 qPrintable(source));
        QCOMPARE(mute, QString("Mute: no"));
        QCOMPARE(check_->applySystemFixes(QString()), QString("没有需要自动修复的项目"));

        loadNullSink("other", "rate=48000 channels=2");
        QVERIFY(pactl({"set-default-source", "other.monitor"}));
        QVERIFY(pactl({"set-source-volume", "desk.monitor", "55%"}));
        QCOMPARE(describe(check_->runSystemCheck("alsa:plugged_in").at(1)),
                 QString("attention fixable: 系统输入音量 55%，必须 100% 才能测"));
        QCOMPARE(check_->applySystemFixes("alsa:plugged_in"),
                 QString("已把系统输入音量拉到 100% 并取消静音"));
        QVERIFY(pactl({"get-source-volume", "desk.monitor"}, &source));
        QVERIFY2(source.contains("/ 100% /"), qPrintable(source));
    }

    void formatAsTheServerRunsIt_data()
    {
        QTest::addColumn<QString>("outputArgs");
        QTest::addColumn<QString>("inputArgs");
        QTest::addColumn<QString>("item");
        QTest::newRow("88.2 kHz") << "rate=88200 channels=2"
                                  << "rate=88200 channels=2"
                                  << "ok: 88 kHz / 2 进 2 出";
        // The server runs the input at 44.1 kHz and converts anything else: no higher rate.
        QTest::newRow("44.1 kHz") << "rate=44100 channels=2"
                                  << "rate=44100 channels=2"
                                  << "ok info: 44.1 kHz / 2 进 1 出，够用；48 kHz 更好";
        QTest::newRow("mono input")
                << "rate=48000 channels=2"
                << "rate=48000 channels=1"
                << "attention fixable: 输入只有 1 路；测量需要 2 路输入（参考 + 测量）";
        QTest::newRow("32 kHz")
                << "rate=32000 channels=2"
                << "rate=32000 channels=2"
                << "attention fixable: 采样率低于 44.1 kHz，高频测不满；输入 2 路 / "
                   "输出 2 路 · 输入 32000 Hz / 输出 32000 Hz";
        QTest::newRow("rates differ")
                << "rate=48000 channels=2"
                << "rate=44100 channels=2"
                << "attention fixable: 输入和输出采样率不一致；输入 2 路 / 输出 "
                   "2 路 · 输入 44100 Hz / 输出 48000 Hz";
    }

    void formatAsTheServerRunsIt()
    {
        QFETCH(QString, outputArgs);
        QFETCH(QString, inputArgs);
        useDevices(outputArgs, inputArgs);
        QTEST(describe(check_->runSystemCheck(QString()).at(3)), "item");
    }

    // No program may set the server's format: the fix says what is in force and where to change
    // it, and the server (as pactl lists it) runs on as it did.
    void formatFixesSayWhatToChange()
    {
        useDevices("rate=44100 channels=2", "rate=48000 channels=1");
        QCOMPARE(check_->applySystemFixes(QString()),
                 QString("输入格式没改成（当前 1 路 / 48000 Hz），请在声音设置里手动改；"
                         "输出格式没改成（当前 44100 Hz），请在声音设置里手动改"));
        QString sources;
        QVERIFY(pactl({"list", "short", "sources"}, &sources));
        QVERIFY2(sources.contains(QRegularExpression("in\\.monitor\\s.*\\s1ch 48000Hz")),
                 qPrintable(sources));
    }

    void duckingFollowsTheRoleModules_data()
    {
        QTest::addColumn<QString>("module");
        QTest::addColumn<QString>("item");
        const QString ducked
                = "ok info fixable: 声音服务器会在通话/开会时把其他声音%1，测量中途一变就白测";
        QTest::newRow("none") << QString() << "ok: 不会在通话时自动压低声音";
        QTest::newRow("cork") << "module-role-cork" << ducked.arg("静音其他声音");
        QTest::newRow("ducking") << "module-role-ducking" << ducked.arg("压低 80%");
        QTest::newRow("ducking to half")
                << "module-role-ducking volume=50%" << ducked.arg("压低 50%");
    }

    void duckingFollowsTheRoleModules()
    {
        QFETCH(QString, module);
        if (!module.isEmpty())
            load(module.split(' '));
        QTEST(describe(check_->runSystemCheck(QString()).at(4)), "item");
        if (module.isEmpty())
            return;
        QCOMPARE(check_->applySystemFixes(QString()), QString("已关掉通话时自动压低声音"));
        QString loaded;
        QVERIFY(pactl({"list", "short", "modules"}, &loaded));
        QVERIFY2(!loaded.contains("module-role-"), qPrintable(loaded));
        modules_.removeLast();
    }

    // An ASIO card has no system level of its own and its rows count as they are; the system's
    // playback level is still checked, and no format is changed.
    void asioSetup()
    {
        auto asio = std::make_shared<FakePlugin>("ASIO");
        asio->rows = {audio::DeviceInfo{"asio:in", "Desk ASIO", 44100, "ASIO", {"1"}, {}}};
        const syscheck::SystemCheck check(
                std::make_shared<audio::Client>(QList<audio::Client::PluginFactory>{
                        [] { return std::make_shared<audio::WasapiPlugin>(); },
                        [asio] {
                            return asio;
                        }}),
                platform::systemSoundSettings());
        useDevices("rate=48000 channels=2", "rate=44100 channels=2");
        setLevels(50, false, 70, false);
        const QVariantList items = check.runSystemCheck("asio:in");
        QCOMPARE(describe(items.at(1)), QString("ok info: ASIO 声卡没有系统音量，跳过"));
        QCOMPARE(describe(items.at(2)), QString("ok fixable: 系统输出音量 70% · out"));
        QCOMPARE(describe(items.at(3)),
                 QString("attention: 输入只有 1 路；测量需要 2 路输入（参考 + 测量）"));
        QVERIFY(check.applySystemFixes("asio:in").startsWith(
                "ASIO 声卡的采样率请在驱动面板里统一，软件不自动改；"));
    }

private:
    void setLevels(int input, bool inputMuted, int output, bool outputMuted)
    {
        QVERIFY(pactl({"set-source-volume", "@DEFAULT_SOURCE@", QString::number(input) + "%"}));
        QVERIFY(pactl({"set-source-mute", "@DEFAULT_SOURCE@", inputMuted ? "1" : "0"}));
        QVERIFY(pactl({"set-sink-volume", "@DEFAULT_SINK@", QString::number(output) + "%"}));
        QVERIFY(pactl({"set-sink-mute", "@DEFAULT_SINK@", outputMuted ? "1" : "0"}));
    }

    void load(const QStringList &args)
    {
        QString index;
        QVERIFY(pactl(QStringList{"load-module"} + args, &index));
        modules_ << index;
    }

    void loadNullSink(const QString &name, const QString &args)
    {
        load(QStringList{"module-null-sink", "sink_name=" + name, "format=float32le",
                         "sink_properties=device.description=" + name}
             + args.split(' '));
    }

    // A null sink "out" as the default output and another one's monitor "in.monitor" as the
    // default input, each at the given rate and channels.
    void useDevices(const QString &outputArgs, const QString &inputArgs)
    {
        loadNullSink("out", outputArgs);
        loadNullSink("in", inputArgs);
        QVERIFY(pactl({"set-default-sink", "out"}));
        QVERIFY(pactl({"set-default-source", "in.monitor"}));
    }

    std::unique_ptr<syscheck::SystemCheck> check_;
    QStringList modules_;
};

SNT_TEST_MAIN(SystemCheckTest)
#include "SystemCheckTest.moc"
