// The program with years of measurements: data folders of 500, 2,000 and 5,000 curve packs, all
// in the root group ("未归属") or spread over 400 projects, met as an engineer meets them. Timed
// on the real bridge and QML, each until the window has drawn its next frame:
//   start         the bridge reading the store and the main window's first frame;
//   saveResult    a computed result saved as a new pack (the curve window hidden, as after
//                 the delivery screen);
//   openWindow    the curve window opened (the store read again and the window drawn);
//   selectPack    a click on a pack in the curve window's tree;
//   renamePack    the bound pack saved again for another scheme, which renames it;
//   deletePack    the selected pack deleted by the window's delete button;
//   movePack      a pack moved to another group, as a drop does;
//   renameProject a project renamed.
// Every benchmark starts from a freshly written data folder. Needs a display:
//   tests/support/own_x_server.sh build/release/bench/bench_pack_library
#include "app/AppCore.h"
#include "app/QmlBridge.h"
#include "audio/Client.h"
#include "bench/BenchSupport.h"
#include "files/DataFolder.h"
#include "startup/MainWindowGeometry.h"
#include "startup/QmlWindowRules.h"
#include "tests/app/store/StoreFolder.h"
#include "tests/selftest/CurveFiles.h"
#include "tests/support/LoopbackCard.h"
#include "ui/QmlSetup.h"

#include <QDataStream>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

constexpr int kProjects = 400;
constexpr int kCaptureValues = 256;
constexpr int kFrameTimeoutMs = 600000;

// A capture file as the store writes one: "SNTRAW3", the value count, then frequency, level,
// phase and coherence as little-endian floats.
bool writeCapture(const QString &name, int seed)
{
    QFile file(rawDir() + QLatin1Char('/') + name);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    out.setFloatingPointPrecision(QDataStream::SinglePrecision);
    out.writeRawData("SNTRAW3", 7);
    out << qint32(kCaptureValues);
    for (int i = 0; i < kCaptureValues; ++i)
        out << float(20.0 * std::pow(1000.0, i / double(kCaptureValues - 1)));
    for (int i = 0; i < kCaptureValues; ++i)
        out << float(3.0 * std::sin(i / 17.0 + seed));
    for (int i = 0; i < kCaptureValues; ++i)
        out << float((i * 7 + seed) % 360 - 180);
    for (int i = 0; i < kCaptureValues; ++i)
        out << 0.95f;
    return out.status() == QDataStream::Ok;
}

// A pack as an engineer's are: EQ bands, both corners, a capture of its own.
CurvePack storedPack(int i)
{
    CurvePack pack;
    pack.name = QStringLiteral("主扩 %1").arg(i + 1, 2, 10, QLatin1Char('0'));
    pack.use = QStringLiteral("主扩");
    pack.seq = i + 1;
    pack.time = QStringLiteral("12-06 17:09");
    pack.rawFile = QStringLiteral("0f8fad5b-d9cb-469f-a165-%1.raw").arg(i, 12, 10, QChar('0'));
    pack.rawPoints = kCaptureValues;
    pack.delayMs = 3.25;
    for (int b = 0; b < 8; ++b)
        pack.bands.append({40.0f * float(b + 1), -3.5f + float(b) * 0.5f, 1.4f, true});
    pack.low = {true, QStringLiteral("LR"), 4, 45.0};
    pack.high = {true, QStringLiteral("BW"), 2, 16000.0};
    return pack;
}

// A fresh data folder: `packs` packs in the root file, or spread evenly over `projects` project
// files.
bool writeDataFolder(int packs, int projects)
{
    QDir(documentsRoot()).removeRecursively();
    initStorageFolders();
    QList<QJsonArray> groups(projects + 1);
    for (int i = 0; i < packs; ++i) {
        const CurvePack pack = storedPack(i);
        if (!writeCapture(pack.rawFile, i))
            return false;
        groups[projects > 0 ? i % projects : projects].append(curvePackToJson(pack));
    }
    for (int p = 0; p < projects; ++p) {
        if (!storetest::writePackFile(storetest::numberedProject(p), groups[p]))
            return false;
    }
    return storetest::writePackFile(QString(), groups[projects]);
}

