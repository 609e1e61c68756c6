#include "platform/jack/JackServers.h"

#include "platform/jack/JackDriver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <unistd.h>

namespace platform::jack {
namespace {

QString defaultServer()
{
    const QString named = qEnvironmentVariable("JACK_DEFAULT_SERVER");
    return named.isEmpty() ? QStringLiteral("default") : named;
}

} // namespace

QString serverSocket(const QString &name)
{
    return QStringLiteral("%1/jack_%2_%3_0")
            .arg(QLatin1String(serverDirectory), name, QString::number(getuid()));
}

QString clientSemaphore(const QString &server, const QString &client)
{
    return QStringLiteral("%1/jack_sem.%2_%3_%4")
            .arg(QLatin1String(serverDirectory), QString::number(getuid()), server, client);
}

bool isListening(const QString &socket)
{
    // The kernel's table of Unix sockets names the path of every socket bound to one.
    QFile table(QStringLiteral("/proc/net/unix"));
    if (!table.open(QIODevice::ReadOnly))
        return QFileInfo::exists(socket);
    const QByteArray path = ' ' + socket.toUtf8() + '\n';
    return table.readAll().contains(path);
}

QList<asio::DriverEntry> serversIn(const QString &directory)
{
    // A server's socket is named jack_<server>_<user id>_0.
    const QRegularExpression socketName(
            QStringLiteral("^jack_(.+)_%1_0$").arg(QString::number(getuid())));
    QStringList servers;
    for (const QFileInfo &file : QDir(directory).entryInfoList(QDir::System | QDir::Hidden)) {
        const auto match = socketName.match(file.fileName());
        if (match.hasMatch() && isListening(file.filePath()))
            servers.append(match.captured(1));
    }
    servers.sort();
    const QString first = defaultServer();
    if (servers.removeOne(first))
        servers.prepend(first);

    QList<asio::DriverEntry> entries;
    for (const QString &server : servers)
        entries.append({server, QStringLiteral("JACK ") + server, [server] {
                            return std::make_unique<JackDriver>(server);
                        }});
    return entries;
}

QList<asio::DriverEntry> runningServers()
{
    return serversIn(QString::fromLatin1(serverDirectory));
}

} // namespace platform::jack
