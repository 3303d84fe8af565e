#include "records/templates.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>

#include "records/bench_key.h"
#include "records/jcs.h"
#include "records/record.h"
#include "records/store.h"
#include "records/store_sql.h"

using namespace store_sql;

namespace {

constexpr int kNameLimit = 64;

const char *const kTemplateColumns = "name, version, fields, sensor, hash, saved, bench, login, hidden, key_id, sig";

bool Run(QSqlQuery &q, QString &error)
{
    if (q.exec())
        return true;
    error = ErrorText(q.lastError());
    return false;
}

// A row as a template (its signature in sig), its fields checked against the
// record and its hash (mFault).
bool RowToTemplate(const QSqlQuery &q, RStoredTemplate &t, QString &sig, QString &error)
{
    RConfigTemplate &tpl = t.mTemplate;
    tpl.mName = q.value(0).toString().toStdString();
    tpl.mVersion = q.value(1).toInt();
    tpl.mSensor = static_cast<uint8_t>(q.value(3).toInt());
    tpl.mHash = q.value(4).toString().toStdString();
    t.mSaved = q.value(5).toString();
    t.mBench = q.value(6).toString();
    t.mUser = q.value(7).toString();
    t.mHidden = q.value(8).toLongLong() != 0;
    const QString where = QStringLiteral("template %1 version %2").arg(q.value(0).toString()).arg(tpl.mVersion);
    std::string why;
    const QJsonDocument doc = QJsonDocument::fromJson(q.value(2).toString().toUtf8());
    if (!doc.isObject() || !TemplateFieldsFromJson(doc.object(), tpl.mFields, why)) {
        error = where + QStringLiteral(" cannot be read: ") + QString::fromStdString(why.empty() ? "no fields" : why);
        return false;
    }
    t.mKeyId = q.value(9).toString();
    sig = q.value(10).toString();
    if (TemplateHash(tpl.mName, tpl.mFields).toStdString() != tpl.mHash)
        t.mFault = where + QStringLiteral(" does not match its hash: it was changed in the store");
    return true;
}

// Why a version's signature does not hold: its key must be registered in
// the store and never revoked.
QString TemplateSignatureFault(const std::vector<RBenchKeyRow> &keys, const QString &sig, const RStoredTemplate &t)
{
    const QString where =
        QStringLiteral("template %1 version %2").arg(QString::fromStdString(t.mTemplate.mName)).arg(t.mTemplate.mVersion);
    if (t.mKeyId.isEmpty() && sig.isEmpty())
        return where + QStringLiteral(" was saved before templates were signed (or by someone without a bench key): "
                                      "save it again to use it");
    for (const RBenchKeyRow &k : keys) {
        if (k.mKeyId != t.mKeyId)
            continue;
        if (!k.mRevoked.isEmpty())
            return where + QStringLiteral(" is signed by bench key %1, revoked on %2: save it again from a bench "
                                          "whose key is in force")
                               .arg(k.mKeyId, k.mRevoked);
        if (TBenchKey::KeyIdOfHex(k.mPublicKey) == k.mKeyId && TBenchKey::Verify(k.mPublicKey, TemplateSignedHash(t), sig))
            return {};
        break;
    }
    return where + QStringLiteral(" does not carry a good signature of a registered bench key: it was changed in "
                                  "the store or written without a key");
}

bool Select(TRecordStore &store, const QString &where, const QVariantList &values, std::vector<RStoredTemplate> &out,
            QString &error)
{
    QSqlQuery q(store.Database());
    q.prepare(QStringLiteral("SELECT %1 FROM templates %2").arg(QLatin1String(kTemplateColumns), where));
    for (const QVariant &v : values)
        q.addBindValue(v);
    if (!Run(q, error))
        return false;
    std::vector<QString> sigs;
    const size_t first = out.size();
    while (q.next()) {
        RStoredTemplate t;
        QString sig;
        if (!RowToTemplate(q, t, sig, error))
            return false;
        out.push_back(std::move(t));
        sigs.push_back(sig);
    }
    q.finish();
    std::vector<RBenchKeyRow> keys;
    if (sigs.empty())
        return true;
    if (!store.Keys(keys, error))
        return false;
    for (size_t i = 0; i < sigs.size(); ++i)
        if (RStoredTemplate &t = out[first + i]; t.mFault.isEmpty())
            t.mFault = TemplateSignatureFault(keys, sigs[i], t);
    return true;
}

} // namespace

QByteArray TemplateCanonical(const std::string &name, const std::vector<RTemplateField> &fields)
{
    return Jcs(QJsonObject{{QStringLiteral("fields"), TemplateFieldsToJson(fields)},
                           {QStringLiteral("name"), QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()))}});
}

QString TemplateHash(const std::string &name, const std::vector<RTemplateField> &fields)
{
    return QString::fromLatin1(QCryptographicHash::hash(TemplateCanonical(name, fields), QCryptographicHash::Sha256).toHex());
}

std::string TemplateNameProblem(const std::string &name)
{
    if (name.empty())
        return "a template needs a name";
    if (name.size() > kNameLimit)
        return "a template's name has at most " + std::to_string(kNameLimit) + " characters";
    for (const char c : name)
        if (c < 0x20 || c > 0x7E)
            return "a template's name is printable ASCII (letters, digits, signs)";
    if (name.front() == ' ' || name.back() == ' ')
        return "a template's name neither starts nor ends with a blank";
    if (name.front() == '-')
        return "a template's name does not start with '-'";
    return {};
}

