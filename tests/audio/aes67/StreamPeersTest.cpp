#include "NetnsPeers.h"
#include "audio/NetworkSink.h"
#include "audio/aes67/SapListener.h"
#include "audio/aes67/Sender.h"
#include "engine/tf/generator/Generator.h"
#include "tests/support/TestMain.h"

#include <QFile>
#include <QSignalSpy>
#include <cmath>

using namespace audio::aes67;

namespace {

struct Wav
{
    int channels = 0, rate = 0, bits = 0;
    std::vector<double> left; // the first channel, full scale 1
};

quint32 littleEndian(const char *p, int bytes)
{
    quint32 v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | quint8(p[i]);
    return v;
}

// A WAV file's format and its first channel, read from its chunks (24-bit PCM).
Wav readWav(const QString &path)
{
    QFile file(path);
    Wav wav;
    if (!file.open(QIODevice::ReadOnly))
        return wav;
    const QByteArray data = file.readAll();
    for (qsizetype at = 12; at + 8 <= data.size();) {
        const char *chunk = data.constData() + at;
        const qsizetype size = qMin(qsizetype(littleEndian(chunk + 4, 4)), data.size() - at - 8);
        const char *body = chunk + 8;
        if (QByteArray(chunk, 4) == "fmt ") {
            wav.channels = int(littleEndian(body + 2, 2));
            wav.rate = int(littleEndian(body + 4, 4));
            wav.bits = int(littleEndian(body + 14, 2));
        } else if (QByteArray(chunk, 4) == "data" && wav.bits == 24) {
            for (qsizetype i = 0; i + 3 * wav.channels <= size; i += 3 * wav.channels)
                wav.left.push_back(double(qint32(littleEndian(body + i, 3) << 8) >> 8) / 8388608.0);
        }
        at += 8 + size + (size & 1);
    }
    return wav;
}

double rmsDb(const std::vector<double> &x, size_t from, size_t count)
{
    double sum = 0;
    for (size_t i = from; i < from + count; ++i)
        sum += x[i] * x[i];
    return 10.0 * std::log10(sum / double(count));
}

} // namespace

