#include "records/templates.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>

#include "records/jcs.h"
#include "records/record.h"
#include "records/store.h"
#include "records/store_sql.h"

using namespace store_sql;

namespace {

constexpr int kNameLimit = 64;

const char *const kTemplateColumns = "name, version, fields, sensor, hash, saved, bench, login, hidden";

bool Run(QSqlQuery &q, QString &error)
{
    if (q.exec())
        return true;
    error = ErrorText(q.lastError());
    return false;
}

bool Exec(QSqlDatabase &db, const QString &sql, QString &error)
{
    QSqlQuery q(db);
    if (q.exec(sql))
        return true;
    error = ErrorText(q.lastError());
    return false;
}

// A row as a template, its fields checked against the record and its hash.
bool RowToTemplate(const QSqlQuery &q, RStoredTemplate &t, QString &error)
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
    if (TemplateHash(tpl.mName, tpl.mFields).toStdString() != tpl.mHash) {
        error = where + QStringLiteral(" does not match its hash: it was changed in the store");
        return false;
    }
    return true;
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
    while (q.next()) {
        RStoredTemplate t;
        if (!RowToTemplate(q, t, error))
            return false;
        out.push_back(std::move(t));
    }
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

bool SaveTemplate(TRecordStore &store, RConfigTemplate &tpl, const QString &bench, const QString &user, QString &error)
{
    QSqlDatabase &db = store.Database();
    // Versions are counted per name across benches: the table is locked
    // for the count and the insert.
    if (!Exec(db, store.IsPostgres() ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE"), error))
        return false;
    const auto fail = [&] {
        QString ignored;
        Exec(db, QStringLiteral("ROLLBACK"), ignored);
        return false;
    };
    if (store.IsPostgres() && !Exec(db, QStringLiteral("LOCK TABLE templates IN EXCLUSIVE MODE"), error))
        return fail();
    const QString name = QString::fromStdString(tpl.mName);
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT COALESCE(MAX(version), 0) FROM templates WHERE name = ?"));
    q.addBindValue(name);
    if (!Run(q, error) || !q.next())
        return fail();
    const int version = q.value(0).toInt() + 1;
    const QString hash = TemplateHash(tpl.mName, tpl.mFields);
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral("INSERT INTO templates (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, 0)")
                       .arg(QLatin1String(kTemplateColumns)));
    insert.addBindValue(name);
    insert.addBindValue(version);
    insert.addBindValue(QString::fromUtf8(Jcs(TemplateFieldsToJson(tpl.mFields))));
    insert.addBindValue(static_cast<int>(tpl.mSensor));
    insert.addBindValue(hash);
    insert.addBindValue(RecordTime(QDateTime::currentDateTimeUtc()));
    insert.addBindValue(Text(bench));
    insert.addBindValue(Text(user));
    if (!Run(insert, error) || !Exec(db, QStringLiteral("COMMIT"), error))
        return fail();
    tpl.mVersion = version;
    tpl.mHash = hash.toStdString();
    return true;
}

std::optional<RStoredTemplate> LoadTemplate(TRecordStore &store, const std::string &name, int version, QString &error)
{
    std::vector<RStoredTemplate> found;
    const QString n = QString::fromStdString(name);
    const bool ok = version > 0
                        ? Select(store, QStringLiteral("WHERE name = ? AND version = ?"), {n, version}, found, error)
                        : Select(store, QStringLiteral("WHERE name = ? AND hidden = 0 ORDER BY version DESC LIMIT 1"),
                                 {n}, found, error);
    if (!ok || found.empty())
        return std::nullopt;
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
