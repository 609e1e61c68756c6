#pragma once

class QObject;

namespace snt::startup {

// The headless export test: exports the newest curve pack (the largest pack index among the
// packs outside any project and those of every project) through the bridge's text export.
// Returns the program's exit code: 0 when the export succeeded, 5 when it failed (also when
// there is no pack at all).
int runPackExportTest(QObject *bridge);

} // namespace snt::startup
