#include "audio/aes67/RtspRouteBackend.h"
#include "audio/aes67/RtspCodec.h"
#include "audio/aes67/RtspSession.h"

#include <QUrl>

namespace audio::aes67 {

namespace {

const QString sessionHeader = QStringLiteral("Session");

bool succeeded(const rtsp::Response &response)
{
    return response.statusCode >= 200 && response.statusCode <= 299;
}

} // namespace

RtspRouteBackend::RtspRouteBackend(QObject *parent)
    : RouteBackend(parent)
{ }

RtspRouteBackend::~RtspRouteBackend()
{
    for (const QString &id : jobs_.keys())
        dropJob(id);
}

QString RtspRouteBackend::requestUrl(const QString &host, int port, const QString &streamName)
{
    return QStringLiteral("rtsp://%1:%2/by-name/%3")
            .arg(host, QString::number(port),
                 QString::fromLatin1(QUrl::toPercentEncoding(streamName)));
}

void RtspRouteBackend::connectSubscription(const RouteRequest &request)
{
    const QString id = request.id;
    dropJob(id);
    RouteJob job;
    job.route = request;
    job.session = new RtspSession(this);
    // Every handler finds the job by its id again: a job may have ended meanwhile.
    connect(job.session, &RtspSession::requestFinished, this, &RtspRouteBackend::onStepFinished);
    connect(job.session, &RtspSession::errorOccurred, this, &RtspRouteBackend::finishJob);
    connect(job.session, &RtspSession::connectFailed, this,
            [this, id](const QString &error) { finishJob(id, error); });
    connect(job.session, &RtspSession::connectedChanged, this, [this, id](bool connected) {
        if (connected)
            sendStep(id);
        else
            onConnectionEnded(id);
    });
    jobs_.insert(id, job);
    job.session->connectToPeer(request.host, quint16(request.port));
}

void RtspRouteBackend::disconnectSubscription(const QString &subscriptionId)
{
    const auto job = jobs_.find(subscriptionId);
    if (job == jobs_.end()) {
        emit disconnectFinished(subscriptionId, true, QString());
        return;
    }
    if (job->disconnecting)
        return; // its TEARDOWN is already on the way
    job->disconnecting = true;
    if (!job->session->isConnected()) {
        dropJob(subscriptionId);
        emit disconnectFinished(subscriptionId, false,
                                QStringLiteral("RTSP 连接已断开，无法发送 TEARDOWN"));
        return;
    }
    if (job->awaiting)
        return; // the TEARDOWN follows the answer to the step under way
    job->step = Teardown;
    sendStep(subscriptionId);
}

void RtspRouteBackend::abortAll(const QString &reason)
{
    for (const QString &id : jobs_.keys()) {
        const auto job = jobs_.find(id);
        if (job == jobs_.end())
            continue;
        job->session->failAll(reason); // a queued step finishes its job through errorOccurred
        dropJob(id);
    }
}

void RtspRouteBackend::sendStep(const QString &id)
{
    const auto job = jobs_.find(id);
    if (job == jobs_.end())
        return;
    rtsp::Request request;
    request.url = requestUrl(job->route.host, job->route.port, job->route.streamName);
    const auto addSession = [&] {
        if (!job->rtspSessionId.isEmpty())
            request.headers.append({sessionHeader, job->rtspSessionId});
    };
    switch (job->step) {
    case Announce:
        request.method = QStringLiteral("ANNOUNCE");
        request.headers.append({QStringLiteral("Content-Type"), QStringLiteral("application/sdp")});
        request.body = job->route.sdp;
        break;
    case Setup:
        request.method = QStringLiteral("SETUP");
        request.headers.append({QStringLiteral("Transport"), QStringLiteral("RTP/AVP;multicast")});
        addSession();
        break;
    case Play:
        request.method = QStringLiteral("PLAY");
        addSession();
        request.headers.append({QStringLiteral("Range"), QStringLiteral("npt=0.000-")});
        break;
    case Teardown:
        request.method = QStringLiteral("TEARDOWN");
        addSession();
        break;
    }
    job->awaiting = true;
    job->session->enqueue(id, request);
}

void RtspRouteBackend::onConnectionEnded(const QString &id)
{
    // A step under way or a disconnect asked for ends through the failed request instead. The
    // job stays: a disconnect asked for later reports that no TEARDOWN can be sent.
    const auto job = jobs_.constFind(id);
    if (job == jobs_.cend() || job->step != Play || job->awaiting || job->disconnecting)
        return;
    emit routeLost(id);
}

void RtspRouteBackend::onStepFinished(const QString &id, const rtsp::Response &response)
{
    const auto job = jobs_.find(id);
    if (job == jobs_.end())
        return;
    job->awaiting = false;
    const bool ok = succeeded(response);
    if (ok && job->step == Setup)
        job->rtspSessionId = rtsp::findHeader(response.headers, sessionHeader)
                                     .section(QLatin1Char(';'), 0, 0)
                                     .trimmed();
    if (job->disconnecting && job->step != Teardown) {
        job->step = Teardown;
        sendStep(id);
        return;
    }
    if (!ok) {
        finishJob(id, QStringLiteral("RTSP 请求被拒: %1 %2")
                              .arg(QString::number(response.statusCode), response.reason));
        return;
    }
    switch (job->step) {
    case Announce:
        job->step = Setup;
        sendStep(id);
        break;
    case Setup:
        job->step = Play;
        sendStep(id);
        break;
    case Play:
        emit connectFinished(id, true, QString()); // the session stays open for the TEARDOWN
        break;
    case Teardown:
        dropJob(id);
        emit disconnectFinished(id, true, QString());
        break;
    }
}

void RtspRouteBackend::finishJob(const QString &id, const QString &error)
{
    const auto job = jobs_.find(id);
    if (job == jobs_.end())
        return;
    const bool disconnecting = job->disconnecting;
    dropJob(id);
    if (disconnecting)
        emit disconnectFinished(id, false, error);
    else
        emit connectFinished(id, false, error);
}

void RtspRouteBackend::dropJob(const QString &id)
{
    RtspSession *session = jobs_.take(id).session;
    if (!session)
        return;
    disconnect(session, nullptr, this, nullptr);
    session->close();
    session->deleteLater();
}

} // namespace audio::aes67
