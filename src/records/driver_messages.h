#pragma once
// The database drivers' own complaints (a connection lost, a statement that
// failed) are the store's to report, in one line of its own: while a
// TQuietDrivers lives they are not repeated on stderr. Every other Qt message
// goes to stderr as Qt's default handler would put it. The program's main
// holds one beside its application object; the handler in force before it
// comes back when it goes.
#include <QtGlobal>

class TQuietDrivers {
public:
    TQuietDrivers();
    ~TQuietDrivers();
    TQuietDrivers(const TQuietDrivers &) = delete;
    TQuietDrivers &operator=(const TQuietDrivers &) = delete;

    // A message the drivers gave (by its logging category or its opening words).
    static bool FromDriver(const char *category, const QString &message);

private:
    QtMessageHandler FBefore = nullptr;
};
