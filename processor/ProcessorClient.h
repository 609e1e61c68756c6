#pragma once

#include <QJsonObject>
#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>
#include <QVector>

#include <functional>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;
class QTimer;
class QUdpSocket;
class QUrl;
class QWebSocket;

// The client of the networked DSP loudspeaker processor: finds it on the network, connects and
// logs in, keeps the link alive over the level WebSocket (live meters and parameter pushes),
// and manages its presets. Every exchange is one HTTP POST of a JSON object answered by one
// JSON object; the caller waits in a local event loop, so timers, socket messages and QML calls
// keep running during a request and the client's state may change under a waiting request.
// Lives in the GUI thread.
class ProcessorClient : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool connected READ isConnected NOTIFY stateChanged)
    Q_PROPERTY(bool busy READ isBusy NOTIFY stateChanged)
    Q_PROPERTY(QString ip READ ip WRITE setIp NOTIFY ipChanged)
    Q_PROPERTY(QString deviceName READ deviceName NOTIFY stateChanged)
    Q_PROPERTY(QString statusLine READ statusLine NOTIFY stateChanged)
    Q_PROPERTY(QVariantList levelsIn READ levelsIn NOTIFY levelsChanged)
    Q_PROPERTY(QVariantList levelsOut READ levelsOut NOTIFY levelsChanged)

public:
    // One live path (a fader or an EQ point being dragged): its coalescing timer, whether a post
    // is out, and whether values are still waiting to be sent.
    struct LivePath
    {
        QTimer *timer = nullptr;
        bool inFlight = false;
        std::function<bool()> hasPending;
    };

    static constexpr int kLevelSlots = 52;

    explicit ProcessorClient(QObject *parent = nullptr);
    ~ProcessorClient() override;

    bool isConnected() const { return connected_; }
    bool isBusy() const { return busy_; }
    QString ip() const { return ip_; }
    void setIp(const QString &text);
    QString deviceName() const { return deviceName_; }
    QString statusLine() const { return statusLine_; }
    QVariantList levelsIn() const;
    QVariantList levelsOut() const;
    QString wsiQuery() const { return wsiQuery_; }
    const QJsonObject &paramCache() const { return paramCache_; }

    // Trimmed, without a leading "http://" or "https://" and without trailing "/".
    static QString normaliseIp(const QString &text);
    // A transport error text as a sentence for the user; callers put their own words before it.
    static QString friendlyError(const QString &error);

    // Synchronous POST of `request` to http://<ip><path>. True: the reply was HTTP 200 with a
    // JSON object; `result` is its "data" object when it has one, else the whole object, and
    // `whole` (when given) the whole object. False: `error` is set and nothing else changes.
    bool postJson(const QJsonObject &request, QJsonObject &result, QString &error, int timeoutMs,
                  const QString &path, QJsonObject *whole = nullptr);
    // The envelope of the preset commands: {"ok", "message"}; reply keys go into the cache.
    QVariantMap postCommand(const QJsonObject &command, const QString &successText);
    // Sends `body` without waiting (800 ms); the reply only frees the path for its next flush.
    void postLive(const QJsonObject &body, LivePath &path);

    // Stores every key of `update` in the cache and tells the channel views.
    void mergeParams(const QJsonObject &update);
    bool presetValid(int slot) const;
    // Handles one text message of the level socket: levels, WSI and parameter pushes.
    void handleLevelMessage(const QString &text);

    Q_INVOKABLE void connectToDevice();
    Q_INVOKABLE void disconnectDevice();
    Q_INVOKABLE void forceResetLegacyParams();
    Q_INVOKABLE void declineLegacyReset();
    Q_INVOKABLE void refreshAll();
    Q_INVOKABLE QVariantList discoverDevices();
    Q_INVOKABLE void discoverDevicesAsync();
    Q_INVOKABLE QVariantMap readPresets() const;
    Q_INVOKABLE QVariantMap savePreset(int slot, const QString &name);
    Q_INVOKABLE QVariantMap saveNewPreset(const QString &name);
    Q_INVOKABLE QVariantMap resetDevice();
    Q_INVOKABLE QVariantMap loadPreset(int slot);
    Q_INVOKABLE QVariantMap deletePreset(int slot);
    Q_INVOKABLE QVariantMap setStartupPreset(int slot);
    Q_INVOKABLE QVariantMap exportPreset(int slot);
    Q_INVOKABLE QVariantMap importPreset(const QString &path);

signals:
    void devicesFound(QVariantList list);
    void stateChanged();
    void channelsChanged();
    void levelsChanged();
    void ipChanged();
    void message(QString text, bool warning);
    void resetRequired();
    void resetFinished();

private:
    // The outcome of one request: the body, or an error text in the transport's words.
    struct Exchange
    {
        bool ok = false;
        QByteArray body;
        QString error;
    };
    struct DiscoveryRun;

    static QVariantMap failure(const QString &text);
    QUrl processorUrl(const QString &path, bool withWsi) const;
    QNetworkRequest commandRequest(const QString &path, int timeoutMs) const;
    Exchange waitForReply(QNetworkReply *reply, int timeoutMs);
    bool readAll(QString &error);
    void replaceCache(const QJsonObject &everything);

    void setStatusLine(const QString &text);
    void loginAndReadAll();
    void login(const QString &user, const QString &password, bool warn);
    bool hasLegacyParams() const;
    void checkLink();
    void stampActivity();

    void openLevelSocket();
    void onSocketConnected();
    void onSocketDisconnected();
    void onSocketError();
    void onReconnectTimer();
    void storeLevel(QStringView number, const QJsonValue &value);
    void storeWsi(const QJsonValue &value);

    void onUdpReadyRead(QUdpSocket *socket);
    void finishDiscovery();
    void onProbeReply(QNetworkReply *reply, const QString &candidate,
                      const QSharedPointer<DiscoveryRun> &run);
    static bool ipLessThan(const QVariant &a, const QVariant &b);
    void logDiscovery(const QString &text, bool truncate = false);

    void markPresetSaved(int slot, const QString &name);
    void keepPresetKeys(QJsonObject &imported) const;
    int firstFreeSlot(int first, int last) const;
    QVariantMap writeExport(int slot, const Exchange &file);

    // Connection and link watch.
    QString ip_;
    QString deviceName_;
    QString statusLine_;
    bool connected_ = false;
    bool busy_ = false;
    qint64 lastActivity_ = 0;
    QTimer *watchdog_ = nullptr;
    QTimer *reconnectTimer_ = nullptr;

    // Transport.
    QString wsiQuery_;
    QNetworkAccessManager *network_ = nullptr;
    QJsonObject paramCache_;

    // Discovery.
    QList<QUdpSocket *> discoverySockets_;
    QStringList udpSenders_;

    // Level socket.
    QWebSocket *levelSocket_ = nullptr;
    QVector<double> levelSlots_;
};
