#include "app/store/StoreJson.h"

#include "common/Log.h"
#include "files/DataFolder.h"
#include "files/RegularFile.h"
#include "files/StoreFile.h"

#include <QFileInfo>
#include <QJsonDocument>

#include <algorithm>
#include <deque>
#include <string_view>
#include <vector>

namespace store {

namespace {

const QString kJsonSuffix = QStringLiteral(".json");
const QString kPacksKey = QStringLiteral("packs");

QString fileName(const QString &path)
{
    return QFileInfo(path).fileName();
}

// A dropped entry as the user and the log see it: a pack by its name, anything else by its text.
QString describeDropped(const QJsonValue &entry)
{
    constexpr qsizetype kLongest = 40;
    if (entry.isObject()) {
        const QString name = entry.toObject().value(QStringLiteral("name")).toString();
        return name.isEmpty() ? QStringLiteral("（无名）") : name;
    }
    const QString text = QString::fromUtf8(
            QJsonDocument(QJsonArray{entry}).toJson(QJsonDocument::Compact).chopped(1).sliced(1));
    return text.size() <= kLongest ? text : text.first(kLongest) + QStringLiteral("…");
}

// The dropped entries go into a file of the root file's form, so they can be read as packs again.
bool keepDroppedPacks(const QString &path, const QJsonArray &packs, const TellUser &tellUser)
{
    const QString copy = keepCopyBeside(path, QStringLiteral("old-packs"),
                                        toJsonText(QJsonObject{{kPacksKey, packs}}));
    if (copy.isEmpty())
        return false;
    QStringList names;
    for (const QJsonValue &pack : packs)
        names.append(describeDropped(pack));
    sntWarning(lcStore, "[Store]")
            << "packs of an older format, without a name or not packs at all left out of" << path
            << "and kept in" << copy << ":" << names.join(QStringLiteral(", "));
    if (tellUser)
        tellUser(QStringLiteral("读不了的曲线包（旧格式、无名或不是曲线包）「%1」已从「%2」移出，"
                                "另存在「%3」")
                         .arg(names.join(QStringLiteral("」「")), fileName(path), fileName(copy)));
    return true;
}

// Whether an object of `json`, valid JSON text, holds a key twice: the parser keeps the last, and
// a file written from what was read would lose the others without a word.
bool holdsAKeyTwice(QByteArrayView json)
{
    std::vector<std::vector<std::string_view>> keysByLevel; // the keys of each open object
    std::vector<bool> isObject;
    std::deque<QByteArray> unescaped; // keys written with escapes, as their text reads
    bool expectKey = false;
    for (qsizetype i = 0; i < json.size(); ++i) {
        switch (json[i]) {
        case '{':
        case '[':
            isObject.push_back(json[i] == '{');
            if (keysByLevel.size() < isObject.size())
                keysByLevel.emplace_back();
            keysByLevel[isObject.size() - 1].clear();
            expectKey = isObject.back();
            break;
        case '}': {
            std::vector<std::string_view> &keys = keysByLevel[isObject.size() - 1];
            std::sort(keys.begin(), keys.end());
            if (std::adjacent_find(keys.begin(), keys.end()) != keys.end())
                return true;
            isObject.pop_back();
            break;
        }
        case ']':
            isObject.pop_back();
            break;
        case ',':
            expectKey = !isObject.empty() && isObject.back();
            break;
        case '"': {
            const qsizetype start = ++i;
            bool escaped = false;
            for (; json[i] != '"'; ++i) {
                if (json[i] == '\\') {
                    escaped = true;
                    ++i;
                }
            }
            if (!expectKey)
                break;
            expectKey = false;
            QByteArrayView key = json.sliced(start, i - start);
            if (escaped) {
                const QByteArray quoted
                        = '[' + json.sliced(start - 1, i - start + 2).toByteArray() + ']';
                key = unescaped.emplace_back(
                        QJsonDocument::fromJson(quoted).array().at(0).toString().toUtf8());
            }
            keysByLevel[isObject.size() - 1].emplace_back(key.data(), std::size_t(key.size()));
            break;
        }
        default:
            break;
        }
    }
    return false;
}

} // namespace

bool isBlank(const QByteArray &content)
{
    // ASCII white space only, as JSON and trimming have it: bytes such as Latin-1's no-break
    // space are text that cannot be read, not an empty file.
    return std::all_of(content.cbegin(), content.cend(),
                       [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); });
}

