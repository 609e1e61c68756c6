#include "app/MeasureSession.h"

#include "audio/AudioInput.h"
#include "audio/Client.h"
#include "audio/aes67/Sender.h"
#include "audio/phone/AudioStreamServer.h"
#include "common/Log.h"
#include "engine/CalibrationManager.h"
#include "engine/tf/Measurement.h"
#include "engine/tf/generator/Generator.h"
#include "engine/tf/generator/GeneratorThread.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <algorithm>
#include <cmath>
#include <optional>

namespace {

// Generator types of the three signals the settings offer.
constexpr int pinkNoiseType = 0;
constexpr int sineSweepType = 2;
constexpr int audioFileType = 3;

// The measurement's set-up for a run: 16384 points, per-bin smoothing 16 deep, Hann.
constexpr int fftMode = 4;
constexpr int smoothingAverage = 1;
constexpr int averageDepth = 16;
constexpr int filterPreset = 0;
constexpr int hannWindow = 1;

constexpr int sweepStartHz = 20;
constexpr int sweepEndHz = 20000;
constexpr float degreesPerRadian = 57.29578f;

// The generator type for the saved signal choice: 0 pink noise, 1 the sweep, 2 (and above) the
// music file; below 0 counts as pink noise.
int generatorTypeForSignal(int signal)
{
    switch (std::clamp(signal, 0, 2)) {
    case 0:
        return pinkNoiseType;
    case 1:
        return sineSweepType;
    default:
        return audioFileType;
    }
}

// The music signal, beside the program.
QString musicSignalPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/Music-Noise.wav");
}

const audio::DeviceInfo *findRow(const audio::DeviceList &devices, const QString &id)
{
    const auto row = std::find_if(devices.cbegin(), devices.cend(),
                                  [&id](const audio::DeviceInfo &d) { return d.id == id; });
    return row == devices.cend() ? nullptr : &*row;
}

// The first row with this id that has input channels.
const audio::DeviceInfo *findInputRow(const audio::DeviceList &devices, const QString &id)
{
    const auto row
            = std::find_if(devices.cbegin(), devices.cend(), [&id](const audio::DeviceInfo &d) {
                  return d.id == id && !d.inputChannels.isEmpty();
              });
    return row == devices.cend() ? nullptr : &*row;
}

std::optional<audio::PhoneClientInfo> connectedPhone(const QString &id)
{
    for (const audio::PhoneClientInfo &phone : audio::AudioStreamServer::instance()->clients())
        if (phone.id == id)
            return phone;
    return std::nullopt;
}

} // namespace

MeasureSession::MeasureSession(QObject *parent)
    : QObject(parent)
{ }

MeasureSession::~MeasureSession()
{
    teardown();
}

// ---- run control ----------------------------------------------------------------------------

bool MeasureSession::start(const QString &inputDeviceId, const QString &outputDeviceId,
                           int dataChannel, int referenceChannel, float level,
                           int extraOutputChannel)
{
    const std::shared_ptr<audio::Client> client = audio::Client::instance();
    if (measurement_ || !client)
        return false;
    client->refreshAll();

    QString input = inputDeviceId;
    if (input.isEmpty())
        input = preferredInputDevice();
    if (input.isEmpty())
        input = client->defaultDevice(audio::Plugin::Input);
    // Phones are no backend's devices: the phone-audio server knows them.
    const std::optional<audio::PhoneClientInfo> phone = connectedPhone(input);
    if (input.isEmpty() || !(phone || client->hasDevice(input)))
        return false;
    inputDeviceId_ = input;
    phoneInput_ = phone.has_value();
    chooseOutputDevice(outputDeviceId);
    inputDeviceName_ = phone ? phone->name : client->deviceName(inputDeviceId_);
    outputDeviceName_ = outputDeviceId_.isEmpty() ? QString() : client->deviceName(outputDeviceId_);

    dataChannel_ = dataChannel;
    referenceChannel_
            = referenceChannel == -2 ? defaultReferenceChannel(inputDeviceId_) : referenceChannel;
    generatorLevel_ = level;
    extraOutputChannel_ = extraOutputChannel;

    buildGenerator();
    buildMeasurement();
    sampleRate_ = measurement_->sampleRate();
    return true;
}

