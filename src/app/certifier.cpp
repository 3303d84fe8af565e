#include "app/certifier.h"

#include "app/session.h"
#include "app/user_store.h"

namespace {

constexpr const char *kTechnician = "Technician";
constexpr const char *kOrganisation = "Organisation";
constexpr const char *kAddress = "Address";
constexpr const char *kBench = "Bench";

QString Kept(const TUserStore &store, const char *name)
{
    return QString::fromStdString(store.ReadText(TStoreGroup::RECORDS, name)).trimmed();
}

// The settings file's value, else the one kept for this user.
QString Either(const std::string &settings, const TUserStore &store, const char *name)
{
    const QString value = QString::fromStdString(settings).trimmed();
    return value.isEmpty() ? Kept(store, name) : value;
}

} // namespace

RCertifier CertifierSettings(TSession &session)
{
    const TUserStore &store = session.Store();
    return {Kept(store, kTechnician), Either(session.RecordsCFG.mOrganisation, store, kOrganisation),
            Either(session.RecordsCFG.mAddress, store, kAddress), Either(session.RecordsCFG.mBench, store, kBench)};
}

QStringList MissingCertifierValues(const RCertifier &c)
{
    QStringList missing;
    const std::pair<const QString *, const char *> values[] = {{&c.mTechnician, "technician's printed name"},
                                                               {&c.mOrganisation, "organisation"},
                                                               {&c.mAddress, "address"},
                                                               {&c.mBench, "bench name"}};
    for (const auto &[value, name] : values)
        if (value->trimmed().isEmpty())
            missing << QString::fromLatin1(name);
    return missing;
}

void KeepCertifier(TUserStore &store, const RCertifier &c)
{
    const std::pair<const QString *, const char *> values[] = {
        {&c.mTechnician, kTechnician}, {&c.mOrganisation, kOrganisation}, {&c.mAddress, kAddress}, {&c.mBench, kBench}};
    for (const auto &[value, name] : values)
        if (!value->trimmed().isEmpty())
            store.WriteText(TStoreGroup::RECORDS, name, value->trimmed().toStdString());
}
