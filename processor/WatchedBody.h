#pragma once

#include <QIODevice>

// A request body read through from another device, saying so each time it is read. Qt reads a
// POST's body from this thread a block at a time, as its network thread asks for one
// (QNetworkReplyHttpImplPrivate::wantUploadDataSlot), so `fetched` comes while the network
// thread waits for the block.
class WatchedBody : public QIODevice
{
    Q_OBJECT

public:
    // `source` is a random-access device open for reading; it is read from where it stands, at
    // the same positions, and stays its owner's.
    explicit WatchedBody(QIODevice *source, QObject *parent = nullptr);

    qint64 size() const override;
    bool seek(qint64 pos) override;

signals:
    void fetched();

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 maxSize) override;

private:
    QIODevice *source_;
};
