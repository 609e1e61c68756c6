#pragma once

#include "app/store/CurvePack.h"
#include "files/DataFolder.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

// Data folders as the store keeps them, written for the tests and benchmarks of large stores:
// project files and the root file put together from pack objects with QJsonDocument, without the
// store's own writing code.
namespace storetest {

// The project of that number, "工程 007" with three digits.
inline QString numberedProject(int number, int digits = 3)
{
    return QStringLiteral("工程 %1").arg(number, digits, 10, QLatin1Char('0'));
}

// Writes the file of `project` (the root file when it is empty) holding `packs`, indented, as the
// store writes it: a project file names its project and counts its packs' curves.
inline bool writePackFile(const QString &project, const QJsonArray &packs)
{
    QJsonObject object{{QStringLiteral("packs"), packs}};
    if (!project.isEmpty()) {
        int curves = 0;
        for (const QJsonValue &pack : packs)
            curves += pack.toObject().value(QStringLiteral("count")).toInt(2);
        object.insert(QStringLiteral("name"), project);
        object.insert(QStringLiteral("curves"), curves);
    }
    QFile file(project.isEmpty()
                       ? curvePackRootFile()
                       : projectsDir() + QLatin1Char('/') + project + QStringLiteral(".json"));
    return file.open(QIODevice::WriteOnly)
           && file.write(QJsonDocument(object).toJson(QJsonDocument::Indented)) > 0;
}

// A pack of a flat response at -6 dB, zero phase and full coherence, 240 points from 20 Hz to
// 20 kHz.
inline CurvePack flatPack(const QString &name, const QString &project, int seq)
{
    CurvePack pack;
    pack.name = name;
    pack.use = QStringLiteral("主扩");
    pack.project = project;
    pack.seq = seq;
    for (int i = 0; i < 240; ++i) {
        pack.freq << float(20 * std::pow(1000.0, i / 239.0));
        pack.level << -6.0f;
        pack.phase << 0.0f;
        pack.coherence << 1.0f;
    }
    return pack;
}

} // namespace storetest
