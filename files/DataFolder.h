#pragma once

#include <QString>

// Where the program keeps the user's files: one data root in the documents folder with fixed
// sub-folders. Every path request re-checks the folders on disk, so a root deleted while the
// program runs comes back (empty) at the next request instead of failing every later save.

// The data root, "<documents>/Tovan测量工作流", created when missing. An older root
// "<documents>/Sonetra" is renamed to it first when only the older one exists.
QString documentsRoot();

// "<root>/工程": one JSON file per project. Created when missing.
QString projectsDir();

// "<root>/曲线/raw": the binary capture files. Created when missing.
QString rawDir();

// "<root>/曲线/curve_packs_root.json": the packs that belong to no project.
QString curvePackRootFile();

// The hidden data folder of older versions (the platform's application-local data folder, or
// "~/.sonetra" where the platform reports none).
QString legacyDataDir();

// Creates the sub-folders of the root, removes from them the staged files of saves that were cut
// short, and, once, copies the packs, projects and captures of the legacy data folder into it.
// Nothing in the legacy folder is changed or deleted.
void initStorageFolders();

// Rewrites saved settings values that still point into the older root so they point into the
// current one. Only values starting with the exact old prefix change.
void migrateSettingsPaths();

// Copies source to target when the source exists, creating the target's folder. An existing
// target is never overwritten; a failed copy is not reported. A source that is no regular file
// (a FIFO, a link to a device) is not copied, with a log line.
void copyFileIfPresent(const QString &source, const QString &target);
