#pragma once

#include "ExportRequest.h"

#include <QByteArray>

// The two texts the converter produces. Both list numbered filter sections, one a line, with
// CR LF line ends (the target software runs on Windows):
//
// XTA, pasted as output channel filters: 9 sections in all. A switched-on corner takes one
// section (the high-pass first, the low-pass last); the enabled bands fill the sections between,
// and bands beyond them are cut. Unused sections read "OFF".
//   XTA OUTPUT FILTERS
//   1 HPF BUTTER 24 80
//   2 PEQ 1000 -3.5 1.4
//   ...
//   9 LPF LR 24 16000
//
// NST, loaded as output channel settings: the corners apart, then 16 band sections, bands beyond
// them cut, unused sections "OFF". A missing corner reads "OFF".
//   [NST OUTPUT CHANNEL]
//   HPF=BUTTER,24,80
//   LPF=OFF
//   PEQ1=1000,-3.5,1.4
//   ...
//   PEQ16=OFF
//
// Numbers are written in their shortest exact decimal form.
namespace eqexport {

constexpr int xtaSections = 9;
constexpr int nstBandSections = 16;

struct ExportText
{
    QByteArray text;
    int supported = 0; // bands written
    int removed = 0; // enabled bands cut for want of sections
    int total = 0; // enabled bands asked for
};

ExportText xtaText(const Request &request);
ExportText nstText(const Request &request);

} // namespace eqexport
