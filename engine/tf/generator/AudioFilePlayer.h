#pragma once

#include "engine/tf/generator/OutputDevice.h"
#include "engine/tf/generator/WavFile.h"

// Generator type 3: a WAV file played in a seamless loop, mixed to mono and resampled to the
// output rate by linear interpolation, at the level it is stored at.
class AudioFilePlayer : public OutputDevice
{
    Q_OBJECT
public:
    explicit AudioFilePlayer(GeneratorThread *owner, QObject *parent = nullptr);

    bool isLoaded() const;

signals:
    void fileLoaded(bool success, QString error);

public slots:
    // Silent from the call on; plays the new file once it is read. A failed load stays silent.
    void loadFile(QString path);
    void setSamplerate(int sampleRate) override;

protected:
    float sample() override;

private:
    void updateRatio();

    WavFile file_; // the last file read, without its samples (they moved into buffer_)
    QList<float> buffer_;
    double position_ = 0.0;
    double ratio_ = 1.0;
    int fileRate_ = 0;
    bool loaded_ = false;
};
