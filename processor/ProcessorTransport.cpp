#include "processor/JsonValues.h"
#include "processor/MessageLimits.h"
#include "processor/ProcessorClient.h"

#include "common/Log.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

using processor::valueText;

namespace {

const QString kTimedOut = QStringLiteral("超时");
const QString kRefused = QStringLiteral("设备没接受这条操作。");
const QString kTooLarge = QStringLiteral("设备回的数据大得不正常，已断开");
const QString kNotJson = QStringLiteral("设备回的不是 JSON");
// Marks a reply that `limited` cut off.
const char *const kCutProperty = "sntCutAtLimit";

bool saysError(const QJsonObject &object)
{
    return valueText(object.value(QLatin1String("status"))) == QLatin1String("error");
}

// The processor refuses a command or a write with "status":"error", inside "data" or beside it.
bool refuses(const QJsonObject &reply)
{
    return saysError(reply) || saysError(reply.value(QLatin1String("data")).toObject());
}

} // namespace

QUrl ProcessorClient::processorUrl(const QString &path, bool withWsi) const
{
    QUrl url(QStringLiteral("http://%1%2").arg(ip_, path));
    if (withWsi && !wsiQuery_.isEmpty())
        url.setQuery(wsiQuery_, QUrl::TolerantMode);
    return url;
}

QNetworkRequest ProcessorClient::commandRequest(const QString &path, int timeoutMs) const
{
    QNetworkRequest request(processorUrl(path, path.endsWith(QLatin1String("test.fcgi"))));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setRawHeader("Connection", "close");
    request.setTransferTimeout(timeoutMs);
    return request;
}

// Checked as the body arrives and as its length is announced; a reply beyond the limit is
// aborted, which drops what it holds and closes the connection. Qt's network thread reads no
// further ahead than the reply's buffer, so the rest of a flood waits at the peer however late
// this thread gets to the cut. It may stop up to a block (64 KiB) short of a full buffer: the
// buffer ends well beyond the limit, where a flood is sure to have passed it. A GET begins in
// get(), and the size set here follows its start to the network thread; a POST begins later, and
// the size set here would be dropped, so ProcessorNetworkAccess sends it again as the network
// thread fetches the body, before any of the request is written.
QNetworkReply *ProcessorClient::limited(QNetworkReply *reply, qint64 limit)
{
    constexpr qint64 kBeyondLimit = 256 * 1024;
    reply->setReadBufferSize(limit + kBeyondLimit);
    const auto cutWhenAbove = [reply, limit] {
        const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
        if (qMax(reply->bytesAvailable(), announced.toLongLong()) <= limit
            || reply->property(kCutProperty).toBool())
            return;
        reply->setProperty(kCutProperty, true);
        sntWarning(lcProcessor, "[ProcessorClient]") << "answer of" << reply->url().toString()
                                                     << "cut off: more than" << limit << "bytes";
        reply->abort();
    };
    connect(reply, &QNetworkReply::metaDataChanged, reply, cutWhenAbove);
    connect(reply, &QNetworkReply::readyRead, reply, cutWhenAbove);
    return reply;
}

ProcessorClient::Exchange ProcessorClient::waitForReply(QNetworkReply *reply, int timeoutMs)
{
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(timeoutMs);
    if (!reply->isFinished())
        loop.exec();

    if (!reply->isFinished()) {
        reply->abort();
        reply->deleteLater();
        Exchange exchange;
        exchange.error = kTimedOut;
        return exchange;
    }
    return takeExchange(reply);
}

ProcessorClient::Exchange ProcessorClient::takeExchange(QNetworkReply *reply)
{
    Exchange exchange;
    reply->deleteLater();
    if (reply->property(kCutProperty).toBool()) {
        exchange.error = kTooLarge;
        return exchange;
    }
    exchange.body = reply->readAll();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QNetworkReply::NetworkError error = reply->error();
    const QString errorText = reply->errorString();
    const bool cut = endsBeforeAnnouncedLength(reply, exchange.body);

    // The transfer time-out has the length of the local timer and may fire first; Qt then
    // reports a cancelled operation, which to the user is the same time-out.
    if (error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError)
        exchange.error = kTimedOut;
    // Whether or not Qt counts the status as an error: its own text for one names the whole
    // request, the processor's session key among it, and that belongs in no message.
    else if (status != 0 && status != 200)
        exchange.error = QStringLiteral("HTTP %1").arg(status);
    // A body Qt could not decode: a compressed one inflating beyond Qt's safety check, or a
    // broken stream. What the processor sent is no JSON object.
    else if (error == QNetworkReply::UnknownContentError)
        exchange.error = kNotJson;
    else if (error != QNetworkReply::NoError || status == 0)
        exchange.error = errorText.isEmpty() ? QStringLiteral("连不上") : errorText;
    else if (cut)
        exchange.error = QStringLiteral("Connection closed before the whole answer arrived");
    else
        exchange.ok = true;
    return exchange;
}

// Qt's network layer usually fails a body shorter than its Content-Length, but when the last
// bytes and the peer's close are read in one go (a busy machine) it reports a clean finish. A
// compressed body is left to Qt: its length counts the bytes before decompression.
bool ProcessorClient::endsBeforeAnnouncedLength(QNetworkReply *reply, const QByteArray &body)
{
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    if (!announced.isValid() || reply->hasRawHeader("Content-Encoding"))
        return false;
    return body.size() < announced.toLongLong();
}

