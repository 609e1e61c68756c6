#include "processor/JsonValues.h"
#include "processor/MessageLimits.h"
#include "processor/ProcessorClient.h"

#include "files/StoreFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHttpMultiPart>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>

#include <cmath>
#include <limits>
#include <optional>

using processor::paramInt64;
using processor::valueText;

namespace {

constexpr int kSlots = 80;
constexpr int kFirstUserSlot = 2;
constexpr int kLastListedSlot = 78;
constexpr int kFactorySlot = 1;
constexpr int kValidityWords = 3;
constexpr int kDeleteWords = 10;
constexpr int kExportTimeoutMs = 10000;
constexpr int kImportTimeoutMs = 15000;
constexpr unsigned long kImportSettleMs = 200;
// firstFreeSlot: every slot of the range holds a preset, or the processor has not said.
constexpr int kNoFreeSlot = -1;
constexpr int kUnknownSlots = -2;

const QString kOk = QStringLiteral("ok");
const QString kMessage = QStringLiteral("message");
const QString kSlot = QStringLiteral("slot");
const QString kEmptySlot = QStringLiteral("这一格还没有预设。");

// Word w (0 to 2) of the validity mask; the processor numbers them 1 to 3, with a trailing 0.
QString validityKey(int word)
{
    return QStringLiteral("PRESETINFOpreset_valid") + QString::number(word + 1) + QLatin1Char('0');
}

QString nameKey(int slot)
{
    return QStringLiteral("PRESETNAMEname%1").arg(slot);
}

// Words arrive signed or unsigned, as numbers or texts: only the low 32 bits carry slots. A
// value that is no whole number (a text of words, null, an array, a fraction) says nothing
// about the slots: reading it as 0 would show every slot free.
std::optional<quint32> knownWord(const QJsonValue &value)
{
    constexpr qint64 unknown = std::numeric_limits<qint64>::min();
    if (value.isDouble() && value.toDouble() != std::trunc(value.toDouble()))
        return std::nullopt;
    const qint64 word = paramInt64(value, unknown);
    if (word == unknown)
        return std::nullopt;
    return quint32(word & 0xFFFFFFFF);
}

// A preset is never stored without a name.
QString presetName(const QString &name)
{
    const QString trimmed = name.trimmed();
    return trimmed.isEmpty() ? QStringLiteral("未命名") : trimmed;
}

QVariantMap success(const QString &text)
{
    return {{kOk, true}, {kMessage, text}};
}

// A file name as a form-data header carries it (RFC 7578, section 4.2, as browsers send it):
// UTF-8 with the three bytes that would end the quoted name or the header line percent-encoded.
// Linux allows all three in a file name.
QByteArray formFileName(const QString &name)
{
    QByteArray encoded = name.toUtf8();
    encoded.replace('"', "%22").replace('\r', "%0D").replace('\n', "%0A");
    return encoded;
}

QJsonObject slotCommand(const char *command, int slot)
{
    return {{QLatin1String(command), QJsonObject{{QStringLiteral("id"), slot}}}};
}

} // namespace

// Whether the processor said if the slot holds a preset: its validity word is a number.
bool ProcessorClient::presetKnown(int slot) const
{
    return slot >= 0 && slot < kSlots && knownWord(paramCache_.value(validityKey(slot / 32)));
}

bool ProcessorClient::presetValid(int slot) const
{
    if (slot < 0 || slot >= kSlots)
        return false;
    const std::optional<quint32> word = knownWord(paramCache_.value(validityKey(slot / 32)));
    return word && (*word >> (slot % 32) & 1u);
}

// The first slot known to be free; a slot whose word the processor did not give (or gave as no
// number) is not free, for it may hold the user's preset.
int ProcessorClient::firstFreeSlot(int first, int last) const
{
    for (int slot = first; slot <= last; ++slot) {
        if (!presetKnown(slot))
            return kUnknownSlots;
        if (!presetValid(slot))
            return slot;
    }
    return kNoFreeSlot;
}

QVariantMap ProcessorClient::readPresets() const
{
    const QString current = storedName(0);
    QVariantList list;
    for (int slot = kFirstUserSlot; slot <= kLastListedSlot; ++slot) {
        const bool known = presetKnown(slot);
        const bool valid = presetValid(slot);
        // A slot the processor said nothing about may still hold the preset named last.
        const QString name = valid || !known ? storedName(slot) : QString();
        list.append(QVariantMap{
                {kSlot, slot},
                {QStringLiteral("name"), name},
                {QStringLiteral("valid"), valid},
                {QStringLiteral("known"), known},
                {QStringLiteral("current"), valid && !current.isEmpty() && name == current}});
    }
    return {{kOk, true}, {QStringLiteral("list"), list}, {QStringLiteral("current"), current}};
}

