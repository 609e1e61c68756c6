#include "engine/tf/generator/AudioFilePlayer.h"

#include "common/Log.h"
#include "engine/tf/generator/WavFile.h"

AudioFilePlayer::AudioFilePlayer(GeneratorThread *owner, QObject *parent)
    : OutputDevice(owner, parent)
{
    setName(QStringLiteral("音频文件"));
}

bool AudioFilePlayer::isLoaded() const
{
    return file_.latest().ok;
}

void AudioFilePlayer::loadFile(QString path)
{
    // Silent at once; the file before is freed here, never on the reading thread.
    file_.change([](Loaded &f) { f = Loaded{{}, 0, false, f.changes + 1}; });
    // The file is read meanwhile: the reading thread plays silence instead of waiting for the
    // disk.
    WavFile file;
    const bool ok = readWavFile(path, file);
    if (ok)
        file_.change([&file](Loaded &f) {
            f = Loaded{std::move(file.samples), file.sampleRate, true, f.changes + 1};
        });
    else
        sntWarning(lcGenerator, "[Generator]")
                << "the test signal file" << path << "cannot be played:" << file.error;
    emit fileLoaded(ok, ok ? QString() : file.error);
}

void AudioFilePlayer::beginBlock()
{
    const Loaded &file = file_.take();
    if (file.changes != changesSeen_) {
        changesSeen_ = file.changes;
        position_ = 0.0;
    }
    const int rate = playingRate();
    ratio_ = file.sampleRate >= 1 && rate >= 1 ? double(file.sampleRate) / double(rate) : 1.0;
}

float AudioFilePlayer::sample()
{
    const Loaded &file = file_.current();
    const qsizetype n = file.samples.size();
    if (!file.ok || n <= 0)
        return 0.0f;
    qsizetype i = qsizetype(position_);
    if (i >= n)
        i = 0;
    const float f = float(position_ - double(i));
    // The last sample leads into the first: the loop has no seam.
    const float s = (1.0f - f) * file.samples.at(i) + f * file.samples.at(i + 1 < n ? i + 1 : 0);
    position_ += ratio_;
    if (position_ >= double(n))
        position_ -= double(n);
    return s * playingGain();
}
