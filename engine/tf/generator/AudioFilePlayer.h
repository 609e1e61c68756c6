#pragma once

#include "engine/tf/generator/OutputDevice.h"

#include <QList>

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

protected:
    void beginBlock() override;
    float sample() override;

private:
    struct Loaded
    {
        QList<float> samples; // mono
        int sampleRate = 0;
        bool ok = false;
        int changes = 0; // each change starts the file from its beginning
    };

    realtime::Published<Loaded> file_;
    // The reading thread's own.
    double position_ = 0.0;
    double ratio_ = 1.0; // file samples per output sample
    int changesSeen_ = 0;
};
