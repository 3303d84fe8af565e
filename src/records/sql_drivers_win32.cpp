// Asking for the list of drivers makes Qt look through its plugin folders now,
// on this thread, once for the whole program.
#include "records/sql_drivers.h"

#include <QSqlDatabase>
#include <QStringList>

void FindSqlDriversOnThisThread() { (void)QSqlDatabase::drivers(); }
