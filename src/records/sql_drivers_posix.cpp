// The drivers' folders are looked through without a pattern here: any thread
// may be the first to ask for a driver.
#include "records/sql_drivers.h"

void FindSqlDriversOnThisThread() {}
