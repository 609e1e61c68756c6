#pragma once

#include "eq/Records.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

// One saved result: a measured curve (kept in binary capture files) with the EQ chosen for it,
// its corners, delay and smoothing, an optional level reference, optional per-point curves of a
// line array, named curves and an opaque subwoofer-alignment result. The capture arrays and the
// per-point curves start empty and are loaded from their files on demand (CaptureFiles.h).
struct CurvePack
{
    QString name; // a pack with an empty name is never loaded
    QString use; // speaker use such as "主扩"
    QString project; // empty: in no project; decided by the file the pack is stored in
    QString time; // "MM-dd HH:mm"
    int seq = 0;
    int count = 2; // curves the pack counts for in its project's total

    QString rawFile; // first capture, a file name in the raw folder
    int rawPoints = 0;
    QList<float> freq; // Hz
    QList<float> level; // dB
    QList<float> phase; // degrees
    QList<float> coherence; // 0..1
    double delayMs = 0.0;

    QString rawFile2; // second capture (subwoofer alignment)
    int rawPoints2 = 0;
    QList<float> freq2;
    QList<float> level2;
    QList<float> phase2;
    QList<float> coherence2;
    double delayMs2 = 0.0;

    bool phaseCompensated = true;
    int smoothBands = 6;
    float levelRefDb = 0.0f;
    bool levelRefSet = false;
    QList<snt::eq::SchemeBand> bands;
    snt::eq::Corner low; // the chosen scheme's high-pass (low-cut) corner
    snt::eq::Corner high; // the chosen scheme's low-pass corner
    bool lcSuspect = false;
    QString question;
    QJsonObject subAlign;

    QStringList curveLabels;
    QList<QList<float>> curves;

    QString pointsFile; // per-point curves of a line array, a file name in the raw folder
    int pointCount = 0;
    QList<QList<float>> pointFreq;
    QList<QList<float>> pointLevel;
    QList<QList<float>> pointPhase;
    QList<QList<float>> pointCoherence;

    // The object the pack was read from; empty for a pack this program made. What the program
    // does not hold of it (keys it does not know, numbers beyond its types, keys inside a band) is
    // written back from there, and so is every value the pack still holds as it read it: moving a
    // pack changes where it is, not what it holds, and an edit changes only what was edited.
    QJsonObject stored;

    friend bool operator==(const CurvePack &, const CurvePack &) = default;
};

// The pack's JSON object, "schema" 3: its fields as this program writes them, over what it was
// read from (see `stored`). Capture arrays and per-point curves are not part of it.
QJsonObject curvePackToJson(const CurvePack &pack);

// Reads a pack object, kept whole in `stored`; never fails: a missing key or a value of another
// type takes the key's default. `project` is the project of the file the object was found in.
CurvePack curvePackFromJson(const QJsonObject &object, const QString &project);

// The files in the raw folder the pack names: its captures and its per-point curves (a name may
// be empty where the pack has no such file).
QStringList rawFilesOf(const CurvePack &pack);

// The files in the raw folder any of `packs` names.
QSet<QString> rawFilesNamedBy(const QList<CurvePack> &packs);

QJsonObject edgeFilterToJson(const snt::eq::Corner &corner);
snt::eq::Corner edgeFilterFromJson(const QJsonObject &object);

// The named curves as [{"label", "points"}], one entry per value list; missing labels become
// "点位 <n>" and non-finite values are left out.
QJsonArray pointCurvesToJson(const CurvePack &pack);

// The numbers of a JSON array, in order, skipping every element that is not a number.
QList<float> jsonArrayToFloats(const QJsonValue &value);
