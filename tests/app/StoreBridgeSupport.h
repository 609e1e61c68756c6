#pragma once

#include "app/AppCore.h"
#include "app/QmlBridge.h"
#include "audio/Client.h"
#include "files/DataFolder.h"
#include "tests/app/store/StoreTestFiles.h"
#include "tests/audio/FakePlugin.h"

#include <QCoreApplication>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

// What the bridge tests of the store share: results and packs stored as a user makes them, and
// the packs as the files and the curve window hold them.
namespace storebridge {

constexpr int computeWaitMs = 60000;

// The program's settings scope, and one microphone as the only sound device. False when the
// device could not be set.
inline bool useProgramSettingsAndOneMicrophone()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Halvo"));
    QCoreApplication::setApplicationName(QStringLiteral("测量工作流"));
    static const auto plugin = std::make_shared<FakePlugin>(QStringLiteral("Fake"));
    plugin->rows = {row("mic", "USB Mic", "Fake")};
    plugin->defaultInput = QStringLiteral("mic");
    return audio::Client::setPluginFactories({[] {
        return plugin;
    }});
}

inline QList<float> logGrid(int n, double from, double to)
{
    QList<float> f(n);
    for (int i = 0; i < n; ++i)
        f[i] = float(from * std::pow(to / from, double(i) / (n - 1)));
    return f;
}

// A loudspeaker-like curve: second-order roll-offs at 70 Hz and 16 kHz, a 4 dB bump at 2 kHz.
inline QList<float> speakerDb(const QList<float> &freq)
{
    QList<float> db;
    for (const float f : freq) {
        const double hp = 1.0 / std::sqrt(1.0 + std::pow(70.0 / f, 4.0));
        const double lp = 1.0 / std::sqrt(1.0 + std::pow(f / 16000.0, 4.0));
        const double bump = 4.0 * std::exp(-std::pow(std::log2(f / 2000.0) * 3.0, 2.0));
        db.append(float(20.0 * std::log10(hp * lp) + bump));
    }
    return db;
}

// A pack stored as a result would be, with a capture of these levels (dB).
inline CurvePack storedPack(AppCore &core, const QString &name, const QList<float> &freq,
                            const QList<float> &level, const QString &project = QString())
{
    CurvePack pack;
    pack.name = name;
    pack.use = QStringLiteral("主扩");
    pack.project = project;
    pack.freq = freq;
    pack.level = level;
    pack.coherence = QList<float>(freq.size(), 1.0f);
    pack.phase = QList<float>(freq.size(), 0.0f);
    return core.store().savePack(pack, -1) ? core.store().curvePacks.last() : CurvePack();
}

// A text file of a loudspeaker curve at 100 frequencies, as a user loads one: its path.
inline QString writeSpeakerCurve()
{
    const QList<float> freq = logGrid(100, 20.0, 20000.0), db = speakerDb(freq);
    QByteArray text;
    for (qsizetype i = 0; i < freq.size(); ++i)
        text += QByteArray::number(freq[i], 'g', 9) + ' ' + QByteArray::number(db[i], 'g', 9)
                + '\n';
    const QString path = QDir::homePath() + QStringLiteral("/curve.txt");
    return putBytes(path, text) ? path : QString();
}

inline int projectIndex(const QmlBridge &bridge, const QString &name)
{
    const QVariantList projects = bridge.projects();
    for (qsizetype i = 0; i < projects.size(); ++i) {
        if (projects[i].toMap().value("name") == name)
            return int(i);
    }
    return -1;
}

// The names of the packs the store file at `path` holds, in their order.
inline QStringList packNamesIn(const QString &path)
{
    QStringList names;
    for (const QJsonValue &pack :
         QJsonDocument::fromJson(fileBytes(path)).object().value("packs").toArray())
        names << pack.toObject().value("name").toString();
    return names;
}

// A pack as another program (a second copy, a sync client) writes one: the few keys it knows.
inline QJsonObject foreignPack(const QString &name, double gain = -3.3)
{
    return QJsonObject{
            {"schema", 3},
            {"name", name},
            {"use", "补声"},
            {"bands", QJsonArray{QJsonObject{{"freq", 250}, {"gain", gain}, {"q", 1.4}}}}};
}

// The store file at `path` as another program writes it with `pack` added: on one line, its
// numbers as short decimals.
inline QByteArray withPackAdded(const QString &path, const QJsonObject &pack)
{
    QJsonObject file = QJsonDocument::fromJson(fileBytes(path)).object();
    QJsonArray packs = file.value("packs").toArray();
    packs.append(pack);
    file.insert("packs", packs);
    return QJsonDocument(file).toJson(QJsonDocument::Compact);
}

// Another program adds a pack to the store file at `path`.
inline bool addForeignPack(const QString &path, const QString &name, double gain = -3.3)
{
    return putBytes(path, withPackAdded(path, foreignPack(name, gain)));
}

// The names of the packs the curve window lists in `project` (empty: 未归属), in their order.
inline QStringList listedIn(const QmlBridge &bridge, const QString &project)
{
    QVariantList packs = bridge.rootPacks();
    if (!project.isEmpty()) {
        packs.clear();
        for (const QVariant &listed : bridge.projects()) {
            if (listed.toMap().value("name") == project)
                packs = listed.toMap().value("packs").toList();
        }
    }
    QStringList names;
    for (const QVariant &pack : std::as_const(packs))
        names << pack.toMap().value("name").toString();
    return names;
}

// The place of the pack of that name in the store's list, as the curve window has it.
inline int listIndex(const QmlBridge &bridge, const QString &name)
{
    QVariantList packs = bridge.rootPacks();
    for (const QVariant &project : bridge.projects())
        packs += project.toMap().value("packs").toList();
    for (const QVariant &pack : std::as_const(packs)) {
        if (pack.toMap().value("name") == name)
            return pack.toMap().value("index").toInt();
    }
    return -1;
}

} // namespace storebridge
