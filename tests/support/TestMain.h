#pragma once

#include "tests/support/TestSandbox.h"

#include <QCoreApplication>
#include <QTest>

// Like QTEST_GUILESS_MAIN / QTEST_MAIN, but every run gets a sandboxed HOME first.
#define SNT_TEST_MAIN_WITH(AppType, TestClass) \
    int main(int argc, char **argv) \
    { \
        snt::test::TestSandbox sandbox; \
        AppType app(argc, argv); \
        app.setAttribute(Qt::AA_Use96Dpi, true); \
        TestClass test; \
        QTEST_SET_MAIN_SOURCE_PATH \
        return QTest::qExec(&test, argc, argv); \
    }

#define SNT_TEST_MAIN(TestClass) SNT_TEST_MAIN_WITH(QCoreApplication, TestClass)

// Skips the test function; under CI=true it fails instead, for there a skip would only hide that
// something the test needs is missing.
#define SNT_SKIP(reason) \
    do { \
        if (qEnvironmentVariable("CI") == QLatin1String("true")) \
            QFAIL(reason); \
        QSKIP(reason); \
    } while (false)
