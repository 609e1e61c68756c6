#pragma once

#include "audio/phone/PhoneSession.h"

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSslConfiguration>
#include <QString>
#include <QTimer>
#include <map>
#include <memory>

class QUdpSocket;
class QWebSocket;
class QWebSocketServer;

namespace audio {

struct PhoneFrame;

// The process-wide server for phones used as wireless measurement microphones. A phone finds it
// by a UDP discovery datagram, connects over WebSocket (plain or TLS), introduces itself with a
// JSON "audio-hello" and then streams 16-bit mono frames that land in its PhoneSampleRing. The
// measurement reads those rings by absolute sample index; a phone input stream reads them as a
// rate-corrected stream. Lives in the GUI thread; nothing here is locked.
//
// Creating the server starts nothing: it listens only after listen().
class AudioStreamServer : public QObject
{
    Q_OBJECT
public:
    // How much of a phone's stream its ring keeps.
    static constexpr int ringSeconds = 10;
    // A measurement listens to one phone, and a few more may be connected around it. Sixteen is
    // far above that, and holds the rings to at most 16 × 7.7 MB (10 s at 192 kHz) together:
    // a phone beyond it is refused.
    static constexpr int maxSessions = 16;
    // A phone sends its hello as soon as it is connected, so hardly ever are two connections
    // waiting for one. Beyond sixteen the one that has waited longest is closed: a flood of
    // silent connections then cannot keep a phone out, nor take the process's file handles.
    static constexpr int maxPendingSockets = 16;

    static AudioStreamServer *instance();
    ~AudioStreamServer() override;

    // Starts the plain WebSocket server on `wsPort`, the TLS one on `wssPort` and the discovery
    // socket on `discoveryPort`, all on `address`; port 0 takes a free one. The TLS server stays
    // off (and the announce says "wss":0) unless `tls` carries a certificate and its key.
    // Fails, leaving nothing open, when something is already listening or a port is taken.
    bool listen(const QHostAddress &address, quint16 wsPort, quint16 wssPort, quint16 discoveryPort,
                const QSslConfiguration &tls = QSslConfiguration());
    bool isListening() const;
    // The bound ports; 0 for what is not listening.
    quint16 wsPort() const;
    quint16 wssPort() const;
    quint16 discoveryPort() const;
    // Closes every session and connection and stops listening.
    void stop();

    // Reads for the measurement: by absolute sample index.
    bool hasClient(const QString &id) const;
    quint32 sampleRate(const QString &id) const;
    qint64 lastPacketTime(const QString &id) const;
    quint64 writeIndex(const QString &id) const;
    // 0 copied; 1 not written yet (or not started, or count < 1); 2 overwritten or no such
    // phone; 3 the range crosses a zero-filled gap.
    int read(const QString &id, quint64 start, qint64 count, float *out) const;

    // Reads for a phone input stream: the unread part of the ring as a stream.
    qint64 available(const QString &id) const;
    void consume(const QString &id, qint64 keep);
    qint64 readResampled(const QString &id, float *out, qint64 maxOut, double ratio, double *phase);
    QList<PhoneClientInfo> clients() const;

    // A connected phone's session with its counters, for diagnostics; null when not connected.
    // Valid until the session closes.
    const PhoneSession *session(const QString &id) const;
    // Sockets still tracked, pending or with a session.
    qsizetype trackedSocketCount() const;

public slots:
    void logStats();

signals:
    void clientConnected(QString id);
    void clientDisconnected(QString id);
    // `data` is valid only during the emission.
    void samplesAppended(QString id, const float *data, qlonglong count);

private:
    AudioStreamServer();

    void onNewConnection(QWebSocketServer *server);
    void closeLongestPending();
    void onDiscoveryReadyRead();
    QByteArray announce() const;
    void onTextMessage(QWebSocket *socket, const QString &message);
    void onBinaryMessage(QWebSocket *socket, const QByteArray &message);
    void onDisconnected(QWebSocket *socket);
    bool isTracked(QWebSocket *socket) const;
    bool refusesNewSession(const QString &id) const;
    PhoneSession *sessionOf(QWebSocket *socket) const;
    void acceptFrame(PhoneSession &session, const PhoneFrame &frame);
    void countSequence(PhoneSession &session, quint32 seq);
    void countSampleIndex(PhoneSession &session, quint64 sampleIndex, quint32 sampleCount);
    // Takes the id by value: callers may pass a reference into the session map.
    void closeSession(QString id, const QString &reason);
    void closeSocket(QWebSocket *socket);
    bool startTls(const QHostAddress &address, quint16 port, const QSslConfiguration &tls);

    QWebSocketServer *plainServer_ = nullptr;
    QWebSocketServer *tlsServer_ = nullptr;
    QUdpSocket *discoverySocket_ = nullptr;
    QTimer statsTimer_; // a child, so that it moves with the server to the GUI thread
    std::map<QString, std::unique_ptr<PhoneSession>> sessions_;
    QHash<QWebSocket *, QString> socketIds_;
    QList<QWebSocket *> pendingSockets_;
    QList<float> frameSamples_;
};

} // namespace audio
