#pragma once

#include "processor/ChannelState.h"

#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QMap>
#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantList>
#include <QVariantMap>
#include <QVector>

#include <array>
#include <functional>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;
class QTimer;
class QUdpSocket;
class QUrl;
class QWebSocket;
struct ProcessorEqList;

// The client of the networked DSP loudspeaker processor: finds it on the network, connects and
// logs in, keeps the link alive over the level WebSocket (live meters and parameter pushes),
// manages its presets, and keeps a copy of the processor's parameters with the channel model the
// panel shows (gain, delay, mute, polarity, routing and a predicted EQ curve per channel). Every
// exchange is one HTTP POST of a JSON object answered by one JSON object; the caller waits in a
// local event loop, so timers, socket messages and QML calls keep running during a request and
// the client's state may change under a waiting request. Lives in the GUI thread.
class ProcessorClient : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool connected READ isConnected NOTIFY stateChanged)
    Q_PROPERTY(bool busy READ isBusy NOTIFY stateChanged)
    Q_PROPERTY(QString ip READ ip WRITE setIp NOTIFY ipChanged)
    Q_PROPERTY(QString deviceName READ deviceName NOTIFY stateChanged)
    Q_PROPERTY(QString statusLine READ statusLine NOTIFY stateChanged)
    Q_PROPERTY(QVariantList inputs READ inputs NOTIFY channelsChanged)
    Q_PROPERTY(QVariantList outputs READ outputs NOTIFY channelsChanged)
    Q_PROPERTY(QVariantList levelsIn READ levelsIn NOTIFY levelsChanged)
    Q_PROPERTY(QVariantList levelsOut READ levelsOut NOTIFY levelsChanged)
    // Where exported preset files are written (the desktop), as a URL for the file dialogs.
    Q_PROPERTY(QUrl presetFolder READ presetFolder CONSTANT)

