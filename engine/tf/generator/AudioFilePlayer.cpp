#include "engine/tf/generator/AudioFilePlayer.h"

#include <QMutexLocker>

AudioFilePlayer::AudioFilePlayer(GeneratorThread *owner, QObject *parent)
    : OutputDevice(owner, parent)
{
    setName(QStringLiteral("音频文件"));
}

bool AudioFilePlayer::isLoaded() const
{
    QMutexLocker lock(&stateLock());
    return loaded_;
}

void AudioFilePlayer::loadFile(QString path)
{
    QList<float> previous;
    {
        QMutexLocker lock(&stateLock());
        loaded_ = false;
        previous.swap(buffer_); // freed outside the lock
        position_ = 0.0;
    }
    previous.clear();

    // The file is read without the lock: the render thread plays silence meanwhile instead of
    // waiting for the disk.
    WavFile file;
    const bool ok = readWavFile(path, file);
    {
        QMutexLocker lock(&stateLock());
        if (ok) {
            buffer_.swap(file.samples);
            fileRate_ = file.sampleRate;
            loaded_ = true;
            updateRatio();
        }
        file_ = file;
    }
    emit fileLoaded(ok, ok ? QString() : file.error);
}

void AudioFilePlayer::setSamplerate(int sampleRate)
{
    OutputDevice::setSamplerate(sampleRate);
    QMutexLocker lock(&stateLock());
    updateRatio();
}

void AudioFilePlayer::updateRatio()
{
    const int rate = sampleRateLocked();
    ratio_ = fileRate_ >= 1 && rate >= 1 ? double(fileRate_) / double(rate) : 1.0;
}

float AudioFilePlayer::sample()
{
    const qsizetype n = buffer_.size();
    if (!loaded_ || n <= 0)
        return 0.0f;
    qsizetype i = qsizetype(position_);
    if (i >= n)
        i = 0;
    const float f = float(position_ - double(i));
    // The last sample leads into the first: the loop has no seam.
    const float s = (1.0f - f) * buffer_.at(i) + f * buffer_.at(i + 1 < n ? i + 1 : 0);
    position_ += ratio_;
    if (position_ >= double(n))
        position_ -= double(n);
    return s * gainLocked();
}