// Runs the event loop until `window` has drawn a frame after now.
bool nextFrame(QQuickWindow *window)
{
    QEventLoop loop;
    bool drawn = false;
    QObject::connect(window, &QQuickWindow::frameSwapped, &loop, [&] {
        drawn = true;
        loop.quit();
    });
    QTimer::singleShot(kFrameTimeoutMs, &loop, &QEventLoop::quit);
    window->update();
    loop.exec();
    return drawn;
}

// Every item below `item` in the item tree (where views keep their delegates), `item` first.
QList<QQuickItem *> itemsBelow(QQuickItem *item)
{
    QList<QQuickItem *> items{item};
    for (qsizetype i = 0; i < items.size(); ++i)
        items += items[i]->childItems();
    return items;
}

// The program as main() builds it: the bridge, then the QML with the main window shown.
class Program
{
public:
    Program()
    {
        snt::ui::setUpQmlEngine(engine);
        engine.rootContext()->setContextProperty(QStringLiteral("bridge"), &bridge);
        engine.load(QUrl(QStringLiteral("qrc:/qml/Main.qml")));
        main = engine.rootObjects().isEmpty()
                       ? nullptr
                       : qobject_cast<QQuickWindow *>(engine.rootObjects().first());
        if (main)
            snt::startup::restoreMainWindowGeometry(engine, QStringLiteral("600x1145"));
        curves = main ? main->findChild<QQuickWindow *>(QStringLiteral("curveWindow")) : nullptr;
    }

    bool ready() const { return main && curves; }

    // A result computed from a curve with one resonance, on the scheme screen.
    bool computed()
    {
        const QString curve = QDir::home().filePath(QStringLiteral("resonance.txt"));
        if (!selftesttest::writeResonanceCurve(curve) || !bridge.loadCurveFile(curve))
            return false;
        bridge.startCompute();
        return QTest::qWaitFor([this] { return !bridge.computing(); }, 60000)
               && !bridge.core().result().schemes.isEmpty();
    }

    bool openCurves()
    {
        bridge.openCurveWindow();
        return QTest::qWaitForWindowExposed(curves) && nextFrame(curves);
    }

    // The pack rows the tree shows now, top to bottom.
    QList<QQuickItem *> shownPackRows() const
    {
        QList<QQuickItem *> rows;
        const QList<QQuickItem *> items = itemsBelow(curves->contentItem());
        const auto tree = std::find_if(items.cbegin(), items.cend(), [](QQuickItem *item) {
            return item->objectName() == QStringLiteral("curveTree");
        });
        if (tree == items.cend())
            return rows;
        const QRectF view
                = (*tree)->mapRectToScene(QRectF(0, 0, (*tree)->width(), (*tree)->height()));
        for (QQuickItem *item : items) {
            const QRectF at = item->mapRectToScene(QRectF(0, 0, item->width(), item->height()));
            if (item->objectName().startsWith(QStringLiteral("packRow")) && item->isVisible()
                && view.contains(at.center()))
                rows.append(item);
        }
        std::sort(rows.begin(), rows.end(), [](QQuickItem *a, QQuickItem *b) {
            return a->mapToScene({}).y() < b->mapToScene({}).y();
        });
        return rows;
    }

    // Clicks a pack the tree shows (counted from the top, round) as a hand would: on its name,
    // right of the drag handle.
    bool clickPack(int shownRow)
    {
        const QList<QQuickItem *> rows = shownPackRows();
        if (rows.isEmpty())
            return false;
        QQuickItem *row = rows[shownRow % rows.size()];
        const QPointF at = row->mapToScene({row->width() * 0.6, row->height() / 2});
        QTest::mouseClick(curves, Qt::LeftButton, {}, at.toPoint());
        return true;
    }

    bool clickItem(const QString &name)
    {
        for (QQuickItem *item : itemsBelow(curves->contentItem())) {
            if (item->objectName() == name && item->isVisible()) {
                QTest::mouseClick(
                        curves, Qt::LeftButton, {},
                        item->mapToScene({item->width() / 2, item->height() / 2}).toPoint());
                return true;
            }
        }
        return false;
    }

