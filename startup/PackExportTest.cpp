#include "startup/PackExportTest.h"

#include "startup/BridgeCalls.h"

#include <algorithm>

namespace snt::startup {

namespace {

constexpr int exportFailed = 5;

int largestIndex(const QVariantList &packs, int largest)
{
    for (const QVariant &pack : packs)
        largest = std::max(largest, pack.toMap().value("index").toInt());
    return largest;
}

} // namespace

int runPackExportTest(QObject *bridgeObject)
{
    const BridgeCalls bridge(bridgeObject);
    int newest = largestIndex(bridge.read("rootPacks").toList(), -1);
    for (const QVariant &project : bridge.read("projects").toList())
        newest = largestIndex(project.toMap().value("packs").toList(), newest);
    return bridge.call("exportCurvePack", {newest}).toBool() ? 0 : exportFailed;
}

} // namespace snt::startup