bool ProcessorClient::postJson(const QJsonObject &request, QJsonObject &result, QString &error,
                               int timeoutMs, const QString &path, QJsonObject *whole)
{
    if (ip_.isEmpty()) {
        error = QStringLiteral("没有填 IP");
        return false;
    }
    const QByteArray body = QJsonDocument(request).toJson(QJsonDocument::Compact);
    const Exchange exchange
            = waitForReply(limited(network_->post(commandRequest(path, timeoutMs), body),
                                   processor::kCommandReplyLimit),
                           timeoutMs);
    if (!exchange.ok) {
        error = exchange.error;
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(exchange.body, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        error = kNotJson;
        return false;
    }
    const QJsonObject reply = document.object();
    if (reply.contains(QLatin1String("WSI")))
        storeWsi(reply.value(QLatin1String("WSI")));
    const QJsonValue data = reply.value(QLatin1String("data"));
    result = data.isObject() ? data.toObject() : reply;
    if (whole)
        *whole = reply;
    return true;
}

bool ProcessorClient::postAccepted(const QJsonObject &request, QJsonObject &result, QString &error,
                                   int timeoutMs)
{
    QJsonObject whole;
    if (!postJson(request, result, error, timeoutMs, QStringLiteral("/test.fcgi"), &whole))
        return false;
    if (!refuses(whole))
        return true;
    error = kRefused;
    return false;
}

void ProcessorClient::storeWsi(const QJsonValue &value)
{
    wsiQuery_ = valueText(value).remove(QLatin1Char('?'));
}

QString ProcessorClient::friendlyError(const QString &error)
{
    const QString trimmed = error.trimmed();
    const QString lower = trimmed.toLower();
    if (trimmed.isEmpty())
        return QStringLiteral("设备没回应");
    if (lower.contains(QLatin1String("refused")))
        return QStringLiteral("设备拒绝了连接，检查 IP 和网线");
    if (lower.contains(QLatin1String("timeout")) || trimmed == kTimedOut)
        return QStringLiteral("设备没回应，检查 IP 和网线");
    if (lower.contains(QLatin1String("host")) && lower.contains(QLatin1String("found")))
        return QStringLiteral("这个 IP 上找不到设备");
    if (lower.contains(QLatin1String("unreachable")))
        return QStringLiteral("电脑和处理器不在一个网段");
    // Qt words a connection the peer dropped or reset as "Connection closed".
    if (lower.contains(QLatin1String("reset")) || lower.contains(QLatin1String("closed")))
        return QStringLiteral("连接被设备断开，重试一下");
    return trimmed;
}

QVariantMap ProcessorClient::postCommand(const QJsonObject &command, const QString &successText)
{
    if (!connected_)
        return failure(QStringLiteral("先连接处理器。"));
    QJsonObject reply;
    QString error;
    if (!postAccepted(command, reply, error, 6000))
        return failure(error == kRefused ? kRefused
                                         : QStringLiteral("没成功：") + friendlyError(error));
    if (!reply.isEmpty()) {
        for (auto it = reply.begin(); it != reply.end(); ++it)
            paramCache_.insert(it.key(), it.value());
        mergeParams(QJsonObject());
    }
    return {{QStringLiteral("ok"), true}, {QStringLiteral("message"), successText}};
}

QVariantMap ProcessorClient::failure(const QString &text)
{
    return {{QStringLiteral("ok"), false}, {QStringLiteral("message"), text}};
}

// The cache takes the sent values at once (the views follow the hand); until the processor
// takes them, the path keeps the values it held before, and a post it did not take puts those
// back, so the next step starts from what the processor really holds. A value it never reported
// leaves the cache again, and its channel shows it as one never read does: a value the
// processor refused is never shown as its own.
void ProcessorClient::postLive(const QJsonObject &body, LivePath &path)
{
    for (auto it = body.constBegin(); it != body.constEnd(); ++it) {
        if (!path.confirmed.contains(it.key()))
            path.confirmed.insert(it.key(), paramCache_.value(it.key()));
        paramCache_.insert(it.key(), it.value());
    }
    QNetworkReply *reply
            = limited(network_->post(commandRequest(QStringLiteral("/test.fcgi"), 800),
                                     QJsonDocument(body).toJson(QJsonDocument::Compact)),
                      processor::kCommandReplyLimit);
    path.inFlight = true;
    connect(reply, &QNetworkReply::finished, this, [this, reply, body, &path] {
        const Exchange exchange = takeExchange(reply);
        path.inFlight = false;
        settleLive(body, path,
                   exchange.ok && !refuses(QJsonDocument::fromJson(exchange.body).object()));
        if (path.hasPending && path.hasPending() && connected_ && path.timer
            && !path.timer->isActive())
            path.timer->start();
    });
}

void ProcessorClient::settleLive(const QJsonObject &body, LivePath &path, bool taken)
{
    QJsonObject restored;
    QStringList dropped;
    for (auto it = body.constBegin(); it != body.constEnd(); ++it) {
        const auto held = path.confirmed.constFind(it.key());
        if (held == path.confirmed.constEnd())
            continue;
        if (!taken && held->isUndefined())
            dropped.append(it.key());
        else if (!taken)
            restored.insert(it.key(), *held);
        path.confirmed.erase(held);
    }
    if (!restored.isEmpty() || !dropped.isEmpty())
        changeParams(restored, dropped);
}
