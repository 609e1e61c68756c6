// Saved results as the curve window sees them: saving the current result as a curve pack, the
// delayed writing of scheme edits into it, the pack summaries and detail curves, moving and
// deleting packs, loading a curve file as the current result, and the text export of a pack.
#include "app/AppCore.h"
#include "app/CurveFeeds.h"
#include "app/PackCurves.h"
#include "app/PackDetail.h"
#include "app/PackTextExport.h"
#include "app/QmlBridge.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>

namespace {

constexpr int defaultTarget = 1;

QString shortTime()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("MM-dd HH:mm"));
}

// A scheme's name without a trailing band remark such as " 低频 +3".
QString cleanSchemeName(const QString &name)
{
    static const QRegularExpression bandRemark(
            QStringLiteral(R"(\s+(低频|高频)\s*[+\-−]?\s*\d+(\.\d+)?\s*$)"));
    const QString clean = QString(name).remove(bandRemark).trimmed();
    return clean.isEmpty() ? name : clean;
}

// The EQ of the scheme in the fields a pack keeps it in.
void takeScheme(CurvePack &pack, const snt::eq::Scheme &scheme)
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

} // namespace

// QML file dialogs hand over URLs.
QString QmlBridge::localFilePath(const QString &path)
{
    const QUrl url(path);
    return url.isLocalFile() ? url.toLocalFile() : path;
}

// ---- summaries and details ----------------------------------------------------------------

QVariantMap QmlBridge::curvePackSummary(const CurvePack &pack, int index) const
{
    return {{QStringLiteral("index"), index},
            {QStringLiteral("name"), pack.name},
            {QStringLiteral("use"), pack.use},
            {QStringLiteral("project"), pack.project},
            {QStringLiteral("time"), pack.time},
            {QStringLiteral("seq"), pack.seq},
            {QStringLiteral("count"), pack.count},
            {QStringLiteral("delayMs"), pack.delayMs},
            {QStringLiteral("phaseCompensated"), pack.phaseCompensated},
            {QStringLiteral("smoothBands"), smoothingBands_},
            {QStringLiteral("smoothingLabel"), smoothingLabel()},
            {QStringLiteral("question"), pack.question}};
}

QVariantList QmlBridge::rootPacks() const
{
    QVariantList packs;
    for (qsizetype i = 0; i < core_->curvePacks.size(); ++i) {
        if (core_->curvePacks[i].project.isEmpty())
            packs.append(curvePackSummary(core_->curvePacks[i], int(i)));
    }
    return packs;
}

QVariantMap QmlBridge::curvePackDetail(int index)
{
    if (index < 0 || index >= core_->curvePacks.size())
        return {};
    CurvePack &pack = core_->curvePacks[index];
    loadPackCurves(pack);
    QVariantMap detail = curvePackSummary(pack, index);
    detail.insert(PackDetail::curves(pack, smoothingBands_));
    return detail;
}

bool QmlBridge::movePack(int from, int before, const QString &project)
{
    const int count = int(core_->curvePacks.size());
    if (from < 0 || from >= count || before < -1 || before > count)
        return false;
    if (!core_->moveCurvePack(from, before, project)) {
        toast(QStringLiteral("没移成，请检查文档文件夹能否写入"));
        return false;
    }
    emit projectsChanged();
    emit curvePacksChanged();
    toast(project.isEmpty() ? QStringLiteral("已移到「未归属」")
                            : QStringLiteral("已移进「%1」").arg(project));
    return true;
}

bool QmlBridge::deleteCurvePack(int index)
{
    if (index < 0 || index >= core_->curvePacks.size())
        return false;
    const QString name = core_->curvePacks[index].name;
    if (!core_->deleteCurvePack(index)) {
        toast(QStringLiteral("没删掉，请检查文档文件夹能否写入"));
        return false;
    }
    if (name == savedPackName_) {
        savedPackName_.clear();
        savedPackScheme_ = -1;
    }
    emit projectsChanged();
    emit curvePacksChanged();
    toast(name + QStringLiteral(" 已删除"));
    return true;
}

void QmlBridge::openCurveWindow()
{
    flushPendingPackSave();
    core_->listProjects();
    core_->loadCurvePacks();
    emit projectsChanged();
    emit curvePacksChanged();
    setCurveWindowOpen(true);
}

// ---- saving the current result --------------------------------------------------------------

