#include "engine/CalibrationManager.h"

#include "audio/Client.h"
#include "common/Log.h"
#include "common/MainThread.h"
#include "engine/dsp/CalFileParser.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSettings>
#include <QThread>
#include <QTimer>
#include <algorithm>

namespace {

const char *const tag = "[CalibrationManager]";
const QString rootGroup = QStringLiteral("Calibration");
const QString phoneOffsetKey = QStringLiteral("Calibration/phoneMicSplOffset");
constexpr int channelsKept = 32;
constexpr int slotsPerChannel = 2;
constexpr double defaultSplReference = 140.0;
constexpr int missingWarningDelayMs = 500;

QString splKey(int channel)
{
    return QStringLiteral("splRef_%1").arg(channel);
}

QString fileKey(int channel, int slot)
{
    return QStringLiteral("calFile_%1_%2").arg(channel).arg(slot);
}

QString deviceGroup(const QString &deviceId)
{
    return rootGroup + QLatin1Char('/') + CalibrationManager::groupForDeviceId(deviceId);
}

bool isLegacyId(const QString &id)
{
    bool ok = false;
    id.toLongLong(&ok, 10);
    return ok;
}

std::shared_ptr<CalCurve> curveFrom(const QList<CalCurve::Point> &points)
{
    auto curve = std::make_shared<CalCurve>();
    curve->setPoints(points);
    return curve;
}

} // namespace

// ---- Profile ----

QString CalibrationManager::Profile::calFile(int channel, int slot) const
{
    const QStringList files = calFiles.value(channel);
    return slot >= 0 && slot < files.size() ? files[slot] : QString();
}

void CalibrationManager::Profile::setCalFile(int channel, int slot, const QString &path)
{
    if (slot < 0)
        return;
    QStringList &files = calFiles[channel];
    while (files.size() <= slot)
        files.append(QString());
    files[slot] = path;
    lastModified = QDateTime::currentDateTime();
}

void CalibrationManager::Profile::clearCalFile(int channel, int slot)
{
    setCalFile(channel, slot, QString());
}

// ---- group names ----

QString CalibrationManager::groupForDeviceId(const QString &deviceId)
{
    QString group;
    group.reserve(deviceId.size());
    for (const QChar c : deviceId) {
        if (c == QLatin1Char('%'))
            group += QStringLiteral("%25");
        else if (c == QLatin1Char('/'))
            group += QStringLiteral("%2F");
        else if (c == QLatin1Char('\\'))
            group += QStringLiteral("%5C");
        else
            group += c;
    }
    return group;
}

QString CalibrationManager::deviceIdForGroup(const QString &group)
{
    QString id;
    id.reserve(group.size());
    for (qsizetype i = 0; i < group.size(); ++i) {
        const QStringView code = QStringView(group).mid(i, 3);
        if (code == QLatin1String("%25")) {
            id += QLatin1Char('%');
            i += 2;
        } else if (code.compare(QLatin1String("%2F"), Qt::CaseInsensitive) == 0) {
            id += QLatin1Char('/');
            i += 2;
        } else if (code.compare(QLatin1String("%5C"), Qt::CaseInsensitive) == 0) {
            id += QLatin1Char('\\');
            i += 2;
        } else {
            id += group[i];
        }
    }
    return id;
}

// ---- life cycle ----

CalibrationManager *CalibrationManager::instance()
{
    static const std::unique_ptr<CalibrationManager> manager = [] {
        std::unique_ptr<CalibrationManager> created(new CalibrationManager);
        snt::moveToMainThread(created.get());
        created->loadProfiles();
        created->removeMissingFiles();
        CalibrationManager *self = created.get();
        QObject::connect(audio::Client::instance().get(), &audio::Client::deviceListChanged, self,
                         [self] { self->onDevicesChanged(audio::Client::instance()->devices()); });
        return created;
    }();
    return manager.get();
}

CalibrationManager::CalibrationManager() = default;