    QmlBridge bridge;
    QQmlApplicationEngine engine;
    QQuickWindow *main = nullptr;
    QQuickWindow *curves = nullptr;
};

int packsOf(const benchmark::State &state)
{
    return int(state.range(0));
}

int projectsOf(const benchmark::State &state)
{
    return int(state.range(1));
}

// A program started on a fresh data folder of the benchmark's size, with `prepare` run on it;
// null (the benchmark skipped) when any of it fails.
std::unique_ptr<Program> started(benchmark::State &state,
                                 const std::function<bool(Program &)> &prepare = {})
{
    if (!writeDataFolder(packsOf(state), projectsOf(state))) {
        state.SkipWithError("the data folder could not be written");
        return nullptr;
    }
    auto program = std::make_unique<Program>();
    if (!program->ready() || !nextFrame(program->main) || (prepare && !prepare(*program))) {
        state.SkipWithError("the program did not come up");
        return nullptr;
    }
    return program;
}

// Times `action` until `window` has drawn its next frame; `before` runs untimed ahead of each.
void timeAction(benchmark::State &state, QQuickWindow *window, const std::function<bool()> &action,
                const std::function<bool()> &before = {})
{
    std::vector<double> ms;
    for (auto _ : state) {
        if (before && !before()) {
            state.SkipWithError("could not prepare the action");
            return;
        }
        QElapsedTimer clock;
        clock.start();
        if (!action() || !nextFrame(window)) {
            state.SkipWithError("the action did not run");
            return;
        }
        const double elapsed = clock.nsecsElapsed() / 1e6;
        state.SetIterationTime(elapsed / 1e3);
        ms.push_back(elapsed);
    }
    state.counters["median_ms"] = percentile(ms, 0.5);
    state.counters["max_ms"] = percentile(ms, 1.0);
}

void start(benchmark::State &state)
{
    if (!writeDataFolder(packsOf(state), projectsOf(state))) {
        state.SkipWithError("the data folder could not be written");
        return;
    }
    std::vector<double> ms;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        Program program;
        if (!program.ready() || !nextFrame(program.main)) {
            state.SkipWithError("the program did not come up");
            return;
        }
        ms.push_back(clock.nsecsElapsed() / 1e6);
        state.SetIterationTime(ms.back() / 1e3);
    }
    state.counters["median_ms"] = percentile(ms, 0.5);
}

void saveResult(benchmark::State &state)
{
    const auto program = started(state, [](Program &p) { return p.computed(); });
    if (!program)
        return;
    QmlBridge &bridge = program->bridge;
    timeAction(
            state, program->main,
            [&] {
                bridge.saveSelectedPack();
                return true;
            },
            [&] {
                // Forgotten, the result is saved as a new pack again.
                bridge.core().forgetPack();
                return true;
            });
}

void openWindow(benchmark::State &state)
{
    const auto program = started(state);
    if (!program)
        return;
    Program &p = *program;
    timeAction(
            state, p.curves,
            [&] {
                p.bridge.openCurveWindow();
                return QTest::qWaitForWindowExposed(p.curves);
            },
            [&] {
                p.bridge.setCurveWindowOpen(false);
                return QTest::qWaitFor([&] { return !p.curves->isVisible(); });
            });
}

void selectPack(benchmark::State &state)
{
    const auto program = started(state, [](Program &p) { return p.openCurves(); });
    if (!program)
        return;
    int shown = 0;
    timeAction(state, program->curves, [&] { return program->clickPack(shown++ % 2); });
}

void renamePack(benchmark::State &state)
{
    const auto program = started(state, [](Program &p) {
        if (!p.computed() || p.bridge.core().result().schemes.size() < 2)
            return false;
        p.bridge.selectScheme(0);
        p.bridge.saveSelectedPack();
        return p.openCurves();
    });
    if (!program)
        return;
    QmlBridge &bridge = program->bridge;
    int scheme = 0;
    timeAction(
            state, program->curves,
            [&] {
                bridge.saveSelectedPack();
                return true;
            },
            [&] {
                bridge.selectScheme(++scheme % 2);
                return true;
            });
}