public:
    // One live path (a fader or an EQ point being dragged): its coalescing timer, whether a post
    // is out, whether values are still waiting to be sent, and for each key sent but not yet
    // taken by the processor the value it held before (undefined where the cache had none).
    struct LivePath
    {
        QTimer *timer = nullptr;
        bool inFlight = false;
        std::function<bool()> hasPending;
        QHash<QString, QJsonValue> confirmed;
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
    QVariantList inputs() const { return channelList(false); }
    QVariantList outputs() const { return channelList(true); }
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
    // postJson of a command or a write to "/test.fcgi": a reply that refuses it ("status":
    // "error", inside "data" or beside it) is a failure too, with the error "设备没接受这条操作。".
    bool postAccepted(const QJsonObject &request, QJsonObject &result, QString &error,
                      int timeoutMs);
    // The envelope of the preset commands: {"ok", "message"}; reply keys go into the cache.
    QVariantMap postCommand(const QJsonObject &command, const QString &successText);
    // Puts `body` into the cache and sends it without waiting (800 ms). The reply frees the path
    // for its next flush; where the processor did not take the values, the cache and the
    // channels get back what it held before, and a value it held none of leaves the cache.
    void postLive(const QJsonObject &body, LivePath &path);

    // Stores every key of `update` in the cache, takes the channel fields it names, recomputes
    // the routes from the whole cache, rebuilds the EQ curves its keys touch and tells the views.
    void mergeParams(const QJsonObject &update);
    // The one step of every full read (connect, refresh, preset import): the cache becomes
    // `everything`, every channel takes its fields and its EQ curve from it (a field it does not
    // hold shows as on a channel never read), then one signal.
    void replaceCache(const QJsonObject &everything);
    // The channel maps the panel shows: inputs A to D, or outputs 1 to 8.
    QVariantList channelList(bool isOut) const;
    // The one write path of the channel, EQ and dynamics settings: {"ok", "message"}. On success
    // the object that was sent is merged; a failed write changes nothing.
    QVariantMap writeParams(const QJsonObject &params);
    // The predicted EQ curve of one channel, from the cached bands and corners.
    void rebuildEqResponse(bool isOut, int idx);
    // Corner filter name ("lr24", "butter18", "bessel6"...) to the processor's corner type; -1
    // for a name it has no type for.
    static int filterTypeCode(const QString &name);
    // Writes a whole EQ scheme (up to 15 enabled bands and both corners) into one channel in a
    // single request: {"ok", "message"} and, on success, "truncated". A value that is not a
    // finite number goes as 0.
    QVariantMap uploadEqScheme(bool isOut, int idx, const ProcessorEqList &list);
    // The same of the list's map form (ProcessorEqList::fromMaps).
    QVariantMap uploadEqScheme(bool isOut, int idx, const QVariantList &filters,
                               const QVariantMap &hpf, const QVariantMap &lpf);
    bool presetValid(int slot) const;
    bool presetKnown(int slot) const;
    // Handles one text message of the level socket: levels, WSI and parameter pushes.
    void handleLevelMessage(const QString &text);

    Q_INVOKABLE void connectToDevice();
    Q_INVOKABLE void disconnectDevice();
    Q_INVOKABLE void forceResetLegacyParams();
    Q_INVOKABLE void declineLegacyReset();
    Q_INVOKABLE void refreshAll();
    Q_INVOKABLE QVariantList discoverDevices();
    Q_INVOKABLE void discoverDevicesAsync();
    Q_INVOKABLE void setChannelGain(bool isOut, int idx, double db);
    // Follows a dragged fader: values are coalesced and posted without waiting.
    Q_INVOKABLE void setChannelGainLive(bool isOut, int idx, double db);
    Q_INVOKABLE void setChannelMute(bool isOut, int idx, bool muted);
    Q_INVOKABLE void setChannelPhase(bool isOut, int idx, bool normal);
    Q_INVOKABLE void setChannelDelay(bool isOut, int idx, double ms);
    Q_INVOKABLE void setRoute(int outIdx, int inIdx, bool on);
    Q_INVOKABLE QVariantMap readDynamics(int spkIdx) const;
    Q_INVOKABLE QVariantMap writeDynamics(int spkIdx, const QVariantMap &values);
    // The dynamics page's design from the loudspeaker's and the amplifier's ratings and the
    // compressor curve it draws (DynamicsDesign.h).
    Q_INVOKABLE QVariantMap designDynamics(const QVariantMap &ratings) const;
    Q_INVOKABLE double compressedLevel(double inputDb, double thresholdDb, double kneeDb,
                                       double ratio) const;
    Q_INVOKABLE QVariantMap readEqChannel(bool isOut, int idx) const;
    Q_INVOKABLE QVariantMap setEqBand(bool isOut, int idx, int band, const QVariantMap &v);
    // Follows a dragged EQ point: coalesced per key and posted without waiting.
    Q_INVOKABLE void setEqBandLive(bool isOut, int idx, int band, const QVariantMap &v);
    Q_INVOKABLE QVariantMap setEqFilter(bool isOut, int idx, bool highPass, const QVariantMap &v);
    Q_INVOKABLE QVariantMap readPresets() const;
    Q_INVOKABLE QVariantMap savePreset(int slot, const QString &name);
    Q_INVOKABLE QVariantMap saveNewPreset(const QString &name);
    Q_INVOKABLE QVariantMap resetDevice();
    Q_INVOKABLE QVariantMap loadPreset(int slot);
    Q_INVOKABLE QVariantMap deletePreset(int slot);
    Q_INVOKABLE QVariantMap setStartupPreset(int slot);
    Q_INVOKABLE QVariantMap exportPreset(int slot);
    QUrl presetFolder() const;
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
    struct ConsoleProbe;

    static QVariantMap failure(const QString &text);
    QUrl processorUrl(const QString &path, bool withWsi) const;
    QNetworkRequest commandRequest(const QString &path, int timeoutMs) const;
    // Closes the reply's connection once its body grows beyond `limit` bytes (a log line says
    // so); its exchange then fails with a text for the user.
    static QNetworkReply *limited(QNetworkReply *reply, qint64 limit);
    Exchange waitForReply(QNetworkReply *reply, int timeoutMs);
    // The outcome of a finished reply, which is released.
    static Exchange takeExchange(QNetworkReply *reply);
    static bool endsBeforeAnnouncedLength(QNetworkReply *reply, const QByteArray &body);
    void settleLive(const QJsonObject &body, LivePath &path, bool taken);
    bool readAll(QString &error);

    ChannelState &channel(bool isOut, int idx);
    // mergeParams of `update`, which also drops the keys of `dropped` from the cache; the fields
    // they name show as on a channel never read. One signal for both.
    void changeParams(const QJsonObject &update, const QStringList &dropped);
    void takeChannelFields(const QJsonObject &update, const QStringList &dropped);
    void recomputeRoutes();
    // writeParams, and a failed write said through `message` as well, for the views that show
    // what the processor refused.
    QVariantMap writeOrWarn(const QJsonObject &params);
    void scheduleLiveFlush(LivePath &path, void (ProcessorClient::*flush)());
    void flushLiveGain();
    void flushLiveEqBand();
    void dropLiveValues();

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
    void askForConsolePage(const QUrl &page, const ConsoleProbe &probe);
    void onProbeReply(QNetworkReply *reply, ConsoleProbe probe);
    void endConsoleProbe(const QSharedPointer<DiscoveryRun> &run);
    static bool ipLessThan(const QVariant &a, const QVariant &b);
    void logDiscovery(const QString &text, bool truncate = false);

    QString storedName(int slot) const;
    QString unknownSlotText(int slot) const;
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

    // Parameters and the channel model.
    QJsonObject paramCache_;
    QList<ChannelState> inputChannels_;
    QList<ChannelState> outputChannels_;
    // Index out·4 + in: true when input `in` feeds output `out`.
    std::array<bool, 32> routeMatrix_{};

    // Live paths: the newest gain per parameter index, and the newest value per EQ key.
    QMap<int, double> pendingGains_;
    QJsonObject pendingEqKeys_;
    LivePath gainPath_;
    LivePath eqPath_;

    // Discovery.
    QList<QUdpSocket *> discoverySockets_;
    QStringList udpSenders_;

    // Level socket.
    QWebSocket *levelSocket_ = nullptr;
    QVector<double> levelSlots_;
};