void QmlBridge::saveSelectedPack()
{
    const QList<snt::eq::Scheme> &schemes = core_->schemes;
    if (schemes.isEmpty())
        return;
    const int selected = std::clamp(core_->selectedScheme, 0, int(schemes.size()) - 1);
    const snt::eq::Scheme &scheme = schemes[selected];
    const QString use = lineArray_ ? lineArrayUse : cleanSchemeName(scheme.name);

    int found = -1;
    for (qsizetype i = 0; i < core_->curvePacks.size() && !savedPackName_.isEmpty(); ++i) {
        if (core_->curvePacks[i].name == savedPackName_) {
            found = int(i);
            break;
        }
    }
    CurvePack record = found >= 0 ? core_->curvePacks[found] : CurvePack();
    if (found >= 0 && savedPackValid_ && savedPackScheme_ == selected && record.use == use)
        return; // this result is saved for this scheme already
    if (!(lineArray_ && found >= 0 && record.use == use)) {
        record.use = use;
        record.seq = core_->nextSeq(use);
        record.name = QStringLiteral("%1 %2").arg(use).arg(record.seq, 2, 10, QLatin1Char('0'));
    }
    record.time = shortTime();
    record.count = 2;
    record.delayMs = core_->measuredDelayMs > 0.0 ? core_->measuredDelayMs : core_->importedDelayMs;
    record.phaseCompensated = true;
    takeScheme(record, scheme);
    const bool schemeValid = core_->selectedScheme >= 0 && core_->selectedScheme < schemes.size();
    fillPackCurves(record, resultSnapshot_,
                   schemeValid ? &schemes[core_->selectedScheme] : nullptr);
    if (found < 0)
        record.project.clear();
    takeArrayPoints(record);

    if (record.freq.isEmpty()) {
        toast(QStringLiteral("没有可保存的曲线"));
        return;
    }
    const QString name = record.name;
    if (!core_->savePack(std::move(record), found)) {
        toast(QStringLiteral("曲线没存上，请检查文档文件夹能否写入"));
        return;
    }
    packSaveTimer_.stop(); // the whole list was just written
    savedPackValid_ = true;
    savedPackName_ = name;
    savedPackScheme_ = core_->selectedScheme;
    emit projectsChanged();
    emit curvePacksChanged();
    toast(found < 0 ? QStringLiteral("曲线已放进「未归属」") : QStringLiteral("这条曲线已更新"));
}

// A line array's measured points go into the pack beside the average; any other result keeps
// none.
void QmlBridge::takeArrayPoints(CurvePack &pack) const
{
    pack.pointFreq.clear();
    pack.pointLevel.clear();
    pack.pointPhase.clear();
    pack.pointCoherence.clear();
    if (!lineArray_)
        return;
    for (const snt::eq::Measured &point : points_) {
        pack.pointFreq.append(point.freq);
        pack.pointLevel.append(point.magnitude);
        pack.pointPhase.append(point.phase);
        pack.pointCoherence.append(point.coherence);
    }
}

void QmlBridge::savePendingPacks()
{
    // Off the GUI thread: the outcome comes back through AppCore::curvePacksSaved.
    if (!savedPackName_.isEmpty())
        core_->saveCurvePacksLater();
}

void QmlBridge::flushPendingPackSave()
{
    if (!packSaveTimer_.isActive())
        return;
    packSaveTimer_.stop();
    savePendingPacks();
}

void QmlBridge::rebuildPackCurves()
{
    curveBundles_.clear();
    bundleSources_.reset();
    if (core_->schemes.isEmpty()) {
        for (const QVariant &target : std::as_const(targets_)) {
            const QVariantMap map = target.toMap();
            const QVariant points = map.value(QStringLiteral("points"));
            curveBundles_.append(
                    QVariantMap{{QStringLiteral("name"), map.value(QStringLiteral("name"))},
                                {QStringLiteral("count"), 2},
                                {QStringLiteral("time"), QStringLiteral("—")},
                                {QStringLiteral("before"), points},
                                {QStringLiteral("after"), points}});
        }
    } else {
        // The schemes' previews are made when the bundles are first read, from the sources as
        // they stand now; whichever of the bundles and the scheme cards is read first makes them
        // for both.
        bundleSources_
                = BundleSources{core_->schemes, resultSnapshot_, currentMeasurement(), shortTime()};
    }
    curveIndex_ = std::clamp(curveIndex_, 0, std::max(curveBundleCount() - 1, 0));
    emit curveBundlesChanged();
    emit curveIndexChanged();
}

int QmlBridge::curveBundleCount() const
{
    return bundleSources_ ? int(bundleSources_->schemes.size()) : int(curveBundles_.size());
}

QVariantList QmlBridge::curveBundles() const
{
    if (!bundleSources_)
        return curveBundles_;
    const BundleSources &sources = *bundleSources_;
    const QList<QVariantMap> previews
            = previews_.curves(sources.schemes, sources.snapshot, sources.current);
    for (qsizetype i = 0; i < sources.schemes.size(); ++i) {
        const QVariantMap &curves = previews[i];
        curveBundles_.append(
                QVariantMap{{QStringLiteral("name"), sources.schemes[i].name},
                            {QStringLiteral("count"), 2},
                            {QStringLiteral("time"), sources.time},
                            {QStringLiteral("before"), curves.value(QStringLiteral("before"))},
                            {QStringLiteral("after"), curves.value(QStringLiteral("after"))}});
    }
    bundleSources_.reset();
    return curveBundles_;
}

bool QmlBridge::loadCurveFile(const QString &path)
{
    if (!core_->importCurveText(localFilePath(path))) {
        toast(QStringLiteral("曲线文件读不进来"));
        return false;
    }
    core_->selectedTarget = defaultTarget;
    core_->clearComputeLog();
    clearResult();
    prepareSelectedTarget();
    rebuildPackCurves();
    emit curveChanged();
    emit targetsChanged();
    emit schemesChanged();
    return true;
}

// ---- text export ---------------------------------------------------------------------------

bool QmlBridge::exportCurvePack(int index)
{
    flushPendingPackSave();
    if (index < 0 || index >= core_->curvePacks.size())
        return false;
    CurvePack pack = core_->curvePacks[index];
    loadPackCurves(pack);
    if (pack.freq.isEmpty()) {
        toast(QStringLiteral("这个包还没有曲线"));
        return false;
    }
    if (!PackTextExport::write(PackTextExport::folderFor(pack.name),
                               PackTextExport::curvesOf(pack))) {
        toast(QStringLiteral("曲线没能全部导出，请检查桌面文件夹能否写入"));
        return false;
    }
    toast(QStringLiteral("曲线已导出到桌面"));
    return true;
}
