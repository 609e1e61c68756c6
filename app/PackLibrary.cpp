#include "app/PackLibrary.h"

#include "app/AppCore.h"
#include "app/PackCurves.h"
#include "app/PackDetail.h"
#include "app/PackTextExport.h"
#include "app/PackTree.h"
#include "app/ScreenNames.h"
#include "app/UiState.h"
#include "files/StoreFile.h"

#include <QFileInfo>

#include <algorithm>

namespace {

const QString emptyNameText = QStringLiteral("工程名不能空着");
const QString forbiddenText = QStringLiteral("工程名里不能有这些符号");
const QString takenText = QStringLiteral("这个工程已经有了");
const QString notSavedText = QStringLiteral("工程没存上，请检查文档文件夹能否写入");

} // namespace

PackLibrary::PackLibrary(AppCore &core, UiState &ui, QObject *parent)
    : QObject(parent)
    , core_(core)
    , ui_(ui)
    , tree_(new PackTree(core.store(), *this, this))
{ }

// ---- the current project --------------------------------------------------------------------

QString PackLibrary::projectName() const
{
    return core_.project().name;
}

void PackLibrary::setProjectName(const QString &name)
{
    if (core_.project().name == name)
        return;
    core_.setProjectName(name);
    emit projectChanged();
}

QString PackLibrary::roomType() const
{
    return core_.project().roomType;
}

QString PackLibrary::roomHeight() const
{
    return core_.project().roomHeight;
}

QString PackLibrary::programType() const
{
    return core_.project().programType;
}

bool PackLibrary::freshInstall() const
{
    return core_.store().freshInstall;
}

// ---- projects -------------------------------------------------------------------------------

QVariantList PackLibrary::projects() const
{
    const QList<CurvePack> &packs = core_.store().curvePacks;
    const QHash<QString, QList<int>> groups = packsByGroup(packs);
    QVariantList list;
    for (const ProjectInfo &info : std::as_const(core_.store().projects)) {
        QVariantList summaries;
        int curves = 0;
        for (const int i : groups.value(info.name)) {
            summaries.append(summary(packs[i], i));
            curves += packs[i].count;
        }
        list.append(QVariantMap{{QStringLiteral("name"), info.name},
                                {QStringLiteral("updated"), info.modified},
                                {QStringLiteral("curves"), curves},
                                {QStringLiteral("packs"), summaries},
                                {QStringLiteral("roomType"), info.roomType},
                                {QStringLiteral("roomHeight"), info.roomHeight},
                                {QStringLiteral("programType"), info.programType}});
    }
    return list;
}

void PackLibrary::openProject(int index)
{
    if (index < 0 || index >= core_.store().projects.size())
        return;
    const ProjectInfo &info = core_.store().projects[index];
    core_.store().freshInstall = false;
    core_.setProject({info.name, info.roomType, info.roomHeight, info.programType});
    emit projectChanged();
    emit goRequested(screens::home);
}

bool PackLibrary::isListedProject(const QString &name) const
{
    const QList<ProjectInfo> &projects = core_.store().projects;
    return std::any_of(projects.cbegin(), projects.cend(),
                       [&name](const ProjectInfo &info) { return info.name == name; });
}

// Why a trimmed, non-empty name cannot name a project file, in words for the user: a character
// Windows forbids in file names ("/" or "\" would also lead out of the projects folder), or
// what else the store refuses (a leading "." would hide the file).
QString PackLibrary::projectNameProblem(const QString &name) const
{
    if (name.contains(store::forbiddenNameCharacters()))
        return forbiddenText;
    return ProjectStore::projectNameProblem(name);
}

bool PackLibrary::refuseProjectName(const QString &name, bool takenToo)
{
    QString problem = name.isEmpty() ? emptyNameText : projectNameProblem(name);
    if (problem.isEmpty() && takenToo
        && (isListedProject(name) || QFileInfo::exists(ProjectStore::projectFilePath(name))))
        problem = takenText;
    if (!problem.isEmpty())
        ui_.toast(problem);
    return !problem.isEmpty();
}

// Writes the project file under `name` with the current description and makes it the current
// project; on failure the current project stays as it was.
bool PackLibrary::saveProjectAs(const QString &name)
{
    if (!core_.saveProjectAs(name)) {
        ui_.toast(notSavedText);
        return false;
    }
    core_.setProjectName(name);
    core_.store().freshInstall = false;
    return true;
}

void PackLibrary::createProject(const QString &name)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty()) {
        ui_.toast(QStringLiteral("先给工程起个名字"));
        return;
    }
    if (refuseProjectName(trimmed, false) || !saveProjectAs(trimmed))
        return;
    ui_.setNewProjectOpen(false);
    emit projectChanged();
    emit projectsChanged();
    emit goRequested(screens::home);
}

bool PackLibrary::createProjectInWindow(const QString &name)
{
    const QString trimmed = name.trimmed();
    if (refuseProjectName(trimmed, true))
        return false;
    // The packs are read again below: edits still waiting to be written go first.
    core_.flushPendingPackSave();
    if (!saveProjectAs(trimmed))
        return false;
    core_.store().loadCurvePacks();
    emit projectChanged();
    emit projectsChanged();
    emit curvePacksChanged();
    return true;
}

