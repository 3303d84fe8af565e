#include "ui/cylinder_choice.h"

#include <memory>

#include "records/cylinder_store.h"
#include "records/journal_store.h"

std::vector<RGasCylinder> CylindersOnRecord(TSession &session, QString &error)
{
    std::vector<RGasCylinder> all;
    const std::unique_ptr<TRecordStore> store = OpenStoreInForce(session, error);
    if (store && !ListCylinders(*store, all, error))
        all.clear();
    return all;
}

QString CylinderChoiceText(const RGasCylinder &c)
{
    return QStringLiteral("%1: %2, expires %3")
        .arg(c.mId)
        .arg(QString::fromStdString(CylinderText(c)), QString::fromStdString(c.mExpires));
}