// The sender's stream against real receivers and announcers in the child namespace: ffmpeg
// records it from its SAP announcement, tshark reads the wire, ffmpeg's SAP muxer announces to
// our listener, and the driver program quits the way the application does.
class StreamPeersTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void initTestCase() { SNT_REQUIRE_NETNS(); }

    void ffmpegRecordsTheGeneratorsNetworkOutput()
    {
        netns::Peer capture, ffmpeg;
        const QString pcap = dir.filePath("stream.pcap");
        const QString wavPath = dir.filePath("received.wav");
        QVERIFY(netns::startCapture(capture, pcap, "udp port 9875 or udp port 5004"));
        ffmpeg.start("ffmpeg",
                     {"-hide_banner", "-nostdin", "-y", "-i", "sap://224.2.127.254", "-c:a",
                      "pcm_s24le", wavPath},
                     true);

        // A 1 kHz tone at -6 dB on the two channels the stream carries.
        Generator generator(audio::Client::instance(), Sender::instance());
        QVERIFY(QTest::qWaitFor([&] { return !generator.types().toStringList().isEmpty(); }, 5000));
        generator.generatorThread()->setFadeDuration(0.0f);
        generator.setType(2);
        generator.setStartFrequency(1000);
        generator.setEndFrequency(1000);
        generator.setGain(-6.0f);
        generator.setChannels({0, 1});
        generator.setDeviceId(QLatin1String(audio::networkOutputDeviceId));
        QTRY_COMPARE(generator.deviceId(), QLatin1String(audio::networkOutputDeviceId));
        generator.setEnabled(true);

        Sender *sender = Sender::instance();
        QVERIFY(sender->start(netns::interface(), netns::address()));
        QVERIFY2(ffmpeg.waitFor("Output #0", 10000), qPrintable(ffmpeg.output()));
        QTest::qWait(3000);
        sender->stop();
        generator.setEnabled(false);
        // ffmpeg 5.1 looks for the deletion on a socket its own UDP reader thread empties first,
        // so it notices it only by chance: the test ends it, and the wire shows the stream's end.
        ffmpeg.stop();
        netns::stopCapture(capture);

        const Wav wav = readWav(wavPath);
        QCOMPARE(wav.channels, 2);
        QCOMPARE(wav.rate, 48000);
        QCOMPARE(wav.bits, 24);
        QVERIFY2(wav.left.size() > 2 * 48000, qPrintable(QString::number(wav.left.size())));
        // The last second but a bit: a steady tone, no gap in any 10 ms.
        const size_t from = wav.left.size() - 60000, count = 48000;
        int crossings = 0;
        for (size_t i = from + 1; i < from + count; ++i)
            crossings += (wav.left[i - 1] < 0) != (wav.left[i] < 0);
        QVERIFY2(qAbs(crossings - 2000) <= 2, qPrintable(QString::number(crossings)));
        QVERIFY(qAbs(rmsDb(wav.left, from, count) - (-6.0 - 3.0103)) < 0.05);
        for (size_t block = from; block < from + count; block += 480)
            QVERIFY(qAbs(rmsDb(wav.left, block, 480) - (-9.0103)) < 0.2);

        // What tshark reads on the wire.
        const auto sap = netns::dissect(pcap, "sap && ip.dst == 224.2.127.254",
                                        {"sap.flags.v", "sap.flags.a", "sap.flags.t",
                                         "sap.originating_source", "ip.ttl",
                                         "sdp.connection_info.address", "sdp.connection_info.ttl",
                                         "sdp.media.port", "sdp.media.format", "sdp.session_name"});
        QVERIFY(sap.size() >= 3);
        QCOMPARE(sap.first(), QStringList({"1", "0", "0", "169.254.77.1", "32", "239.69.1.1", "32",
                                           "5004", "DynamicRTP-Type-96", "Pelmar"}));
        QCOMPARE(sap.at(sap.size() - 2).at(2), QStringLiteral("1")); // two deletions at the end
        QCOMPARE(sap.last().at(2), QStringLiteral("1"));
        const auto rtp = netns::dissect(pcap, "rtp",
                                        {"rtp.p_type", "rtp.seq", "rtp.timestamp", "udp.length",
                                         "ip.ttl", "frame.time_relative"},
                                        {"-d", "udp.port==5004,rtp"});
        QVERIFY(rtp.size() > 3000);
        for (qsizetype i = 1; i < rtp.size(); ++i) {
            const QStringList &p = rtp.at(i), &q = rtp.at(i - 1);
            QCOMPARE(p.mid(0, 1) + p.mid(3, 2), QStringList({"96", "308", "32"}));
            QCOMPARE(quint16(p.at(1).toUInt()), quint16(q.at(1).toUInt() + 1));
            QCOMPARE(quint32(p.at(2).toUInt()), quint32(q.at(2).toUInt() + 48));
        }
        const double seconds = rtp.last().at(5).toDouble() - rtp.first().at(5).toDouble();
        // The stream ends with its deletion: the stop sequence sends the deletion first, then
        // stops the advertiser, the responder and the clock before the send thread, so a few
        // packets may follow on a loaded machine, never a stream that goes on.
        const auto deletions = netns::dissect(pcap, "sap.flags.t == 1", {"frame.time_relative"});
        QVERIFY(!deletions.isEmpty());
        QVERIFY(rtp.last().at(5).toDouble() - deletions.first().first().toDouble() < 0.1);
        QVERIFY(qAbs(double(rtp.size() - 1) / seconds - 1000.0) < 5.0);
    }

    void startFailsOnAnAddressThatIsNotOurs()
    {
        Sender *sender = Sender::instance();
        QSignalSpy errors(sender, &Sender::errorOccurred);
        QVERIFY(!sender->start(netns::interface(), QHostAddress("169.254.77.99")));
        QCOMPARE(errors.count(), 1);
        QVERIFY2(errors.at(0).at(0).toString().startsWith("RTP 169.254.77.99: "),
                 qPrintable(errors.at(0).at(0).toString()));
        QVERIFY(!sender->isRunning());
    }

    void ffmpegAnnouncesToOurListener()
    {
        SapListener *listener = SapListener::instance();
        QSignalSpy appeared(listener, &SapListener::streamAppeared);
        QSignalSpy removed(listener, &SapListener::streamRemoved);
        QVERIFY(listener->start(netns::interface()));
        netns::Peer ffmpeg;
        ffmpeg.start("ffmpeg",
                     {"-hide_banner", "-nostdin", "-re", "-f", "lavfi", "-i",
                      "sine=frequency=440:sample_rate=48000:duration=3", "-metadata",
                      "title=Stage box", "-c:a", "pcm_s16be", "-f", "sap",
                      "sap://239.69.1.7:5010?ttl=4"},
                     true);
        QTRY_COMPARE_WITH_TIMEOUT(appeared.count(), 1, 10000);
        const Aes67StreamInfo info = appeared.at(0).at(0).value<Aes67StreamInfo>();
        QVERIFY(info.key.endsWith("@169.254.77.2"));
        QCOMPARE(info.sessionName, QStringLiteral("Stage box"));
        QCOMPARE(info.connectionAddress, QHostAddress("239.69.1.7"));
        QCOMPARE(info.port, quint16(5010));
        QCOMPARE(info.encoding, QStringLiteral("L16"));
        QCOMPARE(info.sampleRate, 48000);
        QVERIFY(ffmpeg.waitForExit(15000));
        QTRY_COMPARE_WITH_TIMEOUT(removed.count(), 1, 5000);
        QCOMPARE(removed.at(0).at(0).value<Aes67StreamInfo>().key, info.key);
        listener->stop();
    }

    void driverStopsTheStackWhenTheApplicationQuits()
    {
        // The driver starts the sender and quits after two seconds the way the program does:
        // the stack stops on the quit, its deletion reaches us, and the process ends cleanly.
        SapListener *listener = SapListener::instance();
        QSignalSpy appeared(listener, &SapListener::streamAppeared);
        QSignalSpy removed(listener, &SapListener::streamRemoved);
        QVERIFY(listener->start(netns::interface()));
        netns::Peer driver;
        driver.start(QCoreApplication::applicationDirPath() + "/aes67_driver",
                     {"--interface", "v0", "--send", "--name", "Driver", "--tone", "1000",
                      "--seconds", "2"},
                     false);
        QVERIFY2(driver.waitForExit(15000), qPrintable(driver.output()));
        QCOMPARE(driver.exitCode(), 0);
        QVERIFY2(driver.output().contains("send running off"), qPrintable(driver.output()));
        QVERIFY(driver.output().contains(QRegularExpression("send packets [1-9]")));
        QTRY_COMPARE_WITH_TIMEOUT(removed.count(), 1, 5000);
        QCOMPARE(appeared.count(), 1);
        QCOMPARE(appeared.at(0).at(0).value<Aes67StreamInfo>().sessionName,
                 QStringLiteral("Driver"));
        listener->stop();
    }
};

SNT_TEST_MAIN(StreamPeersTest)
#include "StreamPeersTest.moc"
