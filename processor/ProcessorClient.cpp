#include "processor/ProcessorClient.h"

#include "processor/JsonValues.h"
#include "processor/ParamKeys.h"
#include "processor/ProcessorNetworkAccess.h"

#include <QDateTime>
#include <QNetworkProxy>
#include <QNetworkRequest>
#include <QSettings>
#include <QTimer>
#include <QWebSocket>

#include <cmath>

using processor::paramDouble;
using processor::paramInt64;
using processor::paramKey;
using processor::valueText;

namespace {

// The processor keeps its own settings scope, apart from the application's.
const QString kSettingsOrganisation = QStringLiteral("Sonetra");
const QString kSettingsApplication = QStringLiteral("Processor");
const QString kIpKey = QStringLiteral("ip");
const QString kCommandPath = QStringLiteral("/test.fcgi");

constexpr int kWatchdogMs = 5000;
constexpr int kReconnectMs = 2000;
constexpr qint64 kSilenceLimitMs = 25000;
constexpr int kProbeTimeoutMs = 2500;
constexpr int kLoginZeroTimeoutMs = 2000;
constexpr int kFullReadTimeoutMs = 5000;
constexpr int kLoginTimeoutMs = 3000;
constexpr int kLegacyResetTimeoutMs = 4000;

// The old layout's eight channels: GAIN and DELAY at 20 to 27, ten EQ bands each from 60.
constexpr int kLegacyChannels = 8;
constexpr int kLegacyFirstIndex = 20;
constexpr int kLegacyFirstBand = 60;
constexpr int kLegacyBands = 10;

void saveIp(const QString &ip)
{
    QSettings settings(kSettingsOrganisation, kSettingsApplication);
    settings.setValue(kIpKey, ip);
}

} // namespace

ProcessorClient::ProcessorClient(QObject *parent)
    : QObject(parent)
    , statusLine_(QStringLiteral("未连接"))
    , watchdog_(new QTimer(this))
    , reconnectTimer_(new QTimer(this))
    , network_(new ProcessorNetworkAccess(this))
    , inputChannels_(processor::kInputs)
    , outputChannels_(processor::kOutputs)
    , levelSlots_(kLevelSlots, 0.0)
{
    gainPath_.hasPending = [this] {
        return !pendingGains_.isEmpty();
    };
    eqPath_.hasPending = [this] {
        return !pendingEqKeys_.isEmpty();
    };
    // The processor sits on the local network: never reach it through a proxy.
    network_->setProxy(QNetworkProxy::NoProxy);
    // Every request of ours is meant for the processor alone. Qt would follow a redirect to
    // wherever it points and, for 301 and 302, turn the POST into a GET without its body, so
    // whatever answers there would seem to take a command the processor never ran. A redirect
    // is therefore an answer like any other status but 200: the request failed.
    network_->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    ip_ = QSettings(kSettingsOrganisation, kSettingsApplication).value(kIpKey).toString();
    watchdog_->setInterval(kWatchdogMs);
    connect(watchdog_, &QTimer::timeout, this, &ProcessorClient::checkLink);
    reconnectTimer_->setInterval(kReconnectMs);
    reconnectTimer_->setSingleShot(true);
    connect(reconnectTimer_, &QTimer::timeout, this, &ProcessorClient::onReconnectTimer);
}

ProcessorClient::~ProcessorClient()
{
    if (levelSocket_ && levelSocket_->state() != QAbstractSocket::UnconnectedState)
        levelSocket_->close(QWebSocketProtocol::CloseCodeNormal, QString());
}

void ProcessorClient::setIp(const QString &text)
{
    const QString normalised = normaliseIp(text);
    if (normalised == ip_)
        return;
    ip_ = normalised;
    saveIp(ip_);
    emit ipChanged();
}

QString ProcessorClient::normaliseIp(const QString &text)
{
    QString ip = text.trimmed();
    for (const QLatin1String scheme : {QLatin1String("http://"), QLatin1String("https://")}) {
        if (ip.startsWith(scheme, Qt::CaseInsensitive))
            ip.remove(0, scheme.size());
    }
    while (ip.endsWith(QLatin1Char('/')))
        ip.chop(1);
    return ip;
}

void ProcessorClient::setStatusLine(const QString &text)
{
    if (text == statusLine_)
        return;
    statusLine_ = text;
    emit stateChanged();
}

void ProcessorClient::stampActivity()
{
    lastActivity_ = QDateTime::currentMSecsSinceEpoch();
}

void ProcessorClient::connectToDevice()
{
    if (busy_ || connected_)
        return;
    dropLiveValues();
    ip_ = normaliseIp(ip_);
    if (ip_.isEmpty()) {
        emit message(QStringLiteral("先填处理器 IP。"), true);
        return;
    }
    saveIp(ip_);
    busy_ = true;
    statusLine_ = QStringLiteral("连接中…");
    emit stateChanged();

    QJsonObject result;
    QString error;
    const QJsonObject probe{{QStringLiteral("DEVICEINFO"), QJsonObject()},
                            {QStringLiteral("PRESETNAME"), QJsonObject()}};
    const bool answered = postJson(probe, result, error, kProbeTimeoutMs, kCommandPath);
    busy_ = false;
    if (!answered || result.isEmpty()) {
        setStatusLine(QStringLiteral("连不上"));
        emit message(QStringLiteral("连不上处理器：") + friendlyError(error), true);
        emit stateChanged();
        return;
    }
    const QString name = valueText(result.value(QLatin1String("DEVINFOdev_name0")));
    deviceName_ = name.trimmed().isEmpty() ? QStringLiteral("官方处理器") : name;
    connected_ = true;
    stampActivity();
    setStatusLine(QStringLiteral("在线"));
    emit stateChanged();

    openLevelSocket();
    watchdog_->start();
    loginAndReadAll();
    // The reads above waited in event loops: a watchdog or a user may have disconnected since.
    if (connected_ && hasLegacyParams())
        emit resetRequired();
    emit message(QStringLiteral("已连接 %1（%2）").arg(deviceName_, ip_), false);
}

