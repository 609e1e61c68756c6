#pragma once

#include <QList>
#include <QString>

// A WAV file read for playback: the frames mixed down to one mono value each.
struct WavFile
{
    bool ok = false;
    int sampleRate = 0;
    int channels = 0;
    int bitsPerSample = 0;
    QList<float> samples;
    QString error; // why not ok, in words for the user
};

// Reads PCM (8, 16, 24, 32 bits) and IEEE float (32, 64 bits) files, plain or extensible, and
// walks every chunk (odd chunks skip their pad byte; a later "data" chunk replaces an earlier
// one). A file with a sample that is not a finite number, or beyond +200 dBFS (10^10), is
// refused. Fills `file` and returns its ok.
bool readWavFile(const QString &path, WavFile &file);
