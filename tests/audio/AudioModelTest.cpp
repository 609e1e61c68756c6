#include "FakePlugin.h"
#include "audio/Client.h"
#include "audio/DeviceMatcher.h"
#include "audio/Stream.h"
#include "tests/support/TestMain.h"

#include <QBuffer>
#include <QSignalSpy>
#include <QThread>
#include <cstdio>
#include <cstdlib>

using audio::Client;
using audio::Plugin;

namespace {

FakePlugin* wasapi = nullptr;
FakePlugin* asio = nullptr;

// Backends must be gone before the application object: a backend destroyed later would stop
// its threads with Qt already torn down.
class CheckedPlugin : public FakePlugin {
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

}  // namespace

class AudioModelTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(Client::setPluginFactories({
            [] { auto p = std::make_shared<CheckedPlugin>("WASAPI"); wasapi = p.get(); return p; },
            [] { auto p = std::make_shared<CheckedPlugin>("ASIO"); asio = p.get(); return p; },
        }));
        // First use from a worker thread: the client must still end up in the main thread.
        std::shared_ptr<Client> fromWorker;
        QThread* worker = QThread::create([&fromWorker] { fromWorker = Client::instance(); });
        worker->start();
        QVERIFY(worker->wait(5000));
        delete worker;
        QVERIFY(fromWorker);
        QCOMPARE(fromWorker->thread(), QCoreApplication::instance()->thread());
        QCOMPARE(wasapi->thread(), QCoreApplication::instance()->thread());
        QCOMPARE(fromWorker.get(), Client::instance().get());
    }

    void init()
    {
        wasapi->rows.clear();
        asio->rows.clear();
        wasapi->defaultInput.clear();
        asio->defaultInput.clear();
        wasapi->defaultOutput.clear();
        Client::instance()->reloadDevices();
    }

    void factoriesAreFixedOnceTheClientExists()
    {
        QVERIFY(!Client::setPluginFactories({}));
    }

    void deviceIdAliasIsRegistered()
    {
        const QMetaType alias = QMetaType::fromName("audio::DeviceInfo::Id");
        QVERIFY(alias.isValid());
        QCOMPARE(alias.id(), QMetaType::fromType<QString>().id());
    }

    void mergedListKeepsBackendOrderAndSignalsOnce()
    {
        auto client = Client::instance();
        QSignalSpy changed(client.get(), &Client::deviceListChanged);
        asio->rows = {row("asio:a", "ASIO A", "ASIO")};
        wasapi->rows = {row("w:1", "Speakers", "WASAPI"), row("w:2", "Mic", "WASAPI")};
        emit asio->deviceListChanged();
        QCOMPARE(changed.count(), 1);
        const audio::DeviceList list = client->devices();
        QCOMPARE(list.size(), 3);
        QCOMPARE(list[0].id, QString("w:1"));
        QCOMPARE(list[1].id, QString("w:2"));
        QCOMPARE(list[2].id, QString("asio:a"));
        QVERIFY(client->hasDevice("w:2"));
        QVERIFY(!client->hasDevice("W:2"));
        QCOMPARE(client->deviceName("w:2"), QString("Mic"));
        QCOMPARE(client->deviceName("nope"), QString());
    }

    void firstRowWinsForDuplicatedIds()
    {
        auto client = Client::instance();
        wasapi->rows = {row("dup", "From WASAPI", "WASAPI")};
        asio->rows = {row("dup", "From ASIO", "ASIO")};
        client->reloadDevices();
        QCOMPARE(client->devices().size(), 2);
        QCOMPARE(client->deviceName("dup"), QString("From WASAPI"));
        QCOMPARE(client->pluginForDevice("dup").get(), static_cast<Plugin*>(wasapi));
    }

    void firstRowWithUnknownBackendRoutesNowhere()
    {
        auto client = Client::instance();
        wasapi->rows = {row("x", "Orphan", "Phone")};
        asio->rows = {row("x", "Later", "ASIO")};
        client->reloadDevices();
        QVERIFY(!client->pluginForDevice("x"));
        QVERIFY(!client->openInput("x", nullptr, audio::Format{}));
    }

    void unknownIdsGiveDefaultsAndNoStream()
    {
        auto client = Client::instance();
        QCOMPARE(client->preferredInputFormat("none"), (audio::Format{48000, 2}));
        QCOMPARE(client->preferredOutputFormat("none"), (audio::Format{48000, 2}));
        QBuffer buffer;
        QVERIFY(!client->openInput("none", &buffer, audio::Format{}));
        QVERIFY(!client->openOutput("none", &buffer, audio::Format{}));
    }

    void requestsReachTheOwningBackend()
    {
        auto client = Client::instance();
        asio->rows = {row("asio:a", "ASIO A", "ASIO")};
        client->reloadDevices();
        QCOMPARE(client->preferredOutputFormat("asio:a"), (audio::Format{44100, 4}));
        QCOMPARE(asio->lastFormatId, QString("asio:a"));
        QBuffer buffer;
        audio::Stream* stream = client->openOutput("asio:a", &buffer, audio::Format{96000, 8});
        QVERIFY(stream);
        QCOMPARE(asio->lastOpenId, QString("asio:a"));
        QCOMPARE(asio->lastDirection, Plugin::Output);
        QCOMPARE(stream->format(), (audio::Format{96000, 8}));
        stream->close();
    }

    void defaultDeviceAsksBackendsInOrder()
    {
        auto client = Client::instance();
        QCOMPARE(client->defaultDevice(Plugin::Input), QString());
        asio->defaultInput = "asio-in";
        QCOMPARE(client->defaultDevice(Plugin::Input), QString("asio-in"));
        wasapi->defaultInput = "w-in";
        QCOMPARE(client->defaultDevice(Plugin::Input), QString("w-in"));
        QCOMPARE(client->defaultDevice(Plugin::Output), QString());
    }

    void refreshAllReloadsEveryBackendQueued()
    {
        auto client = Client::instance();
        QSignalSpy changed(client.get(), &Client::deviceListChanged);
        client->refreshAll();
        QCOMPARE(changed.count(), 0);
        QTRY_COMPARE(changed.count(), 2);
    }

    void streamRateAndClose()
    {
        audio::Stream stream(audio::Format{48000, 3});
        QSignalSpy rate(&stream, &audio::Stream::sampleRateChanged);
        QSignalSpy closing(&stream, &audio::Stream::closeMe);
        stream.setSampleRate(44100);
        QCOMPARE(rate.count(), 1);
        QCOMPARE(stream.format(), (audio::Format{44100, 3}));
        QVERIFY(stream.isRunning());
        stream.close();
        QVERIFY(!stream.isRunning());
        stream.close();
        QCOMPARE(closing.count(), 1);
    }

    void matcherFindsSavedDeviceByIdAndBackend_data()
    {
        QTest::addColumn<QString>("savedId");
        QTest::addColumn<QString>("savedPlugin");
        QTest::addColumn<QString>("actual");
        QTest::addColumn<bool>("isDefault");
        QTest::newRow("found") << "card" << "WASAPI" << "card" << false;
        QTest::newRow("other backend") << "card" << "ASIO" << "default-in" << true;
        QTest::newRow("case differs") << "CARD" << "WASAPI" << "default-in" << true;
        QTest::newRow("empty backend") << "card" << "" << "default-in" << true;
        QTest::newRow("empty id") << "" << "WASAPI" << "default-in" << true;
        QTest::newRow("gone") << "old" << "WASAPI" << "default-in" << true;
    }

    void matcherFindsSavedDeviceByIdAndBackend()
    {
        QFETCH(QString, savedId);
        QFETCH(QString, savedPlugin);
        QFETCH(QString, actual);
        QFETCH(bool, isDefault);
        wasapi->rows = {row("card", "Card", "WASAPI"), row("default-in", "Mic", "WASAPI")};
        wasapi->defaultInput = "default-in";
        Client::instance()->reloadDevices();
        DeviceMatcher matcher;
        QSignalSpy matched(&matcher, &DeviceMatcher::deviceMatched);
        matcher.tryMatch(savedId, savedPlugin);
        QCOMPARE(matched.count(), 1);
        const QList<QVariant> args = matched.takeFirst();
        QCOMPARE(args[0].toString(), savedId);
        QCOMPARE(args[1].toString(), savedPlugin);
        QCOMPARE(args[2].toString(), actual);
        QCOMPARE(args[3].toBool(), isDefault);
    }

    void matcherFallsBackToEmptyWithoutDefault()
    {
        DeviceMatcher matcher;
        QSignalSpy matched(&matcher, &DeviceMatcher::deviceMatched);
        matcher.tryMatch("gone", "WASAPI");
        QCOMPARE(matched.count(), 1);
        QCOMPARE(matched[0][2].toString(), QString());
        QCOMPARE(matched[0][3].toBool(), true);
    }

    void matcherCanBeCreatedByTypeName()
    {
        const QMetaType type = QMetaType::fromName("DeviceMatcher*");
        QVERIFY(type.isValid());
        QObject* made = type.metaObject()->newInstance();
        QVERIFY(qobject_cast<DeviceMatcher*>(made));
        delete made;
    }
};

SNT_TEST_MAIN(AudioModelTest)
#include "AudioModelTest.moc"
