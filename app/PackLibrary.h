#pragma once

#include <QObject>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

class AppCore;
class PackTree;
class UiState;
struct CurvePack;

// The projects and the saved curve packs as the curve window and the project dialogs see them:
// the project list with each project's packs, opening, creating, renaming and deleting a
// project by the rules a project name meets, the pack summaries and the curves of one pack,
// moving and deleting packs and their text export. The files are the store's; after every
// change the lists are read again from them.
class PackLibrary : public QObject
{
    Q_OBJECT
public:
    PackLibrary(AppCore &core, UiState &ui, QObject *parent = nullptr);

    // The current project
    QString projectName() const;
    void setProjectName(const QString &name);
    QString roomType() const;
    QString roomHeight() const;
    QString programType() const;
    bool freshInstall() const;

    QVariantList projects() const;
    void openProject(int index);
    void createProject(const QString &name);
    bool createProjectInWindow(const QString &name);
    bool renameProject(const QString &oldName, const QString &newName);
    void deleteProject(int index);

    // A pack's summary map, its smoothing the display's.
    QVariantMap summary(const CurvePack &pack, int index) const;
    QVariantList rootPacks() const;
    QVariantMap curvePackDetail(int index);
    bool movePack(int from, int before, const QString &project);
    bool deleteCurvePack(int index);
    // Writes the pending delayed pack save, reads the projects and packs again from the files
    // and opens the curve window. Every way of opening the window comes here.
    void openCurveWindow();
    bool exportCurvePack(int index);

    // The curve window's tree of projects and packs, a child of this object. It follows the
    // store when told to (PackTree::refresh).
    PackTree *tree() const { return tree_; }

signals:
    void projectChanged();
    void projectsChanged();
    void curvePacksChanged();
    void goRequested(const QString &screen);

private:
    bool isListedProject(const QString &name) const;
    QString projectNameProblem(const QString &name) const;
    bool refuseProjectName(const QString &name, bool takenToo);
    bool saveProjectAs(const QString &name);

    AppCore &core_;
    UiState &ui_;
    PackTree *const tree_;
};
