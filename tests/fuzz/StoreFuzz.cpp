// A project file, as users copy them between machines, standing as each of many project files
// (far more than the store's tables start with) and as the root file of the packs in no project:
// listed and loaded as the store does at start, then saved and loaded again, which must give the
// same packs (what was read once is written back unchanged).
#include "app/store/CurvePack.h"
#include "app/store/ProjectStore.h"
#include "files/DataFolder.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QDir>
#include <QJsonDocument>

namespace {

constexpr int projectFiles = 100;

QByteArray packsText(const QList<CurvePack> &packs)
{
    QJsonArray array;
    for (const CurvePack &pack : packs)
        array.append(curvePackToJson(pack));
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QDir(documentsRoot()).removeRecursively(); // nothing of the last input stays
    const QByteArray input = snt::fuzz::bytes(data, size);
    for (int i = 0; i < projectFiles; ++i)
        snt::fuzz::writeFile(projectsDir() + QStringLiteral("/现场 %1.json").arg(i), input);
    snt::fuzz::writeFile(curvePackRootFile(), input);
    ProjectStore store;
    store.listProjects();
    store.loadCurvePacks();
    if (store.curvePacks.isEmpty())
        return 0;
    for (const CurvePack &pack : std::as_const(store.curvePacks))
        (void)store.nextSeq(pack.use);
    const QByteArray loaded = packsText(store.curvePacks);
    store.saveCurvePacks();
    store.loadCurvePacks();
    if (packsText(store.curvePacks) != loaded)
        __builtin_trap(); // a save lost or changed what the store had read
    return 0;
}