void MeasureSession::chooseOutputDevice(const QString &requested)
{
    const std::shared_ptr<audio::Client> client = audio::Client::instance();
    outputDeviceId_ = requested;
    if (!outputDeviceId_.isEmpty())
        return;
    // A duplex device plays where it records.
    const audio::DeviceList devices = client->devices();
    const bool duplex = std::any_of(devices.cbegin(), devices.cend(), [this](const auto &d) {
        return d.id == inputDeviceId_ && !d.outputChannels.isEmpty();
    });
    outputDeviceId_ = duplex ? inputDeviceId_ : client->defaultDevice(audio::Plugin::Output);
}

void MeasureSession::buildGenerator()
{
    // The network output plays through the process-wide sender.
    generator_ = new Generator(audio::Client::instance(), audio::aes67::Sender::instance(), this);
    generator_->setStartFrequency(sweepStartHz);
    generator_->setEndFrequency(sweepEndHz);
    generator_->setDuration(phoneInput_ ? phoneSweepSeconds : sweepSeconds);
    generator_->setGain(generatorLevel_);

    const int type = generatorType();
    generator_->setType(type);
    const QString audioFile = type == audioFileType ? musicSignalPath() : QString();
    if (!audioFile.isEmpty())
        generator_->setAudioFilePath(audioFile);
    if (!outputDeviceId_.isEmpty())
        generator_->setDeviceId(outputDeviceId_);
    generator_->setChannels({extraOutputChannel_, 0, 1});
    watchGenerator(audioFile);
}

// A test signal that cannot play fails the run as a card that fails does: the screens would
// otherwise wait on silence.
void MeasureSession::watchGenerator(const QString &audioFile)
{
    GeneratorThread *thread = generator_->generatorThread();
    connect(thread, &GeneratorThread::outputStalled, this,
            [this] { fail(QStringLiteral("声卡不接收测试信号，检查输出设备或换一个声卡")); });
    connect(thread, &GeneratorThread::outputNotOpened, this, &MeasureSession::onOutputNotOpened);
    connect(thread, &GeneratorThread::audioFileLoaded, this,
            [this, audioFile](bool loaded, const QString &error) {
                if (!loaded)
                    fail(QStringLiteral("测试信号文件 %1 放不了（%2），请把它放回程序文件夹，"
                                        "或在设置里改用粉红噪声或扫频")
                                 .arg(QFileInfo(audioFile).fileName(), error));
            });
}

void MeasureSession::onOutputNotOpened(const QString &deviceId)
{
    // Until it has taken the output chosen here, the generator may try its own default first:
    // only the chosen output's failure ends the run.
    if (!outputDeviceId_.isEmpty() && deviceId != outputDeviceId_)
        return;
    const QString name = audio::Client::instance()->deviceName(deviceId);
    fail(QStringLiteral("输出设备「%1」打不开，测试信号放不出来，检查输出设备或换一个声卡")
                 .arg(name.isEmpty() ? deviceId : name));
}

int MeasureSession::generatorType() const
{
    // A phone is measured a sweep period at a time: noise or music could not be found in it.
    if (phoneInput_)
        return sineSweepType;
    return generatorTypeForSignal(QSettings().value("measure/signalType", 2).toInt());
}

void MeasureSession::buildMeasurement()
{
    measurement_ = new Measurement(audio::Client::instance(), audio::AudioStreamServer::instance(),
                                   this);
    measurement_->setMode(fftMode);
    measurement_->setAverageType(smoothingAverage);
    measurement_->setAverage(averageDepth);
    measurement_->setFiltersFrequency(filterPreset);
    measurement_->setWindowFunction(hannWindow);
    measurement_->setDataChannel(dataChannel_);
    measurement_->setReferenceChannel(referenceChannel_);
    measurement_->setDeviceId(inputDeviceId_);
    measurement_->setGenerator(generator_->generatorThread());

    if (CalibrationManager *calibration = CalibrationManager::instance()) {
        measurement_->setCalibrationCurve(
                calibration->getCombinedCalCurve(inputDeviceId_, dataChannel_));
        measurement_->setReferenceCalibrationCurve(
                calibration->getCombinedCalCurve(inputDeviceId_, referenceChannel_));
    }

    connect(measurement_, &Measurement::readyRead, this, &MeasureSession::onReadyRead);
    connect(measurement_, &Measurement::levelChanged, this, [this] { emit levelChanged(level()); });
    connect(measurement_, &Measurement::inputError, this, &MeasureSession::fail);
}

void MeasureSession::fail(const QString &message)
{
    failed_ = true;
    emit deviceFailed(message);
}

void MeasureSession::onReadyRead()
{
    ++framesDone_;
    emit frameReady(framesDone_);
}

