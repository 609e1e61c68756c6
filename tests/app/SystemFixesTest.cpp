#include "app/SoundSettingsPages.h"
#include "app/SystemCheck.h"
#include "app/SystemCheckRunner.h"
#include "audio/Client.h"
#include "platform/SoundSettings.h"
#include "tests/app/SystemCheckSupport.h"
#include "tests/audio/FakePlugin.h"
#include "tests/support/TestMain.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

using platform::DataFlow;
using platform::WaveFormat;

Q_DECLARE_METATYPE(platform::WaveFormat)

namespace {

// A sound system whose formats a program may set, as Linux's is not: a new format takes after
// a given number of reads. It has no level controls and never ducks.
class SettableSettings : public platform::SoundSettings
{
public:
    WaveFormat formats[2];
    bool readable = true;
    QString inputName;
    QList<uint32_t> sharedRates; // what the capture side takes without conversion
    QList<uint32_t> settableRates;
    int readsUntilTaken = 1;
    QList<WaveFormat> renderSets;
    QList<QThread *> threads;

    QString defaultEndpoint(DataFlow flow) override
    {
        return flow == DataFlow::Capture ? "in" : "out";
    }
    QString friendlyName(const QString &, DataFlow flow) override
    {
        return flow == DataFlow::Capture ? inputName : QString();
    }
    platform::Result volumeControl(const QString &, DataFlow,
                                   std::shared_ptr<platform::VolumeControl> *) override
    {
        threads << QThread::currentThread();
        return platform::result::NotFound;
    }
    platform::Result deviceFormat(const QString &, DataFlow flow, WaveFormat *format) override
    {
        const int side = int(flow);
        if (pending_[side] && --readsLeft_[side] <= 0) {
            formats[side] = *pending_[side];
            pending_[side].reset();
        }
        *format = formats[side];
        return readable || flow == DataFlow::Render ? platform::result::Ok : platform::result::Fail;
    }
    platform::Result setDeviceFormat(const QString &, DataFlow flow, const WaveFormat &f) override
    {
        if (flow == DataFlow::Render)
            renderSets << f;
        if (!settableRates.contains(f.samplesPerSec))
            return platform::result::Fail;
        pending_[int(flow)] = f;
        readsLeft_[int(flow)] = readsUntilTaken;
        return platform::result::Ok;
    }
    platform::Result sharedFormatSupported(const QString &, DataFlow, const WaveFormat &f) override
    {
        return sharedRates.contains(f.samplesPerSec) ? platform::result::Ok
                                                     : platform::result::UnsupportedFormat;
    }
    int duckingPreference() override { return platform::ducking::DoNothing; }
    platform::Result setDuckingPreference(int) override { return platform::result::Fail; }

private:
    std::optional<WaveFormat> pending_[2];
    int readsLeft_[2] = {0, 0};
};

WaveFormat format(uint32_t rate, uint16_t channels, uint32_t mask = 0)
{
    WaveFormat f = WaveFormat::extensibleFloat(rate, channels);
    if (mask)
        f.channelMask = mask;
    return f;
}

std::shared_ptr<audio::Client> clientWith(const QString &inputName)
{
    auto card = std::make_shared<FakePlugin>("WASAPI");
    card->rows = {row("in", inputName, "WASAPI"), row("other", "Line 2", "WASAPI"),
                  row("out", "Speakers", "WASAPI")};
    card->defaultInput = "in";
    card->defaultOutput = "out";
    return std::make_shared<audio::Client>(QList<audio::Client::PluginFactory>{[card] {
        return card;
    }});
}

} // namespace

// What the fixes do where the system lets a program set a format (formats, ducking and levels
// read through the real server are the other test's): which rate they choose, that they read
// the new format back, and what they say.
class SystemFixesTest : public QObject
{
    Q_OBJECT
private slots:
    void formatFixes_data()
    {
        QTest::addColumn<QString>("inputName");
        QTest::addColumn<WaveFormat>("input");
        QTest::addColumn<WaveFormat>("output");
        QTest::addColumn<QList<uint32_t>>("shared");
        QTest::addColumn<QList<uint32_t>>("settable");
        QTest::addColumn<int>("readsUntilTaken");
        QTest::addColumn<QString>("message");
        QTest::addColumn<uint32_t>("outputMask");
        QTest::newRow("best below 48 kHz chooses 44.1 kHz")
                << "Line In" << format(48000, 2) << format(48000, 2) << QList<uint32_t>{44100}
                << QList<uint32_t>{44100} << 2
                << "已把输入格式改成 2 通道 44100 Hz；已把输出格式改成 44100 Hz" << 0x3u;
        QTest::newRow("none taken chooses 48 kHz")
                << "Line In" << format(44100, 1) << format(44100, 2) << QList<uint32_t>{}
                << QList<uint32_t>{48000} << 1
                << "已把输入格式改成 2 通道 48000 Hz；已把输出格式改成 48000 Hz" << 0x3u;
        QTest::newRow("a 5.1 output keeps its speakers")
                << "Line In" << format(48000, 2) << format(44100, 6, 0x3F) << QList<uint32_t>{48000}
                << QList<uint32_t>{48000} << 1 << "已把输出格式改成 48000 Hz" << 0x3Fu;
        QTest::newRow("USB codec at its highest rate")
                << "USB Audio CODEC" << format(48000, 2) << format(48000, 2)
                << QList<uint32_t>{48000} << QList<uint32_t>{96000, 44100} << 1
                << "已把输入格式改成 2 通道 96000 Hz；已把输出格式改成 96000 Hz" << 0x3u;
        QTest::newRow("set but never taken")
                << "Line In" << format(44100, 1) << format(48000, 2) << QList<uint32_t>{48000}
                << QList<uint32_t>{48000} << 99
                << "输入格式没改成（当前 1 路 / 44100 Hz），请在声音设置里手动改" << 0u;
        QTest::newRow("unreadable input")
                << "Line In" << format(44100, 1) << format(48000, 2) << QList<uint32_t>{48000}
                << QList<uint32_t>{48000} << 1
                << "读不到输入设备的格式，请在声音设置里手动确认采样率和通道" << 0u;
    }

