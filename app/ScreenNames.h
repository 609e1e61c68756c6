#pragma once

#include <QString>
#include <QStringList>

// The screen names the bridge moves to or acts on; the main window maps every name to a page.
namespace screens {

inline const QString home = QStringLiteral("主页");
inline const QString guide = QStringLiteral("测量引导");
inline const QString pointMeasuring = QStringLiteral("点声源-测量中");
inline const QString arrayMeasuring = QStringLiteral("线阵列-测量中");
inline const QString fillAlignment = QStringLiteral("补声对齐");
inline const QString computing = QStringLiteral("点声源-计算");
inline const QString use = QStringLiteral("点声源-选用途");
inline const QString delivery = QStringLiteral("点声源-交付与复测");

// The subwoofer crossover's screens, in the order of its stages.
inline const QStringList subwooferStages{
        QStringLiteral("超低分频对齐"), QStringLiteral("超低分频-测量"),
        QStringLiteral("超低分频-结果"), QStringLiteral("超低分频-对齐")};

} // namespace screens
