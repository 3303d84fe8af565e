#pragma once
// The one QApplication of the window tests (offscreen unless the caller chose
// a platform). Every test of tests/ui that needs widgets calls TestApp() first.
class QApplication;

QApplication &TestApp();
