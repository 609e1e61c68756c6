#pragma once

#include "app/store/CurvePack.h"

#include <QHash>
#include <QJsonArray>
#include <QList>
#include <QString>

// The change a save makes to the packs of one file, applied to what the file holds now. The store
// knows what its list was made from (`read`: what it read from the file, or what its list held
// for the file when it last wrote it) and what its list holds for it now (`listed`); another
// program (a sync client, a second copy, a hand edit) may have changed the file since (`found`,
// the pack objects it holds now). The save then keeps every pack the other program added, changed
// or removed, and makes only its own changes: the packs it edited, added, replaced, moved in or
// out and deleted, and the order of its packs. Packs it did not change stay the objects the file
// holds, keys and numbers this program does not know included. Packs are told apart by their
// capture file and name (and their place among packs of the same two, where a file holds
// several); a pack that replaced another (saved again under a new name) continues that one.
namespace store {

// The packs of the list that replaced others: the identity (packIdentity) of each new pack, and
// that of the pack it took the place of.
using Replacements = QHash<QString, QString>;

struct MergedPacks
{
    // False when a change of the store's meets one of the other program's: both changed the
    // same pack, the store changed or replaced a pack the other removed (or replaced), removed
    // or moved out a pack the other changed or removed too, added a pack the other added
    // otherwise or under the name of one the other added, or both ordered the packs anew, each
    // its own way. Nothing is merged then.
    bool applied = true;
    QString conflictingPack; // the name of the first such pack
    QJsonArray packs; // the file's packs after the change: the found objects where unchanged
    QList<CurvePack> records; // the same packs as records (of no project)
};

MergedPacks mergePacks(const QList<CurvePack> &read, const QList<CurvePack> &listed,
                       const QJsonArray &found, const Replacements &replacements = {});

// Whether two packs hold the same in a store file: their capture arrays and their project (the
// file decides it) aside.
bool sameStoredPack(const CurvePack &a, const CurvePack &b);

// What tells a pack apart from the other packs of its file: its capture file and name.
QString packIdentity(const QString &rawFile, const QString &name);

} // namespace store
