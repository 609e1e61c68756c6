#pragma once

#include <QString>

class QObject;
class QQmlApplicationEngine;

namespace snt::selftest {

// The measuring walks, on the real audio path. Each saves screenshots of the main window into
// `outputFolder` and ends the program (code 2 without a main window). The reason of a failed
// check ends with the last message the program showed its user, which names the cause where the
// program knew it.

// "--measuretest": the point-source screen's primary and stop buttons, from idle through play,
// stop and the automatic run to the computation. Logs "MEASURETEST <step> OK" per step; the first
// failed check logs "MEASURETEST FAIL …", saves "measure-fail.png", writes "fail.txt" and ends
// with 4; else 0.
void runMeasureTest(const QQmlApplicationEngine &engine, QObject *bridge,
                    const QString &outputFolder);

// "--arraytest": the line-array flow: the signal, two points captured and the compute button,
// which asks for a third. One line per step appended to "array-log.txt" and a screenshot per
// step. A walk that measured nothing has failed: when no signal plays or no point is captured it
// warns "ARRAYTEST FAIL …" and ends with 3; else 0.
void runArrayTest(const QQmlApplicationEngine &engine, QObject *bridge,
                  const QString &outputFolder);

// "--subcalibtest": the subwoofer flow's level calibration inline on its measuring page, then the
// merged measurement to the result page. Logs "SUBCALIB …" lines; the first failed check warns
// "SUBCALIB FAIL …", saves "subcalib-fail.png" and ends with 3; else 0 (also when there is no
// main reference pack, or when the measurement still waits for the levels at its end).
void runSubcalibTest(const QQmlApplicationEngine &engine, QObject *bridge,
                     const QString &outputFolder);

} // namespace snt::selftest
