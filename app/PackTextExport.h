#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

struct CurvePack;

// The text export of a pack: one tab-separated UTF-8 file per curve, in a folder on the user's
// desktop, for other analysis tools.
class PackTextExport
{
public:
    // One curve file: its path inside the export folder and what it holds. Level, phase and
    // coherence lists may be shorter than the frequencies (or empty): their missing values are
    // written as "*".
    struct Curve
    {
        QString file; // "原始.txt", "测点/点1.txt", …
        QString target;
        QString state; // "原始", "处理后" or "对齐后"
        QList<float> freq;
        QList<float> level;
        QList<float> phase;
        QList<float> coherence;
    };

    // "<desktop>/<pack name>_导出", the characters Windows forbids in file names (\ / : * ? " < >
    // |) turned into "_" and an empty name into "曲线包".
    static QString folderFor(const QString &packName);

    // The curves of the pack's export, by what the pack holds: a subwoofer alignment with its
    // two captures or with its named curves, a line array with its points, or an ordinary pack.
    // The pack's captures and per-point curves must already be loaded.
    static QList<Curve> curvesOf(const CurvePack &pack);

    // A curve file: a byte-order mark, four "# key: value" lines, the column header, then one
    // line per frequency with 4 decimals, "\n" after every line.
    static QByteArray text(const Curve &curve);

    // Writes every curve into `folder`, creating it and its sub-folders; each file is replaced
    // only once it was written whole. False when the folder or any file could not be made; the
    // other files are still written.
    static bool write(const QString &folder, const QList<Curve> &curves);
};
