#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

// A PulseAudio server of a test's own, on a runtime folder of its own, for a test that changes
// what the test command's shared servers must keep for the tests beside it (their defaults):
// started with the modules given, listening on a socket in that folder, killed with this object.
class OwnSoundServer
{
public:
    explicit OwnSoundServer(const QStringList &modules)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), folder_.path());
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder_.path());
        environment.remove(QStringLiteral("PULSE_SERVER"));
        process_.setProcessEnvironment(environment);
        QStringList arguments{"-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                              "--disable-shm=yes"};
        for (const QString &module : modules)
            arguments << QStringLiteral("--load=") + module;
        arguments << QStringLiteral("--load=module-native-protocol-unix socket=") + socket();
        process_.start(QStringLiteral("pulseaudio"), arguments);
    }
    ~OwnSoundServer()
    {
        process_.kill();
        process_.waitForFinished(10000);
    }
    OwnSoundServer(const OwnSoundServer &) = delete;
    OwnSoundServer &operator=(const OwnSoundServer &) = delete;

    QString socket() const { return folder_.filePath(QStringLiteral("pulse.sock")); }
    // The server's address, as PULSE_SERVER takes it.
    QString address() const { return QStringLiteral("unix:") + socket(); }
    // Waits until the server answers, at most 20 s.
    bool answers() const
    {
        return QTest::qWaitFor([this] { return pactl({QStringLiteral("info")}); }, 20000);
    }
    // pactl, the server's own command line, against this server: whether it succeeded, and what
    // it printed.
    bool pactl(const QStringList &arguments, QString *output = nullptr) const
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PULSE_SERVER"), address());
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral("pactl"), arguments);
        const bool done = process.waitForFinished(10000)
                          && process.exitStatus() == QProcess::NormalExit
                          && process.exitCode() == 0;
        if (output)
            *output = QString::fromUtf8(process.readAllStandardOutput());
        return done;
    }

private:
    QTemporaryDir folder_;
    QProcess process_;
};
