#pragma once
// A long read in bounded steps: the rows of a query over records (or any
// table with an ascending key) fetched one page at a time, keyed on the
// last key seen, so that every statement stays well inside the store's
// statement time-out however many rows there are. It reads like the one
// QSqlQuery it stands for: next(), value(), lastError(), and a record row
// for RowToRecord.
#include <limits>
#include <utility>

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

class TPagedRows {
public:
    // `select` is "SELECT ... FROM table" with the key among its columns at
    // `keyColumn`; `key` the column's name in SQL ("id", "c.record_id").
    TPagedRows(QSqlDatabase &db, QString select, QString key, int keyColumn = 0, int pageRows = 1000)
        : FDb(db), FSelect(std::move(select)), FKey(std::move(key)), FKeyColumn(keyColumn), FPageRows(pageRows)
    {
    }

    // The next row; false at the end or on failure (lastError() says which).
    bool next()
    {
        for (;;) {
            if (FStarted && FQuery.next()) {
                ++FRows;
                FLast = FQuery.value(FKeyColumn).toLongLong();
                return true;
            }
            if (FStarted && (FQuery.lastError().isValid() || FRows < FPageRows))
                return false;
            if (!Fetch())
                return false;
        }
    }
    QVariant value(int column) const { return FQuery.value(column); }
    QSqlError lastError() const { return FQuery.lastError(); }
    operator const QSqlQuery &() const { return FQuery; }

private:
    bool Fetch()
    {
        FQuery = QSqlQuery(FDb);
        FQuery.setForwardOnly(true);
        FQuery.prepare(QStringLiteral("%1 WHERE %2 > ? ORDER BY %2 LIMIT %3").arg(FSelect, FKey).arg(FPageRows));
        FQuery.addBindValue(FStarted ? FLast : std::numeric_limits<qint64>::min());
        FStarted = true;
        FRows = 0;
        return FQuery.exec();
    }

    QSqlDatabase &FDb;
    QString FSelect, FKey;
    int FKeyColumn, FPageRows;
    QSqlQuery FQuery;
    bool FStarted = false;
    int FRows = 0;
    qint64 FLast = 0;
};
