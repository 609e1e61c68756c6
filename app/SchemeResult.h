#pragma once

#include "eq/Records.h"

#include <QList>
#include <QString>

// The curve pack the current result was saved as: edits of the scheme it was saved for follow
// into it. Deleting the pack unbinds it but leaves `saved` set.
struct BoundPack
{
    QString name;
    int scheme = -1; // the selected scheme when it was saved
    bool saved = false;

    bool bound() const { return !name.isEmpty(); }
};

// The result of the last EQ computation as the screens work on it: the schemes (the delivery
// screen edits the selected one), the copy taken when the computation finished (edits never
// touch it), the measured curve the computation started from, the selection and the pack the
// result was saved as.
struct SchemeResult
{
    QList<snt::eq::Scheme> schemes;
    QList<snt::eq::Scheme> computed;
    snt::eq::Measured snapshot;
    int selectedScheme = 0;
    int selectedTarget = 0;
    QList<snt::eq::SchemeBand> selectedBands;
    BoundPack pack;

    bool hasSelection() const { return selectedScheme >= 0 && selectedScheme < schemes.size(); }
    // Only with `hasSelection`.
    const snt::eq::Scheme &selected() const { return schemes[selectedScheme]; }
};
