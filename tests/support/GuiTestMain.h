#pragma once

#include "tests/support/TestMain.h"

#include <QGuiApplication>

// The sandboxed test main with a GUI application, for tests that paint or show windows.
#define SNT_GUI_TEST_MAIN(TestClass) SNT_TEST_MAIN_WITH(QGuiApplication, TestClass)
