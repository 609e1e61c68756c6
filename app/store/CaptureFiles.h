#pragma once

#include "app/store/CurvePack.h"

#include <QIODevice>
#include <QList>

// The binary capture files of the raw folder (rawDir()), all numbers little-endian:
//   ".raw":    "SNTRAW3", int32 n, then n float32 each of frequencies, levels, phases,
//              coherences (11 + 16·n bytes);
//   ".points": "SNTPTS1", int32 count, then per point int32 n and its four arrays of n float32.
// Readers accept 8 ≤ n ≤ 2,000,000 values per array and 1 to 64 points, a ".points" file no larger
// than 64 points of as many values as a measurement has bins (32768) fill, and only finite
// numbers (a file holding a NaN or an infinity is not read). File names come from
// pack JSON that users copy between machines, so only plain names inside the raw folder are used.

// Writes capture 1 (and capture 2 when it holds at least 8 values). Names the files with fresh
// UUIDs where the pack has no usable name yet; keeps the names it has otherwise. False when
// capture 1 is shorter than 8 values, a capture could not be read back (too long, or holding a
// value that is not a finite number) or a file could not be written completely.
bool writeRawFile(CurvePack &pack);

// Loads capture 1 (and capture 2) unless already loaded. False when capture 1 cannot be read;
// a second capture that cannot be read stays empty without changing the result. A capture file
// that is no regular file (a FIFO, a link to a device) is refused without waiting on it, and
// `refusal`, when given, receives a sentence for the user that names it.
bool readRawFile(CurvePack &pack, QString *refusal = nullptr);

// Writes the given per-point curves and sets pointsFile and pointCount. Shorter level, phase or
// coherence lists are padded with zeros, longer ones cut to the point's frequency count. False,
// writing nothing, when the file could not be read back.
bool writePointsFile(CurvePack &pack, const QList<QList<float>> &frequencies,
                     const QList<QList<float>> &levels, const QList<QList<float>> &phases,
                     const QList<QList<float>> &coherences);

// Loads the pack's per-point curves unless already loaded; a refused file as for readRawFile().
bool readPointsFile(CurvePack &pack, QString *refusal = nullptr);

// Reads n little-endian float32 values into `values` (first set to n zeros). False when the
// device ended early or the read failed.
bool readFloatArray(QIODevice &device, QList<float> &values, qsizetype n);