void CalibrationManager::loadProfiles()
{
    {
        QMutexLocker lock(&mutex_);
        QSettings settings;
        settings.beginGroup(rootGroup);
        const QStringList groups = settings.childGroups();
        for (const QString &group : groups) {
            settings.beginGroup(group);
            Profile profile;
            profile.deviceId = deviceIdForGroup(group);
            profile.deviceName = settings.value(QStringLiteral("deviceName")).toString();
            profile.pluginName = settings.value(QStringLiteral("pluginName")).toString();
            profile.lastModified = settings.value(QStringLiteral("lastModified")).toDateTime();
            for (int channel = 0; channel < channelsKept; ++channel) {
                if (settings.contains(splKey(channel)))
                    profile.splRefs[channel] = settings.value(splKey(channel)).toDouble();
                for (int slot = 0; slot < slotsPerChannel; ++slot) {
                    const QString path = settings.value(fileKey(channel, slot)).toString();
                    if (path.isEmpty())
                        continue;
                    QStringList &files = profile.calFiles[channel];
                    while (files.size() <= slot)
                        files.append(QString());
                    files[slot] = path;
                }
            }
            settings.endGroup();
            profiles_.insert(profile.deviceId, profile);
        }
        settings.endGroup();
        phoneMicSplOffset_ = settings.value(phoneOffsetKey, 0.0).toDouble();
    }
    onDevicesChanged(audio::Client::instance()->devices());
}

double CalibrationManager::phoneMicSplOffset() const
{
    QMutexLocker lock(&mutex_);
    return phoneMicSplOffset_;
}

// ---- legacy ids ----

void CalibrationManager::onDevicesChanged(const audio::DeviceList &devices)
{
    QMutexLocker lock(&mutex_);
    if (migrated_ || devices.isEmpty())
        return;
    migrateLegacyIds(devices);
    migrated_ = true;
}

void CalibrationManager::migrateLegacyIds(const audio::DeviceList &devices)
{
    QStringList legacyIds;
    for (auto it = profiles_.cbegin(); it != profiles_.cend(); ++it)
        if (isLegacyId(it.key()))
            legacyIds.append(it.key());
    int moved = 0;
    int skipped = 0;
    for (const QString &legacyId : legacyIds) {
        if (moveLegacyProfile(legacyId, devices))
            ++moved;
        else
            ++skipped;
    }
    if (moved > 0 || skipped > 0)
        sntInfo(tag) << "legacy id 迁移完成：成功" << moved << "跳过" << skipped
                     << "（跳过原因：名称为空/多设备重名/目标 UID 已存在）";
    moveRenamedProfiles(devices);
    QSettings().sync();
}

void CalibrationManager::moveRenamedProfiles(const audio::DeviceList &devices)
{
    // A backend may list a device under another id than it once had (both sides of an ALSA PCM
    // have one id now); a profile saved under the old id follows the device.
    const auto listed = [&devices](const QString &id) {
        return std::any_of(devices.cbegin(), devices.cend(),
                           [&id](const audio::DeviceInfo &d) { return d.id == id; });
    };
    const std::shared_ptr<audio::Client> client = audio::Client::instance();
    const QStringList savedIds = profiles_.keys();
    for (const QString &savedId : savedIds) {
        if (isLegacyId(savedId) || listed(savedId))
            continue;
        const QString currentId = client->currentDeviceId(savedId);
        if (currentId.isEmpty() || currentId == savedId || profiles_.contains(currentId))
            continue;
        moveProfile(savedId, currentId);
    }
}

void CalibrationManager::moveProfile(const QString &from, const QString &to)
{
    QSettings settings;
    settings.beginGroup(deviceGroup(from));
    QList<QPair<QString, QVariant>> values;
    for (const QString &key : settings.allKeys())
        values.append({key, settings.value(key)});
    settings.endGroup();
    settings.remove(deviceGroup(from));
    settings.beginGroup(deviceGroup(to));
    for (const auto &[key, value] : values)
        settings.setValue(key, value);
    settings.endGroup();

    Profile profile = profiles_.take(from);
    profile.deviceId = to;
    profiles_.insert(to, profile);
    sntInfo(tag) << QStringLiteral("迁移校准配置: %1 (%2) → %3").arg(from, profile.deviceName, to);
}

