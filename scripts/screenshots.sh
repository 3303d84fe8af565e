#!/usr/bin/env bash
# The screenshots in docs/, under Xvfb (Debian package xvfb): both layouts, the
# logger (over the window, and alone with a run of readings: logger-chart), the
# adapter checks, the Cylinders page, the Bump Test dialog (mid-way, pass, fail)
# and the calibration against a cylinder at 1366 x 768; the main window's pages
# and the measuring dialogs again at 1280 x 720 (names ending in -1280); both
# layouts, the logger, its chart and the measuring dialogs at 200 % on
# 1920 x 1080 (names ending in -200). Needs a build with the tests:
#   scripts/screenshots.sh [BUILD_FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shoot() { # screen, scale, name suffix, names to keep (empty: all)
    env QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$2" BEAMPORT_RECORDS=off \
        BEAMPORT_SCREENSHOT_DIR="$PWD/docs" BEAMPORT_SCREENSHOT_SUFFIX="$3" BEAMPORT_SCREENSHOT_NAMES="$4" \
        xvfb-run -a -s "-screen 0 $1x24" "$build/tests/test_ui" \
        --gtest_also_run_disabled_tests --gtest_filter='DISABLED_Screenshots.*'
}
shoot 1366x768 1 "" ""
shoot 1280x720 1 "-1280" "developer-user-options,developer-factory-options,developer-test,user-layout,bump-test-midway,bump-test-pass,bump-test-fail,calibration-as-found-as-left"
shoot 1920x1080 2 "-200" "developer-user-options,developer-factory-options,developer-test,user-layout,logger,logger-chart,bump-test-midway,bump-test-pass,bump-test-fail,calibration-as-found-as-left"