void ProcessorClient::loginAndReadAll()
{
    QJsonObject ignored;
    QString error;
    postJson({{QStringLiteral("login"), 0}}, ignored, error, kLoginZeroTimeoutMs, kCommandPath);
    if (!readAll(error)) {
        emit message(QStringLiteral("读设备参数失败：") + friendlyError(error), true);
        return;
    }
    const QString userKey = QStringLiteral("CONFIGINFOdefault_login_user0");
    if (!paramCache_.contains(userKey)
        || !paramCache_.contains(QLatin1String("CONFIGINFOroot_login0")))
        return;
    QString user = valueText(paramCache_.value(userKey));
    if (user.isEmpty())
        user = QStringLiteral("root");
    const QJsonValue flag = paramCache_.value(QStringLiteral("CONFIGINFO%1_login0").arg(user));
    if (paramInt64(flag, 0) != 0)
        login(user, QStringLiteral("4826"), true);
    else
        login(user, QString(), false);
}

void ProcessorClient::login(const QString &user, const QString &password, bool warn)
{
    const QJsonObject request{
            {QStringLiteral("LOGIN"), QJsonObject{{QStringLiteral("user"), user},
                                                  {QStringLiteral("account"), QString()},
                                                  {QStringLiteral("pwd"), password}}}};
    QJsonObject result;
    QString error;
    if (!postJson(request, result, error, kLoginTimeoutMs, kCommandPath))
        return;
    const QString answer = valueText(result.value(QLatin1String("message")));
    if (warn && answer != QLatin1String("Valid password")
        && answer != QLatin1String("No password login required"))
        emit message(QStringLiteral("处理器要登录密码，先在设备网页里关掉登录，或告诉我密码。"),
                     true);
}

bool ProcessorClient::hasLegacyParams() const
{
    const auto value = [this](const char *templateKey, int index) {
        return paramCache_.value(paramKey(templateKey, index));
    };
    for (int k = 0; k < kLegacyChannels; ++k) {
        const int i = kLegacyFirstIndex + k;
        if (std::abs(paramDouble(value("GAINgain", i), 0.0)) > 0.05
            || paramDouble(value("DELAYtime", i), 0.0) > 0.005
            || paramDouble(value("GAINphase", i), 1.0) != 1.0)
            return true;
        for (int b = 0; b < kLegacyBands; ++b) {
            if (paramDouble(value("PEQbps", kLegacyFirstBand + kLegacyBands * k + b), 1.0) == 0.0)
                return true;
        }
    }
    return false;
}

void ProcessorClient::forceResetLegacyParams()
{
    if (!connected_)
        return;
    // Eight channels of gain, delay and polarity plus their ten EQ bypass flags: 104 keys.
    QJsonObject neutral;
    for (int k = 0; k < kLegacyChannels; ++k) {
        const int i = kLegacyFirstIndex + k;
        neutral.insert(paramKey("GAINgain", i), 0.0);
        neutral.insert(paramKey("DELAYtime", i), 0.0);
        neutral.insert(paramKey("GAINphase", i), 1);
        for (int b = 0; b < kLegacyBands; ++b)
            neutral.insert(paramKey("PEQbps", kLegacyFirstBand + kLegacyBands * k + b), 1);
    }
    QJsonObject ignored;
    QString error;
    if (!postJson(neutral, ignored, error, kLegacyResetTimeoutMs, kCommandPath)) {
        emit message(QStringLiteral("重置没成功：") + friendlyError(error), true);
        return;
    }
    mergeParams(neutral);
    emit resetFinished();
    emit message(QStringLiteral("设备已重置，可以开始用了。"), false);
}

void ProcessorClient::declineLegacyReset()
{
    disconnectDevice();
}

void ProcessorClient::disconnectDevice()
{
    watchdog_->stop();
    reconnectTimer_->stop();
    dropLiveValues();
    if (levelSocket_ && levelSocket_->state() != QAbstractSocket::UnconnectedState)
        levelSocket_->close(QWebSocketProtocol::CloseCodeNormal, QString());
    connected_ = false;
    statusLine_ = QStringLiteral("未连接");
    levelSlots_.fill(0.0);
    emit stateChanged();
    emit levelsChanged();
}

void ProcessorClient::checkLink()
{
    if (!connected_)
        return;
    if (lastActivity_ > 0
        && QDateTime::currentMSecsSinceEpoch() - lastActivity_ > kSilenceLimitMs) {
        disconnectDevice();
        setStatusLine(QStringLiteral("连接已断开"));
        emit message(QStringLiteral("和处理器断开了，重新连接一下。"), true);
        return;
    }
    if (!levelSocket_ || levelSocket_->state() != QAbstractSocket::ConnectedState)
        openLevelSocket();
    else
        levelSocket_->ping(QByteArray());
}

void ProcessorClient::refreshAll()
{
    if (!connected_)
        return;
    QString error;
    if (!readAll(error))
        emit message(QStringLiteral("读设备参数失败：") + friendlyError(error), true);
}

bool ProcessorClient::readAll(QString &error)
{
    QJsonObject everything;
    if (!postJson({{QStringLiteral("CURSOR"), QJsonObject()}}, everything, error,
                  kFullReadTimeoutMs, kCommandPath))
        return false;
    replaceCache(everything);
    return true;
}