// The channels a run reads must be inputs of the card, each its own, or the run measures
// something that is no loudspeaker: silence, where the microphone's channel is not on the card,
// or a flat 0 dB, where the microphone is measured against itself. A phone's path reads no card.
// Asked of the channels the input opens with, now, as the run opens it: a device behind the
// sound server has those of the server's source, which can change while the program runs (a
// mono microphone plugged in and made the default), so the list made earlier may no longer
// hold. Empty when the run can measure.
QString MeasureSession::channelProblem() const
{
    if (phoneInput_)
        return {};
    const int inputs
            = int(audio::Client::instance()->preferredInputFormat(inputDeviceId_).channelCount);
    // An input with no channel at all (a sound server that is not there) cannot be opened: the
    // open says so, which is the cause to name.
    if (inputs == 0)
        return {};
    if (const QString problem = referenceProblem(inputs); !problem.isEmpty())
        return problem;
    return microphoneProblem(inputs);
}

// A reference read from the inputs needs a channel of its own: measured against a copy of
// itself (one channel read twice, or a mono source the sound server copies into two), a
// microphone reads a flat 0 dB that looks like a perfect loudspeaker. The generator's own
// samples (-1) need no input. The channels are compared as the recording reads them, not as
// they are stored: a reference chosen beyond the card's inputs is read from another input, and
// one stored on the microphone's index is no copy of it where the card lacks that index.
QString MeasureSession::referenceProblem(int inputs) const
{
    if (referenceChannel_ < 0)
        return {};
    if (inputs == 1)
        return QStringLiteral("「%1」只有 %2 路输入，测不了：参考信号要单独占一路输入，"
                              "请换一个至少两路输入的声卡")
                .arg(inputDeviceName_)
                .arg(inputs);
    if (AudioInput::referenceChannelRead(referenceChannel_, dataChannel_, inputs)
        == AudioInput::measurementChannelRead(dataChannel_, inputs))
        return QStringLiteral("测量和参考选了同一路输入，测不了：参考信号要单独占一路输入，"
                              "请在设置里换一路参考");
    return {};
}

// A microphone channel the card does not have records nothing: the run would show silence as
// the loudspeaker's response. The choice stays stored (its calibration files are kept under it,
// and the card that has it may come back); the run on this card is refused.
QString MeasureSession::microphoneProblem(int inputs) const
{
    if (AudioInput::measurementChannelRead(dataChannel_, inputs) >= 0)
        return {};
    return QStringLiteral("「%1」只有 %2 路输入，没有测量通道选的输入 %3，测不了："
                          "请在设置里重新选测量通道")
            .arg(inputDeviceName_)
            .arg(inputs)
            .arg(dataChannel_ + 1);
}

void MeasureSession::resume()
{
    if (!generator_ || !measurement_)
        return;
    if (const QString problem = channelProblem(); !problem.isEmpty()) {
        sntWarning(lcMeasurement, "[Measurement]")
                << "not measuring on" << inputDeviceId_ << "with the microphone on input"
                << dataChannel_ + 1 << "and the reference on input" << referenceChannel_ + 1 << ":"
                << problem;
        fail(problem);
        return;
    }
    framesDone_ = 0;
    runTimer_.restart();
    generator_->setEnabled(true);
    measurement_->setActive(true);
    sampleRate_ = measurement_->sampleRate();
}

void MeasureSession::stop()
{
    if (!measurement_)
        return;
    measurement_->setActive(false);
    if (generator_)
        generator_->setEnabled(false);
    if (runTimer_.isValid())
        elapsedSeconds_ = double(runTimer_.elapsed()) / 1000.0;
    sampleRate_ = measurement_->sampleRate();
}

void MeasureSession::teardown()
{
    // The generator falls silent first, so that no looped-back sample is still on its way into
    // a measurement that is going away.
    if (generator_)
        generator_->setEnabled(false);
    if (measurement_) {
        measurement_->setActive(false);
        measurement_->deleteLater();
        measurement_ = nullptr;
    }
    if (generator_) {
        generator_->deleteLater();
        generator_ = nullptr;
    }
}

void MeasureSession::setGeneratorGain(float db)
{
    generatorLevel_ = db;
    if (generator_)
        generator_->setGain(db);
}

void MeasureSession::updateDelayEstimate()
{
    if (measurement_)
        measurement_->updateEstimate();
}

// ---- live values ----------------------------------------------------------------------------

float MeasureSession::level() const
{
    return measurement_ ? measurement_->level() : silentLevelDb;
}

float MeasureSession::peak() const
{
    return measurement_ ? measurement_->peak() : silentLevelDb;
}