QString TemplateSignedHash(const RStoredTemplate &stored)
{
    const RConfigTemplate &tpl = stored.mTemplate;
    const QJsonObject o{{QStringLiteral("bench"), stored.mBench},
                        {QStringLiteral("hash"), QString::fromStdString(tpl.mHash)},
                        {QStringLiteral("key_id"), stored.mKeyId},
                        {QStringLiteral("name"), QString::fromLatin1(tpl.mName.data(), static_cast<qsizetype>(tpl.mName.size()))},
                        {QStringLiteral("saved"), stored.mSaved},
                        {QStringLiteral("sensor"), static_cast<int>(tpl.mSensor)},
                        {QStringLiteral("user"), stored.mUser},
                        {QStringLiteral("version"), tpl.mVersion}};
    return QString::fromLatin1(QCryptographicHash::hash(Jcs(o), QCryptographicHash::Sha256).toHex());
}

bool SaveTemplate(TRecordStore &store, RConfigTemplate &tpl, const QString &bench, const QString &user, QString &error,
                  bool *refused)
{
    QString keyError;
    const TBenchKey *key = store.BenchKey(keyError);
    if (!key) {
        if (refused)
            *refused = true;
        error = QStringLiteral("a template is signed by this bench's key: ") + keyError;
        return false;
    }
    TStoreConnection &connection = store.Connection();
    QSqlDatabase &db = connection.Db();
    // Versions are counted per name across benches: the table is locked
    // for the count and the insert.
    if (!connection.Begin("LOCK TABLE templates IN EXCLUSIVE MODE", error))
        return false;
    const auto fail = [&] {
        connection.Rollback();
        return false;
    };
    const QString name = QString::fromStdString(tpl.mName);
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT COALESCE(MAX(version), 0) FROM templates WHERE name = ?"));
    q.addBindValue(name);
    if (!Run(q, error) || !q.next())
        return fail();
    const int version = q.value(0).toInt() + 1;
    q.finish();
    if (!store.RegisterKey(*key, error)) {
        if (refused)
            *refused = true;
        return fail();
    }
    RStoredTemplate signedAs{tpl, RecordTime(QDateTime::currentDateTimeUtc()), bench, user, false, key->KeyId(), {}};
    signedAs.mTemplate.mVersion = version;
    signedAs.mTemplate.mHash = TemplateHash(tpl.mName, tpl.mFields).toStdString();
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral("INSERT INTO templates (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, 0, ?, ?)")
                       .arg(QLatin1String(kTemplateColumns)));
    for (const QVariant &v : {QVariant(name), QVariant(version), QVariant(QString::fromUtf8(Jcs(TemplateFieldsToJson(tpl.mFields)))),
                              QVariant(static_cast<int>(tpl.mSensor)), QVariant(QString::fromStdString(signedAs.mTemplate.mHash)),
                              QVariant(signedAs.mSaved), Text(bench), Text(user), QVariant(key->KeyId()),
                              QVariant(key->Sign(TemplateSignedHash(signedAs)))})
        insert.addBindValue(v);
    if (!Run(insert, error))
        return fail();
    if (!connection.Commit(error))
        return false;
    const QString hash = QString::fromStdString(signedAs.mTemplate.mHash);
    tpl.mVersion = version;
    tpl.mHash = hash.toStdString();
    return true;
}

std::optional<RStoredTemplate> LoadTemplate(TRecordStore &store, const std::string &name, int version, QString &error,
                                            bool *refused)
{
    std::vector<RStoredTemplate> found;
    const QString n = QString::fromStdString(name);
    const bool ok = version > 0
                        ? Select(store, QStringLiteral("WHERE name = ? AND version = ?"), {n, version}, found, error)
                        : Select(store, QStringLiteral("WHERE name = ? AND hidden = 0 ORDER BY version DESC LIMIT 1"),
                                 {n}, found, error);
    if (!ok || found.empty())
        return std::nullopt;
    if (!found.front().mFault.isEmpty()) {
        error = found.front().mFault;
        if (refused)
            *refused = true;
        return std::nullopt;
    }
    return std::move(found.front());
}

bool ListTemplates(TRecordStore &store, std::vector<RStoredTemplate> &out, QString &error)
{
    return Select(store,
                  QStringLiteral("t WHERE hidden = 0 AND version = (SELECT MAX(version) FROM templates u "
                                 "WHERE u.name = t.name) ORDER BY name"),
                  {}, out, error);
}

bool TemplateVersions(TRecordStore &store, const std::string &name, std::vector<RStoredTemplate> &out, QString &error)
{
    return Select(store, QStringLiteral("WHERE name = ? ORDER BY version"), {QString::fromStdString(name)}, out, error);
}

bool HideTemplate(TRecordStore &store, const std::string &name, QString &error)
{
    QSqlQuery q(store.Database());
    q.prepare(QStringLiteral("UPDATE templates SET hidden = 1 WHERE name = ? AND hidden = 0"));
    q.addBindValue(QString::fromStdString(name));
    if (!Run(q, error))
        return false;
    return q.numRowsAffected() > 0;
}
