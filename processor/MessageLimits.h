#pragma once

#include <QtGlobal>

// The most the client takes of any one message from the processor. A peer that sends more is
// not a processor at work (or not one to trust): its connection is closed at the limit, so a
// flood can never fill the memory. Each limit lies far above what the processor's formats hold.
namespace processor {

// A command's answer is at most the full read of every parameter: some 1,700 keys of 10 to 30
// characters with their values (4 + 8 channels of gain, delay, mute and polarity, 15 EQ bands
// and two corners each, the routing matrix, the dynamics, 80 preset names and the login keys),
// about 30 kB of JSON. 4 MiB leaves more than a hundred times that for groups the client does
// not read (FIR taps, networks).
constexpr qint64 kCommandReplyLimit = 4 * 1024 * 1024;

// The export file holds the running settings as the processor writes them: a full read's
// worth, in a format of its own. 8 MiB leaves room for a format several times as wordy.
constexpr qint64 kExportFileLimit = 8 * 1024 * 1024;

// The web console's start page, which the search reads for the processor's name: kilobytes of
// HTML (its scripts and images come by requests of their own). A search reads up to 253 pages
// at once, so each gets 256 KiB at most.
constexpr qint64 kConsolePageLimit = 256 * 1024;

// A level message holds at most 52 levels ("VUvu" and a number with a value, some 25 bytes
// each) and the parameters changed elsewhere, at most a full read's 30 kB.
constexpr qint64 kLevelMessageLimit = 1024 * 1024;

} // namespace processor
