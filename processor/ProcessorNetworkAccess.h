#pragma once

#include <QNetworkAccessManager>

// The client's network access: a POST's answer is held to the reply's read buffer from its
// first byte on (Qt 6.4).
//
// Qt's network thread takes a reply's read-buffer size only once it has begun the request (an
// earlier size is dropped, QHttpThreadDelegate::readBufferSizeChanged), and it begins a request
// with a body some event-loop turns after post() returns: the size `limited` sets right after
// post() never reaches it, and the network thread would read any answer, however large, as fast
// as it comes. So the body reaches Qt through a WatchedBody, and the reply's size is sent again
// each time the network thread asks for a block of it. The network thread takes that size before
// the block, as both come from this thread in order; it writes nothing of the request before the
// first block (the headers go out with it, QHttpProtocolHandler::sendRequest) and reads nothing
// of the answer before the whole body is out.
class ProcessorNetworkAccess : public QNetworkAccessManager
{
    Q_OBJECT

public:
    using QNetworkAccessManager::QNetworkAccessManager;

protected:
    QNetworkReply *createRequest(Operation op, const QNetworkRequest &request,
                                 QIODevice *outgoingData) override;
};
