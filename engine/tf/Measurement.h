#pragma once

#include "audio/CaptureSink.h"
#include "audio/Client.h"
#include "audio/phone/AudioStreamServer.h"
#include "engine/dsp/BinRecord.h"
#include "engine/dsp/Meter.h"
#include "engine/tf/ImpulsePoint.h"
#include "engine/tf/LoopbackPairing.h"
#include "engine/tf/LoopbackQueue.h"
#include "engine/tf/MeasurementInputs.h"
#include "engine/tf/MeasurementSources.h"
#include "engine/tf/PhoneBlockPath.h"
#include "engine/tf/TransferAnalyser.h"
#include "engine/tf/generator/LoopbackSink.h"

#include <QColor>
#include <QList>
#include <QObject>
#include <QString>
#include <atomic>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

class AudioInput;
class CalCurve;
class GeneratorThread;
class QTimer;

// One running transfer-function measurement: a microphone channel ("data") against a reference,
// either a second input channel or the generator's own output looped back inside the program.
// Lives on the GUI thread. Input blocks arrive on the capture thread of the recording front end
// (as its sink), loopback samples in blocks on the thread that reads the test signal (as the
// generator's loopback sink); both only drop what they bring into fixed rings, which the GUI
// side takes at every tick, so an audio thread never waits for this object. Every 80 ms the analysis tick publishes per-bin records, the impulse
// response and the levels.
//
// A dropout is never silent: frames the capture lost are skipped on the loopback too (when their
// number is known), the pairs around the gap are kept out of the analysis until the transform
// holds none of them, the averages start again and the log says so once per tick.
class Measurement
    : public QObject
    , public audio::CaptureSink
    , public LoopbackSink
{
    Q_OBJECT
    Q_PROPERTY(bool polarity READ polarity WRITE setPolarity NOTIFY polarityChanged)
    Q_PROPERTY(float gain READ gain WRITE setGain NOTIFY gainChanged)
    Q_PROPERTY(float offset READ offset WRITE setOffset NOTIFY offsetChanged)
    Q_PROPERTY(int dataChannel READ dataChannel WRITE setDataChannel NOTIFY dataChannelChanged)
    Q_PROPERTY(int referenceChannel READ referenceChannel WRITE setReferenceChannel NOTIFY
                       referenceChannelChanged)
    Q_PROPERTY(int delay READ delay WRITE setDelay NOTIFY delayChanged)
    Q_PROPERTY(int average READ average WRITE setAverage NOTIFY averageChanged)
    Q_PROPERTY(int mode READ mode WRITE setMode NOTIFY modeChanged)
    Q_PROPERTY(int averageType READ averageType WRITE setAverageType NOTIFY averageTypeChanged)
    Q_PROPERTY(int windowFunction READ windowFunction WRITE setWindowFunction NOTIFY
                       windowFunctionChanged)
    Q_PROPERTY(int filtersFrequency READ filtersFrequency WRITE setFiltersFrequency NOTIFY
                       filtersFrequencyChanged)
    Q_PROPERTY(float level READ level NOTIFY levelChanged)
    Q_PROPERTY(float referenceLevel READ referenceLevel NOTIFY referenceLevelChanged)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)
    Q_PROPERTY(int blockStatus READ blockStatus NOTIFY blockStatusChanged)

public:
    // FFT sizes by `mode`.
    static constexpr int modeCount = 7;
    static uint32_t fftSizeForMode(int mode);
    // Pairs the delay finder looks at, whatever the FFT size.
    static constexpr uint32_t delayFinderSize = TransferAnalyser::delayFinderSize;
    static constexpr int analysisIntervalMs = 80;

    // Records from the devices of `client`; a device id that a phone streams under (to
    // `phones`) measures that phone instead.
    explicit Measurement(std::shared_ptr<audio::Client> client = audio::Client::instance(),
                         audio::AudioStreamServer *phones = audio::AudioStreamServer::instance(),
                         QObject *parent = nullptr);
    ~Measurement() override;

    bool active() const { return active_; }
    void setActive(bool active);

    bool polarity() const { return polarity_; }
    void setPolarity(bool polarity);
    float gain() const { return gain_; }
    void setGain(float gain);
    float offset() const { return offset_; }
    void setOffset(float offset);
    int dataChannel() const { return dataChannel_; }
    void setDataChannel(int channel);
    int referenceChannel() const { return referenceChannel_; }
    void setReferenceChannel(int channel);
    int delay() const { return delay_; }
    void setDelay(int samples);
    int average() const { return average_; }
    void setAverage(int depth);
    int mode() const { return mode_; }
    void setMode(int mode);
    int averageType() const { return averageType_; }
    void setAverageType(int type);
    int windowFunction() const { return windowFunction_; }
    void setWindowFunction(int type);
    int filtersFrequency() const { return filtersFrequency_; }
    void setFiltersFrequency(int preset);
    QColor color() const { return color_; }
    void setColor(const QColor &color);

    // Published by the analysis tick.
    float level() const { return level_; }
    float referenceLevel() const { return referenceLevel_; }
    float peak() const { return inputPeak_; }
    float referencePeak() const { return referencePeak_; }
    float splLevel() const { return splLevel_; }
    const std::vector<BinRecord> &records() const { return analyser_.records(); }
    const std::vector<ImpulsePoint> &impulse() const { return analyser_.impulse(); }

    uint32_t sampleRate() const { return inputRate_; }
    uint32_t fftSize() const { return analyser_.size(); }
    uint32_t loopbackSampleRate() const;
    bool phoneMode() const { return phoneMode_; }
    int blockStatus() const { return blockStatus_; }
    QString deviceId() const { return deviceId_; }
    AudioInput *audioInput() const;

    void setGenerator(GeneratorThread *generator);
    void setDeviceId(const QString &id);
    void setCalibrationCurve(std::shared_ptr<CalCurve> curve);
    void setReferenceCalibrationCurve(std::shared_ptr<CalCurve> curve);

    // The delay between measurement and reference in ms, positive when the measurement lags.
    float estimatedDelayMs() const;
    // With a phone as the input: its clock against the generator's in ppm, from the last block
    // that lined up.
    float phoneClockPpm() const { return blockPath_.lastPpm(); }

    // Takes what the audio threads handed over since the last call into the rings, the meters
    // and the delay finder; the tick and the delay estimate do this first.
    void drainInputs();

    // The recording front end's sink: on the capture thread, or any one thread at a time.
    void captured(std::span<const float> data, std::span<const float> reference) override;
    void captureLost(qint64 frames) override;
    // The generator's loopback sink: on the thread that reads the test signal.
    void loopedBack(std::span<const float> samples) override;