QVariantMap ProcessorClient::savePreset(int slot, const QString &name)
{
    if (!connected_)
        return failure(QStringLiteral("先连接处理器。"));
    if (slot < 0 || slot >= kSlots)
        return failure(QStringLiteral("预设号不对。"));
    if (!presetKnown(slot))
        return failure(unknownSlotText(slot));
    const QString stored = presetName(name);
    const QJsonObject command{
            {QStringLiteral("SAVENAME"),
             QJsonObject{{QStringLiteral("id"), slot}, {QStringLiteral("name"), stored}}}};
    const QVariantMap result = postCommand(command, QStringLiteral("已保存到 %1").arg(stored));
    if (result.value(kOk).toBool())
        markPresetSaved(slot, stored);
    return result;
}

QString ProcessorClient::storedName(int slot) const
{
    return valueText(paramCache_.value(nameKey(slot))).trimmed();
}

// Saving into a slot the processor said nothing about could overwrite a preset: the refusal
// names the one it may hold.
QString ProcessorClient::unknownSlotText(int slot) const
{
    const QString name = storedName(slot);
    const QString held
            = name.isEmpty() ? QStringLiteral("一个预设") : QStringLiteral("预设「%1」").arg(name);
    return QStringLiteral("设备没报告这一格是不是空的，里面可能存着%1，没存。").arg(held);
}

// The processor need not answer a save with its validity words; the slot is taken all the
// same, so the cache says so, and the next "free" slot is really free. A word the cache does
// not know stays unknown: one bit set in it would show the other slots free.
void ProcessorClient::markPresetSaved(int slot, const QString &name)
{
    const QString key = validityKey(slot / 32);
    if (const std::optional<quint32> word = knownWord(paramCache_.value(key)))
        paramCache_.insert(key, double(*word | (1u << (slot % 32))));
    paramCache_.insert(nameKey(slot), name);
}

QVariantMap ProcessorClient::saveNewPreset(const QString &name)
{
    if (!connected_)
        return failure(QStringLiteral("先连接处理器。"));
    const int slot = firstFreeSlot(kFirstUserSlot, kSlots - 1);
    if (slot == kUnknownSlots)
        return failure(QStringLiteral("设备没报告哪些预设格是空的，没存。"));
    if (slot == kNoFreeSlot)
        return failure(QStringLiteral("预设位置满了，先删几个。"));
    const QString stored = presetName(name);
    const QVariantMap result = savePreset(slot, stored);
    if (!result.value(kOk).toBool())
        return result;
    setStartupPreset(slot);
    QVariantMap saved = success(QStringLiteral("已保存：") + stored);
    saved.insert(kSlot, slot);
    return saved;
}

QVariantMap ProcessorClient::loadPreset(int slot)
{
    if (!presetValid(slot))
        return failure(kEmptySlot);
    const QVariantMap result
            = postCommand(slotCommand("LOAD", slot), QStringLiteral("已调用预设 %1").arg(slot + 1));
    if (result.value(kOk).toBool()) {
        setStartupPreset(slot);
        refreshAll();
    }
    return result;
}

QVariantMap ProcessorClient::resetDevice()
{
    if (!connected_)
        return failure(QStringLiteral("先连接处理器。"));
    const QVariantMap result
            = postCommand(slotCommand("LOAD", kFactorySlot), QStringLiteral("设备已恢复默认。"));
    if (result.value(kOk).toBool())
        refreshAll();
    return result;
}

QVariantMap ProcessorClient::deletePreset(int slot)
{
    if (!presetValid(slot))
        return failure(kEmptySlot);
    if (slot < kFirstUserSlot)
        return failure(QStringLiteral("默认预设不能删。"));
    if (!connected_)
        return failure(QStringLiteral("先连接处理器。"));
    // The processor keeps exactly the slots whose bits are sent: words built from a failed or
    // incomplete read would erase presets the user never chose to delete.
    QString error;
    if (!readAll(error))
        return failure(QStringLiteral("没成功：") + friendlyError(error));
    for (int w = 0; w < kValidityWords; ++w) {
        if (!knownWord(paramCache_.value(validityKey(w))))
            return failure(QStringLiteral("设备没报告哪些预设格有预设，没删。"));
    }
    if (!presetValid(slot))
        return failure(kEmptySlot);

    QJsonArray words;
    for (int w = 0; w < kDeleteWords; ++w) {
        quint32 word = 0;
        for (int j = 0; w < kValidityWords && j < 32; ++j) {
            const int s = 32 * w + j;
            if (s != slot && presetValid(s))
                word |= 1u << j;
        }
        words.append(qint32(word));
    }
    return postCommand({{QStringLiteral("SAVEDELETE"), words}},
                       QStringLiteral("已删除预设 %1").arg(slot + 1));
}

QVariantMap ProcessorClient::setStartupPreset(int slot)
{
    if (!presetValid(slot))
        return failure(kEmptySlot);
    return postCommand(slotCommand("STARTUP", slot),
                       QStringLiteral("开机档已设为预设 %1").arg(slot + 1));
}

