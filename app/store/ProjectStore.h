#pragma once

#include "app/store/CurvePack.h"
#include "app/store/LoadedFiles.h"
#include "app/store/PackListFiles.h"
#include "app/store/ProjectInfo.h"
#include "app/store/StoreJson.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <QSet>

#include <functional>
#include <memory>
#include <optional>
#include <thread>

// The project files of the projects folder and the root file of the packs in no project. Every
// pack of the store is in `curvePacks`; a pack's project is decided only by the file it is
// stored in, and every save brings all files up to the whole list (writing those that change).
// Runs on the GUI thread, but for the saves it hands to a thread of its own; every other
// operation first waits for such a save to end. Files are read and written whole.
class ProjectStore
{
public:
    // `tellUser` hears of files the store refused to read and of packs it set aside; it may be
    // called on the thread of a save in the background.
    explicit ProjectStore(store::TellUser tellUser = {});

    QList<ProjectInfo> projects;
    bool freshInstall = true;
    QList<CurvePack> curvePacks;

    // Rebuilds the project list from the project files, newest first.
    void listProjects();

    // Rebuilds the pack list: the packs of every project file, then those of the root file. The
    // user hears of the files it refused or could not read.
    void loadCurvePacks();

    // Writes every pack to its project file or to the root file (packs whose project has no
    // readable file go to the root file, so no pack is ever written nowhere), then lists the
    // projects again. False when the files could not all be written; they are then as they were
    // (or, when a folder changed under the save, partly written: see PackListFiles). Where
    // another program changed a file since it was read, the save keeps what that program wrote
    // and reads the packs again.
    bool saveCurvePacks();

    // What a save in the background did: whether every file was written, whether the user was
    // told why not, which save it was, and the object of each project file as it now stands.
    struct SaveOutcome
    {
        bool allWritten = true;
        bool toldWhy = false;
        quint64 save = 0;
        QHash<QString, QJsonObject> contents;
    };
    // saveCurvePacks() for the list as it stands now, on a thread of its own; returns at once.
    // `done` runs on that thread once the files are written. Any later operation on the store
    // waits for it.
    void saveCurvePacksInBackground(std::function<void(SaveOutcome)> done);
    // Returns once no save runs in the background.
    void waitForBackgroundSave();
    // Takes the outcome of a save in the background, unless a later save was started: lists the
    // projects, and after a save that did not write every file, or that kept what another program
    // wrote, reads the packs again, so the list shows what the files hold. True when it did.
    bool finishBackgroundSave(const SaveOutcome &outcome);

    // Writes the project file of `name`: the settings and the project's packs, keeping what
    // another program put there since it was read (keys of its own, packs: these are then read
    // again). False, writing nothing, for an empty or unusable name, when the file could not be
    // written or when another program changed a setting otherwise (the user is told).
    bool saveProject(const QString &name, const QString &roomType, const QString &roomHeight,
                     const QString &programType);

    // Moves the pack at `from` before position `before` (-1: to the end) into `project` and
    // saves. False for a bad index or when the save fails; the list then shows what the files
    // hold, as it was unless a folder changed under the save.
    bool moveCurvePack(int from, int before, const QString &project);

    // Removes the pack, saves, and only once the save wrote deletes those of its ".raw" files that
    // no pack names, listed or in the files (none while a file may be another program's write in
    // progress). False for a bad index or when the save fails, the list showing what the files
    // hold as for moveCurvePack().
    bool deleteCurvePack(int index);

    // Stores `record` as a new pack (`replace` < 0) or in place of the pack at `replace`, with its
    // captures and, when `record.pointFreq` holds any, its per-point curves (without them the
    // record names no points file). Every file is written under a new name first, so nothing the
    // stored list names is touched until the list itself is saved; the files the replaced pack
    // named and no pack names any more are deleted once it was. False when a file could not be
    // written or the list could not be saved, the list showing what the files hold as for
    // moveCurvePack() (and the new files gone unless a file names them).
    bool savePack(CurvePack record, int replace);

    // Deletes the file of the listed project `name`, then lists the projects and loads the packs
    // again; only once the file is gone are the captures of its packs deleted (those no
    // remaining pack names). False, changing nothing, for a name not listed, a file that could
    // not be deleted, or one another program changed since it was read or may be writing (empty
    // or no JSON object): the user is told, and the lists are read again to show what it holds.
    bool deleteProject(const QString &name);

    // Renames the file of the listed project `oldName` to that of `newName`, takes the project's
    // packs along, saves, and lists and loads again. False, changing nothing, when `oldName` is
    // not listed, `newName` cannot name a project file or the rename failed.
    bool renameProject(const QString &oldName, const QString &newName);

    // Deletes the pack's ".raw" files. Names that are not plain file names are skipped.
    static void removeCurvePackFiles(const CurvePack &pack);

    // The next sequence number for a new pack of `use`, past the packs listed and those of files
    // out of sight (see PackListFiles), so that a new name never repeats one a file holds.
    int nextSeq(const QString &use) const;

    // Why `name` cannot name a project file (a text for the user), or empty when it can.
    static QString projectNameProblem(const QString &name);

    // The project file of `name`, or empty when the name cannot name a project file.
    static QString projectFilePath(const QString &name);

private:
    // Rebuilds the pack list as loadCurvePacks() does, after a change of the store's own: the
    // files it refused or could not read, named for the user when the window opened, are
    // returned rather than told again.
    QStringList readCurvePacks();
    // Deletes those of the named files of the raw folder that no pack names, of the list or of
    // the store's files as they are now.
    void removeUnusedFiles(const QStringList &names);
    // Those of the named files that no pack of the list names.
    QStringList unlistedFiles(const QStringList &names) const;
    bool anyPackNames(const QString &file) const;
    // The capture and points files the packs of the store's files name; nothing where a file
    // holds what the store cannot read, which may name any.
    std::optional<QSet<QString>> filesNamedInStoreFiles();
    bool isListed(const QString &project) const;
    // Writes the pack list, then lists the projects again.
    PackListFiles::Written writePackList(const store::Replacements &replacements = {});
    // Saves the pack list. When that fails the list is made what the files hold: `earlier` again
    // when the files held it and the save changed none, else as read from the files.
    bool saveOrRestore(const QList<CurvePack> &earlier,
                       const store::Replacements &replacements = {});

    // Lists the projects, taking the content of the files in `known` (by path) from there
    // instead of reading them again right after a save.
    void listProjects(const QHash<QString, QJsonObject> &known);

    store::TellUser tellUser_;
    // Listing and loading read only the files that changed since they last did.
    LoadedFiles loaded_;
    std::shared_ptr<PackListFiles> packListFiles_;
    bool filesBehindInBackground_ = false; // set by the thread below
    std::jthread backgroundSave_;
    quint64 saves_ = 0;
    // The last save did not write every file, or kept what another program wrote: the list may
    // hold what the files do not, and the files what the list does not.
    bool filesBehind_ = false;
};
