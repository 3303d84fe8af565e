#include "records/location.h"

#include <memory>
#include <vector>

#include <QDir>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QSysInfo>
#include <QUrl>
#include <QUrlQuery>

#include "app/user_account.h"
#include "app/user_store.h"

namespace {

bool ParsePostgres(const QString &text, RStoreLocation &loc, QString &error)
{
    const int schemeEnd = text.indexOf(QLatin1String("://"));
    QString rest = text.mid(schemeEnd + 3);
    QString query;
    if (const int q = rest.indexOf(QLatin1Char('?')); q >= 0) {
        query = rest.mid(q + 1);
        rest = rest.left(q);
    }
    QString authority = rest, path;
    if (const int slash = rest.indexOf(QLatin1Char('/')); slash >= 0) {
        authority = rest.left(slash);
        path = rest.mid(slash + 1);
    }
    QString hostPort = authority;
    if (const int at = authority.lastIndexOf(QLatin1Char('@')); at >= 0) {
        const QString userInfo = authority.left(at);
        hostPort = authority.mid(at + 1);
        if (userInfo.contains(QLatin1Char(':'))) {
            error = QStringLiteral("the records URL must not hold a password: put it in ~/.pgpass (or PGPASSWORD)");
            return false;
        }
        loc.mUser = QUrl::fromPercentEncoding(userInfo.toUtf8());
    }
    QString portText;
    if (hostPort.startsWith(QLatin1Char('['))) { // [IPv6]:port
        const int close = hostPort.indexOf(QLatin1Char(']'));
        if (close < 0) {
            error = QStringLiteral("the records URL has an unclosed [ in its host");
            return false;
        }
        loc.mHost = hostPort.mid(1, close - 1);
        if (hostPort.size() > close + 1) {
            if (hostPort.at(close + 1) != QLatin1Char(':')) {
                error = QStringLiteral("the records URL has text after its host");
                return false;
            }
            portText = hostPort.mid(close + 2);
        }
    } else if (const int colon = hostPort.indexOf(QLatin1Char(':')); colon >= 0) {
        loc.mHost = QUrl::fromPercentEncoding(hostPort.left(colon).toUtf8());
        portText = hostPort.mid(colon + 1);
    } else {
        loc.mHost = QUrl::fromPercentEncoding(hostPort.toUtf8());
    }
    const auto setPort = [&](const QString &p) {
        bool ok = false;
        const int port = p.toInt(&ok);
        if (!ok || port < 1 || port > 65535) {
            error = QStringLiteral("the records URL's port \"%1\" is not a number from 1 to 65535").arg(p);
            return false;
        }
        loc.mPort = port;
        return true;
    };
    if (!portText.isEmpty() && !setPort(portText))
        return false;
    loc.mDatabase = QUrl::fromPercentEncoding(path.toUtf8());
    if (loc.mDatabase.contains(QLatin1Char('/'))) {
        error = QStringLiteral("the records URL names more than one database (\"%1\")").arg(loc.mDatabase);
        return false;
    }

    static const QRegularExpression optionName(QStringLiteral("^[a-z_]+$"));
    QStringList options;
    for (const auto &[key, value] : QUrlQuery(query).queryItems(QUrl::FullyDecoded)) {
        if (key == QLatin1String("password") || key == QLatin1String("sslpassword") ||
            key == QLatin1String("passfile")) {
            error = QStringLiteral("the records URL must not hold \"%1\": libpq takes passwords from ~/.pgpass, "
                                   "PGPASSWORD or PGPASSFILE")
                        .arg(key);
            return false;
        }
        if (key == QLatin1String("host"))
            loc.mHost = value;
        else if (key == QLatin1String("port")) {
            if (!setPort(value))
                return false;
        } else if (key == QLatin1String("user"))
            loc.mUser = value;
        else if (key == QLatin1String("dbname"))
            loc.mDatabase = value;
        else if (!optionName.match(key).hasMatch() || value.contains(QLatin1Char(';')) || value.isEmpty() ||
                   value.contains(QRegularExpression(QStringLiteral("\\s")))) {
            error = QStringLiteral("the records URL's option \"%1\" is not a connection option").arg(key);
            return false;
        } else
            options.push_back(key + QLatin1Char('=') + value);
    }
    loc.mOptions = options.join(QLatin1Char(';'));
    if (loc.mDatabase.isEmpty()) {
        error = QStringLiteral("the records URL names no database (postgresql://user@host/database)");
        return false;
    }
    return true;
}

} // namespace

