#pragma once

#include "app/store/ProjectStore.h"
#include "files/DataFolder.h"
#include "tests/support/OwnSoundServer.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <cmath>

// The built program started as the test command starts its scripted runs: a fresh home of its
// own, "--size 600x1145", LANG=C.UTF-8 and QT_SCALE_FACTOR=1 on the test's X server, with or
// without the test sound server.
namespace selftesttest {

constexpr int runTimeoutMs = 150000;

struct Run
{
    int code = -1;
    QString log;

    // The messages of the log's lines (without time and level) that begin with `prefix`.
    QStringList lines(const QString &prefix) const
    {
        static const QRegularExpression line(QStringLiteral("^\\S+ \\S+ (?:info|warning) (.*)$"),
                                             QRegularExpression::MultilineOption);
        QStringList found;
        for (auto it = line.globalMatch(log); it.hasNext();) {
            const QString message = it.next().captured(1);
            if (message.startsWith(prefix))
                found << message;
        }
        return found;
    }
};

class ProgramHome
{
public:
    // With `sound`, ALSA in the home leads to the test sound server and the settings measure on
    // its null sink's monitor: measurement and reference on its two channels, pink noise.
    explicit ProgramHome(bool sound)
        : sound_(sound)
    {
        QDir(dir_.path()).mkpath(QStringLiteral("Documents"));
        if (!sound)
            return;
        QFile::copy(qEnvironmentVariable("SNT_TEST_ASOUNDRC"), dir_.filePath(".asoundrc"));
        QSettings settings(settingsFile(), QSettings::IniFormat);
        settings.setValue("audio/inputDevice", "alsa:loop_monitor");
        settings.setValue("audio/dataChannel", 0);
        settings.setValue("audio/referenceChannel", 1);
        settings.setValue("measure/signalType", 0);
    }

    // The same on a sound server of the test's own, which has the same null sink "loop".
    explicit ProgramHome(const OwnSoundServer &server)
        : ProgramHome(true)
    {
        soundServer_ = server.address();
    }

    // The reference channel of the settings; -1 takes the generator's own signal as the reference.
    void setReferenceChannel(int channel) const
    {
        QSettings(settingsFile(), QSettings::IniFormat).setValue("audio/referenceChannel", channel);
    }

    QString path() const { return dir_.path(); }
    QString filePath(const QString &name) const { return dir_.filePath(name); }

    Run run(const QStringList &arguments) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", dir_.path());
        for (const char *xdg :
             {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
            env.remove(xdg);
        env.insert("LANG", "C.UTF-8");
        env.insert("QT_SCALE_FACTOR", "1");
        env.insert("QT_QPA_PLATFORM", "xcb");
        // As the screen tests: Xvfb has no vertical blank to pace the threaded render loop, and
        // Mesa's driver keeps memory the leak check cannot name.
        env.insert("QSG_RENDER_LOOP", "basic");
        env.insert("ASAN_OPTIONS", "detect_leaks=0:abort_on_error=1");
        if (!sound_)
            env.insert("PULSE_SERVER", "unix:/nonexistent/pulse");
        else if (!soundServer_.isEmpty())
            env.insert("PULSE_SERVER", soundServer_);
        QProcess process;
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(SNT_PROGRAM, QStringList{"--size", "600x1145"} + arguments);
        if (!process.waitForFinished(runTimeoutMs))
            process.kill();
        process.waitForFinished();
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAll())};
    }

    // Stores a processed curve pack of a main loudspeaker ("主扩 01": a 12 dB/oct roll-off below
    // 80 Hz, flat above) in the home's data root as the program stores one.
    bool seedMainPack() const
    {
        const QByteArray testHome = qgetenv("HOME");
        qputenv("HOME", dir_.path().toLocal8Bit());
        CurvePack pack;
        pack.name = QStringLiteral("主扩 01");
        pack.use = QStringLiteral("主扩");
        pack.seq = 1;
        for (int i = 0; i < 400; ++i) {
            const double f = 20.0 * std::pow(1000.0, i / 399.0);
            const double x = std::pow(f / 80.0, 2);
            pack.freq << float(f);
            pack.level << float(10.0 * std::log10(x * x / (1.0 + x * x)));
            pack.phase << 0.0f;
            pack.coherence << 0.98f;
        }
        ProjectStore store;
        store.loadCurvePacks();
        const bool saved = store.savePack(pack, -1);
        qputenv("HOME", testHome);
        return saved;
    }

    bool sound() const { return sound_; }

private:
    QString settingsFile() const
    {
        return dir_.filePath(QStringLiteral(".config/Halvo/测量工作流.conf"));
    }

    QTemporaryDir dir_;
    bool sound_;
    QString soundServer_;
};

inline QSize imageSize(const QString &path)
{
    return QImageReader(path).size();
}

// The sizes of the PNG images in `folder`, by file name.
inline QMap<QString, QSize> shotSizes(const QString &folder)
{
    QMap<QString, QSize> sizes;
    for (const QString &name : QDir(folder).entryList({QStringLiteral("*.png")}, QDir::Files))
        sizes.insert(name, imageSize(folder + QLatin1Char('/') + name));
    return sizes;
}

} // namespace selftesttest
