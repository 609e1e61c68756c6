// SIGTERM, SIGINT and SIGHUP as the program meets them, sent to the test's own process: they
// quit the event loop as the program runs it, and the real bridge's teardown then saves a band
// edit whose delayed save waited or ran. A signal ignored before stays ignored.
#include "startup/TerminationRequest.h"
#include "tests/app/StoreBridgeSupport.h"
#include "tests/support/RenameHook.h"
#include "tests/support/TestMain.h"

#include <QSettings>
#include <QThread>
#include <QTimer>

#include <csignal>
#include <unistd.h>

using namespace storebridge;
using snt::startup::TerminationRequest;

namespace {

const std::pair<const char *, int> endingSignals[]
        = {{"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}, {"SIGHUP", SIGHUP}};

// The gain of the first band of the pack of that name in the store file at `path`.
double firstGainIn(const QString &path, const QString &name)
{
    for (const QJsonValue &pack : QJsonDocument::fromJson(fileBytes(path))["packs"].toArray()) {
        if (pack["name"] == name)
            return pack["bands"][0]["gain"].toDouble();
    }
    return 0.0;
}

} // namespace

class TerminationRequestTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(useProgramSettingsAndOneMicrophone()); }

    void init()
    {
        QDir(documentsRoot()).removeRecursively();
        QSettings().clear();
    }

    // The edit's save waits for its delay when the signal comes, or runs on its thread, held
    // until the event loop has quit.
    void aSignalQuitsAndTheEditIsSaved_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("saveRunning");
        for (const auto &[name, signal] : endingSignals) {
            QTest::addRow("%s, the save waiting", name) << signal << false;
            QTest::addRow("%s, the save running", name) << signal << true;
        }
    }

    void aSignalQuitsAndTheEditIsSaved()
    {
        QFETCH(int, signal);
        QFETCH(bool, saveRunning);
        std::signal(signal, SIG_DFL); // as a desktop or a terminal starts the program
        const TerminationRequest termination;
        QString bound;
        double edited = 0.0;
        {
            QmlBridge bridge;
            QVERIFY(bridge.loadCurveFile(writeSpeakerCurve()));
            bridge.startCompute();
            QTRY_VERIFY_WITH_TIMEOUT(!bridge.computing(), computeWaitMs);
            bridge.saveSelectedPack();
            bound = bridge.core().result().pack.name;
            const QVariantMap band = bridge.eqBands().value(0).toMap();
            edited = band.value("gain").toDouble() - 2.0;

            const auto quit = std::make_shared<std::atomic<bool>>(false);
            connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, &bridge,
                    [quit] { *quit = true; });
            if (saveRunning)
                renamehook::afterNextRename("/curve_packs_root.json", [quit, signal] {
                    ::kill(::getpid(), signal);
                    while (!*quit)
                        QThread::msleep(1);
                });
            bridge.updateEqBand(0, band.value("freq").toDouble(), band.value("q").toDouble(),
                                edited);
            if (!saveRunning)
                ::kill(::getpid(), signal);
            QTimer unanswered; // a signal that does not quit the loop fails the row
            unanswered.callOnTimeout([] { QCoreApplication::exit(1); });
            unanswered.start(30000);
            QCOMPARE(termination.runEventLoop(), 0);
            QVERIFY(termination.requested() && *quit);
        }
        QCOMPARE(float(firstGainIn(curvePackRootFile(), bound)), float(edited));
        const QDir folder = QFileInfo(curvePackRootFile()).dir(); // the save ended: none staged
        QCOMPARE(folder.entryList({".sonetra-staged-*"}, QDir::Files | QDir::Hidden),
                 QStringList());
    }

    void anIgnoredSignalStaysIgnored_data()
    {
        QTest::addColumn<int>("signal");
        for (const auto &[name, signal] : endingSignals)
            QTest::newRow(name) << signal;
    }

    void anIgnoredSignalStaysIgnored()
    {
        QFETCH(int, signal);
        struct sigaction ignore = {}, before = {};
        ignore.sa_handler = SIG_IGN;
        sigaction(signal, &ignore, &before);
        {
            const TerminationRequest termination;
            ::kill(::getpid(), signal);
            QVERIFY(!termination.requested());
        }
        sigaction(signal, &before, nullptr);
    }
};

SNT_TEST_MAIN(TerminationRequestTest)
#include "TerminationRequestTest.moc"
