#pragma once
// Where service records go, and who and where is writing them.
//
// The store is chosen by the global --records value (the session's
// RecordsChoice), else the environment variable BEAMPORT_RECORDS, else the
// default:
//   off                      records are not kept
//   sqlite:PATH              a SQLite file (created 0600, with its folder)
//   postgresql://USER@HOST[:PORT]/DB[?host=/socket/dir&sslmode=...]
//                            a shared PostgreSQL database (postgres:// too);
//                            further query items are handed to libpq as
//                            connection options. A password is refused here:
//                            libpq takes it from its usual places (~/.pgpass,
//                            PGPASSWORD, PGPASSFILE), so it never reaches a
//                            record, a message or a log.
// default: sqlite:$XDG_DATA_HOME/beamport/records.sqlite (~/.local/share/...).
#include <string>

#include <QString>

class TUserStore;

enum class EStoreKind { kOff, kSqlite, kPostgres };

struct RStoreLocation {
    EStoreKind mKind = EStoreKind::kSqlite;
    QString mPath;     // SQLite: the file
    QString mHost;     // PostgreSQL: host name, or socket folder (starts with "/"); empty: libpq's default
    int mPort = -1;    // -1: libpq's default
    QString mDatabase;
    QString mUser;
    QString mOptions;  // further libpq options, "key=value;key=value"
    // For messages: the place without any secret ("sqlite:/path", "postgresql://user@host/db").
    QString Describe() const;
};

// Reads one --records value; false with a clear reason when it is not one of the forms above.
bool ParseStoreLocation(const QString &text, RStoreLocation &location, QString &error);

// $XDG_DATA_HOME/beamport/records.sqlite, ~/.local/share/beamport/records.sqlite without it.
QString DefaultSqlitePath();

// The store in force: the --records value `choice` (empty: not given), else
// BEAMPORT_RECORDS, else the default.
bool ResolveStoreLocation(const std::string &choice, RStoreLocation &location, QString &error);

// The host name of this bench, and the login of the user running the program.
QString BenchName();
QString LoginName();
// The technician named on certificates: the per-user setting (group RECORDS,
// value "Technician", in the per-user store), else the full name from the
// login's passwd entry (GECOS, up to the first comma), else the login.
QString TechnicianName(const TUserStore &store);
void SetTechnicianName(TUserStore &store, const QString &name);
