// The projects as the screens see them: the list with each project's packs, opening, creating,
// renaming and deleting a project, and the rules a project name meets. The files are the
// store's; after every change the lists are read again from them.
#include "app/AppCore.h"
#include "app/QmlBridge.h"
#include "app/ScreenNames.h"
#include "app/store/StoreFile.h"

#include <QFileInfo>

#include <algorithm>

namespace {

const QString emptyNameText = QStringLiteral("工程名不能空着");
const QString forbiddenText = QStringLiteral("工程名里不能有这些符号");
const QString takenText = QStringLiteral("这个工程已经有了");
const QString notSavedText = QStringLiteral("工程没存上，请检查文档文件夹能否写入");

} // namespace

QVariantList QmlBridge::projects() const
{
    QVariantList list;
    for (const ProjectInfo &info : std::as_const(core_->projects)) {
        QVariantList packs;
        int curves = 0;
        for (qsizetype i = 0; i < core_->curvePacks.size(); ++i) {
            const CurvePack &pack = core_->curvePacks[i];
            if (pack.project != info.name)
                continue;
            packs.append(curvePackSummary(pack, int(i)));
            curves += pack.count;
        }
        list.append(QVariantMap{{QStringLiteral("name"), info.name},
                                {QStringLiteral("updated"), info.modified},
                                {QStringLiteral("curves"), curves},
                                {QStringLiteral("packs"), packs},
                                {QStringLiteral("roomType"), info.roomType},
                                {QStringLiteral("roomHeight"), info.roomHeight},
                                {QStringLiteral("programType"), info.programType}});
    }
    return list;
}

void QmlBridge::openProject(int index)
{
    if (index < 0 || index >= core_->projects.size())
        return;
    const ProjectInfo &info = core_->projects[index];
    core_->projectName = info.name;
    core_->roomType = info.roomType;
    core_->roomHeight = info.roomHeight;
    core_->programType = info.programType;
    core_->freshInstall = false;
    emit projectChanged();
    go(screens::home);
}

bool QmlBridge::isListedProject(const QString &name) const
{
    return std::any_of(core_->projects.cbegin(), core_->projects.cend(),
                       [&name](const ProjectInfo &info) { return info.name == name; });
}

// Why a trimmed, non-empty name cannot name a project file, in words for the user: a character
// Windows forbids in file names ("/" or "\" would also lead out of the projects folder), or
// what else the store refuses (a leading "." would hide the file).
QString QmlBridge::projectNameProblem(const QString &name) const
{
    if (name.contains(store::forbiddenNameCharacters()))
        return forbiddenText;
    return ProjectStore::projectNameProblem(name);
}

bool QmlBridge::refuseProjectName(const QString &name, bool takenToo)
{
    QString problem = name.isEmpty() ? emptyNameText : projectNameProblem(name);
    if (problem.isEmpty() && takenToo
        && (isListedProject(name) || QFileInfo::exists(ProjectStore::projectFilePath(name))))
        problem = takenText;
    if (!problem.isEmpty())
        toast(problem);
    return !problem.isEmpty();
}

// Writes the project file under `name` with the current description; on failure the current
// project stays as it was.
bool QmlBridge::saveProjectAs(const QString &name)
{
    const QString earlier = core_->projectName;
    core_->projectName = name;
    if (!core_->saveProject()) {
        core_->projectName = earlier;
        toast(notSavedText);
        return false;
    }
    core_->freshInstall = false;
    return true;
}

void QmlBridge::createProject(const QString &name)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty()) {
        toast(QStringLiteral("先给工程起个名字"));
        return;
    }
    if (refuseProjectName(trimmed, false) || !saveProjectAs(trimmed))
        return;
    setNewProjectOpen(false);
    emit projectChanged();
    emit projectsChanged();
    go(screens::home);
}

bool QmlBridge::createProjectInWindow(const QString &name)
{
    const QString trimmed = name.trimmed();
    if (refuseProjectName(trimmed, true))
        return false;
    // The packs are read again below: edits still waiting to be written go first.
    flushPendingPackSave();
    if (!saveProjectAs(trimmed))
        return false;
    core_->loadCurvePacks();
    emit projectChanged();
    emit projectsChanged();
    emit curvePacksChanged();
    return true;
}

bool QmlBridge::renameProject(const QString &oldName, const QString &newName)
{
    const QString trimmed = newName.trimmed();
    if (trimmed.isEmpty()) {
        toast(emptyNameText);
        return false;
    }
    if (trimmed == oldName || refuseProjectName(trimmed, false))
        return false;
    if (isListedProject(trimmed)) {
        toast(takenText);
        return false;
    }
    if (!isListedProject(oldName)) {
        toast(QStringLiteral("工程文件找不到了"));
        return false;
    }
    flushPendingPackSave();
    if (!core_->renameProject(oldName, trimmed)) {
        toast(QStringLiteral("工程改名没成功"));
        return false;
    }
    if (core_->projectName == oldName)
        core_->projectName = trimmed;
    emit projectChanged();
    emit projectsChanged();
    emit curvePacksChanged();
    return true;
}

void QmlBridge::deleteProject(int index)
{
    if (index < 0 || index >= core_->projects.size())
        return;
    const QString name = core_->projects[index].name;
    flushPendingPackSave();
    if (!core_->deleteProject(name)) {
        toast(QStringLiteral("工程没删掉，请检查文档文件夹能否写入"));
        return;
    }
    if (name == core_->projectName) {
        core_->projectName.clear();
        core_->freshInstall = true;
        forgetSavedPack();
    }
    emit projectsChanged();
    emit curvePacksChanged();
    emit projectChanged();
}
