// Templates in the record store (both back ends): canonical form and hash,
// versions, hiding, tampering; and the configurations records keep.
#include <QSqlQuery>

#include "records/kept_config.h"
#include "records/templates.h"
#include "records_fixture.h"

namespace {

RTemplateField Field(const char *name, RFieldValue value) { return {FindConfigField(name), std::move(value)}; }
RFieldValue Number(int64_t n) { return {{n}, {}}; }
RFieldValue Text(const std::string &s) { return {{}, s}; }

RConfigTemplate Template(const std::string &name, std::vector<RTemplateField> fields)
{
    RConfigTemplate t;
    t.mName = name;
    t.mSensor = 1;
    t.mFields = std::move(fields);
    return t;
}

} // namespace

TEST(TemplateCanonicalForm, SortedCompactUtf8WithTheRecordsValues)
{
    const struct {
        std::string name;
        std::vector<RTemplateField> fields;
        const char *canonical;
    } cases[] = {
        {"site", {Field("mUserID", Text("SITE-A")), Field("mAlarmHigh", Number(200))},
         R"({"fields":{"mAlarmHigh":200,"mUserID":"SITE-A"},"name":"site"})"},
        // The order fields are given in does not matter.
        {"site", {Field("mAlarmHigh", Number(200)), Field("mUserID", Text("SITE-A"))},
         R"({"fields":{"mAlarmHigh":200,"mUserID":"SITE-A"},"name":"site"})"},
        // Characters are bytes, one a character (Latin-1), written as UTF-8.
        {"a\"b", {Field("mUserID", Text("K\xC4LTE"))}, "{\"fields\":{\"mUserID\":\"K\xC3\x84LTE\"},\"name\":\"a\\\"b\"}"},
        {"empty", {}, R"({"fields":{},"name":"empty"})"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(TemplateCanonical(c.name, c.fields).toStdString(), c.canonical) << c.name;
        EXPECT_EQ(TemplateHash(c.name, c.fields).size(), 64);
    }
    EXPECT_EQ(TemplateHash("site", cases[0].fields),
              "cffdfbce4e0265b357731b3dae3c6eddf3ec0b899f32265fb86c02096925b019");
    EXPECT_NE(TemplateHash("site", cases[0].fields), TemplateHash("Site", cases[0].fields));
}

TEST(TemplateCanonicalForm, NamesAPersonCanTypeAndRead)
{
    for (const char *good : {"site", "ACME plant 2", "a"})
        EXPECT_EQ(TemplateNameProblem(good), "") << good;
    for (const std::string &bad : {std::string(), std::string(" lead"), std::string("trail "), std::string("-x"),
                                  std::string("tab\there"), std::string("\xC4"), std::string(65, 'n')})
        EXPECT_NE(TemplateNameProblem(bad), "") << bad;
}

class TemplatesTest : public RecordsTest {};
INSTANTIATE_TEST_SUITE_P(Backends, TemplatesTest, testing::Values(EBackend::kSqlite, EBackend::kPostgres), BackendName);

TEST_P(TemplatesTest, VersionsStayHiddenOnesStayForTheRecordsTamperingShows)
{
    auto store = Open();
    ASSERT_TRUE(store);
    QString error;
    RConfigTemplate v1 = Template("site", {Field("mAlarmHigh", Number(200)), Field("mAlarmLow", Number(120))});
    RConfigTemplate v2 = Template("site", {Field("mUserID", Text("SITE-A"))});
    RConfigTemplate other = Template("other", {Field("mBumpInterval", Number(14))});
    for (RConfigTemplate *t : {&v1, &v2, &other})
        ASSERT_TRUE(SaveTemplate(*store, *t, "bench-1", "tech", error)) << error.toStdString();
    EXPECT_EQ(v1.mVersion, 1);
    EXPECT_EQ(v2.mVersion, 2);
    EXPECT_EQ(other.mVersion, 1);
    EXPECT_EQ(v1.mHash, TemplateHash("site", v1.mFields).toStdString());

    const auto newest = LoadTemplate(*store, "site", 0, error);
    ASSERT_TRUE(newest) << error.toStdString();
    EXPECT_EQ(newest->mTemplate.mVersion, 2);
    EXPECT_EQ(newest->mTemplate.mHash, v2.mHash);
    EXPECT_EQ(newest->mUser, "tech");
    const auto first = LoadTemplate(*store, "site", 1, error);
    ASSERT_TRUE(first);
    ASSERT_EQ(first->mTemplate.mFields.size(), 2u);
    EXPECT_EQ(first->mTemplate.mFields[0].mField->mName, std::string("mAlarmHigh"));
    EXPECT_EQ(first->mTemplate.mFields[0].mValue, Number(200));
    EXPECT_FALSE(LoadTemplate(*store, "site", 3, error));
    EXPECT_TRUE(error.isEmpty());

    std::vector<RStoredTemplate> list;
    ASSERT_TRUE(ListTemplates(*store, list, error));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].mTemplate.mName, "other");
    EXPECT_EQ(list[1].mTemplate.mVersion, 2);

    // Deleted: gone from the list and from use, every version still there.
    ASSERT_TRUE(HideTemplate(*store, "site", error));
    EXPECT_FALSE(HideTemplate(*store, "site", error));
    EXPECT_FALSE(HideTemplate(*store, "none", error));
    EXPECT_FALSE(LoadTemplate(*store, "site", 0, error));
    const auto kept = LoadTemplate(*store, "site", 2, error);
    ASSERT_TRUE(kept);
    EXPECT_TRUE(kept->mHidden);
    list.clear();
    ASSERT_TRUE(ListTemplates(*store, list, error));
    EXPECT_EQ(list.size(), 1u);
    // Saved again: a new version, in use again.
    RConfigTemplate v3 = Template("site", {Field("mUserID", Text("SITE-B"))});
    ASSERT_TRUE(SaveTemplate(*store, v3, "bench-2", "tech", error));
    EXPECT_EQ(v3.mVersion, 3);
    EXPECT_EQ(LoadTemplate(*store, "site", 0, error)->mTemplate.mVersion, 3);

    // A value changed in the table no longer gives the hash.
    Sql(*store, "UPDATE templates SET fields = '{\"mAlarmHigh\":900,\"mAlarmLow\":120}' WHERE name = 'site' AND "
                "version = 1");
    EXPECT_FALSE(LoadTemplate(*store, "site", 1, error));
    EXPECT_TRUE(error.contains("does not match its hash")) << error.toStdString();
}

