#include "processor/WatchedBody.h"

WatchedBody::WatchedBody(QIODevice *source, QObject *parent)
    : QIODevice(parent)
    , source_(source)
{
    // Unbuffered: every read reaches readData, and this position stays the source's.
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    QIODevice::seek(source->pos());
}

qint64 WatchedBody::size() const
{
    return source_->size();
}

bool WatchedBody::seek(qint64 pos)
{
    return source_->seek(pos) && QIODevice::seek(pos);
}

qint64 WatchedBody::readData(char *data, qint64 maxSize)
{
    emit fetched();
    return source_->read(data, maxSize);
}

qint64 WatchedBody::writeData(const char *, qint64)
{
    return -1;
}
