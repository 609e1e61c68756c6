#include "selftest/CurveTestStages.h"

#include "common/Log.h"
#include "selftest/CurvePoints.h"
#include "selftest/CurveTest.h"
#include "selftest/Walk.h"
#include "selftest/Windows.h"

#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QVariantMap>

#include <algorithm>
#include <cmath>

namespace snt::selftest {

namespace {

const QString testProject = QStringLiteral("界面验收");

const char *asDigit(bool value)
{
    return value ? "1" : "0";
}

QVariantList bands(const Walk &walk)
{
    return walk.bridge().read("eqBands").toList();
}

QVariantMap firstBand(const Walk &walk)
{
    return bands(walk).value(0).toMap();
}

double numberOf(const QVariantMap &map, const char *key)
{
    return map.value(QLatin1String(key)).toDouble();
}

QVariantMap corners(const Walk &walk)
{
    return walk.bridge().read("corners").toMap();
}

double valueAt1k(const QVariantList &curve)
{
    return curveValueNearFrequency(curve, 1000.0);
}

QVariantList schemeAfter(const Walk &walk)
{
    return walk.bridge().read("schemeAfter").toList();
}

int bandCountAfter(const Walk &walk, int waitMs)
{
    Walk::wait(waitMs);
    return int(bands(walk).size());
}

// RESULTEDIT: the first band raised at 1 kHz and the low-pass moved show in the curve; a band
// removed, added and removed again changes the count. Returns the band count it started with.
int checkBandAndCornerEdits(const Walk &walk, QStringList &summary)
{
    const double base = valueAt1k(schemeAfter(walk));
    const int c0 = int(bands(walk).size());
    if (c0 > 0)
        walk.bridge().call("updateEqBand", {0, 1000.0, 1.0, 6.0});
    walk.bridge().call("updateCorner", {QStringLiteral("lpf"), 8000.0, 24.0});
    Walk::wait(200);
    const double edited = valueAt1k(schemeAfter(walk));
    const QVariantMap edges = corners(walk);
    if (c0 > 0)
        walk.bridge().call("removeEqBand", {c0 - 1});
    const int c1 = bandCountAfter(walk, 120);
    walk.bridge().call("addEqBand");
    const int c2 = bandCountAfter(walk, 120);
    walk.bridge().call("removeEqBand", {c2 - 1});
    const int c3 = bandCountAfter(walk, 120);
    const QVariantList packs = walk.bridge().read("rootPacks").toList();
    const double pack
            = packs.isEmpty()
                      ? 0.0
                      : valueAt1k(packs.last().toMap().value(QStringLiteral("after")).toList());
    const double lpfHz = numberOf(edges, "lpfHz");
    const int lpfSlope = edges.value(QStringLiteral("lpfSlopeDb")).toInt();
    qCInfo(lcSelfTest).noquote() << "RESULTEDIT"
                                 << "base" << base << "edited" << edited << "delta" << edited - base
                                 << "bands" << c0 << c1 << c2 << c3 << "pack" << pack << "lpf"
                                 << lpfHz << lpfSlope;
    summary << QStringLiteral("RESULTEDIT base=%1 edited=%2 delta=%3 bands=%4/%5/%6/%7 pack=%8 "
                              "lpf=%9/%10")
                       .arg(fixed(base, 3), fixed(edited, 3), fixed(edited - base, 3),
                            QString::number(c0), QString::number(c1), QString::number(c2),
                            QString::number(c3), fixed(pack, 3), fixed(lpfHz, 1),
                            QString::number(lpfSlope));
    return c0;
}

// TOGGLE: the first band switched off and on again.
void checkBandToggle(const Walk &walk, QStringList &summary)
{
    const qsizetype beforePts = schemeAfter(walk).size();
    walk.bridge().call("setEqBandEnabled", {0, false});
    Walk::wait(700);
    const bool off = !firstBand(walk).value(QStringLiteral("enabled")).toBool();
    const qsizetype bandCount = bands(walk).size();
    const qsizetype afterPts = schemeAfter(walk).size();
    qCInfo(lcSelfTest).noquote() << "TOGGLE off" << off << "bands" << bandCount << "beforePts"
                                 << beforePts << "afterPts" << afterPts;
    walk.shot(QStringLiteral("real-curve-delivery-off.png"));
    walk.bridge().call("setEqBandEnabled", {0, true});
    Walk::wait(700);
    const bool restore = firstBand(walk).value(QStringLiteral("enabled")).toBool();
    const QVariantList after = schemeAfter(walk);
    qCInfo(lcSelfTest).noquote() << "TOGGLE on" << restore << "afterPts" << after.size();
    double least = 1e9;
    double greatest = -1e9;
    for (const QVariant &point : after) {
        const double d = point.toMap().value(QStringLiteral("d")).toDouble();
        least = std::min(least, d);
        greatest = std::max(greatest, d);
    }
    summary << QStringLiteral("TOGGLE range=%1/%2").arg(general(least), general(greatest));
    summary << QStringLiteral("TOGGLE off=%1 bands=%2 beforePts=%3 afterPts=%4 restore=%5")
                       .arg(QLatin1String(asDigit(off)))
                       .arg(bandCount)
                       .arg(beforePts)
                       .arg(afterPts)
                       .arg(QLatin1String(asDigit(restore)));
}

// BYPASS: the low-pass switched off by a slope of 0 and back on at its slope.
void checkLowPassBypass(const Walk &walk, QStringList &summary)
{
    const QVariantMap start = corners(walk);
    const double hz = numberOf(start, "lpfHz") > 0.0 ? numberOf(start, "lpfHz") : 8000.0;
    const int slopeDb = start.value(QStringLiteral("lpfSlopeDb")).toInt();
    const int slope = slopeDb > 0 ? slopeDb : 24;
    const auto lowPass = [&walk](double at, int slopeDbOct) {
        walk.bridge().call("updateCorner", {QStringLiteral("lpf"), at, double(slopeDbOct)});
        Walk::wait(200);
        return corners(walk);
    };
    const QVariantMap bypassed = lowPass(hz, 0);
    const bool off = !bypassed.value(QStringLiteral("lpfOn")).toBool()
                     && bypassed.value(QStringLiteral("lpfSlopeDb")).toInt() == 0;
    walk.shot(QStringLiteral("real-curve-delivery-bypass.png"));
    const QVariantMap restored = lowPass(hz, slope);
    const bool on = restored.value(QStringLiteral("lpfOn")).toBool()
                    && restored.value(QStringLiteral("lpfSlopeDb")).toInt() == slope;
    qCInfo(lcSelfTest).noquote() << "BYPASS off" << off << "on" << on << "hz"
                                 << numberOf(restored, "lpfHz");
    summary << QStringLiteral("BYPASS off=%1 on=%2 hz=%3")
                       .arg(QLatin1String(asDigit(off)), QLatin1String(asDigit(on)),
                            fixed(numberOf(restored, "lpfHz"), 1));
}

bool near(double a, double b)
{
    return std::abs(a - b) < 0.01;
}

// AUTORESET: selecting the scheme again restores its computed first band after an edit.
void checkSchemeReset(const Walk &walk, int bandsAtStart, QStringList &summary)
{
    walk.bridge().call("selectScheme", {0});
    Walk::wait(150);
    const QVariantMap computed = firstBand(walk);
    if (bandsAtStart >= 1)
        walk.bridge().call("updateEqBand", {0, 500.0, 2.0, -6.0});
    Walk::wait(150);
    const QVariantMap edited = firstBand(walk);
    const bool applied = bandsAtStart >= 1 && near(numberOf(edited, "freq"), 500.0)
                         && near(numberOf(edited, "gain"), -6.0);
    walk.bridge().call("selectScheme", {0});
    Walk::wait(150);
    const QVariantMap reset = firstBand(walk);
    const bool ok = applied && near(numberOf(reset, "freq"), numberOf(computed, "freq"))
                    && near(numberOf(reset, "gain"), numberOf(computed, "gain"));
    qCInfo(lcSelfTest).noquote() << "AUTORESET ok" << ok << "applied" << applied << "freq"
                                 << numberOf(reset, "freq") << "gain" << numberOf(reset, "gain");
    summary << QStringLiteral("AUTORESET ok=%1 applied=%2 bands=%3")
                       .arg(QLatin1String(asDigit(ok)), QLatin1String(asDigit(applied)))
                       .arg(bands(walk).size());
}

// ---- the curve window -----------------------------------------------------------------------

int smoothingForPick(int index)
{
    switch (index) {
    case 0:
        return 0;
    case 1:
        return 3;
    case 2:
        return 6;
    case 3:
        return 12;
    default:
        return 48;
    }
}

// Emits the picker's "picked" signal as its menu does when a row is chosen.
void pick(QQuickItem *picker, int value)
{
    QMetaObject::invokeMethod(picker, "picked", Q_ARG(QVariant, QVariant(value)));
}

QWindow *shownPopupBeside(const QWindow *window)
{
    for (QWindow *candidate : QGuiApplication::topLevelWindows()) {
        if (candidate != window && candidate->type() == Qt::Popup && candidate->isVisible())
            return candidate;
    }
    return nullptr;
}

// Closes the menu a picker opened inside its window, as choosing one of its rows does.
void closePickerMenu(QQuickItem *picker)
{
    if (QObject *menu = picker->findChild<QObject *>(QStringLiteral("pickerMenu")))
        QMetaObject::invokeMethod(menu, "close");
}

// Clicks the picker's centre and chooses the entry `index` of the list it opens: in a popup
// window where the picker opens one, else through the picker's own "picked" with that entry's
// smoothing value, its menu closed as a chosen row closes it.
void clickItemAndPick(QQuickItem *item, QQuickWindow *window, int index)
{
    const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier,
                      QPoint(qRound(centre.x()), qRound(centre.y())));
    Walk::wait(300);
    if (QWindow *popup = shownPopupBeside(window)) {
        QTest::mouseClick(popup, Qt::LeftButton, Qt::NoModifier,
                          QPoint(popup->width() / 2, index * 24 + 20));
        Walk::wait(300);
        return;
    }
    closePickerMenu(item);
    pick(item, smoothingForPick(index));
    Walk::wait(200);
}

// The chip shows only with a pack: without one its pictures would show no smoothing.
void checkSmoothingPicker(const Walk &walk, QQuickWindow *window, QStringList &summary)
{
    QQuickItem *chip = shownItemNamed(window->contentItem(), QStringLiteral("octChip"));
    if (!chip)
        return;
    const QString folder = walk.outputFolder();
    clickItemAndPick(chip, window, 3);
    const int a = walk.number("smoothingBands");
    grabWindowToFile(window, folder, QStringLiteral("management-oct-12.png"));
    clickItemAndPick(chip, window, 1);
    const int b = walk.number("smoothingBands");
    grabWindowToFile(window, folder, QStringLiteral("management-oct-3.png"));
    const bool ok = a == 12 && b == 3;
    pick(chip, 6);
    Walk::wait(200);
    qCInfo(lcSelfTest).noquote() << "MGMT oct" << a << b << (ok ? "OK" : "FAIL");
    summary << QStringLiteral("MGMT oct 1/12=%1 1/3=%2 ok=%3")
                       .arg(a)
                       .arg(b)
                       .arg(QLatin1String(asDigit(ok)));
}

bool projectExistsByName(const Walk &walk, const QString &name)
{
    const QVariantList projects = walk.bridge().read("projects").toList();
    return std::any_of(projects.cbegin(), projects.cend(), [&name](const QVariant &project) {
        return project.toMap().value(QStringLiteral("name")).toString() == name;
    });
}

// The curve window's states: the side panel, the new-project dialog, the project menu, a pack
// deleted by its button, and the test project renamed and back.
void shootManagementStates(const Walk &walk, QQuickWindow *window)
{
    const startup::BridgeCalls calls(window);
    const auto shoot = [&](const char *name) {
        grabWindowToFile(window, walk.outputFolder(), QLatin1String(name));
    };
    calls.call("setSideOpen", {false});
    Walk::wait(350);
    shoot("management-collapsed.png");
    calls.call("setSideOpen", {true});
    Walk::wait(350);
    calls.call("openNewDialog");
    Walk::wait(350);
    shoot("management-new-dialog.png");
    calls.call("closeDialog");
    Walk::wait(200);
    calls.call("showProjectMenu", {0});
    Walk::wait(350);
    shoot("management-project-menu.png");
    calls.call("closeProjectMenu");
    Walk::wait(200);
    // Without a pack shown there is nothing to delete, and no picture of a deletion.
    const QString deletePack = QStringLiteral("deletePack");
    if (shownItemNamed(window->contentItem(), deletePack)) {
        walk.click(window, {{deletePack}, {window->width() - 26, 74}});
        Walk::wait(450);
        shoot("management-after-delete.png");
    }

    if (!projectExistsByName(walk, testProject))
        return;
    const QString renamed = testProject + QStringLiteral("改名");
    const bool r1 = walk.bridge().call("renameProject", {testProject, renamed}).toBool();
    const bool e1 = projectExistsByName(walk, renamed);
    const bool r2 = walk.bridge().call("renameProject", {renamed, testProject}).toBool();
    const bool e2 = projectExistsByName(walk, testProject);
    qCInfo(lcSelfTest).noquote() << "MGMT rename" << r1 << e1 << r2 << e2;
}

} // namespace

void checkResultEdits(const Walk &walk, QStringList &summary)
{
    const int bandsAtStart = checkBandAndCornerEdits(walk, summary);
    if (bandsAtStart >= 1)
        checkBandToggle(walk, summary);
    walk.shot(QStringLiteral("real-curve-delivery-edit.png"));
    checkLowPassBypass(walk, summary);
    checkSchemeReset(walk, bandsAtStart, summary);
}

void walkCurveWindow(const Walk &walk, const CurveTestOptions &options, QStringList &summary)
{
    walk.bridge().call("openCurveWindow");
    Walk::wait(900);
    QQuickWindow *window = shownWindowTitled(QStringLiteral("工程管理"));
    if (!window)
        return;
    if (options.selectLastPack) {
        startup::BridgeCalls(window).call("selectLastPack");
        Walk::wait(300);
    }
    grabWindowToFile(window, walk.outputFolder(), QStringLiteral("management.png"));
    checkSmoothingPicker(walk, window, summary);
    if (options.managementShots)
        shootManagementStates(walk, window);
}

} // namespace snt::selftest
