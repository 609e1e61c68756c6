#include "selftest/BlockedDemo.h"

#include "common/Log.h"
#include "startup/BridgeCalls.h"

#include <QEventLoop>
#include <QTimer>
#include <QVariantMap>

#include <algorithm>

namespace snt::selftest {

namespace {

const char *const tag = "[SelfTest]";
constexpr int computePollMs = 60;
constexpr int computeLimitMs = 60000;

// Runs the events until the computation has ended (noticed at a poll, so never before the
// first) or the time limit has passed.
void waitForComputation(const startup::BridgeCalls &bridge)
{
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(computePollMs);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&bridge, &loop] {
        if (!bridge.read("computing").toBool())
            loop.quit();
    });
    poll.start();
    QTimer::singleShot(computeLimitMs, &loop, &QEventLoop::quit);
    loop.exec();
    poll.stop();
}

int firstBlockedScheme(const QVariantList &schemes)
{
    const auto blocked = std::find_if(schemes.cbegin(), schemes.cend(), [](const QVariant &s) {
        return s.toMap().value(QStringLiteral("blocked")).toBool();
    });
    return blocked == schemes.cend() ? 0 : int(blocked - schemes.cbegin());
}

} // namespace

void runBlockedDemo(QObject *bridgeObject, const QString &curvePath)
{
    const startup::BridgeCalls bridge(bridgeObject);
    if (!bridge.call("loadCurveFile", {curvePath}).toBool()) {
        sntWarning(lcSelfTest, tag) << "the blocked demo's curve file cannot be read:" << curvePath;
        bridge.call("toast", {QStringLiteral("这条演示曲线读不进来")});
        return;
    }
    bridge.call("startCompute");
    waitForComputation(bridge);
    bridge.write("selectedScheme", firstBlockedScheme(bridge.read("schemes").toList()));
    bridge.call("go", {QStringLiteral("点声源-交付与复测")});
}

} // namespace snt::selftest
