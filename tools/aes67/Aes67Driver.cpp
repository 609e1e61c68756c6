// Starts chosen pieces of the network audio stack on one interface and prints, one line each,
// what they report: a tool for trying the stack against real devices and for the tests that run
// it inside a network namespace. It quits after --seconds like the program does (through the
// application's quit), so the stack's stop on quit is exercised too.
#include "audio/NetworkSink.h"
#include "audio/aes67/MdnsBrowser.h"
#include "audio/aes67/PtpClock.h"
#include "audio/aes67/RouteController.h"
#include "audio/aes67/RtspMiniServer.h"
#include "audio/aes67/SapListener.h"
#include "audio/aes67/Sdp.h"
#include "audio/aes67/Sender.h"
#include "engine/tf/generator/Generator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QNetworkInterface>
#include <QTextStream>
#include <QTimer>

using namespace audio::aes67;

namespace {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

void print(const QString &line)
{
    out() << line << Qt::endl;
}

QHostAddress firstIPv4(const QNetworkInterface &interface)
{
    for (const QNetworkAddressEntry &entry : interface.addressEntries()) {
        if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
            return entry.ip();
    }
    return QHostAddress();
}

void reportPtp()
{
    PtpClock *clock = PtpClock::instance();
    QObject::connect(clock, &PtpClock::stateChanged, [](PtpClock::State state) {
        print(QStringLiteral("ptp state %1").arg(QVariant::fromValue(state).toString()));
    });
    QObject::connect(clock, &PtpClock::grandmasterChanged, [](const QString &identity) {
        print(QStringLiteral("ptp grandmaster %1").arg(identity));
    });
}

void reportSap()
{
    SapListener *listener = SapListener::instance();
    const auto line = [](const char *what, const Aes67StreamInfo &info) {
        print(QStringLiteral("sap %1 %2 \"%3\" %4:%5 %6/%7/%8")
                      .arg(QLatin1String(what), info.key, info.sessionName,
                           info.connectionAddress.toString())
                      .arg(info.port)
                      .arg(info.encoding)
                      .arg(info.sampleRate)
                      .arg(info.channels));
    };
    QObject::connect(listener, &SapListener::streamAppeared,
                     [line](const Aes67StreamInfo &info) { line("appeared", info); });
    QObject::connect(listener, &SapListener::streamUpdated,
                     [line](const Aes67StreamInfo &info) { line("updated", info); });
    QObject::connect(listener, &SapListener::streamRemoved,
                     [line](const Aes67StreamInfo &info) { line("removed", info); });
}

void reportMdns()
{
    MdnsBrowser *browser = MdnsBrowser::instance();
    QObject::connect(browser, &MdnsBrowser::deviceAppeared, [](const MdnsDevice &device) {
        print(QStringLiteral("mdns appeared \"%1\" %2:%3")
                      .arg(device.key, device.host)
                      .arg(device.port));
    });
    QObject::connect(browser, &MdnsBrowser::deviceRemoved, [](const QString &key) {
        print(QStringLiteral("mdns removed \"%1\"").arg(key));
    });
}

// What the driver reports once a second.
struct Reports
{
    bool ptp = false;
    bool send = false;
    bool sap = false;
    bool mdns = false;
};

// Once a second: the clock's offset, path delay, rate and masters, the stream's counters, and
// the sizes of the tables that what is heard on the network fills.
void reportEverySecond(QObject *owner, const Reports &reports)
{
    auto *timer = new QTimer(owner);
    QObject::connect(timer, &QTimer::timeout, [reports] {
        PtpClock *clock = PtpClock::instance();
        if (reports.ptp)
            print(QStringLiteral("ptp offset %1 mpd %2 rate %3 syncs %4 masters %5")
                          .arg(clock->lastMedian())
                          .arg(qint64(clock->meanPathDelay()))
                          .arg(clock->rateRatio(), 0, 'f', 7)
                          .arg(clock->syncsFollowed())
                          .arg(clock->foreignMasters().size()));
        if (reports.sap)
            print(QStringLiteral("sap streams %1").arg(SapListener::instance()->streams().size()));
        if (reports.mdns)
            print(QStringLiteral("mdns instances %1 hosts %2")
                          .arg(MdnsBrowser::instance()->instanceCount())
                          .arg(MdnsBrowser::instance()->hostCount()));
        Sender *sender = Sender::instance();
        if (reports.send)
            print(QStringLiteral("send packets %1 underruns %2 dropped %3")
                          .arg(sender->packetsSent())
                          .arg(sender->underruns())
                          .arg(sender->droppedFrames()));
    });
    timer->start(1000);
}

QString stateName(qint32 state)
{
    static const char *const names[] = {"Idle", "Connecting", "Connected", "Failed"};
    return QLatin1String(state >= 0 && state < 4 ? names[state] : "?");
}

// A controller over the saved routes that prints every change; `add` ("host:port") routes the
// own stream to that device, and `remove` undoes a route: at once, or once the added one is
// connected or has failed when it is the same.
void runRoutes(QObject *owner, const QHostAddress &address, const QString &add,
               const QString &remove)
{
    auto *controller = new RouteController(nullptr, owner);
    QObject::connect(controller, &RouteController::subscriptionChanged,
                     [](const RouteSubscription &sub) {
                         print(QStringLiteral("route %1 %2 %3")
                                       .arg(sub.id, stateName(sub.state), sub.lastError)
                                       .trimmed());
                     });
    QObject::connect(controller, &RouteController::subscriptionRemoved,
                     [](const QString &id) { print(QStringLiteral("route %1 removed").arg(id)); });
    RouteSubscription sub;
    sub.streamKey = QLatin1String(ownSenderStreamKey);
    sub.deviceKey = add;
    const QString id = RouteSubscription::makeId(sub.streamKey, sub.deviceKey);
    if (!remove.isEmpty()) {
        const bool afterAdd = remove == id && !add.isEmpty();
        QObject::connect(controller, &RouteController::subscriptionChanged,
                         [controller, remove, afterAdd](const RouteSubscription &changed) {
                             if (afterAdd && changed.id == remove
                                 && changed.state != RouteSubscription::Connecting)
                                 controller->removeSubscription(remove);
                         });
        if (!afterAdd && !controller->removeSubscription(remove))
            print(QStringLiteral("route %1 unknown").arg(remove));
    }
    if (add.isEmpty())
        return;
    Sender *sender = Sender::instance();
    sub.streamName = sender->config().sessionName;
    sub.sdpText = buildSdp(sender->describe(address)).toUtf8();
    sub.deviceName = add;
    sub.deviceHost = add.section(QLatin1Char(':'), 0, -2);
    sub.deviceRtspPort = quint16(add.section(QLatin1Char(':'), -1).toUInt());
    controller->upsertSubscription(sub);
}

void playTone(Generator &generator, int hz, double gainDb, int channels)
{
    QSet<int> all;
    for (int c = 0; c < channels; ++c)
        all.insert(c);
    generator.generatorThread()->setFadeDuration(0.0f);
    generator.setType(2);
    generator.setStartFrequency(hz);
    generator.setEndFrequency(hz);
    generator.setGain(float(gainDb));
    generator.setChannels(all);
    generator.setDeviceId(QLatin1String(audio::networkOutputDeviceId));
    QTimer::singleShot(200, &generator, [&generator] { generator.setEnabled(true); });
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The program's names: routes saved by one are the other's.
    QCoreApplication::setOrganizationName(QStringLiteral("Halvo"));
    QCoreApplication::setApplicationName(QStringLiteral("测量工作流"));
    QCommandLineParser parser;
    parser.setApplicationDescription("Runs pieces of the network audio stack on an interface.");
    parser.addHelpOption();
    const QCommandLineOption interfaceOption("interface", "Network interface.", "name");
    const QCommandLineOption addressOption("address",
                                           "Local IPv4 address (default: the "
                                           "interface's first).",
                                           "ip");
    const QCommandLineOption ptpOption("ptp", "Start the PTP clock and print what it reports.");
    const QCommandLineOption sapOption("sap-listen", "List streams announced by SAP.");
    const QCommandLineOption mdnsOption("mdns-browse", "List RTSP devices found by mDNS.");
    const QCommandLineOption sendOption("send", "Start the sender: RTP, SAP, PTP and mDNS.");
    const QCommandLineOption destinationOption("destination", "RTP destination.", "ip");
    const QCommandLineOption portOption("port", "RTP port.", "port");
    const QCommandLineOption channelsOption("channels", "Stream channels.", "n");
    const QCommandLineOption nameOption("name", "Session name.", "text");
    const QCommandLineOption toneOption("tone", "Play a tone of this frequency.", "hz");
    const QCommandLineOption gainOption("gain", "Tone gain in dB (default -6).", "db", "-6");
    const QCommandLineOption rtspOption("rtsp",
                                        "Start the RTSP responder (the sender starts it too).");
    const QCommandLineOption rtspPortOption("rtsp-port", "RTSP responder port (0: any free).",
                                            "port");
    const QCommandLineOption routesOption("routes", "Restore saved routes and print changes.");
    const QCommandLineOption routeAddOption(
            "route-add", "Route the own stream to the RTSP device at host:port.", "host:port");
    const QCommandLineOption routeRemoveOption("route-remove", "Undo the route with this id.",
                                               "id");
    const QCommandLineOption secondsOption("seconds", "Quit after this long.", "s");
    parser.addOptions({interfaceOption, addressOption, ptpOption, sapOption, mdnsOption, sendOption,
                       destinationOption, portOption, channelsOption, nameOption, toneOption,
                       gainOption, rtspOption, rtspPortOption, routesOption, routeAddOption,
                       routeRemoveOption, secondsOption});
    parser.process(app);

    const QNetworkInterface interface = QNetworkInterface::interfaceFromName(
            parser.value(interfaceOption));
    const QHostAddress address = parser.isSet(addressOption)
                                         ? QHostAddress(parser.value(addressOption))
                                         : firstIPv4(interface);
    if (!interface.isValid() || address.isNull()) {
        print(QStringLiteral("error: no interface \"%1\" with an IPv4 address")
                      .arg(parser.value(interfaceOption)));
        return 2;
    }

    const bool ptp = parser.isSet(ptpOption) || parser.isSet(sendOption);
    const bool send = parser.isSet(sendOption);
    reportPtp();
    if (parser.isSet(ptpOption) && !PtpClock::instance()->start(interface))
        return 1;
    if (parser.isSet(sapOption)) {
        reportSap();
        if (!SapListener::instance()->start(interface))
            return 1;
    }
    if (parser.isSet(mdnsOption)) {
        reportMdns();
        if (!MdnsBrowser::instance()->start(interface))
            return 1;
    }
    Sender *sender = Sender::instance();
    QObject::connect(sender, &Sender::errorOccurred, [](const QString &message) {
        print(QStringLiteral("error: %1").arg(message));
    });
    QObject::connect(sender, &Sender::runningChanged, [](bool running) {
        print(QStringLiteral("send running %1").arg(running ? "on" : "off"));
    });
    RtspMiniServer *responder = RtspMiniServer::instance();
    if (parser.isSet(rtspOption) || parser.isSet(rtspPortOption)) {
        const quint16 port = parser.isSet(rtspPortOption)
                                     ? quint16(parser.value(rtspPortOption).toUInt())
                                     : responder->port();
        if (!responder->listen(address, port))
            return 1;
    }
    Generator generator(audio::Client::instance(), sender);
    if (send) {
        SenderConfig config = sender->config();
        if (parser.isSet(destinationOption))
            config.destination = QHostAddress(parser.value(destinationOption));
        if (parser.isSet(portOption))
            config.port = quint16(parser.value(portOption).toUInt());
        if (parser.isSet(channelsOption))
            config.channels = parser.value(channelsOption).toInt();
        if (parser.isSet(nameOption))
            config.sessionName = parser.value(nameOption);
        sender->setConfig(config);
        if (!sender->start(interface, address))
            return 1;
        if (parser.isSet(toneOption))
            playTone(generator, parser.value(toneOption).toInt(),
                     parser.value(gainOption).toDouble(), sender->config().channels);
    }
    if (responder->isListening())
        print(QStringLiteral("rtsp listening %1:%2")
                      .arg(address.toString())
                      .arg(responder->port()));
    if (parser.isSet(routesOption) || parser.isSet(routeAddOption)
        || parser.isSet(routeRemoveOption))
        runRoutes(&app, address, parser.value(routeAddOption), parser.value(routeRemoveOption));
    reportEverySecond(&app, {ptp, send, parser.isSet(sapOption), parser.isSet(mdnsOption)});
    if (parser.isSet(secondsOption))
        QTimer::singleShot(int(parser.value(secondsOption).toDouble() * 1000), &app,
                           &QCoreApplication::quit);
    return app.exec();
}
