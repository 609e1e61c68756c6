#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QtGlobal>

// Collects every message of the Qt message log while it exists (from any thread), and still
// passes them on to the handler that was installed before it.
class LogCapture
{
public:
    LogCapture()
    {
        current() = this;
        previous_ = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(previous_);
        current() = nullptr;
    }

    QStringList lines() const
    {
        QMutexLocker lock(&mutex_);
        return lines_;
    }
    bool contains(const QString &line) const { return lines().contains(line); }
    // Everything captured, one message a line, to show when a check fails.
    QByteArray text() const { return lines().join('\n').toLocal8Bit(); }

private:
    static LogCapture *&current()
    {
        static LogCapture *capture = nullptr;
        return capture;
    }
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (LogCapture *capture = current()) {
            QMutexLocker lock(&capture->mutex_);
            capture->lines_.append(message);
            lock.unlock();
            if (capture->previous_)
                capture->previous_(type, context, message);
        }
    }

    mutable QMutex mutex_;
    QStringList lines_;
    QtMessageHandler previous_ = nullptr;
};
