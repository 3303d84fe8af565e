#include "records/store.h"

#include <QCoreApplication>

#include "app/session.h"

std::unique_ptr<TRecordStore> TRecordStore::Open(const RStoreLocation &location, QString &error)
{
    if (location.mKind == EStoreKind::kOff) {
        error = QStringLiteral("records are off (--records off)");
        return nullptr;
    }
    // Qt SQL loads its drivers through the application object the program made.
    if (!QCoreApplication::instance()) {
        error = QStringLiteral("the record store %1 could not be opened: the program made no application object")
                    .arg(location.Describe());
        return nullptr;
    }
    std::unique_ptr<TRecordStore> store(new TRecordStore(location));
    QString why;
    if (!OpenStoreConnection(store->FConn, why)) {
        error = QStringLiteral("the record store %1 could not be opened: %2").arg(location.Describe(), why);
        return nullptr;
    }
    return store;
}

std::unique_ptr<TRecordStore> OpenStoreInForce(const TSession &session, QString &error)
{
    RStoreLocation location;
    if (!ResolveStoreLocation(session.RecordsChoice, location, error))
        return nullptr;
    return TRecordStore::Open(location, error);
}
