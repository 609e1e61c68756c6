#pragma once

#include <QList>
#include <QString>

#include <optional>

// The request the workbench hands the converter: one JSON object in a file, naming the target
// software ("xta" or "nst"), the desktop folder, the EQ bands and the two corner filters. Every
// value is checked before anything is written, so a damaged or foreign file produces nothing.
namespace eqexport {

// Requests are a few kilobytes; anything far larger is not ours and is not read.
constexpr qint64 maxRequestBytes = 256 * 1024;

enum class Target { Xta, Nst };

struct Band
{
    double hz = 0.0;
    double gainDb = 0.0;
    double q = 0.0;
    bool enabled = true;
};

// A corner filter as the processor names it: "butter24" is a Butterworth of 24 dB/oct.
struct Corner
{
    QString family; // "butter", "bessel" or "lr"
    int slopeDbOct = 0;
    double hz = 0.0;
};

struct Request
{
    Target target = Target::Xta;
    QString desktop;
    QList<Band> bands; // in the order the user arranged them
    std::optional<Corner> highPass;
    std::optional<Corner> lowPass;
};

// The enabled bands, in order: the sections the user asks for.
QList<Band> enabledBands(const Request &request);

// Reads and checks the request file. False with `error` set when the file cannot be read whole
// within the size bound or does not hold a usable request.
bool readRequest(const QString &path, Request &request, QString &error);

} // namespace eqexport
