#pragma once

#include "app/store/CurvePack.h"
#include "app/store/StoreJson.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QSet>
#include <QString>

#include <optional>

// The pack list as the project files and the root file hold it (see ProjectStore's
// saveCurvePacks). What each file holds is kept from one save to the next, and so is each pack's
// text, so a save turns only the packs that changed into text and writes only the files whose
// text changes: after one edit, one pack and one file. The text of a file is exactly what
// QJsonDocument writes for it, put together from the packs' texts. A file changed by anyone else
// is read again (see store::FileStamp).
//
// A save changes every file it has to or none: each is written beside its target first, and only
// once all were written are they put in place, so a save that fails leaves the files as they
// were. They are put in place in an order that loses no pack even when that is cut short (a
// crash): the files that gain a pack first, then the root file, then the files that only keep or
// lose packs. A pack that moves is then on disk twice for a moment, never nowhere.
class PackListFiles
{
public:
    // `tellUser` hears of the packs a save sets aside (see store::replaceStoreFile).
    explicit PackListFiles(store::TellUser tellUser)
        : tellUser_(std::move(tellUser))
    { }

    // What a save did to the files: every file holds its part of the list, no file changed, or
    // a file could not be put in place after others were (a folder changed under the save), so
    // that the files hold neither the list nor what they held before.
    enum class Written { All, Nothing, Part };

    // Writes `packs` to their project files and the rest to the root file. `contents` receives,
    // by path, the object of every readable project file as it stands afterwards (its packs left
    // out).
    Written save(const QList<CurvePack> &packs, QHash<QString, QJsonObject> *contents);

    // Whether the user was told why the last save wrote nothing (a file it would have made too
    // large to be read back, say).
    bool toldWhy() const { return toldWhy_; }

    // The file at `path` was written by other means: it is read again at the next save.
    void forget(const QString &path) { files_.remove(path); }

    // How many pack texts the saves made so far: one for each pack the first time, then one for
    // each pack that changed.
    quint64 textsMade() const { return lastSerial_; }

private:
    struct KnownFile
    {
        store::FileStamp stamp; // of the look that read or wrote it
        store::JsonFile json; // the object without its packs
        QSet<QString> packs; // the identities of the packs it holds
        // The serial numbers of the pack texts its content was put together from, once it was.
        // A number is never given twice, where the address of a text that went could be given
        // to a new one and make a changed file look unchanged.
        std::optional<QList<quint64>> texts;
        // Its content is the store's own text of what it holds, so that another text of the
        // store's means other content.
        bool ownText = false;
    };
    // The packs of one file (their places in the list), in list order.
    struct Group
    {
        QList<qsizetype> packs;
        int curves = 0;
    };
    struct Planned;
    struct PackText
    {
        CurvePack pack;
        QString identity;
        QByteArray text;
        quint64 serial = 0;
    };

    // The file at `path` as it stands, read again only when it changed. The reference is good
    // until the next call: a new path may move the others within the hash.
    const KnownFile &known(const QString &path);
    // Brings `texts_` up to `packs`, keeping the text of every pack that did not change;
    // `arrived` receives the places of the packs that are new to their file.
    void updateTexts(const QList<CurvePack> &packs, QList<qsizetype> *arrived);
    PackText textFor(const CurvePack &pack, const PackText *earlier);
    // Whether the planned file must be written: what it is to hold differs from what it holds.
    bool needsWriting(Planned &file);
    // Whether the file holds what is planned for it, in the store's text or in another layout.
    bool holdsAlready(const KnownFile &file, const Planned &planned) const;
    // The object the planned file is to hold, its packs included.
    QJsonObject wholeObject(const Planned &planned) const;
    // Writes the files together, in the order given.
    Written writeTogether(const QList<Planned *> &files);
    // Notes that the planned file now holds its text.
    void noteWritten(const Planned &file);
    // Each project file's object as it stands, by path.
    void listed(const QList<Planned> &projects, QHash<QString, QJsonObject> *contents) const;

    store::TellUser tellUser_;
    QHash<QString, KnownFile> files_;
    QList<PackText> texts_; // the packs of the last save, in list order
    quint64 lastSerial_ = 0;
    bool toldWhy_ = false;
};
