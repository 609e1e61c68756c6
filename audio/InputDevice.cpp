#include "audio/InputDevice.h"

InputDevice::InputDevice(BlockHandler handler, QObject *parent)
    : QIODevice(parent)
    , handler_(std::move(handler))
{ }

qint64 InputDevice::readData(char *, qint64)
{
    return 0;
}

qint64 InputDevice::writeData(const char *data, qint64 size)
{
    if (handler_)
        handler_(data, size);
    return size;
}