bool CalibrationManager::moveLegacyProfile(const QString &legacyId,
                                           const audio::DeviceList &devices)
{
    Profile profile = profiles_.value(legacyId);
    if (profile.deviceName.isEmpty())
        return false;
    const auto sameName = [&profile](const audio::DeviceInfo &d) {
        return d.name == profile.deviceName;
    };
    if (std::count_if(devices.cbegin(), devices.cend(), sameName) != 1)
        return false;
    const QString newId = std::find_if(devices.cbegin(), devices.cend(), sameName)->id;
    if (newId.isEmpty() || newId == legacyId || profiles_.contains(newId))
        return false;
    moveProfile(legacyId, newId);
    return true;
}

// ---- vanished files ----

QList<CalibrationManager::MissingFile> CalibrationManager::findMissingFiles() const
{
    QMutexLocker lock(&mutex_);
    QList<MissingFile> missing;
    for (const Profile &profile : profiles_) {
        for (auto it = profile.calFiles.cbegin(); it != profile.calFiles.cend(); ++it) {
            for (int slot = 0; slot < slotsPerChannel; ++slot) {
                const QString path = profile.calFile(it.key(), slot);
                if (!path.isEmpty() && !QFileInfo::exists(path))
                    missing.append(MissingFile{path, slot, it.key(), profile.deviceId});
            }
        }
    }
    return missing;
}

void CalibrationManager::removeMissingFiles()
{
    const QList<MissingFile> missing = findMissingFiles();
    if (missing.isEmpty())
        return;
    QStringList lines;
    {
        QMutexLocker lock(&mutex_);
        for (const MissingFile &m : missing) {
            const auto profile = profiles_.find(m.deviceId);
            if (profile == profiles_.end())
                continue;
            const QString device = profile->deviceName.isEmpty() ? QStringLiteral("当前声卡")
                                                                 : profile->deviceName;
            lines.append(
                    QStringLiteral("%1 (通道 %2): %3").arg(device).arg(m.channel + 1).arg(m.path));
            profile->setCalFile(m.channel, m.slot, QString());
        }
        QSettings settings;
        for (const MissingFile &m : missing)
            settings.remove(deviceGroup(m.deviceId) + QLatin1Char('/')
                            + fileKey(m.channel, m.slot));
        settings.sync();
    }
    sntWarning(tag) << "Removed" << missing.size() << "missing calibration file reference(s)";
    const QString text
            = QStringLiteral("以下校准文件已不存在，已自动移除关联：%1。请在校准设置里重新指定。")
                      .arg(lines.join(QStringLiteral("；")));
    QTimer::singleShot(missingWarningDelayMs, this,
                       [this, text] { emit warningRaised(QStringLiteral("校准文件缺失"), text); });
}

// ---- profiles ----

CalibrationManager::Profile CalibrationManager::getProfile(const QString &deviceId) const
{
    QMutexLocker lock(&mutex_);
    return profiles_.value(deviceId);
}

void CalibrationManager::saveProfile(const Profile &profile)
{
    if (profile.deviceId.isEmpty()) {
        sntWarning(tag) << "Cannot save profile with empty deviceId";
        return;
    }
    {
        QMutexLocker lock(&mutex_);
        QSettings settings;
        settings.beginGroup(deviceGroup(profile.deviceId));
        settings.setValue(QStringLiteral("deviceName"), profile.deviceName);
        settings.setValue(QStringLiteral("pluginName"), profile.pluginName);
        settings.setValue(QStringLiteral("lastModified"), profile.lastModified);
        for (auto it = profile.splRefs.cbegin(); it != profile.splRefs.cend(); ++it)
            settings.setValue(splKey(it.key()), it.value());
        for (auto it = profile.calFiles.cbegin(); it != profile.calFiles.cend(); ++it)
            for (int slot = 0; slot < slotsPerChannel; ++slot)
                settings.setValue(fileKey(it.key(), slot), profile.calFile(it.key(), slot));
        settings.endGroup();
        profiles_.insert(profile.deviceId, profile);
    }
    emit profileUpdated(profile.deviceId);
}

