#pragma once

#include "common/Log.h"

#include <QString>
#include <optional>

namespace audio::aes67 {

// Holds a table that strangers on the network fill (streams, devices, clocks they announce) to a
// fixed number of entries, so that spoofed traffic cannot grow it without bound: before a new
// entry goes in, the entries heard least recently make room. The first time the limit bites, a
// warning is logged; once a new entry finds room again, the next time is logged too.
class TableLimit
{
public:
    TableLimit(const char *tag, const char *what, qsizetype capacity)
        : tag_(tag)
        , what_(what)
        , capacity_(capacity)
    { }

    qsizetype capacity() const { return capacity_; }

    // Makes room for one new entry in `table`, a map whose values `heardAt` tells when they were
    // last heard: `drop` is called with the key of each entry that has to go, and must remove it.
    // The entry under `keep` never goes.
    template<class Map, class HeardAt, class Drop>
    void makeRoom(const Map &table, HeardAt heardAt, Drop drop, const QString &keep = QString())
    {
        if (table.size() < capacity_) {
            warned_ = false;
            return;
        }
        if (!warned_)
            sntWarning(lcAes67, tag_) << "more than" << capacity_ << what_
                                      << "at once; the least recently heard are dropped";
        warned_ = true;
        for (qsizetype over = table.size() - capacity_ + 1; over > 0; --over) {
            const std::optional<QString> oldest = leastRecentlyHeard(table, heardAt, keep);
            if (!oldest)
                return;
            drop(*oldest);
        }
    }

private:
    template<class Map, class HeardAt>
    static std::optional<QString> leastRecentlyHeard(const Map &table, HeardAt heardAt,
                                                     const QString &keep)
    {
        std::optional<QString> oldest;
        qint64 oldestAt = 0;
        for (auto it = table.cbegin(); it != table.cend(); ++it) {
            if (it.key() == keep || (oldest && heardAt(it.value()) >= oldestAt))
                continue;
            oldest = it.key();
            oldestAt = heardAt(it.value());
        }
        return oldest;
    }

    const char *tag_;
    const char *what_;
    qsizetype capacity_;
    bool warned_ = false;
};

} // namespace audio::aes67
