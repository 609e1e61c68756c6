#include "tests/processor/FloodPeer.h"
#include "tests/processor/JsonPeer.h"
#include "tests/processor/LogCatcher.h"
#include "tests/processor/SimProcessor.h"
#include "tests/support/TestMain.h"

#include "files/DataFolder.h"

#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QRegularExpression>
#include <QThread>

#include <memory>

using snt::test::addRedirectRows;
using snt::test::JsonPeer;
using snt::test::SimProcessor;

namespace {

const QString kFirst = QStringLiteral("169.254.77.9");
const QString kSecond = QStringLiteral("169.254.77.100");
// A search listens for answers 0.8 s and then probes pages for at most 0.9 s after the last probe
// started; its result may come this much later on a busy machine, as may a second result.
constexpr int kListenMs = 800;
constexpr int kProbeMs = 900;
constexpr int kLateMs = 600;

QVariantMap device(const QString &ip, const QString &name = QString())
{
    return {{"ip", ip}, {"name", name}};
}

// When `manager` started each request (the reply is its child). Each start may be held up `ms`,
// so that starting a sweep's 254 takes longer than a probe's time, as it may on a busy machine.
class RequestStarts : public QObject
{
public:
    RequestStarts(QObject *manager, unsigned long ms)
        : ms_(ms)
    {
        manager->installEventFilter(this);
        clock_.start();
    }

    // Each since this was made; -1 for a request not started.
    qint64 elapsed() const { return clock_.elapsed(); }
    qint64 heldMs() const { return heldMs_; }
    qint64 startMs(int request) const { return startsMs_.value(request, -1); }

    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::ChildAdded)
            return false;
        const qint64 from = clock_.elapsed();
        QThread::msleep(ms_);
        startsMs_.append(clock_.elapsed());
        heldMs_ += startsMs_.last() - from;
        return false;
    }

private:
    unsigned long ms_;
    QElapsedTimer clock_;
    qint64 heldMs_ = 0;
    QList<qint64> startsMs_;
};

