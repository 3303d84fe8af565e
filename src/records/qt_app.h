#pragma once
// The Qt application object the records room needs: Qt SQL loads its drivers
// through one, and the certificate's PDF writer needs the font database of a
// GUI application. Programs that made their own keep it; the command line
// gets one made here on first use (kept until the process ends).

// A QCoreApplication, unless one of any kind exists.
void EnsureCoreApplication();
// A QGuiApplication (offscreen when no platform is chosen), unless one
// exists. False when a non-GUI application object is already there.
bool EnsureGuiApplication();

// From here on the database drivers' own warnings stay off stderr: a store
// that fails says so in one line of its own.
void QuietDatabaseDrivers();