    void formatFixes()
    {
        QFETCH(QString, inputName);
        QFETCH(WaveFormat, input);
        QFETCH(WaveFormat, output);
        QFETCH(QList<uint32_t>, shared);
        QFETCH(QList<uint32_t>, settable);
        QFETCH(int, readsUntilTaken);
        QFETCH(QString, message);
        QFETCH(uint32_t, outputMask);
        auto settings = std::make_shared<SettableSettings>();
        settings->formats[0] = output;
        settings->formats[1] = input;
        settings->readable = QByteArray(QTest::currentDataTag()) != "unreadable input";
        settings->inputName = inputName;
        settings->sharedRates = shared;
        settings->settableRates = settable;
        settings->readsUntilTaken = readsUntilTaken;
        const syscheck::SystemCheck check(clientWith(inputName), settings);
        QCOMPARE(check.applySystemFixes(QString()), message);
        if (outputMask)
            QCOMPARE(settings->renderSets.last().channelMask, outputMask);
    }

    // 44.1 kHz both ways is fine; only the default input that takes 48 kHz offers the raise.
    // Without level controls, the levels are hints in the system's words.
    void fortyFourOneOffersMoreWhereTaken()
    {
        auto settings = std::make_shared<SettableSettings>();
        settings->formats[0] = settings->formats[1] = format(44100, 2);
        settings->sharedRates = {48000, 44100};
        const syscheck::SystemCheck check(clientWith("Line In"), settings);
        QCOMPARE(describe(check.runSystemCheck("in").at(3)),
                 QString("ok info fixable: 44.1 kHz / 2 进 1 出；设备支持 48 kHz，可一键拉高"));
        const QVariantList other = check.runSystemCheck("other");
        QCOMPARE(describe(other.at(3)),
                 QString("ok info: 44.1 kHz / 2 进 1 出，够用；48 kHz 更好"));
        QCOMPARE(describe(other.at(1)), QString("ok info: 该设备不提供系统输入音量控制"));
    }

    // The checks run away from the caller's thread and come back to it; checks asked for while
    // one runs fold into one more.
    void runnerWorksOffTheCallersThread()
    {
        auto settings = std::make_shared<SettableSettings>();
        settings->formats[0] = settings->formats[1] = format(48000, 2);
        SystemCheckRunner runner(
                std::make_shared<syscheck::SystemCheck>(clientWith("Line In"), settings));
        QSignalSpy checked(&runner, &SystemCheckRunner::checked);
        QSignalSpy fixed(&runner, &SystemCheckRunner::fixed);
        for (int i = 0; i < 3; ++i)
            runner.check(QString());
        runner.fix(QString());
        QVERIFY(QTest::qWaitFor([&] { return checked.count() == 2 && fixed.count() == 1; }, 10000));
        QTest::qWait(200);
        QCOMPARE(checked.count(), 2);
        QCOMPARE(checked.at(0).at(0).toList().size(), 6);
        QCOMPARE(fixed.at(0).at(0).toString(), QString("没有需要自动修复的项目"));
        QCOMPARE(fixed.at(0).at(1).toList().size(), 6);
        QVERIFY(!settings->threads.isEmpty());
        for (QThread *thread : std::as_const(settings->threads))
            QVERIFY(thread != QThread::currentThread());
    }

    // The items' open buttons start the desktop's sound settings on the fitting page, or say
    // what to do where none is installed (a stand-in "pavucontrol" records how it was started).
    void settingsPagesOpenTheDesktopsProgram()
    {
        QTemporaryDir bin;
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", bin.path().toLocal8Bit());
        const QString calls = bin.filePath("calls");
        const auto readCalls = [&calls] {
            QFile file(calls);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        QVERIFY(syscheck::openSystemAction("micprivacy").startsWith("没有找到声音设置程序"));
        QFile program(bin.filePath("pavucontrol"));
        QVERIFY(program.open(QIODevice::WriteOnly));
        program.write("#!/bin/sh\necho \"$@\" >> \"${0%/*}/calls\"\n");
        program.close();
        program.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(syscheck::openSystemAction("micprivacy"), QString());
        QVERIFY(QTest::qWaitFor([&] { return readCalls() == "--tab=4\n"; }, 10000));
        QCOMPARE(syscheck::openSystemAction("soundprops"), QString());
        QCOMPARE(syscheck::openMicPrivacySettings(), QString());
        QCOMPARE(syscheck::openSystemAction("display"), QString());
        QVERIFY(QTest::qWaitFor([&] { return readCalls().count('\n') == 3; }, 10000));
        QTest::qWait(300);
        QList<QByteArray> lines = readCalls().trimmed().split('\n');
        std::sort(lines.begin(), lines.end()); // the programs run side by side
        QCOMPARE(lines, QList<QByteArray>({"--tab=3", "--tab=4", "--tab=4"}));
        qputenv("PATH", path);
    }
};

SNT_TEST_MAIN(SystemFixesTest)
#include "SystemFixesTest.moc"
