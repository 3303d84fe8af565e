#pragma once
// The one QApplication of the window tests (offscreen unless the caller chose
// a platform). Every test of tests/ui that needs widgets calls TestApp() first.
//
// The offscreen screen is 1920 x 1200 unless BEAMPORT_TEST_SCREEN names
// another ("1366x768"); QT_SCALE_FACTOR scales it as on a technician's
// desktop (2 on 1920 x 1080 leaves 960 x 540 logical pixels).
class QApplication;

inline constexpr const char *kTestScreenVariable = "BEAMPORT_TEST_SCREEN";

QApplication &TestApp();
