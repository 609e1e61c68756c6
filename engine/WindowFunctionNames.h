#pragma once

#include "engine/dsp/WindowFunction.h"

#include <QMap>
#include <QString>

// The names shown for the window types ("Flat Top", "Blackman Harris" with their spaces, unlike
// the enumerator keys).
const QMap<WindowFunction::Type, QString> &windowFunctionNames();
