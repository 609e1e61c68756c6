#include "app/DeliveryFlow.h"

#include "app/AppCore.h"
#include "app/CurveFeeds.h"
#include "app/EqPreset.h"
#include "app/MeasuringFlow.h"
#include "app/PackCurves.h"
#include "app/SchemeChoice.h"
#include "app/SchemeEqList.h"
#include "app/ScreenNames.h"
#include "app/UiState.h"
#include "processor/ProcessorClient.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>

using snt::eq::Scheme;

namespace {

// A scheme's name without a trailing band remark such as " 低频 +3".
QString cleanSchemeName(const QString &name)
{
    static const QRegularExpression bandRemark(
            QStringLiteral(R"(\s+(低频|高频)\s*[+\-−]?\s*\d+(\.\d+)?\s*$)"));
    const QString clean = QString(name).remove(bandRemark).trimmed();
    return clean.isEmpty() ? name : clean;
}

// The EQ of the scheme in the fields a pack keeps it in.
void takeScheme(CurvePack &pack, const Scheme &scheme)
{
    pack.smoothBands = scheme.setting;
    pack.levelRefDb = scheme.level;
    pack.levelRefSet = scheme.hasLevel;
    pack.question = scheme.blocked() ? QStringLiteral("有疑问") : QString();
    pack.bands = scheme.bands;
    pack.low = scheme.hpf;
    pack.high = scheme.lpf;
    pack.lcSuspect = scheme.cornerFlag;
}

QVariantMap failure(const QString &message)
{
    return {{QStringLiteral("ok"), false}, {QStringLiteral("message"), message}};
}

} // namespace

DeliveryFlow::DeliveryFlow(AppCore &core, const MeasuringFlow &measuring, SchemeChoice &choice,
                           ProcessorClient &processor, UiState &ui, QObject *parent)
    : QObject(parent)
    , core_(core)
    , measuring_(measuring)
    , choice_(choice)
    , processor_(processor)
    , ui_(ui)
{ }

void DeliveryFlow::enterScheme(int index)
{
    choice_.setSelectedScheme(index);
    saveSelectedPack();
    emit goRequested(screens::delivery);
}

// ---- the result as a pack -------------------------------------------------------------------

void DeliveryFlow::saveSelectedPack()
{
    const SchemeResult &result = core_.result();
    if (result.schemes.isEmpty())
        return;
    const int selected = std::clamp(result.selectedScheme, 0, int(result.schemes.size()) - 1);
    const Scheme &scheme = result.schemes[selected];
    const bool lineArray = measuring_.lineArray();
    const QString use = lineArray ? lineArrayUse : cleanSchemeName(scheme.name);

    const QList<CurvePack> &packs = core_.store().curvePacks;
    int found = -1;
    for (qsizetype i = 0; i < packs.size() && result.pack.bound(); ++i) {
        if (packs[i].name == result.pack.name) {
            found = int(i);
            break;
        }
    }
    CurvePack record = found >= 0 ? packs[found] : CurvePack();
    if (found >= 0 && result.pack.saved && result.pack.scheme == selected && record.use == use)
        return; // this result is saved for this scheme already
    if (!(lineArray && found >= 0 && record.use == use)) {
        record.use = use;
        record.seq = core_.store().nextSeq(use);
        record.name = QStringLiteral("%1 %2").arg(use).arg(record.seq, 2, 10, QLatin1Char('0'));
    }
    record.time = QDateTime::currentDateTime().toString(QStringLiteral("MM-dd HH:mm"));
    record.count = 2;
    record.delayMs = core_.measured().resultDelayMs();
    record.phaseCompensated = true;
    takeScheme(record, scheme);
    fillPackCurves(record, result.snapshot, result.hasSelection() ? &result.selected() : nullptr);
    if (found < 0)
        record.project.clear();
    takeArrayPoints(record);

    if (record.freq.isEmpty()) {
        ui_.toast(QStringLiteral("没有可保存的曲线"));
        return;
    }
    const QString name = record.name;
    const bool saved = core_.store().savePack(std::move(record), found);
    if (saved) {
        core_.cancelPendingPackSave(); // the whole list was just written
        core_.bindPack(name, core_.result().selectedScheme);
    }
    // Also after a failure: the list then shows what the files hold.
    emit projectsChanged();
    emit curvePacksChanged();
    if (!saved) {
        ui_.toast(QStringLiteral("曲线没存上，请检查文档文件夹能否写入"));
        return;
    }
    ui_.toast(found < 0 ? QStringLiteral("曲线已放进「未归属」")
                        : QStringLiteral("这条曲线已更新"));
}