QVariantMap ProcessorClient::exportPreset(int slot)
{
    if (!connected_)
        return failure(QStringLiteral("先连接处理器。"));
    QJsonObject ignored;
    QString error;
    if (!postJson({{QStringLiteral("PRESETEXPORT"), QJsonObject()}}, ignored, error,
                  kExportTimeoutMs, QStringLiteral("/save0_export.cgi")))
        return failure(QStringLiteral("导出失败：") + friendlyError(error));
    const QNetworkRequest request(processorUrl(QStringLiteral("/data_export/SAVE0.txt"), false));
    return writeExport(slot,
                       waitForReply(limited(network_->get(request), processor::kExportFileLimit),
                                    kExportTimeoutMs));
}

QUrl ProcessorClient::presetFolder() const
{
    return QUrl::fromLocalFile(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
}

// Only a whole answer reaches the desktop, and through a renamed temporary file: an error page,
// a cut or empty body never replaces an earlier export.
QVariantMap ProcessorClient::writeExport(int slot, const Exchange &file)
{
    if (!file.ok)
        return failure(QStringLiteral("导出失败：") + friendlyError(file.error));
    if (file.body.isEmpty())
        return failure(QStringLiteral("导出失败：设备给的导出文件是空的。"));
    const QString folder = presetFolder().toLocalFile();
    QDir().mkpath(folder);
    const QString fileName = QStringLiteral("预设-%1.Parm").arg(slot + 1);
    if (!store::saveExport(folder + QLatin1Char('/') + fileName, file.body))
        return failure(QStringLiteral("导出失败：桌面写不进去。"));
    return success(QStringLiteral("已导出到桌面：") + fileName);
}

QVariantMap ProcessorClient::importPreset(const QString &path)
{
    if (!connected_)
        return failure(QStringLiteral("先连接处理器。"));
    const QString local = path.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)
                                  ? QUrl(path).toLocalFile()
                                  : path;
    auto *file = new QFile(local);
    if (!file->open(QIODevice::ReadOnly)) {
        delete file;
        return failure(QStringLiteral("这个文件打不开。"));
    }
    const QFileInfo info(local);
    auto *form = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    QHttpPart part;
    part.setRawHeader("Content-Disposition", "form-data; name=\"file\"; filename=\""
                                                     + formFileName(info.fileName()) + '"');
    part.setBodyDevice(file);
    file->setParent(form);
    form->append(part);
    QNetworkRequest request(processorUrl(QStringLiteral("/test.fcgi/api/preset/import"), true));
    request.setTransferTimeout(kImportTimeoutMs);
    QNetworkReply *reply = limited(network_->post(request, form), processor::kCommandReplyLimit);
    form->setParent(reply);
    const Exchange exchange = waitForReply(reply, kImportTimeoutMs);

    if (!exchange.ok)
        return failure(QStringLiteral("导入没成功：") + friendlyError(exchange.error));
    if (exchange.body.isEmpty())
        return failure(QStringLiteral("导入没成功。"));
    QJsonObject imported = QJsonDocument::fromJson(exchange.body)
                                   .object()
                                   .value(QLatin1String("data"))
                                   .toObject();
    if (imported.isEmpty())
        return failure(QStringLiteral("这个文件设备不认。"));
    keepPresetKeys(imported);
    replaceCache(imported);
    QThread::msleep(kImportSettleMs);

    const int slot = firstFreeSlot(kFirstUserSlot, kLastListedSlot);
    if (slot == kUnknownSlots)
        return success(QStringLiteral("导入进来了，但设备没报告哪些预设格是空的，没存进预设格。"));
    if (slot == kNoFreeSlot)
        return success(QStringLiteral("导入进来了，但预设格满了，先删几条。"));
    QString name = info.completeBaseName().trimmed();
    if (name.isEmpty())
        name = QStringLiteral("导入的预设");
    const QVariantMap saved = savePreset(slot, name);
    if (!saved.value(kOk).toBool())
        return success(QStringLiteral("导入进来了，但没存进预设格：")
                       + saved.value(kMessage).toString());
    setStartupPreset(slot);
    postCommand(slotCommand("LOAD", slot), QString());
    QVariantMap result = success(QStringLiteral("已导入并载入：") + name);
    result.insert(kSlot, slot);
    return result;
}

// An import answer that lacks the preset slots' words or names, or gives a word as no number,
// says nothing about them: the slots keep what the cache knew, so choosing a free slot does not
// overwrite a preset. A word known neither way stays unknown.
void ProcessorClient::keepPresetKeys(QJsonObject &imported) const
{
    for (int w = 0; w < kValidityWords; ++w) {
        const QString key = validityKey(w);
        if (knownWord(imported.value(key)))
            continue;
        if (knownWord(paramCache_.value(key)))
            imported.insert(key, paramCache_.value(key));
        else
            imported.remove(key);
    }
    for (auto it = paramCache_.constBegin(); it != paramCache_.constEnd(); ++it) {
        if (it.key().startsWith(QLatin1String("PRESETNAMEname")) && !imported.contains(it.key()))
            imported.insert(it.key(), it.value());
    }
}
