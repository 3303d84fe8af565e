// A bench account on a shared PostgreSQL store with no more rights than the
// README grants (SELECT and INSERT on the records): its jobs are kept in the
// shared chain, not in its outbox, it verifies the chain, and it can neither
// change nor remove a record, nor switch off the triggers that refuse it.
#include <fstream>
#include <sstream>

#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include "records_fixture.h"
#include "support/process.h"

namespace {

class BenchAccount : public RecordsTest {
protected:
    void TearDown() override
    {
        RecordsTest::TearDown(); // the schema, and with it every grant on its tables
        if (!FRole.isEmpty())
            Run(QStringLiteral("postgres"), {QStringLiteral("DROP ROLE IF EXISTS ") + FRole});
    }

    // The README's statements for bench accounts, for this case's schema and role.
    std::vector<QString> ReadmeGrants() const
    {
        std::ifstream in(BEAMPORT_SOURCE_DIR "/README.md");
        std::stringstream text;
        text << in.rdbuf();
        const QString readme = QString::fromStdString(text.str());
        const qsizetype from = readme.indexOf(QStringLiteral("CREATE ROLE bench LOGIN;"));
        const qsizetype to = readme.indexOf(QStringLiteral("```"), from);
        std::vector<QString> out;
        if (from < 0 || to < 0)
            return out;
        for (QString line : readme.mid(from, to - from).split(QLatin1Char('\n'))) {
            line = line.section(QStringLiteral("--"), 0, 0).trimmed();
            if (line.isEmpty())
                continue;
            line.replace(QStringLiteral("SCHEMA public"), QStringLiteral("SCHEMA ") + Schema());
            line.replace(QRegularExpression(QStringLiteral("\\bbench\\b")), FRole);
            out.push_back(line);
        }
        return out;
    }

    // Runs each statement as `user` on this case's schema; the first error, or empty.
    QString Run(const QString &user, const std::vector<QString> &statements) const
    {
        RStoreLocation server;
        QString error;
        if (!ParseStoreLocation(TestPgUrl(), server, error))
            return error;
        const QString name = QStringLiteral("bench-account-") + user;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
            db.setHostName(server.mHost);
            db.setDatabaseName(server.mDatabase);
            db.setUserName(user == QLatin1String("postgres") ? server.mUser : user);
            if (server.mPort > 0)
                db.setPort(server.mPort);
            if (!Schema().isEmpty())
                db.setConnectOptions(QStringLiteral("options=-csearch_path=") + Schema());
            if (!db.open()) {
                error = db.lastError().text();
            } else {
                for (const QString &sql : statements) {
                    QSqlQuery q(db);
                    if (!q.exec(sql)) {
                        error = q.lastError().databaseText();
                        break;
                    }
                }
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
        return error;
    }

    QString FRole;
};

} // namespace

TEST_P(BenchAccount, KeepsItsJobsInTheChainAndCannotChangeThem)
{
    ASSERT_TRUE(Open()) << "the administrator makes the tables";
    FRole = QStringLiteral("bench_") + Schema();
    const std::vector<QString> grants = ReadmeGrants();
    ASSERT_GE(grants.size(), 5u) << "the README's statements for bench accounts: " << grants.size();
    ASSERT_EQ(Run(QStringLiteral("postgres"), grants).toStdString(), "");

    SimProcess sim;
    QString url = StoreArg();
    url.replace(QStringLiteral("://beamport@"), QStringLiteral("://") + FRole + QLatin1Char('@'));
    const std::vector<std::string> env = {"BEAMPORT_RECORDS=" + url.toStdString(),
                                          "XDG_DATA_HOME=" + TempPath("data").toStdString(),
                                          "XDG_CONFIG_HOME=" + TempPath("config").toStdString()};
    for (int i = 0; i < 2; ++i) {
        const ProcessResult job = RunProcess(BEAMPORT_CLI, {"--port", sim.Path(), "identify"}, env);
        EXPECT_EQ(job.status, 0) << job.err;
        EXPECT_EQ(job.err.find("kept on this bench"), std::string::npos) << job.err;
    }
    const ProcessResult verify = RunProcess(BEAMPORT_CLI, {"records", "verify"}, env);
    EXPECT_EQ(verify.status, 0) << verify.err;
    EXPECT_EQ(verify.out, "records intact: 2\n");

    for (const char *sql : {"UPDATE records SET text = 'calibrated' WHERE id = 1", "DELETE FROM records WHERE id = 2",
                            "TRUNCATE records", "ALTER TABLE records DISABLE TRIGGER USER",
                            "UPDATE certificates SET number = number + 1"}) {
        const QString error = Run(FRole, {QString::fromLatin1(sql)});
        EXPECT_TRUE(error.contains(QStringLiteral("permission denied")) || error.contains(QStringLiteral("must be owner")))
            << sql << ": " << error.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, BenchAccount, testing::Values(EBackend::kPostgres), BackendName);