// A line array's measured points go into the pack beside the average; any other result keeps
// none.
void DeliveryFlow::takeArrayPoints(CurvePack &pack) const
{
    pack.pointFreq.clear();
    pack.pointLevel.clear();
    pack.pointPhase.clear();
    pack.pointCoherence.clear();
    if (!measuring_.lineArray())
        return;
    for (const snt::eq::Measured &point : measuring_.points()) {
        pack.pointFreq.append(point.freq);
        pack.pointLevel.append(point.magnitude);
        pack.pointPhase.append(point.phase);
        pack.pointCoherence.append(point.coherence);
    }
}

// ---- preset, clipboard, processor, converter -------------------------------------------------

QJsonObject DeliveryFlow::currentPresetJson() const
{
    const snt::eq::CornerEstimate shown = choice_.shownCorners();
    const SchemeResult &result = core_.result();
    return eqpreset::presetJson(result.hasSelection() ? result.selected().bands
                                                      : result.selectedBands,
                                shown.highPass, shown.lowPass);
}

void DeliveryFlow::copyCurrentParams()
{
    const SchemeResult &result = core_.result();
    if (result.hasSelection() && result.selected().blocked()) {
        ui_.toast(QStringLiteral("这条曲线不建议计算，没有 EQ 可以复制"));
        return;
    }
    ui_.toast(eqpreset::copyToClipboard(currentPresetJson()));
}

bool DeliveryFlow::exportCurrentPack()
{
    const SchemeResult &result = core_.result();
    if (result.schemes.isEmpty() || !result.hasSelection()) {
        ui_.toast(QStringLiteral("还没有可导出的结果"));
        return false;
    }
    const Scheme &scheme = result.selected();
    if (scheme.blocked()) {
        ui_.toast(QStringLiteral("这条曲线不建议计算，没有 EQ 可以导出"));
        return false;
    }
    const QString base
            = eqpreset::presetBaseName(result.pack.bound() ? result.pack.name : scheme.name);
    if (!eqpreset::writePresetFile(eqpreset::desktopFolder(), base, currentPresetJson())) {
        ui_.toast(QStringLiteral("导出没成功"));
        return false;
    }
    ui_.toast(QStringLiteral("EQ 预设已导出到桌面"));
    return true;
}

bool DeliveryFlow::schemeEq(ProcessorEqList &list, const QString &verb, QString &error) const
{
    const SchemeResult &result = core_.result();
    if (!result.hasSelection()) {
        error = QStringLiteral("请先测量音响并计算结果，再到这里%1。").arg(verb);
        return false;
    }
    const Scheme &scheme = result.selected();
    if (scheme.blocked()) {
        error = scheme.blockedReason;
        return false;
    }
    if (scheme.bands.isEmpty()) {
        error = QStringLiteral("这条结果没有 EQ 段，不能%1。").arg(verb);
        return false;
    }
    list = schemeEqList(scheme.bands, scheme.hpf, scheme.lpf);
    return true;
}

QVariantMap DeliveryFlow::upload(bool isOut, int idx, const ConverterExport::Collect &collect)
{
    ProcessorEqList list;
    QString error;
    if (!collect(QStringLiteral("上传"), list, error))
        return failure(error);
    return processor_.uploadEqScheme(isOut, idx, list);
}

QVariantMap DeliveryFlow::exportToConverter(const QString &target,
                                            const ConverterExport::Collect &collect)
{
    return converter_.exportEq(
            target, QStandardPaths::writableLocation(QStandardPaths::DesktopLocation), collect);
}