double CalibrationManager::splReference(const QString &deviceId, int channel) const
{
    QMutexLocker lock(&mutex_);
    const auto profile = profiles_.constFind(deviceId);
    if (profile == profiles_.cend())
        return defaultSplReference;
    return profile->splRefs.value(channel, defaultSplReference);
}

int CalibrationManager::referenceCount(const QString &path) const
{
    QMutexLocker lock(&mutex_);
    int count = 0;
    for (const Profile &profile : profiles_) {
        for (const QStringList &files : profile.calFiles)
            count += int(std::count(
                    files.cbegin(),
                    files.cbegin() + std::min<qsizetype>(files.size(), slotsPerChannel), path));
    }
    return count;
}

// ---- combined curve ----

std::shared_ptr<CalCurve> CalibrationManager::getCombinedCalCurve(const QString &deviceId,
                                                                  int channel)
{
    QMutexLocker lock(&mutex_);
    sntDebug(tag) << "getCombinedCalCurve - deviceId:" << deviceId << "channel:" << channel;
    const auto profile = profiles_.constFind(deviceId);
    if (profile == profiles_.cend()) {
        sntWarning(tag) << "No profile found for device:" << deviceId;
        return std::make_shared<CalCurve>();
    }
    const QString file1 = profile->calFile(channel, 0);
    const QString file2 = profile->calFile(channel, 1);
    sntDebug(tag) << "calFile1:" << file1;
    sntDebug(tag) << "calFile2:" << file2;
    if (file1.isEmpty() && file2.isEmpty()) {
        sntDebug(tag) << "Both calibration files are empty";
        return std::make_shared<CalCurve>();
    }

    const QString files[slotsPerChannel] = {file1, file2};
    CalFileParser::Result parsed[slotsPerChannel];
    for (int slot = 0; slot < slotsPerChannel; ++slot) {
        if (files[slot].isEmpty())
            continue;
        parsed[slot] = CalFileParser::parse(files[slot]);
        if (!parsed[slot].ok) {
            lock.unlock();
            dropBrokenFile(deviceId, channel, slot, parsed[slot].error);
            return std::make_shared<CalCurve>();
        }
    }

    if (file2.isEmpty()) {
        sntDebug(tag) << "Loaded file1 with" << parsed[0].points.size() << "points";
        return curveFrom(parsed[0].points);
    }
    if (file1.isEmpty()) {
        sntDebug(tag) << "Loaded file2 with" << parsed[1].points.size() << "points";
        return curveFrom(parsed[1].points);
    }

    // Two files in series: their dB add at every frequency either of them names.
    const auto first = curveFrom(parsed[0].points);
    const auto second = curveFrom(parsed[1].points);
    QList<float> frequencies = first->frequencies() + second->frequencies();
    std::sort(frequencies.begin(), frequencies.end());
    frequencies.erase(std::unique(frequencies.begin(), frequencies.end()), frequencies.end());
    QList<CalCurve::Point> merged;
    merged.reserve(frequencies.size());
    for (const float f : frequencies)
        merged.append({f, first->gainDbAt(f) + second->gainDbAt(f)});
    sntDebug(tag) << "Merged curve with" << merged.size() << "points";
    return curveFrom(merged);
}

void CalibrationManager::dropBrokenFile(const QString &deviceId, int channel, int slot,
                                        const QString &error)
{
    sntWarning(tag) << (slot == 0 ? "Failed to parse file1:" : "Failed to parse file2:") << error;
    emit warningRaised(QStringLiteral("校准文件解析失败"), error);
    Profile profile = getProfile(deviceId);
    profile.clearCalFile(channel, slot);
    saveProfile(profile);
}
