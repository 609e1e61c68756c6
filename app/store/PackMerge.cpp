#include "app/store/PackMerge.h"

#include <QHash>
#include <QSet>

namespace store {

namespace {

// The packs' keys in their order: the identity, and how many packs of the same identity came
// before (copies of one pack without a capture file share it).
template<typename Identity>
QStringList keysOf(qsizetype count, Identity identityAt)
{
    QHash<QString, int> earlier;
    QStringList keys;
    keys.reserve(count);
    for (qsizetype i = 0; i < count; ++i) {
        const QString identity = identityAt(i);
        keys.append(identity + QLatin1Char('\n') + QString::number(earlier[identity]++));
    }
    return keys;
}

QStringList keysOf(const QList<CurvePack> &packs)
{
    return keysOf(packs.size(),
                  [&packs](qsizetype i) { return packIdentity(packs[i].rawFile, packs[i].name); });
}

QHash<QString, qsizetype> placesOf(const QStringList &keys)
{
    QHash<QString, qsizetype> places;
    places.reserve(keys.size());
    for (qsizetype i = 0; i < keys.size(); ++i)
        places.insert(keys[i], i);
    return places;
}

// Emptied by assignment: an emptied list that kept its storage and one that never had any
// compare through memcmp with a null pointer.
CurvePack withoutCaptures(CurvePack pack)
{
    pack.project = QString();
    for (QList<float> *values : {&pack.freq, &pack.level, &pack.phase, &pack.coherence, &pack.freq2,
                                 &pack.level2, &pack.phase2, &pack.coherence2})
        *values = {};
    for (QList<QList<float>> *curves :
         {&pack.pointFreq, &pack.pointLevel, &pack.pointPhase, &pack.pointCoherence})
        *curves = {};
    return pack;
}

// One merge: the three versions of the file's packs and what the merge has decided so far.
class Merge
{
public:
    Merge(const QList<CurvePack> &read, const QList<CurvePack> &listed, const QJsonArray &found)
        : read_(read)
        , listed_(listed)
        , found_(found)
        , readKeys_(keysOf(read))
        , listedKeys_(keysOf(listed))
        , readAt_(placesOf(readKeys_))
        , listedAt_(placesOf(listedKeys_))
    {
        foundPacks_.reserve(found.size());
        for (const QJsonValue &pack : found)
            foundPacks_.append(curvePackFromJson(pack.toObject(), QString()));
        foundKeys_ = keysOf(foundPacks_);
        foundAt_ = placesOf(foundKeys_);
    }

    MergedPacks run()
    {
        for (qsizetype i = 0; i < listed_.size() && result_.applied; ++i)
            takeListed(i);
        for (qsizetype i = 0; i < read_.size() && result_.applied; ++i) {
            if (!listedAt_.contains(readKeys_[i]))
                checkRemoval(i);
        }
        if (!result_.applied)
            return result_;
        placeOthers();
        return result_;
    }

private:
    void conflict(const QString &pack)
    {
        result_.applied = false;
        result_.conflictingPack = pack;
    }

    // The store's pack at `i` of its list, as its change decides: kept as the file holds it now
    // when the store did not change it (gone when the other program removed it), else the
    // store's, unless the other program changed it otherwise.
    void takeListed(qsizetype i)
    {
        const CurvePack &pack = listed_[i];
        const qsizetype r = readAt_.value(listedKeys_[i], -1);
        const qsizetype f = foundAt_.value(listedKeys_[i], -1);
        const bool changed = r < 0 || !sameStoredPack(pack, read_[r]);
        if (!changed) {
            if (f >= 0)
                keep(listedKeys_[i], found_[f]);
            return;
        }
        if (f >= 0) {
            const bool otherChanged = r < 0 || !sameStoredPack(foundPacks_[f], read_[r]);
            if (otherChanged && !sameStoredPack(foundPacks_[f], pack))
                return conflict(pack.name);
        } else if (r >= 0) {
            return conflict(pack.name); // changed here, removed there
        }
        keep(listedKeys_[i], curvePackToJson(pack));
    }

    // A pack the store removed from the file (deleted or moved out) goes, unless the other
    // program changed it since.
    void checkRemoval(qsizetype r)
    {
        const qsizetype f = foundAt_.value(readKeys_[r], -1);
        if (f >= 0 && !sameStoredPack(foundPacks_[f], read_[r]))
            conflict(read_[r].name);
    }

    void keep(const QString &key, const QJsonValue &pack)
    {
        order_.append(key);
        kept_.insert(key, pack);
    }

    // The other program's own packs, each after the pack it followed in the file (the first at
    // the start).
    void placeOthers()
    {
        const QSet<QString> placed(order_.cbegin(), order_.cend());
        QHash<QString, QList<qsizetype>> after; // by the placed pack they follow; "" the start
        QString anchor;
        for (qsizetype f = 0; f < foundKeys_.size(); ++f) {
            const QString &key = foundKeys_[f];
            if (placed.contains(key))
                anchor = key;
            else if (!readAt_.contains(key) && !listedAt_.contains(key))
                after[anchor].append(f);
        }
        const auto appendFollowers = [&](const QString &key) {
            for (const qsizetype f : after.value(key))
                result_.packs.append(found_[f]);
        };
        appendFollowers(QString());
        for (const QString &key : std::as_const(order_)) {
            result_.packs.append(kept_.value(key));
            appendFollowers(key);
        }
    }

    const QList<CurvePack> &read_;
    const QList<CurvePack> &listed_;
    const QJsonArray &found_;
    QList<CurvePack> foundPacks_;
    QStringList readKeys_;
    QStringList listedKeys_;
    QStringList foundKeys_;
    QHash<QString, qsizetype> readAt_;
    QHash<QString, qsizetype> listedAt_;
    QHash<QString, qsizetype> foundAt_;
    QStringList order_;
    QHash<QString, QJsonValue> kept_;
    MergedPacks result_;
};

} // namespace

QString packIdentity(const QString &rawFile, const QString &name)
{
    return rawFile + QLatin1Char('\n') + name;
}

bool sameStoredPack(const CurvePack &a, const CurvePack &b)
{
    // Equal records hold the same; records that differ may still read back the same (a curve
    // label the writer fills in, a band it leaves out, a count the named curves decide).
    const auto readBack = [](const CurvePack &pack) {
        return curvePackFromJson(curvePackToJson(pack), QString());
    };
    return withoutCaptures(a) == withoutCaptures(b) || readBack(a) == readBack(b);
}

MergedPacks mergePacks(const QList<CurvePack> &read, const QList<CurvePack> &listed,
                       const QJsonArray &found)
{
    return Merge(read, listed, found).run();
}

} // namespace store
