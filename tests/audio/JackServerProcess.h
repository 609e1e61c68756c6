#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

// JACK's own command-line tools and servers of a test's own, without hardware (dummy driver):
// the independent view of a server's ports, rate and period, and extra servers to list and open.
namespace jacktest {

// Runs one of JACK's tools against `server` and answers its output.
inline QString jackTool(const QString &server, const QString &program, const QStringList &args)
{
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("JACK_DEFAULT_SERVER", server);
    tool.setProcessEnvironment(env);
    tool.start(program, args);
    tool.waitForFinished(10000);
    return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
}

// Starts `server` in `jackd` (48 kHz, 128-frame periods) and waits until its tools reach it.
inline bool startServer(QProcess &jackd, const QString &server)
{
    jackd.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    jackd.start("jackd",
                {"--no-realtime", "-n", server, "-d", "dummy", "-r", "48000", "-p", "128"});
    return QTest::qWaitFor([&] { return !jackTool(server, "jack_lsp", {}).isEmpty(); }, 10000);
}

// Stops `jackd` and waits for it: a server that cannot unregister keeps its place in JACK's
// machine-wide table of servers, which holds only a few.
inline void stopServer(QProcess &jackd)
{
    jackd.terminate();
    jackd.waitForFinished(30000);
}

} // namespace jacktest
