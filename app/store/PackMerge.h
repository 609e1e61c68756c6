#pragma once

#include "app/store/CurvePack.h"

#include <QJsonArray>
#include <QList>
#include <QString>

// The change a save makes to the packs of one file, applied to what the file holds now. The store
// knows what it read from the file (`read`) and what its list holds for it (`listed`); another
// program (a sync client, a second copy, a hand edit) may have changed the file since (`found`,
// the pack objects it holds now). The save then keeps every pack the other program added, changed
// or removed, and makes only its own changes: the packs it edited, added, moved in or out and
// deleted, and the order of its packs. Packs are told apart by their capture file and name (and
// their place among packs of the same two, where a file holds several).
namespace store {

struct MergedPacks
{
    // False when a change of the store's meets one of the other program's: both changed the
    // same pack, the store changed a pack the other removed, removed or moved out a pack the
    // other changed, or added a pack the other added otherwise. Nothing is merged then.
    bool applied = true;
    QString conflictingPack; // the name of the first such pack
    QJsonArray packs; // the file's packs after the change: the found objects where unchanged
};

MergedPacks mergePacks(const QList<CurvePack> &read, const QList<CurvePack> &listed,
                       const QJsonArray &found);

// Whether two packs hold the same in a store file: their capture arrays and their project (the
// file decides it) aside.
bool sameStoredPack(const CurvePack &a, const CurvePack &b);

// What tells a pack apart from the other packs of its file: its capture file and name.
QString packIdentity(const QString &rawFile, const QString &name);

} // namespace store