bool PackLibrary::renameProject(const QString &oldName, const QString &newName)
{
    const QString trimmed = newName.trimmed();
    if (trimmed.isEmpty()) {
        ui_.toast(emptyNameText);
        return false;
    }
    if (trimmed == oldName || refuseProjectName(trimmed, false))
        return false;
    if (isListedProject(trimmed)) {
        ui_.toast(takenText);
        return false;
    }
    if (!isListedProject(oldName)) {
        ui_.toast(QStringLiteral("工程文件找不到了"));
        return false;
    }
    core_.flushPendingPackSave();
    if (!core_.store().renameProject(oldName, trimmed)) {
        ui_.toast(QStringLiteral("工程改名没成功"));
        return false;
    }
    if (core_.project().name == oldName)
        core_.setProjectName(trimmed);
    emit projectChanged();
    emit projectsChanged();
    emit curvePacksChanged();
    return true;
}

void PackLibrary::deleteProject(int index)
{
    if (index < 0 || index >= core_.store().projects.size())
        return;
    const QString name = core_.store().projects[index].name;
    core_.flushPendingPackSave();
    if (!core_.store().deleteProject(name)) {
        // The lists may have been read again: the window shows what the files hold, so that
        // nothing is deleted unseen and every row names the pack it shows.
        emit projectsChanged();
        emit curvePacksChanged();
        ui_.toast(QStringLiteral("工程没删掉，请检查文档文件夹能否写入"));
        return;
    }
    if (name == core_.project().name) {
        core_.setProjectName(QString());
        core_.store().freshInstall = true;
        core_.forgetPack();
    }
    emit projectsChanged();
    emit curvePacksChanged();
    emit projectChanged();
}

// ---- packs ----------------------------------------------------------------------------------

QVariantMap PackLibrary::summary(const CurvePack &pack, int index) const
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
            {QStringLiteral("smoothBands"), ui_.smoothingBands()},
            {QStringLiteral("smoothingLabel"), ui_.smoothingLabel()},
            {QStringLiteral("question"), pack.question}};
}

QVariantList PackLibrary::rootPacks() const
{
    const QList<CurvePack> &packs = core_.store().curvePacks;
    QVariantList list;
    for (qsizetype i = 0; i < packs.size(); ++i) {
        if (packs[i].project.isEmpty())
            list.append(summary(packs[i], int(i)));
    }
    return list;
}

QVariantMap PackLibrary::curvePackDetail(int index)
{
    if (index < 0 || index >= core_.store().curvePacks.size())
        return {};
    CurvePack &pack = core_.store().curvePacks[index];
    if (const QString refusal = loadPackCurves(pack); !refusal.isEmpty())
        ui_.toast(refusal);
    QVariantMap detail = summary(pack, index);
    detail.insert(PackDetail::curves(pack, ui_.smoothingBands()));
    return detail;
}

bool PackLibrary::movePack(int from, int before, const QString &project)
{
    const int count = int(core_.store().curvePacks.size());
    if (from < 0 || from >= count || before < -1 || before > count)
        return false;
    const bool moved = core_.store().moveCurvePack(from, before, project);
    // Also after a failure: the list then shows what the files hold.
    emit projectsChanged();
    emit curvePacksChanged();
    if (!moved) {
        ui_.toast(QStringLiteral("没移成，请检查文档文件夹能否写入"));
        return false;
    }
    ui_.toast(project.isEmpty() ? QStringLiteral("已移到「未归属」")
                                : QStringLiteral("已移进「%1」").arg(project));
    return true;
}

bool PackLibrary::deleteCurvePack(int index)
{
    if (index < 0 || index >= core_.store().curvePacks.size())
        return false;
    const QString name = core_.store().curvePacks[index].name;
    const bool deleted = core_.store().deleteCurvePack(index);
    if (deleted && name == core_.result().pack.name)
        core_.unbindPack();
    // Also after a failure: the list then shows what the files hold.
    emit projectsChanged();
    emit curvePacksChanged();
    if (!deleted) {
        ui_.toast(QStringLiteral("没删掉，请检查文档文件夹能否写入"));
        return false;
    }
    ui_.toast(name + QStringLiteral(" 已删除"));
    return true;
}

void PackLibrary::openCurveWindow()
{
    core_.flushPendingPackSave();
    core_.store().listProjects();
    core_.store().loadCurvePacks();
    emit projectsChanged();
    emit curvePacksChanged();
    ui_.setCurveWindowOpen(true);
}

bool PackLibrary::exportCurvePack(int index)
{
    core_.flushPendingPackSave();
    if (index < 0 || index >= core_.store().curvePacks.size())
        return false;
    CurvePack pack = core_.store().curvePacks[index];
    const QString refusal = loadPackCurves(pack);
    if (pack.freq.isEmpty()) {
        ui_.toast(refusal.isEmpty() ? QStringLiteral("这个包还没有曲线") : refusal);
        return false;
    }
    if (!PackTextExport::write(PackTextExport::folderFor(pack.name),
                               PackTextExport::curvesOf(pack))) {
        ui_.toast(QStringLiteral("曲线没能全部导出，请检查桌面文件夹能否写入"));
        return false;
    }
    // A file passed over (a line array's points, say) is named beside the success.
    ui_.toast(refusal.isEmpty() ? QStringLiteral("曲线已导出到桌面")
                                : QStringLiteral("曲线已导出到桌面；%1").arg(refusal));
    return true;
}
