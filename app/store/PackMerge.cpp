#include "app/store/PackMerge.h"

#include <QSet>

#include <algorithm>
#include <functional>

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

// The key of the first pack of an identity.
QString firstKey(const QString &identity)
{
    return identity + QStringLiteral("\n0");
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

// Whether `a` holds what `b` holds but for what this program does not hold of a pack (keys it
// does not know, numbers beyond its types, keys inside a band).
bool differsUnseenOnly(CurvePack a, const CurvePack &b)
{
    a.stored = b.stored;
    return sameStoredPack(a, b);
}

bool rising(const QList<qsizetype> &places)
{
    return std::adjacent_find(places.cbegin(), places.cend(), std::greater_equal<qsizetype>())
           == places.cend();
}

// One merge: the three versions of the file's packs and what the merge has decided so far.
class Merge
{
public:
    Merge(const QList<CurvePack> &read, const QList<CurvePack> &listed, const QJsonArray &found,
          const Replacements &replacements)
        : read_(read)
        , listed_(listed)
        , found_(found)
        , readKeys_(keysOf(read))
        , listedKeys_(keysOf(listed))
        , readAt_(placesOf(readKeys_))
    {
        foundPacks_.reserve(found.size());
        for (const QJsonValue &pack : found)
            foundPacks_.append(curvePackFromJson(pack.toObject(), QString()));
        foundKeys_ = keysOf(foundPacks_);
        foundAt_ = placesOf(foundKeys_);
        for (qsizetype f = 0; f < foundPacks_.size(); ++f) {
            if (!readAt_.contains(foundKeys_[f]))
                namesTheyGave_.insert(foundPacks_[f].name);
        }
        const QSet<QString> listedKeys(listedKeys_.cbegin(), listedKeys_.cend());
        for (qsizetype i = 0; i < listed.size(); ++i)
            baseKeys_.append(baseKey(i, listedKeys, replacements));
        continued_ = QSet<QString>(baseKeys_.cbegin(), baseKeys_.cend());
    }

    MergedPacks run()
    {
        for (qsizetype i = 0; i < listed_.size() && result_.applied; ++i)
            takeListed(i);
        for (qsizetype r = 0; r < read_.size() && result_.applied; ++r) {
            if (!continued_.contains(readKeys_[r]))
                checkRemoval(r);
        }
        if (result_.applied)
            takeOthers();
        if (result_.applied)
            placeAll();
        return result_;
    }

private:
    // One pack of the result: its object, its record, and where it stands in the listed, found
    // and read packs (-1 where it does not).
    struct Entry
    {
        QJsonValue pack;
        CurvePack record;
        qsizetype listedAt = -1;
        qsizetype foundAt = -1;
        qsizetype readAt = -1;
    };

    // The key of the pack read that the listed pack at `i` continues: its own, or that of the
    // pack it replaced where the file held that one and the list holds it no more.
    QString baseKey(qsizetype i, const QSet<QString> &listedKeys,
                    const Replacements &replacements) const
    {
        const QString &own = listedKeys_[i];
        const auto replaced
                = replacements.constFind(packIdentity(listed_[i].rawFile, listed_[i].name));
        if (replaced == replacements.cend() || readAt_.contains(own))
            return own;
        const QString earlier = firstKey(*replaced);
        return readAt_.contains(earlier) && !listedKeys.contains(earlier) ? earlier : own;
    }

    void conflict(const QString &pack)
    {
        result_.applied = false;
        result_.conflictingPack = pack;
    }

    // The store's pack at `i` of its list, as its change decides: kept as the file holds it now
    // when the store did not change it (gone when the other program removed it), else the
    // store's, unless the other program changed it otherwise. What the other program changed
    // that this program does not hold of a pack goes along with the store's change.
    void takeListed(qsizetype i)
    {
        const CurvePack &pack = listed_[i];
        const bool replacing = baseKeys_[i] != listedKeys_[i];
        const qsizetype r = readAt_.value(baseKeys_[i], -1);
        const qsizetype f = foundAt_.value(baseKeys_[i], -1);
        Entry entry{QJsonValue(), CurvePack(), i, f, r};
        if (r >= 0 && !replacing && sameStoredPack(pack, read_[r])) {
            if (f >= 0) {
                entry.pack = found_[f];
                entry.record = foundPacks_[f];
                entries_.append(entry);
            }
            return;
        }
        CurvePack written = pack;
        if (r >= 0) {
            if (f < 0)
                return conflict(pack.name); // changed here, removed there
            const CurvePack &theirs = foundPacks_[f];
            if (!sameStoredPack(theirs, read_[r])) {
                if (differsUnseenOnly(theirs, read_[r]))
                    written.stored = theirs.stored;
                else if (replacing || !sameStoredPack(theirs, pack))
                    return conflict(pack.name);
            }
        }
        if (r < 0 || replacing) {
            const qsizetype added = foundAt_.value(listedKeys_[i], -1);
            if (added >= 0 && !sameStoredPack(foundPacks_[added], pack))
                return conflict(pack.name); // added on both sides, otherwise
            if (added < 0 && namesTheyGave_.contains(pack.name))
                return conflict(pack.name); // one name for two packs added on each side
            if (added >= 0)
                alsoTheirs_.insert(added);
            if (r < 0)
                entry.foundAt = added;
        }
        entry.pack = curvePackToJson(written);
        entry.record = std::move(written);
        entries_.append(entry);
    }

    // A pack the store removed from the file (deleted or moved out) goes, unless the other
    // program changed it since, or removed it (deleted or moved it elsewhere, or removed one of
    // two copies the store cannot tell apart): a removal meets that change.
    void checkRemoval(qsizetype r)
    {
        const qsizetype f = foundAt_.value(readKeys_[r], -1);
        if (f < 0 || !sameStoredPack(foundPacks_[f], read_[r]))
            conflict(read_[r].name);
    }

    // The packs only the other program has: those it added.
    void takeOthers()
    {
        for (qsizetype f = 0; f < found_.size(); ++f) {
            if (!readAt_.contains(foundKeys_[f]) && !alsoTheirs_.contains(f))
                entries_.append({found_[f], foundPacks_[f], -1, f, -1});
        }
    }

    // The order of the result. Where neither side ordered the packs they share anew, or only the
    // store did, the store's order holds and each pack only the other program has follows the
    // pack it followed in the file; where only the other program did, its order holds and each
    // pack only the store has follows the pack it follows in the list. Orders made anew on both
    // sides meet unless they agree.
    void placeAll()
    {
        QList<qsizetype> oursRead;
        for (const Entry &entry : std::as_const(entries_)) {
            if (entry.listedAt >= 0 && entry.readAt >= 0)
                oursRead.append(entry.readAt);
        }
        QList<qsizetype> theirsRead;
        for (const QString &key : std::as_const(foundKeys_)) {
            if (readAt_.contains(key))
                theirsRead.append(readAt_.value(key));
        }
        const bool oursAnew = !rising(oursRead);
        const bool theirsAnew = !rising(theirsRead);
        if (oursAnew && theirsAnew && !sharedOrderAgrees())
            return;
        if (theirsAnew && !oursAnew)
            placeBy(&Entry::foundAt, &Entry::listedAt);
        else
            placeBy(&Entry::listedAt, &Entry::foundAt);
    }

    // Whether the packs both sides hold stand in the same order in the list and in the file;
    // where not, the first pack out of its place meets the other program's order.
    bool sharedOrderAgrees()
    {
        qsizetype last = -1;
        for (const Entry &entry : std::as_const(entries_)) {
            if (entry.listedAt < 0 || entry.foundAt < 0 || entry.readAt < 0)
                continue;
            if (entry.foundAt < last) {
                conflict(entry.pack[QLatin1String("name")].toString());
                return false;
            }
            last = entry.foundAt;
        }
        return true;
    }

    // The entries placed by `leading` (the list's or the file's places) in that order, each
    // entry without such a place after the nearest entry before it by `following`, or first.
    void placeBy(qsizetype Entry::*leading, qsizetype Entry::*following)
    {
        QHash<qsizetype, QList<qsizetype>> after; // by the leading entry they follow; -1 first
        qsizetype anchor = -1;
        for (const qsizetype e : sortedBy(following)) {
            if (entries_[e].*leading >= 0)
                anchor = e;
            else
                after[anchor].append(e);
        }
        const auto append = [this](const Entry &entry) {
            result_.packs.append(entry.pack);
            result_.records.append(entry.record);
        };
        const auto appendAfter = [&](qsizetype e) {
            for (const qsizetype next : after.value(e))
                append(entries_[next]);
        };
        appendAfter(-1);
        for (const qsizetype e : sortedBy(leading)) {
            append(entries_[e]);
            appendAfter(e);
        }
    }

    // The entries that have a place of that kind, in its order.
    QList<qsizetype> sortedBy(qsizetype Entry::*place) const
    {
        QList<qsizetype> order;
        for (qsizetype e = 0; e < entries_.size(); ++e) {
            if (entries_[e].*place >= 0)
                order.append(e);
        }
        std::stable_sort(order.begin(), order.end(), [this, place](qsizetype a, qsizetype b) {
            return entries_[a].*place < entries_[b].*place;
        });
        return order;
    }

    const QList<CurvePack> &read_;
    const QList<CurvePack> &listed_;
    const QJsonArray &found_;
    QList<CurvePack> foundPacks_;
    QStringList readKeys_;
    QStringList listedKeys_;
    QStringList foundKeys_;
    QStringList baseKeys_; // of the listed packs
    QHash<QString, qsizetype> readAt_;
    QHash<QString, qsizetype> foundAt_;
    QSet<QString> continued_; // the keys of the read packs the list continues
    QSet<qsizetype> alsoTheirs_; // found packs the store added too, the same
    QSet<QString> namesTheyGave_; // the names of the packs the other program added
    QList<Entry> entries_;
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
                       const QJsonArray &found, const Replacements &replacements)
{
    return Merge(read, listed, found, replacements).run();
}

} // namespace store
