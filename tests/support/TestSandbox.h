#pragma once

#include <QTemporaryDir>

namespace snt::test {

// Points HOME and the XDG folders at a fresh temporary directory for the life of a test run, so
// no test reads or writes a real user's settings or documents. Must exist before the
// application object. Copies the file named by SNT_TEST_ASOUNDRC (if set) to ~/.asoundrc, so
// ALSA inside the sandbox reaches the test sound server.
class TestSandbox
{
public:
    TestSandbox();
    QString home() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
};

} // namespace snt::test
