#pragma once

#include <QString>

class QObject;
class QQmlApplicationEngine;

namespace snt::selftest {

// What start-up hands the curve test from the command line.
struct CurveTestOptions
{
    QString outputFolder;
    bool curveLoaded = false; // "--curve-file" / "--curve-test" loaded its curve
    bool createProject = false; // "--management-project": the project "界面验收" first
    bool managementShots = false; // "--management-ui-shots": the curve window's states
    bool selectLastPack = false; // "--management-last"
    bool resultEditCheck = false; // "--result-edit-check": the delivery screen's edits
};

// The real-curve test ("--curve-test"): computes the EQ of the curve start-up loaded, records
// every scheme (fit figures, corners, bands, low-frequency coherence, before and after at fixed
// probe frequencies), optionally edits the result on the delivery screen and walks the curve
// window; logs what it records and writes it to "summary.txt" in the output folder with
// screenshots beside it. Ends the program with 0; 3 when no curve was loaded or summary.txt could
// not be written; 4 when the scheme screen did not come within 40 s; 2 without a main window.
void runCurveTest(const QQmlApplicationEngine &engine, QObject *bridge,
                  const CurveTestOptions &options);

} // namespace snt::selftest