QString RStoreLocation::Describe() const
{
    switch (mKind) {
    case EStoreKind::kOff: return QStringLiteral("off");
    case EStoreKind::kSqlite: return QStringLiteral("sqlite:") + mPath;
    case EStoreKind::kPostgres: break;
    }
    QString s = QStringLiteral("postgresql://");
    if (!mUser.isEmpty())
        s += mUser + QLatin1Char('@');
    if (!mHost.startsWith(QLatin1Char('/')))
        s += mHost;
    if (mPort > 0)
        s += QLatin1Char(':') + QString::number(mPort);
    s += QLatin1Char('/') + mDatabase;
    if (mHost.startsWith(QLatin1Char('/')))
        s += QStringLiteral("?host=") + mHost;
    return s;
}

bool ParseStoreLocation(const QString &text, RStoreLocation &location, QString &error)
{
    RStoreLocation loc;
    const QString t = text.trimmed();
    if (t == QLatin1String("off")) {
        loc.mKind = EStoreKind::kOff;
    } else if (t.startsWith(QLatin1String("sqlite:"))) {
        loc.mKind = EStoreKind::kSqlite;
        loc.mPath = t.mid(7);
        if (loc.mPath.isEmpty()) {
            error = QStringLiteral("sqlite: needs a file, e.g. sqlite:/srv/records.sqlite");
            return false;
        }
        loc.mPath = QDir::cleanPath(QDir::current().absoluteFilePath(loc.mPath));
    } else if (t.startsWith(QLatin1String("postgresql://")) || t.startsWith(QLatin1String("postgres://"))) {
        loc.mKind = EStoreKind::kPostgres;
        if (!ParsePostgres(t, loc, error))
            return false;
    } else {
        // The value itself is never repeated: a misspelt URL may hold a password.
        const int colon = t.indexOf(QLatin1String("://"));
        const QString scheme = colon > 0 ? t.left(colon) : QString();
        static const QRegularExpression word(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]{0,19}$"));
        error = (word.match(scheme).hasMatch() ? QStringLiteral("\"%1:\" is not a kind of records store").arg(scheme)
                                               : QStringLiteral("that is not a records store")) +
                QStringLiteral(": use off, sqlite:PATH or postgresql://user@host/db");
        return false;
    }
    location = loc;
    return true;
}

QString DefaultSqlitePath()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/beamport/records.sqlite");
}

bool ResolveStoreLocation(const std::string &choice, RStoreLocation &location, QString &error)
{
    QString text = QString::fromStdString(choice);
    QString from = QStringLiteral("--records");
    if (text.isEmpty()) {
        text = qEnvironmentVariable("BEAMPORT_RECORDS");
        from = QStringLiteral("BEAMPORT_RECORDS");
    }
    if (text.trimmed().isEmpty()) {
        location = RStoreLocation{};
        location.mKind = EStoreKind::kSqlite;
        location.mPath = DefaultSqlitePath();
        return true;
    }
    if (!ParseStoreLocation(text, location, error)) {
        error = from + QStringLiteral(": ") + error;
        return false;
    }
    return true;
}

QString BenchName() { return QSysInfo::machineHostName(); }

QString LoginName()
{
    if (const std::optional<std::string> login = AccountLoginName())
        return QString::fromLocal8Bit(QByteArray::fromStdString(*login));
    const QString env = qEnvironmentVariable("USER");
    return env.isEmpty() ? QString::fromStdString(AccountUserNumber()) : env;
}

namespace {
QString GecosName()
{
    return QString::fromLocal8Bit(QByteArray::fromStdString(AccountComment())).section(QLatin1Char(','), 0, 0).trimmed();
}

} // namespace

QString TechnicianName(const TUserStore &store)
{
    const QString set = QString::fromStdString(store.ReadText(TStoreGroup::RECORDS, "Technician")).trimmed();
    if (!set.isEmpty())
        return set;
    const QString gecos = GecosName();
    return gecos.isEmpty() ? LoginName() : gecos;
}

void SetTechnicianName(TUserStore &store, const QString &name)
{
    store.WriteText(TStoreGroup::RECORDS, "Technician", name.trimmed().toStdString());
}
