#pragma once

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

// The update server of our own (tests/app/update_peer.py) on 127.0.0.1, serving the files of a
// temporary folder. Every request's path can be read back from its output.
class UpdatePeer
{
public:
    UpdatePeer()
    {
        process_.start(QStringLiteral("/usr/bin/python3"), {UPDATE_PEER_SCRIPT, folder_.path()});
    }
    ~UpdatePeer()
    {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(5000))
            process_.kill();
    }

    // Waits for the server to answer; the origin in front of its files.
    QUrl origin()
    {
        if (origin_.isEmpty() && process_.waitForReadyRead(10000)) {
            const QByteArray first = process_.readLine().trimmed();
            if (first.startsWith("PORT "))
                origin_ = QUrl(QStringLiteral("http://127.0.0.1:")
                               + QString::fromLatin1(first.mid(5)));
        }
        return origin_;
    }

    bool serve(const QString &name, const QByteArray &bytes)
    {
        QFile file(folder_.filePath(name));
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
               && file.write(bytes) == bytes.size();
    }
    void remove(const QString &name) { QFile::remove(folder_.filePath(name)); }

    // The request lines ("GET <path>") printed since the last call.
    QByteArray requests()
    {
        process_.waitForReadyRead(100);
        return process_.readAll();
    }

private:
    QTemporaryDir folder_;
    QProcess process_;
    QUrl origin_;
};
