#pragma once

#include <QIODevice>
#include <functional>

// The write-only sink a capture backend writes interleaved float blocks into; every write goes
// straight to the block handler of the recording front end, in the backend's thread.
class InputDevice : public QIODevice
{
    Q_OBJECT
public:
    using BlockHandler = std::function<void(const char *data, qint64 bytes)>;

    explicit InputDevice(BlockHandler handler, QObject *parent = nullptr);

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    BlockHandler handler_;
};
