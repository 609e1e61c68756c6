#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace snt::startup {

// The headless batch's result file: an indented JSON array that gains one entry after every
// curve and is a valid array, holding every entry saved so far, at every moment. Each save puts
// a complete copy in place of the file with one rename, so an interrupted batch leaves the last
// saved array whole. Rewriting the whole array for every curve would cost the square of the
// batch's length, so the copy the file held before is kept under a spare name (a second link to
// it) and brought up to date in place at the next save: only the entries it lacks (two, as a
// rule) are written. The spare lives beside the file (a rename cannot cross file systems), named
// "<file>.spare-<random>", and is removed when this object goes. A batch killed outright leaves
// its spare behind: the next one writing the same file removes every spare of that file first.
class BatchResultFile
{
public:
    // Removes the spares of `path` that earlier batches left behind.
    explicit BatchResultFile(QString path);
    ~BatchResultFile();
    BatchResultFile(const BatchResultFile &) = delete;
    BatchResultFile &operator=(const BatchResultFile &) = delete;

    // Adds one entry, its text one level in as it stands in the array, and saves the array.
    // False when the file could not be saved; the entry stays and goes out with the next save.
    bool append(const QByteArray &entryText);
    qsizetype size() const { return entries_.size(); }

private:
    // A complete copy of the array: how many entries it holds, its bytes up to the end of the
    // last one (before the closing bracket).
    struct Copy
    {
        QString name;
        qsizetype entries = 0;
        qint64 length = 0;
    };

    void removeStaleSpares() const;
    bool bringUpToDate(Copy &copy) const;
    bool createCopy(Copy &copy) const;
    void discardSpare();

    QString path_;
    QList<QByteArray> entries_;
    Copy output_; // what the file holds, once this batch saved it
    Copy spare_; // the previous copy, when kept
    QString freeName_; // a spare name no file has now
};

} // namespace snt::startup
