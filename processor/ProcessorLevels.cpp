#include "processor/JsonValues.h"
#include "processor/MessageLimits.h"
#include "processor/ProcessorClient.h"

#include "common/Log.h"

#include <QJsonDocument>
#include <QNetworkProxy>
#include <QTimer>
#include <QWebSocket>

using processor::paramDouble;

namespace {

// Level numbers the meters show: inputs A to D, then outputs 1 to 8.
constexpr int kFirstInputLevel = 16;
constexpr int kInputLevels = 4;
constexpr int kFirstOutputLevel = 28;
constexpr int kOutputLevels = 8;
// Inputs run 20 dB hotter: their meters span -40 to +20 dB, the outputs' -60 to 0 dB.
constexpr double kInputOffsetDb = 20.0;
constexpr double kMeterSpanDb = 60.0;

const QLatin1String kLevelPrefix("VUvu");

// The parameter groups the processor pushes over the level socket, compared case-sensitively.
const QLatin1String kGroups[]
        = {QLatin1String("GAIN"),    QLatin1String("DELAY"),   QLatin1String("MIXER"),
           QLatin1String("PEQ"),     QLatin1String("HLPF"),    QLatin1String("CHNAME"),
           QLatin1String("BYPASS"),  QLatin1String("COMP"),    QLatin1String("LIMITER"),
           QLatin1String("DEQ"),     QLatin1String("NG"),      QLatin1String("FIR"),
           QLatin1String("INSEL"),   QLatin1String("SINE"),    QLatin1String("FINALOUT"),
           QLatin1String("NETWORK"), QLatin1String("DEVINFO"), QLatin1String("PRESET")};

bool isParameterKey(const QString &key)
{
    for (const QLatin1String group : kGroups) {
        if (key.startsWith(group))
            return true;
    }
    return false;
}

QVariantList levelRange(const QVector<double> &values, int first, int count)
{
    QVariantList levels;
    levels.reserve(count);
    for (int n = first; n < first + count; ++n)
        levels.append(values[n]);
    return levels;
}

} // namespace

QVariantList ProcessorClient::levelsIn() const
{
    return levelRange(levelSlots_, kFirstInputLevel, kInputLevels);
}

QVariantList ProcessorClient::levelsOut() const
{
    return levelRange(levelSlots_, kFirstOutputLevel, kOutputLevels);
}

void ProcessorClient::openLevelSocket()
{
    if (!connected_)
        return;
    if (!levelSocket_) {
        levelSocket_ = new QWebSocket(QString(), QWebSocketProtocol::Version13, this);
        levelSocket_->setProxy(QNetworkProxy::NoProxy);
        // Qt closes the connection (code 1009) at a frame or a message above the limit, before
        // it holds the rest in memory.
        levelSocket_->setMaxAllowedIncomingFrameSize(processor::kLevelMessageLimit);
        levelSocket_->setMaxAllowedIncomingMessageSize(processor::kLevelMessageLimit);
        connect(levelSocket_, &QWebSocket::connected, this, &ProcessorClient::onSocketConnected);
        connect(levelSocket_, &QWebSocket::pong, this, &ProcessorClient::stampActivity);
        connect(levelSocket_, &QWebSocket::textMessageReceived, this,
                &ProcessorClient::handleLevelMessage);
        connect(levelSocket_, &QWebSocket::disconnected, this,
                &ProcessorClient::onSocketDisconnected);
        connect(levelSocket_, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
                &ProcessorClient::onSocketError);
    }
    if (levelSocket_->state() == QAbstractSocket::UnconnectedState)
        levelSocket_->open(QUrl(QStringLiteral("ws://%1/server1").arg(ip_)));
}

void ProcessorClient::onSocketConnected()
{
    stampActivity();
    levelSocket_->sendTextMessage(QStringLiteral("{\"WSI\":1}"));
    levelSocket_->sendTextMessage(QStringLiteral("ping"));
}

void ProcessorClient::onSocketDisconnected()
{
    if (levelSocket_->closeCode() == QWebSocketProtocol::CloseCodeTooMuchData)
        sntWarning(lcProcessor, "[ProcessorClient]")
                << "level socket closed: a message of more than" << processor::kLevelMessageLimit
                << "bytes";
    if (connected_)
        reconnectTimer_->start();
}

void ProcessorClient::onSocketError()
{
    // Qt leaves a socket whose opening handshake was refused in the connecting state for as long
    // as the server keeps the connection; drop it, so the reconnect can open it again.
    if (levelSocket_->state() == QAbstractSocket::ConnectingState)
        levelSocket_->abort();
    if (connected_ && !reconnectTimer_->isActive())
        reconnectTimer_->start();
}

void ProcessorClient::onReconnectTimer()
{
    if (connected_ && (!levelSocket_ || levelSocket_->state() != QAbstractSocket::ConnectedState))
        openLevelSocket();
}

void ProcessorClient::handleLevelMessage(const QString &text)
{
    stampActivity();
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return;
    QJsonObject message = document.object();
    const QJsonValue data = message.value(QLatin1String("data"));
    if (data.isObject())
        message = data.toObject();
    if (message.contains(QLatin1String("WSI")))
        storeWsi(message.value(QLatin1String("WSI")));

    bool sawLevel = false;
    QJsonObject parameters;
    for (auto it = message.constBegin(); it != message.constEnd(); ++it) {
        const QString &key = it.key();
        if (key.startsWith(kLevelPrefix)) {
            sawLevel = true;
            storeLevel(QStringView(key).mid(kLevelPrefix.size()), it.value());
        } else if (isParameterKey(key)) {
            parameters.insert(key, it.value());
        }
    }
    if (sawLevel)
        emit levelsChanged();
    if (!parameters.isEmpty())
        mergeParams(parameters);
}

void ProcessorClient::storeLevel(QStringView number, const QJsonValue &value)
{
    bool ok = false;
    const int n = number.toInt(&ok);
    if (!ok || n < 0 || n >= kLevelSlots)
        return;
    double db = paramDouble(value, 0.0);
    if (n >= kFirstInputLevel && n < kFirstInputLevel + kInputLevels)
        db -= kInputOffsetDb;
    levelSlots_[n] = qBound(0.0, (db + kMeterSpanDb) / kMeterSpanDb, 1.0);
}