TEST_P(TemplatesTest, KeptConfigurationsAndTheConfigurationBeforeAWrite)
{
    auto store = Open();
    ASSERT_TRUE(store);
    QString error;
    const auto day = [](int d) { return QDateTime(QDate(2026, 2, d), QTime(9, 0), Qt::UTC); };
    RTamselCFG backup = TestConfig("SH1", 90, 14);
    backup.mSensor.mAlarmHigh = 333;
    const std::vector<RTestRecord> list = {
        {.mSerial = "SH1", .mJob = "read", .mTime = day(1), .mCalDays = 30},
        {.mSerial = "SH2", .mJob = "read", .mTime = day(2)},
        {.mSerial = "SH1", .mJob = "beep", .mTime = day(3), .mConfig = false},
        {.mSerial = "SH1", .mJob = "program", .mTime = day(4),
         .mData = {{"backup", ConfigToHex(backup)}}},
    };
    std::vector<qint64> ids;
    for (const RTestRecord &t : list) {
        RServiceRecord r = MakeRecord(t);
        ASSERT_EQ(store->Append(r, error), EAppend::kAdded) << error.toStdString();
        ids.push_back(r.mId);
    }
    const QString time = RecordTime(day(3));
    const auto before = ConfigBefore(*store, "SH1", time, error);
    ASSERT_TRUE(before) << error.toStdString();
    EXPECT_EQ(before->mRecordId, ids[0]);
    EXPECT_EQ(before->mConfig.mSensor.mCalInterval, 30u * 86400);
    EXPECT_EQ(ConfigBefore(*store, "SH1", RecordTime(day(5)), error)->mRecordId, ids[3]);
    EXPECT_FALSE(ConfigBefore(*store, "SH9", time, error));

    // The backup before the config; a record that keeps none names why.
    EXPECT_EQ(KeptConfigOf(*store, ids[3], error)->mConfig.mSensor.mAlarmHigh, 333);
    EXPECT_EQ(KeptConfigOf(*store, ids[1], error)->mSerial, "SH2");
    EXPECT_FALSE(KeptConfigOf(*store, ids[2], error));
    EXPECT_TRUE(error.contains("keeps no configuration"));
    EXPECT_FALSE(KeptConfigOf(*store, 999, error));

    // A write that read nothing first: the record it names.
    RServiceRecord write = MakeRecord({.mSerial = "SH1", .mJob = "write", .mTime = day(6), .mConfig = false});
    write.mData.insert("config_before", KeptConfigRef(*before));
    ASSERT_EQ(store->Append(write, error), EAppend::kAdded);
    const auto viaWrite = KeptConfigOf(*store, write.mId, error);
    ASSERT_TRUE(viaWrite) << error.toStdString();
    EXPECT_EQ(viaWrite->mRecordId, ids[0]);
}
