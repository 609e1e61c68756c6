#include "audio/aes67/DnsMessage.h"
#include "audio/aes67/MdnsBrowser.h"
#include "audio/aes67/PtpClock.h"
#include "audio/aes67/RtpPacket.h"
#include "audio/aes67/SapListener.h"
#include "audio/aes67/SapPacket.h"
#include "audio/aes67/SavedRoutes.h"
#include "audio/aes67/Sdp.h"
#include "tests/audio/LogCapture.h"
#include "tests/support/TestMain.h"

#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <limits>

using namespace audio::aes67;

namespace {

// CRC-16/X-25 (reflected polynomial 0x8408, initial 0xFFFF, final XOR 0xFFFF), written from the
// checksum's definition: "123456789" gives 0x906E.
quint16 crc16x25(const QByteArray &data)
{
    quint16 crc = 0xFFFF;
    for (const char byte : data) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1;
    }
    return crc ^ 0xFFFF;
}

const QByteArray sdp = "v=0\r\no=- 77 1 IN IP4 169.254.77.2\r\ns=Desk\r\nc=IN IP4 239.69.1.9/32\r\n"
                       "t=0 0\r\nm=audio 5004 RTP/AVP 96\r\na=rtpmap:96 L24/48000/2\r\n";

QByteArray sapHeader(quint8 flags, int authWords = 0)
{
    QByteArray h(8 + 4 * authWords, '\0');
    h[0] = char(flags);
    h[1] = char(authWords);
    h[3] = 0x2A; // hash 42
    h[4] = char(169), h[5] = char(254), h[6] = 77, h[7] = 2;
    return h;
}

QString runPeer(const QStringList &args)
{
    QProcess peer;
    peer.start("/usr/bin/python3", QStringList{QFINDTESTDATA("mdns_peer.py")} + args);
    peer.waitForFinished(30000);
    return QString::fromUtf8(peer.readAllStandardOutput()).trimmed();
}

