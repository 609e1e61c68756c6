#include "processor/ProcessorNetworkAccess.h"

#include "processor/WatchedBody.h"

#include <QNetworkReply>

QNetworkReply *ProcessorNetworkAccess::createRequest(Operation op, const QNetworkRequest &request,
                                                     QIODevice *outgoingData)
{
    // Qt reads a sequential body whole before it begins the request; only a random-access one
    // is read as the request is written.
    if (!outgoingData || outgoingData->isSequential())
        return QNetworkAccessManager::createRequest(op, request, outgoingData);
    auto *body = new WatchedBody(outgoingData);
    QNetworkReply *reply = QNetworkAccessManager::createRequest(op, request, body);
    body->setParent(reply);
    connect(body, &WatchedBody::fetched, reply,
            [reply] { reply->setReadBufferSize(reply->readBufferSize()); });
    return reply;
}
