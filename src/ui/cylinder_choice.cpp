#include "records/store.h"
#include "ui/cylinder_choice.h"

#include <memory>

#include "records/cylinder_store.h"
#include "model/visible_text.h"

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

QString CylinderWholeText(const RGasCylinder &c)
{
    QString text = QStringLiteral("%1: %2").arg(c.mId).arg(QString::fromStdString(CylinderText(c)));
    if (!c.mBalance.empty())
        text += QStringLiteral(", balance ") + VisibleText(QString::fromStdString(c.mBalance));
    if (!c.mMaker.empty())
        text += QStringLiteral(", made by ") + VisibleText(QString::fromStdString(c.mMaker));
    return text + QStringLiteral(", expires ") + VisibleText(QString::fromStdString(c.mExpires));
}

int OnlyFittingCylinder(const std::vector<RGasCylinder> &cylinders, const RTamselCFG &cfg,
                        const std::vector<RSensorType> &types, const std::string &today)
{
    int found = -1;
    for (size_t i = 0; i < cylinders.size(); ++i) {
        const RGasCylinder &c = cylinders[i];
        if (!CylinderDateRefusal(c, today).empty() || !CylinderFitRefusal(c, cfg, types, ECylinderUse::kCalibration).empty())
            continue;
        if (found >= 0)
            return -1;
        found = static_cast<int>(i);
    }
    return found;
}
