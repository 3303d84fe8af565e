// A store of every older schema version, made by the program's own
// migrations and holding what that version held, opens and takes every
// migration after its own in one go.
#include <algorithm>

#include "records/schema.h"
#include "records_fixture.h"

class SchemaTest : public RecordsTest {};

TEST_P(SchemaTest, AStoreOfEveryOlderVersionMigratesToTheNewest)
{
    std::unique_ptr<TRecordStore> admin = Postgres() ? Open() : nullptr; // makes a schema per version
    for (int version = 0; version < kRecordsSchemaVersion; ++version) {
        SCOPED_TRACE(testing::Message() << "from version " << version);
        RStoreLocation location = Location();
        const QString schema = QStringLiteral("%1_v%2").arg(Schema()).arg(version);
        if (Postgres()) {
            ASSERT_TRUE(location.mOptions.contains(Schema()));
            location.mOptions.replace(Schema(), schema);
            Sql(*admin, QStringLiteral("CREATE SCHEMA %1").arg(schema));
        } else {
            location.mPath = TempPath(QStringLiteral("v%1.sqlite").arg(version));
        }
        QString error;
        {
            TStoreConnection old(location);
            ASSERT_TRUE(OpenStoreConnection(old, error, version)) << error.toStdString();
            EXPECT_EQ(old.SchemaVersion(), version);
            // A bench key revoked in the layout of versions 3 to 6.
            if (version >= 3) {
                ASSERT_TRUE(old.Exec(QStringLiteral("INSERT INTO bench_keys (key_id, public_key, bench, login, "
                                                    "registered, revoked, revoked_after) VALUES ('k-old', 'ab', 'b', "
                                                    "'u', '2026-01-01T00:00:00.000Z', '2026-01-02T00:00:00.000Z', 5)"),
                                     error))
                    << error.toStdString();
            }
        }
        {
            std::unique_ptr<TRecordStore> store = TRecordStore::Open(location, error);
            ASSERT_TRUE(store) << error.toStdString();
            EXPECT_EQ(store->SchemaVersion(), kRecordsSchemaVersion);
            RServiceRecord r = MakeRecord({});
            EXPECT_EQ(store->Append(r, error), EAppend::kAdded) << error.toStdString();
            std::vector<RBenchKeyRow> keys;
            ASSERT_TRUE(store->Keys(keys, error)) << error.toStdString();
            const auto old = std::find_if(keys.begin(), keys.end(), [](const RBenchKeyRow &k) { return k.mKeyId == "k-old"; });
            EXPECT_EQ(old != keys.end(), version >= 3);
            if (old != keys.end()) {
                EXPECT_EQ(old->mRevoked, "2026-01-02T00:00:00.000Z");
                EXPECT_EQ(old->mRevokedAfter, 5);
            }
            const RVerifyResult v = store->Verify();
            EXPECT_TRUE(v.mIntact) << v.mBrokenId << ": " << v.mReason.toStdString() << v.mError.toStdString();
            EXPECT_EQ(v.mCount, 1);
        }
        if (Postgres())
            Sql(*admin, QStringLiteral("DROP SCHEMA %1 CASCADE").arg(schema));
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, SchemaTest, testing::Values(EBackend::kSqlite, EBackend::kPostgres), BackendName);
