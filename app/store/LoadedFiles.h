#pragma once

#include "app/store/CurvePack.h"
#include "app/store/FileStamp.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>

// The store's files as they were last read, by path: what listing the projects and loading the
// packs take from each, read again only when a look at the file does not prove it unchanged (see
// store::FileStamp), and parsed again only when it holds something else. Listing and loading
// after a change then read the files that changed (one, after an edit), not the whole store. A
// file that could not be read, or was refused, is not kept: it is tried again, and its refusal
// told again, every time.
class LoadedFiles
{
public:
    struct File
    {
        bool readable = false;
        QString refusal; // why the file was refused (a sentence for the user), when it was
        QByteArray content;
        // It holds something that is no JSON object: it lists as empty, and no save writes it.
        bool damaged = false;
        // It holds packs the loader leaves out (of an older format, say), which the next save
        // that writes it drops from it (keeping them aside).
        bool holdsUnloaded = false;
        QJsonObject object; // its object, without its "packs"
        QList<CurvePack> packs; // its current packs, of the project the file stands for
    };

    // The file at `path`, whose packs belong to `project` (empty for the root file).
    const File &file(const QString &path, const QString &project);

private:
    struct Kept
    {
        store::FileStamp stamp;
        File file;
    };

    QHash<QString, Kept> files_;
    File unkept_;
};