void deletePack(benchmark::State &state)
{
    const auto program = started(state, [](Program &p) { return p.openCurves(); });
    if (!program)
        return;
    Program &p = *program;
    int deleted = 0;
    timeAction(
            state, p.curves, [&] { return p.clickItem(QStringLiteral("deletePack")); },
            [&] {
                // Each time another pack, wherever it is in the tree.
                QMetaObject::invokeMethod(p.curves, "selectPackByName",
                                          Q_ARG(QVariant, storedPack(deleted++).name));
                return nextFrame(p.curves);
            });
}

// The first pack of a group moved to the end of another, as a drop on a group's row does: in
// the root group to its own end; over projects from the first project into the last and back.
void movePack(benchmark::State &state)
{
    const auto program = started(state, [](Program &p) { return p.openCurves(); });
    if (!program)
        return;
    QmlBridge &bridge = program->bridge;
    const bool inProjects = projectsOf(state) > 0;
    const QStringList groups = inProjects ? QStringList{storetest::numberedProject(0),
                                                        storetest::numberedProject(kProjects - 1)}
                                          : QStringList{QString(), QString()};
    int moves = 0;
    timeAction(state, program->curves, [&] {
        const QString from = groups[moves % 2];
        const QString to = groups[++moves % 2];
        const QList<CurvePack> &packs = bridge.core().store().curvePacks;
        for (qsizetype i = 0; i < packs.size(); ++i) {
            if (packs[i].project == from)
                return bridge.movePack(int(i), -1, to);
        }
        return false;
    });
}

// A project of the folder renamed and back; in the root-group folder one made for it.
void renameProject(benchmark::State &state)
{
    const QString name = storetest::numberedProject(kProjects / 2);
    const auto program = started(state, [&](Program &p) {
        return (projectsOf(state) > 0 || p.bridge.createProjectInWindow(name)) && p.openCurves();
    });
    if (!program)
        return;
    QmlBridge &bridge = program->bridge;
    const QString renamed = name + QStringLiteral(" 改名");
    int renames = 0;
    timeAction(state, program->curves, [&] {
        const bool there = renames++ % 2 == 0;
        return bridge.renameProject(there ? name : renamed, there ? renamed : name);
    });
}

void libraries(benchmark::internal::Benchmark *b)
{
    b->ArgNames({"packs", "projects"});
    for (const int projects : {0, kProjects}) {
        for (const int packs : {500, 2000, 5000})
            b->Args({packs, projects});
    }
    b->Unit(benchmark::kMillisecond)->UseManualTime();
}

} // namespace

BENCHMARK(start)->Apply(libraries)->Iterations(3);
BENCHMARK(saveResult)->Apply(libraries)->Iterations(5);
BENCHMARK(openWindow)->Apply(libraries)->Iterations(5);
BENCHMARK(selectPack)->Apply(libraries)->Iterations(5);
BENCHMARK(renamePack)->Apply(libraries)->Iterations(5);
BENCHMARK(deletePack)->Apply(libraries)->Iterations(5);
BENCHMARK(movePack)->Apply(libraries)->Iterations(5);
BENCHMARK(renameProject)->Apply(libraries)->Iterations(4);

int main(int argc, char **argv)
{
    const OwnHome home;
    // As the scripted runs and the screen tests draw on Xvfb: in the GUI thread, frame by frame.
    qputenv("QSG_RENDER_LOOP", "basic");
    QGuiApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Halvo"));
    QCoreApplication::setApplicationName(QStringLiteral("测量工作流"));
    const auto card = std::make_shared<snt::test::LoopbackCard>();
    audio::Client::setPluginFactories({[card] {
        return card;
    }});
    snt::startup::registerQmlTypes();
    QQuickWindow::setTextRenderType(QQuickWindow::QtTextRendering);
    // The toasts and QML warnings of the walk are not figures.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return runBenchmarks(argc, argv);
}
