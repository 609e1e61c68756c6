#pragma once

#include "platform/asio/AsioHost.h"

#include <QList>
#include <QString>

namespace platform::jack {

// Where JACK servers of this machine keep their sockets.
constexpr const char *serverDirectory = "/dev/shm";

// The socket through which the server `name` of this user takes clients.
QString serverSocket(const QString &name);
// Whether a server still listens on `socket` (a server that died leaves the file behind).
bool isListening(const QString &socket);
// The semaphore file through which the server `server` wakes its client `client`.
QString clientSemaphore(const QString &server, const QString &client);

// The JACK servers of this user that have a socket in `directory`, one driver each: the default
// server (JACK_DEFAULT_SERVER, else "default") first, then the others by name. Described as
// "JACK <server>". Sockets left by servers that died are passed over.
QList<asio::DriverEntry> serversIn(const QString &directory);
QList<asio::DriverEntry> runningServers();

} // namespace platform::jack
