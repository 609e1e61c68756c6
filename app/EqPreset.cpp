#include "app/EqPreset.h"

#include "files/StoreFile.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QStandardPaths>

#include <charconv>
#include <cmath>

using snt::eq::Corner;
using snt::eq::SchemeBand;

namespace eqpreset {

namespace {

constexpr double smallestGainDb = 0.0001;

void appendCorner(QJsonArray &iir, const Corner &corner, bool highPass)
{
    if (!deliveredCorner(corner))
        return;
    const QString side = highPass ? QStringLiteral("hpf") : QStringLiteral("lpf");
    const QString family = corner.kind == QLatin1String("LR")   ? QStringLiteral("Lr")
                           : corner.kind == QLatin1String("BS") ? QStringLiteral("Bessel")
                                                                : QStringLiteral("Butter");
    iir.append(QJsonObject{{QStringLiteral("freq"), corner.hz},
                           {QStringLiteral("order"), corner.order},
                           {QStringLiteral("type"), side + family}});
}

} // namespace

bool deliveredCorner(const Corner &corner)
{
    return corner.on && corner.order > 0 && corner.hz > 0.0;
}

double shortestDecimal(float value)
{
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    double decimal = double(value);
    std::from_chars(text, written.ptr, decimal);
    return decimal;
}

QJsonObject presetJson(const QList<SchemeBand> &bands, const Corner &highPass,
                       const Corner &lowPass, double gainDb, bool polar)
{
    QJsonArray iir;
    appendCorner(iir, highPass, true);
    appendCorner(iir, lowPass, false);
    for (const SchemeBand &band : bands) {
        if (!band.enabled || std::abs(band.gain) < smallestGainDb)
            continue;
        iir.append(QJsonObject{{QStringLiteral("freq"), shortestDecimal(band.freq)},
                               {QStringLiteral("gain"), shortestDecimal(band.gain)},
                               {QStringLiteral("q"), shortestDecimal(band.q)},
                               {QStringLiteral("type"), QStringLiteral("peak")}});
    }
    return {{QStringLiteral("delay"), 0},   {QStringLiteral("fileMagic"), QStringLiteral("Kelvra")},
            {QStringLiteral("fileVer"), 1}, {QStringLiteral("gain"), gainDb},
            {QStringLiteral("iir"), iir},   {QStringLiteral("polar"), polar}};
}

QByteArray presetText(const QJsonObject &preset)
{
    return QJsonDocument(preset).toJson(QJsonDocument::Indented);
}

QString presetBaseName(const QString &name)
{
    static const QRegularExpression blanks(QStringLiteral("\\s"));
    static const QRegularExpression reserved(QStringLiteral("[\\\\/:*?\"<>|]"));
    QString base = name;
    base.remove(blanks).replace(reserved, QStringLiteral("_"));
    return base.isEmpty() ? QStringLiteral("EQ") : base;
}

QString desktopFolder()
{
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    return desktop.isEmpty() ? QDir::homePath() : desktop;
}

bool writePresetFile(const QString &folder, const QString &baseName, const QJsonObject &preset)
{
    return QDir().mkpath(folder)
           && store::saveExport(folder + QLatin1Char('/') + baseName + QStringLiteral(".kvr"),
                                presetText(preset));
}

QString copyToClipboard(const QJsonObject &preset)
{
    auto *application = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
    if (!application)
        return QStringLiteral("复制没成功");
    application->clipboard()->setText(QString::fromUtf8(presetText(preset)));
    return QStringLiteral("EQ 参数已复制");
}

} // namespace eqpreset