QString discoveryLog()
{
    QFile file(documentsRoot() + "/临时/discover.log");
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

// Runs inside the private namespaces of scripts/netns-run.sh: the simulated processor listens on
// port 80 and UDP 50002 at 169.254.77.9 and .100 behind the test's 169.254.77.1/24.
class DiscoveryTest : public QObject
{
    Q_OBJECT

private:
    SimProcessor sim_;
    std::unique_ptr<ProcessorClient> client_;
    // In this namespace, on loopback: where redirects point. Its answer is a name and a page
    // with the marker, so that a search that went there would list or name what it found.
    JsonPeer elsewhere_{R"({"data":{"DEVINFOdev_name0":"Moriat elsewhere"}})"};
    qint64 searchTookMs_ = -1; // from the last search's start to its result
    qint64 lastProbeStartMs_ = -1; // from the last search's start to its sweep's last probe's
    qint64 startsHeldMs_ = 0; // how long the last search's requests were held up as they started

    // Each request the search starts is held up `holdMs`.
    QVariantList searchInBackground(unsigned long holdMs = 0)
    {
        QSignalSpy found(client_.get(), &ProcessorClient::devicesFound);
        RequestStarts starts(client_->findChild<QNetworkAccessManager *>(), holdMs);
        client_->discoverDevicesAsync();
        if (!found.wait(20000))
            return {{"no result"}};
        searchTookMs_ = starts.elapsed();
        // The sweep starts every probe in one go, before any redirect is followed.
        static const QRegularExpression probes(QStringLiteral("^candidates=(\\d+)$"),
                                               QRegularExpression::MultilineOption);
        lastProbeStartMs_ = starts.startMs(probes.match(discoveryLog()).captured(1).toInt() - 1);
        startsHeldMs_ = starts.heldMs();
        QTest::qWait(kProbeMs + kLateMs); // a second result would come within the probes' time
        return found.count() == 1 ? found.first().first().toList() : QVariantList{"twice"};
    }

    // The search reports at most a probe's time after its last probe started, however long
    // starting the sweep took (on a busy machine, more than the margin for a late result).
    void verifyProbesEndedInTime() const
    {
        QVERIFY2(lastProbeStartMs_ >= kListenMs, qPrintable(QString::number(lastProbeStartMs_)));
        QVERIFY2(searchTookMs_ <= lastProbeStartMs_ + kProbeMs + kLateMs,
                 qPrintable(QString("result after %1 ms, %2 ms after the last probe started")
                                    .arg(searchTookMs_)
                                    .arg(searchTookMs_ - lastProbeStartMs_)));
    }

private slots:
    void initTestCase()
    {
        const QString child = qEnvironmentVariable("SNT_NETNS_CHILD");
        QVERIFY2(!child.isEmpty(), "run through scripts/netns-run.sh");
        QVERIFY(sim_.start({"--host", "0.0.0.0", "--port", "80", "--udp-port", "50002"},
                           {"nsenter", "--net=/proc/" + child + "/ns/net"}));
        QVERIFY(elsewhere_.listen());
    }

    void init()
    {
        sim_.command("reset_device");
        sim_.command("clear_log");
        QFile::remove(documentsRoot() + "/临时/discover.log");
        client_ = std::make_unique<ProcessorClient>();
        elsewhere_.clear();
    }

    void portEightyByDefault()
    {
        client_->setIp(kSecond);
        client_->connectToDevice();
        QVERIFY(client_->isConnected());
        QCOMPARE(sim_.log("http").value(0).value("headers").toObject().value("Host").toString(),
                 kSecond);
        QTRY_COMPARE_WITH_TIMEOUT(sim_.state().value("sockets").toInt(), 1, 10000);
    }

    void backgroundSearch_data()
    {
        QTest::addColumn<bool>("udpAnswer");
        QTest::addColumn<QString>("page");
        QTest::addColumn<QVariantList>("expected");
        const QVariantList both{device(kFirst), device(kSecond)};
        QTest::newRow("answer and page") << true << "<p>Moriat</p>" << both;
        QTest::newRow("page only") << false << "<p>Moriat</p>" << both;
        QTest::newRow("lower-case marker") << true << "the moriat console" << both;
        QTest::newRow("capitals do not count") << true << "MORIAT" << QVariantList();
    }

    // Both addresses are found by the sweep whether or not the device answers by UDP; the
    // result is in numeric order (.9 before .100), and the log names the candidates.
    void backgroundSearch()
    {
        QFETCH(bool, udpAnswer);
        QFETCH(QString, page);
        QFETCH(QVariantList, expected);
        sim_.set({{"udp_answer", udpAnswer}, {"page", page}});
        QCOMPARE(searchInBackground(), expected);
        QStringList addresses;
        for (const QVariant &found : expected)
            addresses << found.toMap().value("ip").toString();
        QCOMPARE(discoveryLog(), "candidates=253\n" + addresses.join('\n') + '\n');
        // Every up interface was asked: the subnet broadcast and 255.255.255.255.
        const QList<QJsonObject> queries = sim_.log("udp");
        QVERIFY(queries.size() >= 2);
        for (const QJsonObject &query : queries)
            QCOMPARE(query.value("data_hex").toString(), QString("5354"));
    }

    // A second call during the listening phase joins the first run; an address outside every
    // /24 network, the current one, is probed as well.
    void searchTwiceAndOffTheSweep()
    {
        SimProcessor local; // in this namespace, on loopback: off every swept network
        QVERIFY(local.start());
        client_->setIp(local.address());
        QSignalSpy found(client_.get(), &ProcessorClient::devicesFound);
        client_->discoverDevicesAsync();
        client_->discoverDevicesAsync();
        QTRY_VERIFY_WITH_TIMEOUT(discoveryLog().contains("finish"), 10000);
        QCOMPARE(discoveryLog(), QString("start\nstart\nfinish udp ips=1\n"));
        QVERIFY(found.wait(20000));
        QTest::qWait(1500);
        QCOMPARE(found.count(), 1);
        QCOMPARE(found.first().first().toList(),
                 (QVariantList{device(local.address()), device(kFirst), device(kSecond)}));
        QVERIFY(discoveryLog().startsWith("candidates=254\n"));
    }

    // A page flooded far beyond a console's start page is cut at its limit and logged; its
    // address is not listed, the others are, and the memory rises by a fraction of the flood.
    void floodedPageIsCut()
    {
        snt::test::FloodPeer flood; // in this namespace, on loopback: the current address
        QVERIFY(flood.start("page"));
        client_->setIp(flood.address());
        snt::test::LogCatcher log;
        snt::test::MemoryWatch memory;
        QVERIFY(memory.valid());
        QCOMPARE(searchInBackground(), (QVariantList{device(kFirst), device(kSecond)}));
        snt::test::verifyFloodCut(flood, memory);
        QVERIFY(log.contains("[ProcessorClient] answer of http://" + flood.address()));
    }

    // The page probe follows a redirect only to another page of the address probed (scheme,
    // host and port), a bounded number of times, and never takes a redirect's own body for the
    // page: each redirect here carries the marker, and so does every page it may lead to. A
    // probe and the redirects it follows share the probe's time, so the search reports within
    // its bound however slowly they answer, and a page that comes later does not count.
    void consoleProbeRedirects_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("location"); // %self: the address probed, %elsewhere, %port
        QTest::addColumn<int>("hopMs"); // how long each redirect takes to come
        QTest::addColumn<int>("hops"); // redirects before "/" serves its page; -1: never
        QTest::addColumn<bool>("listed");
        for (const int status : {301, 302, 303, 307, 308}) {
            QTest::addRow("%d to another port", status)
                    << status << "http://%elsewhere/" << 0 << -1 << false;
        }
        QTest::newRow("302 to its own page") << 302 << "/index.html" << 0 << -1 << true;
        QTest::newRow("308 to its own page by address")
                << 308 << "http://%self/index.html" << 0 << -1 << true;
        QTest::newRow("to itself over and over") << 302 << "/" << 0 << -1 << false;
        QTest::newRow("to another scheme") << 301 << "https://%self/index.html" << 0 << -1 << false;
        QTest::newRow("to another host name")
                << 302 << "http://localhost:%port/index.html" << 0 << -1 << false;
        QTest::newRow("slowly to its own page in time")
                << 302 << "/index.html" << 300 << -1 << true;
        QTest::newRow("slowly to itself over and over") << 302 << "/" << 650 << -1 << false;
        QTest::newRow("slowly to its page after the probe's time")
                << 302 << "/" << 650 << 3 << false;
    }

    void consoleProbeRedirects()
    {
        QFETCH(int, status);
        QFETCH(QString, location);
        QFETCH(int, hopMs);
        QFETCH(int, hops);
        QFETCH(bool, listed);
        SimProcessor local; // in this namespace, on loopback: the current address
        QVERIFY(local.start());
        location.replace("%self", local.address())
                .replace("%elsewhere", elsewhere_.address())
                .replace("%port", QString::number(local.port()));
        local.fault("/", "status",
                    {{"status", status},
                     {"body", "<p>Moriat</p>"},
                     {"headers", QJsonObject{{"Location", location}}},
                     {"ms", hopMs},
                     {"times", hops}});
        client_->setIp(local.address());
        // Whether the two in the other namespace answer in time is the sweep's own test.
        QStringList found;
        for (const QVariant &device : searchInBackground())
            found << device.toMap().value("ip").toString();
        verifyProbesEndedInTime();
        QCOMPARE(found.contains(local.address()), listed);
        found.removeAll(local.address());
        for (const QString &address : std::as_const(found))
            QVERIFY2(address == kFirst || address == kSecond, qPrintable(address));

        QTRY_VERIFY_WITH_TIMEOUT(!local.log("http").isEmpty(), snt::test::kPeerTimeoutMs);
        QStringList asked;
        for (const QJsonObject &request : local.log("http"))
            asked << request.value("path").toString();
        QCOMPARE(asked.value(0), QString("/"));
        QCOMPARE(asked.contains("/index.html"), listed);
        QVERIFY2(asked.size() < 10, qPrintable(asked.join(' ')));
        QCOMPARE(elsewhere_.connections(), 0);
    }

    // A redirect that comes while the sweep's probes are still being started is read only once
    // they all are; the page it leads to is still asked and found in the probe's time. However
    // long starting them took, the search reports within a probe's time of the last start.
    void slowRedirectWhileTheSweepStarts()
    {
        SimProcessor local; // in this namespace, on loopback: the current address
        QVERIFY(local.start());
        local.fault("/", "status",
                    {{"status", 302},
                     {"body", "<p>Moriat</p>"},
                     {"headers", QJsonObject{{"Location", "/index.html"}}},
                     {"ms", 300},
                     {"times", -1}});
        client_->setIp(local.address());
        QStringList found;
        for (const QVariant &device : searchInBackground(5))
            found << device.toMap().value("ip").toString();
        QVERIFY2(startsHeldMs_ > kProbeMs, qPrintable(QString::number(startsHeldMs_)));
        QVERIFY2(found.contains(local.address()), qPrintable(found.join(' ')));
        verifyProbesEndedInTime();
    }

    void blockingSearchNames_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("name");
        QTest::newRow("named") << QString() << "Moriat DP48";
        QTest::newRow("name query fails") << "status" << QString();
    }

    void blockingSearchNames()
    {
        QFETCH(QString, fault);
        QFETCH(QString, name);
        if (!fault.isEmpty())
            sim_.fault("DEVICEINFO", fault, {{"status", 500}});
        QCOMPARE(client_->discoverDevices(), QVariantList{device(kFirst, name)});
        const QJsonObject query = sim_.log("http").value(0);
        QCOMPARE(query.value("body").toString(), QString(R"({"DEVICEINFO":{}})"));
        QCOMPARE(query.value("query").toString(), QString());
        QVERIFY(query.value("headers").toObject().value("Connection").toString() != "close");
        QCOMPARE(sim_.log("udp").size(), 1);
        sim_.command("clear_faults");
    }

    // The name query is not sent on to where a redirect points: the device is listed without a
    // name, and the address the redirect names is not asked.
    void blockingNameQueryFollowsNoRedirect_data() { addRedirectRows(); }

    void blockingNameQueryFollowsNoRedirect()
    {
        QFETCH(int, status);
        sim_.redirect("DEVICEINFO", status,
                      QString("http://%1/test.fcgi").arg(elsewhere_.address()));
        QCOMPARE(client_->discoverDevices(), QVariantList{device(kFirst)});
        QTRY_COMPARE_WITH_TIMEOUT(sim_.log("http").size(), 1, snt::test::kPeerTimeoutMs);
        QCOMPARE(elsewhere_.connections(), 0);
        sim_.command("clear_faults");
    }
};

SNT_TEST_MAIN(DiscoveryTest)
#include "DiscoveryTest.moc"
