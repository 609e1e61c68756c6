#pragma once

#include "platform/AudioLayer.h"

#include <alsa/asoundlib.h>

// ALSA's own diagnostics and the failed calls behind them are debug lines of lcAlsa
// ("snt.alsa", common/Log.h): looking for devices tries PCMs that may not exist, so they are
// noise unless a sound problem is being chased, and off unless QT_LOGGING_RULES turns them on.

namespace platform::alsa {

snd_pcm_stream_t streamOf(DataFlow flow);

// Logs an ALSA failure with the PCM it concerns as a debug line of lcAlsa (the caller reports
// the result).
void logAlsaError(const char *what, const QString &pcmName, int error);

// Routes ALSA's own diagnostics into the program log (as lcAlsa's debug lines) instead of
// stderr. Idempotent.
void installErrorHandler();

// The format the engine runs the PCM at when nothing asks otherwise: for a hardware device its
// widest channel set at 48 kHz (or the nearest rate it has); for a software PCM (a sound
// server, a plug or mixing layer) 48 kHz with `softwareChannels`, or the nearest it accepts.
// Opens the PCM without blocking and closes it again, so a busy device answers at once.
Result probeEngineFormat(const QString &pcmName, DataFlow flow, unsigned softwareChannels,
                         WaveFormat *format);

// Ok when the PCM can run at the rate with the channel count as it is, without conversion.
// Opens the PCM without blocking and closes it again.
Result testPcmFormat(const QString &pcmName, DataFlow flow, unsigned rate, unsigned channels);

// What the engine asks of a stream's PCM; the period and buffer sizes come back as granted.
struct PcmConfig
{
    unsigned rate = 48000;
    unsigned channels = 2;
    snd_pcm_uframes_t periodFrames = 480;
    snd_pcm_uframes_t bufferFrames = 3840;
    // Whether its status time stamps were set to the steady clock.
    bool timestamped = false;
};

// Opens `pcmName` non-blocking as interleaved 32-bit float at the configured rate and channels,
// and prepares it: as it is when it takes that format, else behind ALSA's plug layer (so any
// channel count and the rate convert). A format the PCM cannot be brought to fails the open.
Result openStreamPcm(const QString &pcmName, DataFlow flow, PcmConfig *config, snd_pcm_t **pcm);

} // namespace platform::alsa
