#pragma once

#include <QString>

class QObject;

namespace snt::selftest {

// The blocked demo ("--blocked-demo"): loads the curve file, computes its schemes (waiting at
// most 60 s, never cancelling), selects the first scheme the EQ engine refused ("blocked"), else
// the first, and opens the delivery screen on it. An unreadable file raises the toast
// "这条演示曲线读不进来" and a log line naming it, and nothing else happens. The program keeps
// running either way.
void runBlockedDemo(QObject *bridge, const QString &curvePath);

} // namespace snt::selftest