float MeasureSession::referenceLevel() const
{
    return measurement_ ? measurement_->referenceLevel() : silentLevelDb;
}

float MeasureSession::referencePeak() const
{
    return measurement_ ? measurement_->referencePeak() : silentLevelDb;
}

float MeasureSession::splLevel() const
{
    return measurement_ ? measurement_->splLevel() : silentSoundLevelDb;
}

float MeasureSession::estimatedDelayMs() const
{
    return measurement_ ? measurement_->estimatedDelayMs() : 0.0f;
}

void MeasureSession::transferFunction(QList<float> &freq, QList<float> &magnitude,
                                      QList<float> &coherence, QList<float> *phase) const
{
    freq.clear();
    magnitude.clear();
    coherence.clear();
    if (phase)
        phase->clear();
    if (!measurement_)
        return;
    const std::vector<BinRecord> &records = measurement_->records();
    bool allZero = true;
    for (const BinRecord &record : records) {
        freq.append(record.frequency);
        magnitude.append(record.magnitude);
        coherence.append(record.coherence);
        if (!phase)
            continue;
        phase->append(std::atan2(record.phaseIm, record.phaseRe) * degreesPerRadian);
        allZero = allZero && record.phaseRe == 0.0f && record.phaseIm == 0.0f;
    }
    if (phase && allZero)
        phase->clear();
}

void MeasureSession::spectrum(QList<float> &timeMs, QList<float> &magnitude) const
{
    timeMs.clear();
    magnitude.clear();
    if (!measurement_)
        return;
    for (const ImpulsePoint &point : measurement_->impulse()) {
        timeMs.append(point.timeMs);
        magnitude.append(std::hypot(point.value.re, point.value.im));
    }
}

// ---- device questions -----------------------------------------------------------------------

int MeasureSession::usableDataChannel(int savedChannel)
{
    return std::clamp(savedChannel, 0, highestDataChannel);
}

QStringList MeasureSession::inputDeviceNames()
{
    QStringList names;
    if (const auto client = audio::Client::instance())
        for (const audio::DeviceInfo &device : client->devices())
            if (!device.inputChannels.isEmpty())
                names.append(device.name);
    return names;
}

audio::DeviceInfo::Id MeasureSession::findDevice(const QString &nameOrId)
{
    const auto client = audio::Client::instance();
    if (nameOrId.isEmpty() || !client)
        return {};
    const audio::DeviceList devices = client->devices();
    for (const audio::DeviceInfo &device : devices)
        if (!device.inputChannels.isEmpty() && (device.name == nameOrId || device.id == nameOrId))
            return device.id;
    // A device saved under an id it had before.
    const QString current = client->currentDeviceId(nameOrId);
    return findInputRow(devices, current) ? current : QString();
}

QStringList MeasureSession::inputChannelNames(const QString &nameOrId)
{
    const auto client = audio::Client::instance();
    if (!client)
        return {};
    QString id = findDevice(nameOrId);
    if (id.isEmpty())
        id = client->defaultDevice(audio::Plugin::Input);
    const audio::DeviceList devices = client->devices();
    const audio::DeviceInfo *device = findInputRow(devices, id);
    if (!device)
        return {};
    QStringList names = device->inputChannels;
    for (qsizetype c = 0; c < names.size(); ++c)
        if (names[c].trimmed().isEmpty())
            names[c] = QStringLiteral("输入 %1").arg(c + 1);
    return names;
}

audio::DeviceInfo::Id MeasureSession::preferredInputDevice()
{
    const QString saved = findDevice(QSettings().value("audio/inputDevice").toString());
    if (!saved.isEmpty())
        return saved;
    const auto client = audio::Client::instance();
    if (!client)
        return {};
    for (const audio::DeviceInfo &device : client->devices()) {
        const QString name = device.name.toLower();
        if (name.contains(QLatin1String("usb")) && name.contains(QLatin1String("codec"))
            && !device.inputChannels.isEmpty())
            return device.id;
    }
    return client->defaultDevice(audio::Plugin::Input);
}

int MeasureSession::defaultReferenceChannel(const QString &inputDeviceId)
{
    const auto client = audio::Client::instance();
    if (!client)
        return -1;
    const QString id
            = inputDeviceId.isEmpty() ? client->defaultDevice(audio::Plugin::Input) : inputDeviceId;
    if (id.isEmpty())
        return -1;
    const audio::DeviceList devices = client->devices();
    const audio::DeviceInfo *device = findRow(devices, id);
    return device && device->inputChannels.size() >= 2 ? 1 : -1;
}