JsonFile parsedJsonFile(const QString &path, const FileRead &read, QByteArray content)
{
    JsonFile result;
    result.content = std::move(content);
    result.refusal = read.refusal;
    if (!read.opened)
        return result;
    result.readable = true;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(result.content, &error);
    result.object = document.object();
    result.damaged = !isBlank(result.content)
                     && (error.error != QJsonParseError::NoError || !document.isObject()
                         || holdsAKeyTwice(result.content));
    if (result.damaged) {
        result.object = QJsonObject();
        sntWarning(lcStore, "[Store]") << "unreadable store file" << path << "reads as empty";
    }
    const QJsonValue packs = result.object.value(kPacksKey);
    if (packs.isArray()) {
        for (const QJsonValue &pack : packs.toArray()) {
            if (!isLoadedPack(pack))
                result.droppedPacks.append(pack);
        }
    } else if (!packs.isUndefined() && !packs.isNull()) {
        result.droppedPacks.append(packs);
    }
    return result;
}

std::optional<JsonFile> readJsonFileAgain(const QString &path, FileStamp &stamp,
                                          const QByteArray *earlier)
{
    // Taken before the read: a change made while reading shows at the next look.
    const FileStamp now = FileStamp::of(path);
    if (earlier && stamp.provesUnchanged(now))
        return std::nullopt;
    QByteArray content;
    const FileRead read = readRegularFile(path, maxStoreFileBytes, content);
    stamp = now;
    if (earlier && read.opened && content == *earlier)
        return std::nullopt;
    return parsedJsonFile(path, read, std::move(content));
}

bool isLoadedPack(const QJsonValue &pack)
{
    const QJsonObject object = pack.toObject();
    return pack.isObject() && object.value(QStringLiteral("schema")).toInt(0) >= 3
           && !object.value(QStringLiteral("name")).toString().isEmpty();
}

QJsonArray loadedPacks(const QJsonObject &file)
{
    QJsonArray packs;
    for (const QJsonValue &pack : file.value(kPacksKey).toArray()) {
        if (isLoadedPack(pack))
            packs.append(pack);
    }
    return packs;
}

QFileInfoList projectFiles(QDir::SortFlags sort)
{
    // Devices, FIFOs and links to them are listed too: reading refuses them with a message,
    // where left out of the list they would be passed over unseen.
    return QDir(projectsDir())
            .entryInfoList({QStringLiteral("*.json")},
                           QDir::Files | QDir::System | QDir::CaseSensitive, sort);
}

QString projectOfFile(const QFileInfo &file)
{
    return file.fileName().chopped(kJsonSuffix.size());
}

int countSum(const QJsonArray &packs)
{
    int sum = 0;
    for (const QJsonValue &pack : packs)
        sum += pack.toObject().value(QStringLiteral("count")).toInt(2);
    return sum;
}

QByteArray toJsonText(const QJsonObject &object)
{
    const QJsonDocument document(object);
    QByteArray text = document.toJson(QJsonDocument::Indented);
    if (text.size() > maxStoreFileBytes)
        text = document.toJson(QJsonDocument::Compact);
    return text;
}

bool mayReplace(const QString &path, const JsonFile &earlier, const QByteArray &content,
                const TellUser &tellUser)
{
    if (!earlier.refusal.isEmpty()) {
        sntWarning(lcStore, "[Store]") << "not writing over" << path << ": not a store file";
        return false;
    }
    if (content.size() <= maxStoreFileBytes)
        return true;
    sntWarning(lcStore, "[Store]") << "not writing" << content.size() << "bytes to" << path
                                   << ": more than a store file that is read holds";
    if (tellUser)
        tellUser(QStringLiteral("「%1」再大就读不回来了（上限 %2 MB），这次的改动没有存；"
                                "请把一些曲线包移到别处或删掉")
                         .arg(fileName(path))
                         .arg(maxStoreFileBytes >> 20));
    return false;
}

bool keepAside(const QString &path, const JsonFile &earlier, const TellUser &tellUser)
{
    return earlier.droppedPacks.isEmpty() || keepDroppedPacks(path, earlier.droppedPacks, tellUser);
}

} // namespace store
