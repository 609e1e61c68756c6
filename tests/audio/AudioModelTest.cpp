#include "FakePlugin.h"
#include "audio/Client.h"
#include "audio/DeviceMatcher.h"
#include "tests/support/TestMain.h"

#include <QBuffer>
#include <QSignalSpy>
#include <QThread>
#include <cstdio>
#include <cstdlib>

using audio::Client;
using audio::Plugin;

namespace {

FakePlugin *wasapi = nullptr;
FakePlugin *asio = nullptr;

// Backends must be gone before the application object: a backend destroyed later would stop
// its threads with Qt already torn down.
class CheckedPlugin : public FakePlugin
{
public:
    using FakePlugin::FakePlugin;
    ~CheckedPlugin() override
    {
        if (!QCoreApplication::instance()) {
            std::fputs("FAIL: an audio backend outlived the application object\n", stderr);
            std::_Exit(3);
        }
    }
};

} // namespace

class AudioModelTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(Client::setPluginFactories({
                [] {
                    auto p = std::make_shared<CheckedPlugin>("WASAPI");
                    wasapi = p.get();
                    return p;
                },
                [] {
                    auto p = std::make_shared<CheckedPlugin>("ASIO");
                    asio = p.get();
                    return p;
                },
        }));
        // First use from a worker thread: the client must still end up in the main thread.
        std::shared_ptr<Client> fromWorker;
        QThread *worker = QThread::create([&fromWorker] { fromWorker = Client::instance(); });
        worker->start();
        QVERIFY(worker->wait(5000));
        delete worker;
        QCOMPARE(fromWorker.get(), Client::instance().get());
        QCOMPARE(fromWorker->thread(), QCoreApplication::instance()->thread());
        QCOMPARE(wasapi->thread(), QCoreApplication::instance()->thread());
        QVERIFY(!Client::setPluginFactories({})); // fixed once the client exists
        // Queued signals name the id type by its alias.
        QCOMPARE(QMetaType::fromName("audio::DeviceInfo::Id").id(),
                 QMetaType::fromType<QString>().id());
    }

    void init()
    {
        for (FakePlugin *plugin : {wasapi, asio}) {
            plugin->rows.clear();
            plugin->defaultInput.clear();
            plugin->defaultOutput.clear();
        }
        Client::instance()->reloadDevices();
    }

    // All rows in backend order; the first row of an id names it and picks its backend, even a
    // backend that does not exist.
    void mergedListAndFirstRowWins()
    {
        auto client = Client::instance();
        QSignalSpy changed(client.get(), &Client::deviceListChanged);
        wasapi->rows = {row("w:1", "Speakers", "WASAPI"), row("dup", "From WASAPI", "WASAPI"),
                        row("x", "Orphan", "Phone")};
        asio->rows = {row("asio:a", "ASIO A", "ASIO"), row("dup", "From ASIO", "ASIO"),
                      row("x", "Later", "ASIO")};
        emit asio->deviceListChanged();
        QCOMPARE(changed.count(), 1);
        QStringList ids;
        for (const audio::DeviceInfo &device : client->devices())
            ids << device.id;
        QCOMPARE(ids, (QStringList{"w:1", "dup", "x", "asio:a", "dup", "x"}));
        QVERIFY(client->hasDevice("asio:a"));
        QVERIFY(!client->hasDevice("W:1"));
        QCOMPARE(client->deviceName("dup"), QString("From WASAPI"));
        QCOMPARE(client->deviceName("nope"), QString());
        QCOMPARE(client->pluginForDevice("dup").get(), static_cast<Plugin *>(wasapi));
        QCOMPARE(client->pluginForDevice("asio:a").get(), static_cast<Plugin *>(asio));
        QVERIFY(!client->pluginForDevice("x"));
        QVERIFY(!client->openInput("x", nullptr, audio::Format{}));
    }

    void requestsReachTheOwningBackend()
    {
        auto client = Client::instance();
        asio->rows = {row("asio:a", "ASIO A", "ASIO")};
        client->reloadDevices();
        QCOMPARE(client->preferredInputFormat("asio:a"), (audio::Format{44100, 4}));
        QCOMPARE(asio->lastId, QString("asio:a"));
        QCOMPARE(asio->lastDirection, Plugin::Input);
        QBuffer buffer;
        audio::Stream *stream = client->openOutput("asio:a", &buffer, audio::Format{96000, 8});
        QVERIFY(stream);
        QCOMPARE(asio->lastDirection, Plugin::Output);
        QCOMPARE(stream->format(), (audio::Format{96000, 8}));
        // The rate the driver reports replaces the asked one; only the first close reaches the
        // backend.
        QSignalSpy rate(stream, &audio::Stream::sampleRateChanged);
        QSignalSpy closing(stream, &audio::Stream::closeMe);
        stream->setSampleRate(44100);
        QCOMPARE(rate.count(), 1);
        QCOMPARE(stream->format(), (audio::Format{44100, 8}));
        QVERIFY(stream->isRunning());
        stream->close();
        stream->close();
        QVERIFY(!stream->isRunning());
        QCOMPARE(closing.count(), 1);
        // Unknown ids get the default format and no stream.
        QCOMPARE(client->preferredInputFormat("none"), (audio::Format{48000, 2}));
        QCOMPARE(client->preferredOutputFormat("none"), (audio::Format{48000, 2}));
        QVERIFY(!client->openInput("none", &buffer, audio::Format{}));
        QVERIFY(!client->openOutput("none", &buffer, audio::Format{}));
        QCOMPARE(wasapi->lastId, QString());
    }

    void backendsAreAskedInOrder()
    {
        auto client = Client::instance();
        QCOMPARE(client->defaultDevice(Plugin::Input), QString());
        asio->defaultInput = "asio-in";
        asio->defaultOutput = "asio-out";
        QCOMPARE(client->defaultDevice(Plugin::Input), QString("asio-in"));
        wasapi->defaultInput = "w-in";
        QCOMPARE(client->defaultDevice(Plugin::Input), QString("w-in"));
        QCOMPARE(client->defaultDevice(Plugin::Output), QString("asio-out"));
        // A refresh reloads every backend, queued.
        QSignalSpy changed(client.get(), &Client::deviceListChanged);
        client->refreshAll();
        QCOMPARE(changed.count(), 0);
        QTRY_COMPARE(changed.count(), 2);
    }

    void matcher_data()
    {
        QTest::addColumn<QString>("savedId");
        QTest::addColumn<QString>("savedPlugin");
        QTest::addColumn<QString>("defaultInput");
        QTest::addColumn<QString>("actual");
        QTest::addColumn<bool>("isDefault");
        QTest::newRow("found") << "card"
                               << "WASAPI"
                               << "mic"
                               << "card" << false;
        QTest::newRow("other backend") << "card"
                                       << "ASIO"
                                       << "mic"
                                       << "mic" << true;
        QTest::newRow("case differs") << "CARD"
                                      << "WASAPI"
                                      << "mic"
                                      << "mic" << true;
        QTest::newRow("empty backend") << "card"
                                       << ""
                                       << "mic"
                                       << "mic" << true;
        QTest::newRow("empty id") << ""
                                  << "WASAPI"
                                  << "mic"
                                  << "mic" << true;
        QTest::newRow("gone") << "old"
                              << "WASAPI"
                              << "mic"
                              << "mic" << true;
        QTest::newRow("gone, no default") << "old"
                                          << "WASAPI"
                                          << ""
                                          << "" << true;
    }

    // Created by type name, as the user interface does; matches on id and backend, else the
    // default input.
    void matcher()
    {
        QFETCH(QString, savedId);
        QFETCH(QString, savedPlugin);
        QFETCH(QString, defaultInput);
        wasapi->rows = {row("card", "Card", "WASAPI"), row("mic", "Mic", "WASAPI")};
        wasapi->defaultInput = defaultInput;
        Client::instance()->reloadDevices();
        const QMetaObject *type = QMetaType::fromName("DeviceMatcher*").metaObject();
        QVERIFY(type);
        std::unique_ptr<QObject> made(type->newInstance());
        auto *matcher = qobject_cast<DeviceMatcher *>(made.get());
        QVERIFY(matcher);
        QSignalSpy matched(matcher, &DeviceMatcher::deviceMatched);
        matcher->tryMatch(savedId, savedPlugin);
        QCOMPARE(matched.count(), 1);
        QCOMPARE(matched[0][0].toString(), savedId);
        QCOMPARE(matched[0][1].toString(), savedPlugin);
        QTEST(matched[0][2].toString(), "actual");
        QTEST(matched[0][3].toBool(), "isDefault");
    }
};

SNT_TEST_MAIN(AudioModelTest)
#include "AudioModelTest.moc"