QString settingsText(QSettings &settings)
{
    settings.sync();
    QFile file(settings.fileName());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

// What the stack reads and writes without a network: meta types, the saved routes layout, SDP,
// SAP packets and the listener's table, and mDNS records against python3-zeroconf.
class CodecsTest : public QObject
{
    Q_OBJECT

private slots:
    void valueTypesTravelUnderTheirQualifiedNames()
    {
        registerMetaTypes();
        qRegisterMetaType<PtpClock::State>();
        for (const char *name : {"audio::aes67::Aes67StreamInfo", "audio::aes67::RouteSubscription",
                                 "audio::aes67::MdnsDevice", "audio::aes67::rtsp::Response",
                                 "audio::aes67::PtpClock::State"})
            QVERIFY2(QMetaType::fromName(name).isValid(), name);
        const Aes67StreamInfo fresh;
        QCOMPARE(fresh.payloadType, -1);
        QCOMPARE(fresh.channels, 0);
        QCOMPARE(fresh.direction, QStringLiteral("sendrecv"));
        QVERIFY(!fresh.hasAudio);
    }

    void savedRoutesLayout()
    {
        QSettings settings("Halvo", "测量工作流");
        RouteTable table;
        RouteSubscription a;
        a.streamKey = "4711@169.254.77.2";
        a.deviceKey = "Desk 1";
        a.id = RouteSubscription::makeId(a.streamKey, a.deviceKey);
        a.streamName = "Desk";
        a.sdpText = sdp;
        a.deviceHost = "169.254.77.2";
        a.deviceRtspPort = 8554;
        a.state = RouteSubscription::Connected;
        table.insert(a.id, a);
        saveSubscriptions(settings, table);
        const QString text = settingsText(settings);
        QVERIFY2(text.contains("[AES67Routes]\n"), qPrintable(text));
        QVERIFY(text.contains("Subscriptions\\1\\streamKey=4711@169.254.77.2\n"));
        QVERIFY(text.contains("Subscriptions\\1\\deviceRtspPort=8554\n"));
        QVERIFY(text.contains("Subscriptions\\1\\sdpText=\"v=0\\r\\no=- 77 1 IN IP4"));
        QVERIFY(text.contains("Subscriptions\\size=1\n"));
        QVERIFY(!text.contains("state"));

        // Written by hand as a user's file would hold it: a duplicate (the later wins) and an
        // element without a device.
        settings.remove("AES67Routes");
        settings.sync();
        QFile file(settings.fileName());
        QVERIFY(file.open(QIODevice::Append));
        file.write("[AES67Routes]\n"
                   "Subscriptions\\1\\streamKey=local-sender\nSubscriptions\\1\\deviceKey=A\n"
                   "Subscriptions\\1\\deviceName=old\n"
                   "Subscriptions\\2\\streamKey=local-sender\nSubscriptions\\2\\deviceKey=\n"
                   "Subscriptions\\3\\streamKey=local-sender\nSubscriptions\\3\\deviceKey=A\n"
                   "Subscriptions\\3\\deviceName=new\nSubscriptions\\3\\deviceRtspPort=9000\n"
                   "Subscriptions\\3\\sdpText=\"v=0\\r\\n\"\n"
                   "Subscriptions\\size=3\n");
        file.close();
        QSettings reread("Halvo", "测量工作流");
        const RouteTable loaded = loadSubscriptions(reread);
        QCOMPARE(loaded.size(), 1);
        const RouteSubscription sub = loaded.value("local-sender|A");
        QCOMPARE(sub.id, QStringLiteral("local-sender|A"));
        QCOMPARE(sub.deviceName, QStringLiteral("new"));
        QCOMPARE(sub.deviceRtspPort, quint16(9000));
        QCOMPARE(sub.sdpText, QByteArray("v=0\r\n"));
        QCOMPARE(sub.state, qint32(RouteSubscription::Idle));
        QVERIFY(sub.pendingRestore);
    }

    void sdpOfTheOwnStream()
    {
        StreamDescription d;
        d.sourceAddress = QHostAddress("169.254.77.1");
        d.destinationAddress = QHostAddress("239.69.1.1");
        d.sessionId = 1234567;
        QCOMPARE(buildSdp(d),
                 QStringLiteral("v=0\r\no=- 1234567 1 IN IP4 169.254.77.1\r\ns=Pelmar\r\n"
                                "c=IN IP4 239.69.1.1/32\r\nt=0 0\r\nm=audio 5004 RTP/AVP 96\r\n"
                                "a=sendonly\r\na=rtpmap:96 L24/48000/2\r\na=ptime:1\r\n"
                                "a=ts-refclk:ptp=traceable\r\na=mediaclk:direct=0\r\n"));
        d.grandmasterIdentity = "02-AA-AA-FF-FE-00-00-01";
        d.domain = 3;
        d.channels = 8;
        const QString locked = buildSdp(d);
        QVERIFY(locked.contains("a=ts-refclk:ptp=IEEE1588-2008:02-AA-AA-FF-FE-00-00-01:3\r\n"));
        QVERIFY(locked.contains("a=rtpmap:96 L24/48000/8\r\n"));
        d.sessionId = 0;
        QSet<QString> ids;
        for (int i = 0; i < 5; ++i)
            ids.insert(buildSdp(d).section(' ', 1, 1));
        QVERIFY(ids.size() > 1);
        const Aes67StreamInfo read = parseSdp(locked);
        QCOMPARE(read.originAddress, QStringLiteral("169.254.77.1"));
        QCOMPARE(read.channels, 8);
        QCOMPARE(read.tsRefclk, QStringLiteral("ptp=IEEE1588-2008:02-AA-AA-FF-FE-00-00-01:3"));
    }

    void sdpReading_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected"); // name|connection|ttl|port|pt|enc|rate|ch|ptime|dir
        QTest::newRow("typical") << QString::fromLatin1(sdp + "a=ptime:0.125\r\na=recvonly\r\n")
                                 << "Desk|239.69.1.9|32|5004|96|L24|48000|2|0.125|recvonly";
        QTest::newRow("two session names: the first") << "v=0\ns=\ns=A\ns=B\n"
                                                      << "A||0|0|-1||0|0|0|sendrecv";
        QTest::newRow("IP6 connection") << "c=IN IP6 ff0e::1\nm=audio 5006 RTP/AVP 97\n"
                                        << "||0|5006|97||0|0|0|sendrecv";
        QTest::newRow("a later rtpmap of another type")
                << "m=audio 5004 RTP/AVP 96\na=rtpmap:96 L24/48000/8\na=rtpmap:97 L16/44100/2\n"
                << "||0|5004|96|L24|48000|8|0|sendrecv";
        QTest::newRow("rtpmap without channels")
                << "m=audio 5004 RTP/AVP 96\na=rtpmap:96 L24/48000\n"
                << "||0|5004|96|L24|48000|1|0|sendrecv";
        QTest::newRow("malformed lines skipped") << "x\n=v\nc=IN\nm=video 1 RTP/AVP 96\nS=Z\n"
                                                 << "||0|0|-1||0|0|0|sendrecv";
    }

    void sdpReading()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        const Aes67StreamInfo i = parseSdp(text);
        const QStringList got = {i.sessionName,
                                 i.connectionAddress.toString(),
                                 QString::number(i.ttl),
                                 QString::number(i.port),
                                 QString::number(i.payloadType),
                                 i.encoding,
                                 QString::number(i.sampleRate),
                                 QString::number(i.channels),
                                 QString::number(i.ptime),
                                 i.direction};
        QCOMPARE(got.join('|'), expected);
    }

    void sapPackets_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<bool>("deletion");
        const QByteArray payload = "application/sdp" + QByteArray(1, '\0') + sdp;
        QTest::newRow("announcement 0x20") << sapHeader(0x20) + payload << true << false;
        QTest::newRow("deletion 0x24") << sapHeader(0x24) + payload << true << true;
        QTest::newRow("reserved bit ignored") << sapHeader(0x28) + payload << true << false;
        QTest::newRow("bare SDP payload") << sapHeader(0x20) + sdp << true << false;
        QTest::newRow("authentication skipped") << sapHeader(0x20, 2) + payload << true << false;
        QTest::newRow("7 bytes") << sapHeader(0x20).left(7) << false << false;
        QTest::newRow("shorter than its authentication")
                << sapHeader(0x20, 2).left(15) << false << false;
        QTest::newRow("IPv6 origin (A bit)") << sapHeader(0x30) + payload << false << false;
        QTest::newRow("version 0") << sapHeader(0x00) + payload << false << false;
        QTest::newRow("encrypted") << sapHeader(0x22) + payload << false << false;
        QTest::newRow("compressed") << sapHeader(0x21) + payload << false << false;
        QTest::newRow("empty payload") << sapHeader(0x20) << false << false;
        QTest::newRow("SDP not starting v=0")
                << sapHeader(0x20) + "application/sdp" + QByteArray(1, '\0') + "s=x\r\n"
                << false << false;
        QTest::newRow("another media type")
                << sapHeader(0x20) + "application/xyz" + QByteArray(1, '\0') + sdp << false
                << false;
    }

    void sapPackets()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(bool, valid);
        QFETCH(bool, deletion);
        const SapPacket p = parseSapPacket(datagram);
        QCOMPARE(p.valid, valid);
        if (!valid)
            return;
        QCOMPARE(p.deletion, deletion);
        QCOMPARE(p.messageHash, quint16(42));
        QCOMPARE(p.origin, QHostAddress("169.254.77.2"));
        QCOMPARE(p.sdp, sdp);
    }

    void sapPacketsWritten()
    {
        const QByteArray a = buildSapPacket(false, 0, QHostAddress("169.254.77.1"), sdp);
        const QByteArray d = buildSapPacket(true, 0, QHostAddress("169.254.77.1"), sdp);
        QCOMPARE(quint8(a.at(0)), quint8(0x20));
        QCOMPARE(quint8(d.at(0)), quint8(0x24));
        QCOMPARE(a.mid(4, 4), QByteArray::fromHex("a9fe4d01"));
        QCOMPARE(a.mid(8), "application/sdp" + QByteArray(1, '\0') + sdp);
    }

    void listenerTable()
    {
        QCOMPARE(crc16x25("123456789"), quint16(0x906E));
        SapListener *listener = SapListener::instance();
        QSignalSpy appeared(listener, &SapListener::streamAppeared);
        QSignalSpy updated(listener, &SapListener::streamUpdated);
        QSignalSpy removed(listener, &SapListener::streamRemoved);
        const auto packet = [](bool deletion, quint16 hash, const QByteArray &text) {
            return parseSapPacket(
                    buildSapPacket(deletion, hash, QHostAddress("169.254.77.2"), text));
        };
        const QString hashKey = QStringLiteral("%1@169.254.77.2").arg(crc16x25(sdp));
        listener->handlePacket(packet(false, 0, sdp), 1000);
        QCOMPARE(appeared.count(), 1);
        const Aes67StreamInfo first = appeared.at(0).at(0).value<Aes67StreamInfo>();
        QCOMPARE(first.key, hashKey);
        QCOMPARE(first.messageHash, 0);
        QCOMPARE(first.sessionName, QStringLiteral("Desk"));
        QCOMPARE(first.firstSeenMs, 1000);

        // Only the packet time changed: the table keeps the old SDP and says nothing.
        QByteArray ptime = sdp + "a=ptime:4\r\n";
        listener->handlePacket(
                parseSapPacket(buildSapPacket(false, 9, QHostAddress("169.254.77.2"), sdp)), 1500);
        listener->handlePacket(packet(false, 9, ptime), 2000);
        QCOMPARE(appeared.count(), 2);
        QCOMPARE(updated.count(), 0);
        QByteArray renamed = sdp;
        renamed.replace("s=Desk", "s=Stage");
        listener->handlePacket(packet(false, 9, renamed), 3000);
        QCOMPARE(updated.count(), 1);
        const Aes67StreamInfo changed = updated.at(0).at(0).value<Aes67StreamInfo>();
        QCOMPARE(changed.sessionName, QStringLiteral("Stage"));
        QCOMPARE(changed.lastSeenMs, 3000);
        QCOMPARE(changed.firstSeenMs, 1500);

        listener->handlePacket(packet(true, 0, "v=0\r\nunknown"), 4000); // unknown: nothing
        listener->handlePacket(SapPacket{false, 5, QHostAddress(), sdp, true}, 4000); // no origin
        QCOMPARE(listener->streams().size(), 2);
        listener->handlePacket(packet(true, 0, sdp), 5000);
        listener->handlePacket(packet(true, 9, renamed), 5000);
        QCOMPARE(removed.count(), 2);
        QCOMPARE(removed.at(0).at(0).value<Aes67StreamInfo>().key, hashKey);
        QVERIFY(listener->streams().isEmpty());
    }

    void listenerAgesStreamsOut()
    {
        // Ten announcement intervals without an announcement, at most an hour (RFC 2974); the
        // copy of an announcement sent to the other group is no interval.
        SapListener *listener = SapListener::instance();
        QSignalSpy removed(listener, &SapListener::streamRemoved);
        const auto announce = [listener](quint16 hash, qint64 atMs) {
            listener->handlePacket(
                    parseSapPacket(buildSapPacket(false, hash, QHostAddress("169.254.77.2"), sdp)),
                    atMs);
        };
        const qint64 start = 1'700'000'000'000;
        announce(1, start); // every 30 s
        announce(1, start + 30'000);
        announce(1, start + 30'000 + 1);
        announce(2, start); // once
        announce(3, start); // every 10 min
        announce(3, start + 600'000);
        const auto listed = [listener] {
            QStringList keys;
            for (const Aes67StreamInfo &info : listener->streams())
                keys << info.key.section('@', 0, 0);
            return keys;
        };
        listener->expire(start + 30'001 + 300'000);
        QCOMPARE(listed(), QStringList({"1", "2", "3"}));
        listener->expire(start + 30'001 + 300'001);
        QCOMPARE(listed(), QStringList({"2", "3"}));
        QCOMPARE(removed.count(), 1);
        QCOMPARE(removed.at(0).at(0).value<Aes67StreamInfo>().key,
                 QStringLiteral("1@169.254.77.2"));
        listener->expire(start + SapListener::longestTimeoutMs + 1);
        QCOMPARE(listed(), QStringList({"3"}));
        listener->expire(start + 600'000 + SapListener::longestTimeoutMs);
        QCOMPARE(listed(), QStringList({"3"}));
        listener->expire(start + 600'000 + SapListener::longestTimeoutMs + 1);
        QVERIFY(listener->streams().isEmpty());
        QCOMPARE(removed.count(), 3);
    }

    void listenerTableIsBounded()
    {
        SapListener *listener = SapListener::instance();
        QSignalSpy removed(listener, &SapListener::streamRemoved);
        LogCapture log;
        for (int n = 1; n <= 1100; ++n)
            listener->handlePacket(parseSapPacket(buildSapPacket(
                                           false, quint16(n), QHostAddress("169.254.77.2"), sdp)),
                                   n);
        QCOMPARE(listener->streams().size(), SapListener::maxStreams);
        QCOMPARE(removed.count(), 1100 - SapListener::maxStreams);
        QCOMPARE(removed.first().at(0).value<Aes67StreamInfo>().key,
                 QStringLiteral("1@169.254.77.2"));
        QCOMPARE(removed.last().at(0).value<Aes67StreamInfo>().key,
                 QStringLiteral("76@169.254.77.2"));
        QCOMPARE(log.lines().filter("[SapListener] more than 1024 announced streams").size(), 1);
        listener->expire(std::numeric_limits<qint64>::max() / 2);
        QVERIFY(listener->streams().isEmpty());
    }

    void rtpPacketOfL24Samples()
    {
        // Two frames of three stream channels from ring frames of eight slots, of which the
        // source wrote two: the third channel is silence whatever its slot holds.
        const float inf = std::numeric_limits<float>::infinity();
        const float nan = std::numeric_limits<float>::quiet_NaN();
        const float frames[16]
                = {0.5f, -0.25f, 9.0f, 0, 0, 0, 0, 0, 2.0f, nan, -inf, 0, 0, 0, 0, 0};
        char packet[maxRtpPacketBytes];
        const int size = writeRtpPacket(packet, {0xABCD, 0x01020304, 0xCAFEF00D}, frames, 2, 3, 2);
        QCOMPARE(size, 12 + 2 * 3 * 3);
        QCOMPARE(QByteArray(packet, size).toHex(' '),
                 QByteArray("80 60 ab cd 01 02 03 04 ca fe f0 0d "
                            "40 00 00 e0 00 00 00 00 00 " // 0.5, -0.25, silence
                            "7f ff ff 00 00 00 00 00 00")); // clamped, NaN, silence
        float extremes[16] = {-1.0f, -2.0f, inf, 1.0f / 8388608.0f};
        writeRtpPacket(packet, {}, extremes, 1, 4, 4);
        QCOMPARE(QByteArray(packet + 12, 12).toHex(' '),
                 QByteArray("80 00 00 80 00 00 00 00 00 00 00 01"));
        QCOMPARE(rtpTimestampAt(1'000'000'000), quint32(48000));
        QCOMPARE(rtpTimestampAt(89'478'485'333'334), quint32(0)); // 2^32 samples later: wrapped
    }

    void mdnsRecordsFromZeroconf()
    {
        // zeroconf writes with name compression; we must read what it wrote.
        dns::Message message;
        QVERIFY(dns::parse(QByteArray::fromHex(runPeer({"encode"}).toLatin1()), message));
        QVERIFY(message.response);
        QCOMPARE(message.records.size(), 4);
        MdnsBrowser *browser = MdnsBrowser::instance();
        QSignalSpy appeared(browser, &MdnsBrowser::deviceAppeared);
        QSignalSpy removed(browser, &MdnsBrowser::deviceRemoved);
        browser->handleMessage(message, 0);
        QCOMPARE(appeared.count(), 1);
        const MdnsDevice device = appeared.at(0).at(0).value<MdnsDevice>();
        QCOMPARE(device.key, QStringLiteral("Desk 1 (Stage)"));
        QCOMPARE(device.host, QStringLiteral("169.254.77.9"));
        QCOMPARE(device.port, quint16(8554));
        QCOMPARE(device.serviceType, QStringLiteral("_rtsp._tcp"));
        QCOMPARE(device.txt.value("model"), QStringLiteral("X32-AE"));
        QVERIFY(device.txt.contains("path"));
        browser->handleMessage(message, 1000); // the same again: no news
        QCOMPARE(appeared.count(), 1);
        browser->expire(120'000); // the pointer lives 4500 s
        QCOMPARE(browser->devices().size(), 1);
        browser->expire(4'501'000);
        QCOMPARE(removed.count(), 1);
        QCOMPARE(removed.at(0).at(0).toString(), QStringLiteral("Desk 1 (Stage)"));

        // A goodbye (time to live 0) removes at once.
        browser->handleMessage(message, 0);
        for (dns::Record &r : message.records)
            r.ttl = 0;
        browser->handleMessage(message, 1);
        QCOMPARE(removed.count(), 2);
        QVERIFY(browser->devices().isEmpty());
    }

    void mdnsHostsLiveTheirTimeToLive()
    {
        MdnsBrowser *browser = MdnsBrowser::instance();
        dns::Record a;
        a.name = dns::nameFromText("desk-2.local");
        a.type = dns::A;
        a.ttl = 120;
        a.address = QHostAddress("169.254.77.7");
        dns::Message message;
        message.response = true;
        message.records = {a};
        browser->handleMessage(message, 5000);
        QCOMPARE(browser->hostCount(), 1);
        browser->expire(5000 + 119'999);
        QCOMPARE(browser->hostCount(), 1);
        browser->expire(5000 + 120'000);
        QCOMPARE(browser->hostCount(), 0);
        browser->handleMessage(message, 200'000);
        message.records.first().ttl = 0; // goodbye
        browser->handleMessage(message, 200'001);
        QCOMPARE(browser->hostCount(), 0);
    }

    void mdnsTablesAreBounded()
    {
        // Spoofed answers naming ever new services and hosts.
        MdnsBrowser *browser = MdnsBrowser::instance();
        LogCapture log;
        const dns::Name service = dns::nameFromText("_rtsp._tcp.local");
        for (int n = 0; n < 1100; ++n) {
            dns::Record ptr, a;
            ptr.name = service, ptr.type = dns::PTR, ptr.ttl = 4500;
            ptr.target = dns::Name{QStringLiteral("Spoof %1").arg(n)} + service;
            a.name = dns::nameFromText(QStringLiteral("spoof-%1.local").arg(n));
            a.type = dns::A, a.ttl = 120, a.address = QHostAddress(quint32(0xA9FE0000 + n));
            dns::Message message;
            message.response = true;
            message.records = {ptr, a};
            browser->handleMessage(message, n);
        }
        QCOMPARE(browser->instanceCount(), MdnsBrowser::maxInstances);
        QCOMPARE(browser->hostCount(), MdnsBrowser::maxHosts);
        QCOMPARE(log.lines().filter("[MdnsBrowser] more than 1024 service instances").size(), 1);
        QCOMPARE(log.lines().filter("[MdnsBrowser] more than 1024 host addresses").size(), 1);
        browser->expire(std::numeric_limits<qint64>::max() / 2);
        QCOMPARE(browser->instanceCount() + browser->hostCount(), 0);
    }

    void mdnsRecordsForZeroconf()
    {
        // What we write, zeroconf reads back with the same values.
        dns::Message m;
        m.response = true;
        dns::Record ptr;
        ptr.name = dns::nameFromText("_rtsp._tcp.local");
        ptr.type = dns::PTR;
        ptr.ttl = 4500;
        ptr.target = dns::Name{"Pelmar @ host"} + ptr.name;
        dns::Record srv;
        srv.name = ptr.target;
        srv.type = dns::SRV;
        srv.cacheFlush = true;
        srv.ttl = 120;
        srv.port = 8554;
        srv.target = dns::nameFromText("host.local");
        dns::Record txt = srv;
        txt.type = dns::TXT;
        txt.ttl = 4500;
        dns::Record a;
        a.name = srv.target;
        a.type = dns::A;
        a.cacheFlush = true;
        a.ttl = 120;
        a.address = QHostAddress("169.254.77.1");
        m.records = {ptr, srv, txt, a};
        const QString lines = runPeer({"decode", QString::fromLatin1(dns::write(m).toHex())});
        QCOMPARE(lines,
                 QStringLiteral("12 _rtsp._tcp.local. 4500 0 Pelmar @ host._rtsp._tcp.local.\n"
                                "33 Pelmar @ host._rtsp._tcp.local. 120 1 host.local. 8554\n"
                                "16 Pelmar @ host._rtsp._tcp.local. 4500 1 00\n"
                                "1 host.local. 120 1 169.254.77.1"));
    }

    void malformedMdnsIsRefused_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        const QByteArray header = QByteArray::fromHex("000084000000000100000000");
        QTest::newRow("truncated header") << header.left(11);
        QTest::newRow("record missing") << header;
        QTest::newRow("pointer to itself")
                << header + QByteArray::fromHex("c00c000c0001000000780000");
        QTest::newRow("pointer forwards")
                << header + QByteArray::fromHex("c020000c0001000000780000");
        QTest::newRow("label past the end") << header + QByteArray::fromHex("3f6162");
        QTest::newRow("data past the end")
                << header + QByteArray::fromHex("00000c000100000078ffff");
    }

    void malformedMdnsIsRefused()
    {
        QFETCH(QByteArray, datagram);
        dns::Message message;
        QVERIFY(!dns::parse(datagram, message));
    }
};

SNT_TEST_MAIN(CodecsTest)
#include "CodecsTest.moc"