public slots:
    void setLoopbackSampleRate(uint sampleRate);
    void setSampleRate(uint sampleRate);
    // One block as captured() takes it, the longer list cut to the shorter.
    void writeData(const QList<float> &dataBuffer, const QList<float> &referenceBuffer);
    // One sample as loopedBack() takes it.
    void writeLoopbackSample(float sample);
    void feedStreamSamples(const float *data, qlonglong count);
    void transform();
    void resetAverage();
    void updateEstimate();

signals:
    void polarityChanged(bool polarity);
    void gainChanged(float gain);
    void offsetChanged(float offset);
    void dataChannelChanged(int channel);
    void referenceChannelChanged(int channel);
    void delayChanged(int samples);
    void averageChanged(int depth);
    void modeChanged(int mode);
    void averageTypeChanged(int type);
    void windowFunctionChanged(int type);
    void filtersFrequencyChanged(int preset);
    void colorChanged(QColor color);
    void levelChanged();
    void referenceLevelChanged();
    void readyRead();
    void estimatedChanged(float delayMs);
    void blockStatusChanged(int status);
    void blockRunCompleted();
    // The input device failed to open or delivers nothing; a sentence for the user.
    void inputError(QString message);

private:
    void activate();
    void deactivate();
    void setBlockStatus(int status);
    void resizeForMode();
    void buildCalibrationLut();
    void logCalibrationTable() const;
    void clearLoopback();
    // Every second of pairs, once both streams could tell when they met the outside world:
    // pairs the loopback with the recording the first time, and again whenever it drifted away.
    void alignLoopback();
    // Where the sound shows the recording against its reference, in seconds, when the pairing
    // asks for it this tick.
    std::optional<double> heardLag(uint64_t nextPair, double inputRate);
    void takeLoopbackSample(float sample);
    void takePair(const MeasurementInputs::Pair &pair);
    float nextLoopbackReference();
    // The loopback's rate over the input's; the input rate must not be 0.
    double loopbackSamplesPerInputSample() const;
    void restartAfterLoss(int64_t frames);
    // The phone-capture block path's step of a tick; the records follow the last measured period.
    void stepPhoneBlocks();
    PhoneBlockPath::Generator generatorState() const;
    void reportLosses();
    void publishLevels();

    std::atomic<bool> active_{false};
    bool polarity_ = false;
    float gain_ = 1.0f;
    float offset_ = 1.0f;
    int dataChannel_ = 0;
    int referenceChannel_ = 1;
    int delay_ = 0;
    int average_ = 1;
    int mode_ = 4;
    int averageType_ = 1;
    int windowFunction_ = 1;
    int filtersFrequency_ = 0;

    uint32_t inputRate_ = 48000;

    MeasurementInputs inputs_;
    LoopbackPairing pairing_{delayFinderSize / 2.0};
    uint64_t pairsSinceMove_ = 0; // pairs analysed since the loopback last moved or had a gap
    // Losses met by the current take, for its one log line.
    struct LossReport
    {
        int count = 0;
        int64_t frames = 0;
        bool unknown = false;
    } losses_;

    LoopbackQueue loopback_;
    uint32_t loopbackRate_ = 48000;

    TransferAnalyser analyser_;

    Meter inputMeter_;
    Meter referenceMeter_;
    Meter soundLevelMeter_;

    float level_ = -100.0f;
    float referenceLevel_ = -100.0f;
    float inputPeak_ = -60.0f;
    float referencePeak_ = -60.0f;
    float splLevel_ = -100.0f;

    bool phoneMode_ = false;
    int blockStatus_ = 0;
    PhoneBlockPath blockPath_;
    // When the generator's first sample of a run was played, in ms since the epoch; −1 until
    // then. Written on the thread that reads the test signal.
    std::atomic<int64_t> firstLoopbackMs_{-1};
    bool periodMeasured_ = false; // the block path has measured a period this run

    QTimer *timer_ = nullptr;
    QString deviceId_;
    QColor color_;

    std::shared_ptr<CalCurve> micCurve_;
    std::shared_ptr<CalCurve> referenceCurve_;

    // Last: it closes the front end and the loopback before the inputs above go.
    std::unique_ptr<MeasurementSources> sources_;
};
