#pragma once

#include "eq/Records.h"

#include <QList>

// The six target curves the scheme engine fits a measured loudspeaker to.
namespace snt::eq {

// The process-wide preset list (flat, main_lf2, dj_edm, outdoor3, fill120, monitor120), built once
// on first use and read-only afterwards.
const QList<Target> &targetPresets();

// Builds the presets on the standard grid.
QList<Target> buildTargetPresets();

} // namespace snt::eq
