#pragma once

#include "audio/aes67/RouteBackend.h"
#include "audio/aes67/Types.h"

#include <QHash>

namespace audio::aes67 {

class RtspSession;

// Makes routes over RTSP, one session per subscription: ANNOUNCE with the stream's SDP, SETUP for
// multicast, PLAY; TEARDOWN undoes a route. A disconnect asked for while a step is under way waits
// for that step's answer, sends no further step, and reports what the TEARDOWN itself brought.
// A made route whose connection the device ends is lost, which routeLost says.
class RtspRouteBackend : public RouteBackend
{
    Q_OBJECT
public:
    explicit RtspRouteBackend(QObject *parent = nullptr);
    ~RtspRouteBackend() override;

    void connectSubscription(const RouteRequest &request) override;
    void disconnectSubscription(const QString &subscriptionId) override;
    void abortAll(const QString &reason) override;

    // The URL of a route's requests. The stream name comes from a remote announcement, so it is
    // percent-encoded: blanks and line breaks can neither split the request line nor add headers.
    static QString requestUrl(const QString &host, int port, const QString &streamName);

private:
    enum Step { Announce, Setup, Play, Teardown };

    struct RouteJob
    {
        RouteRequest route;
        RtspSession *session = nullptr;
        Step step = Announce;
        QString rtspSessionId; // known once SETUP succeeded
        bool disconnecting = false; // a TEARDOWN was asked for
        bool awaiting = false; // a step's answer is still to come
    };

    void sendStep(const QString &id);
    void onConnectionEnded(const QString &id);
    void onStepFinished(const QString &id, const rtsp::Response &response);
    // Ends a job with a failure, reported as a disconnect's once one was asked for.
    void finishJob(const QString &id, const QString &error);
    // Takes the job out of the table, then closes its session; its late signals reach nothing.
    void dropJob(const QString &id);

    QHash<QString, RouteJob> jobs_;
};

} // namespace audio::aes67
