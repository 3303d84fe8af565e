// Settings file reading, LoadSettings and the per-user store, each test with
// its own temp folder and store file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "app/profile.h"
#include "app/settings.h"
#include "app/user_store.h"
#include "model/settings_types.h"
#include "support/test_session.h"

namespace fs = std::filesystem;

namespace {

void WriteFile(const fs::path &p, const std::string &text) { std::ofstream(p, std::ios::binary) << text; }

class SettingsTest : public ::testing::Test, protected TTestSession {
protected:
    // LoadSettings on the given file text and this test's store, as a new
    // run finds the store.
    void Load(const std::string &ini)
    {
        session.UseStoreFile(storeFile);
        LoadSettings(session, TProfile(ini));
    }
    static std::string Dev(const std::string &more) { return "[Environment]\nModeEntry=QWZ_ENG__\n" + more; }

    const std::string storeFile = Path("store.conf");
};

} // namespace

TEST(ProfileTest, ProfileSemantics)
{
    const TProfile ini("stray=1\r\n"
                       "[Main]\r\n"
                       "  Key  =  spaced value  \r\n"
                       "key=second\r\n"
                       "; Comment=1\r\n"
                       "Quoted=\"  in quotes  \"\r\n"
                       "Half=\"open\r\n"
                       "NoEquals\r\n"
                       "Empty=\r\n"
                       "Eq=a=b\n"
                       "[ other ]\n"
                       "x=1\n"
                       "[MAIN]\n"
                       "Late=1\n");
    struct Case {
        const char *section, *key;
        std::string expected;
    } cases[] = {
        {"Main", "Key", "spaced value"}, // trimmed
        {"main", "KEY", "spaced value"}, // any letter case; the first key wins
        {"Main", "Quoted", "  in quotes  "},
        {"Main", "Half", "\"open"},
        {"Main", "Empty", ""},
        {"Main", "Eq", "a=b"},
        {"Main", "Comment", "<def>"},
        {"Main", "Late", "<def>"},     // a second section of the same name is not read
        {"Main", "stray", "<def>"},    // lines before the first section belong to none
        {"OTHER", "x", "1"},
        {"Missing", "x", "<def>"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        EXPECT_EQ(ini.ReadString(c.section, c.key, "<def>"), c.expected);
    }
    const auto lines = ini.ReadSectionLines("MAIN");
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0].mKey, "Key");
    EXPECT_EQ(lines[1].mValue, "second"); // every line keeps its own value
    EXPECT_EQ(lines[4].mKey, "NoEquals");
    EXPECT_EQ(lines[4].mValue, "");
    EXPECT_TRUE(ini.ReadSectionLines("nothing").empty());
}

TEST(ProfileTest, ReadInteger)
{
    struct Case {
        const char *value;
        int expected;
    } cases[] = {
        {"-1", -1}, {"$10", 16}, {"0x1F", 31}, {"$FFFFFFFF", -1},
        {"1x", 99}, {"-", 99}, {"4294967296", 99}, {"2147483648", 99}, {"-2147483648", INT32_MIN},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        const TProfile ini(std::string("[s]\nk=") + c.value + "\n");
        EXPECT_EQ(ini.ReadInteger("s", "k", 99), c.expected);
    }
    EXPECT_EQ(TProfile("[s]\n").ReadInteger("s", "k", 99), 99);
}

TEST_F(SettingsTest, SettingsFileInAnyLetterCase)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows file names ignore letter case: optavo.ini and OPTAVO.INI are one file";
#endif
    session.AppDir = dir.string() + "/";
    EXPECT_EQ(SettingsFilePath(session.AppDir), session.AppDir + "OPTAVO.INI"); // none there
    WriteFile(dir / "optavo.ini", Dev("[ETC]\nLogEnable=1\n"));
    EXPECT_EQ(SettingsFilePath(session.AppDir), session.AppDir + "optavo.ini");
    LoadSettings(session);
    EXPECT_FALSE(session.UserMode);
    EXPECT_TRUE(session.DeviceCFG.mLogEnable);

    WriteFile(dir / "OPTAVO.INI", "[ETC]\nLogEnable=0\n"); // the exact name wins
    LoadSettings(session);
    EXPECT_TRUE(session.UserMode);
    EXPECT_FALSE(session.DeviceCFG.mLogEnable);
}

TEST_F(SettingsTest, MissingFileIsAnEmptyOne)
{
    session.DeviceCFG.mLogEnable = true;
    session.DeviceCFG.mConnectTime = 1;
    session.SensorTypes.clear();
    session.UserMode = false;
    LoadSettings(session, (dir / "none.ini").string());
    EXPECT_TRUE(session.UserMode);
    EXPECT_FALSE(session.DeviceCFG.mLogEnable);
    EXPECT_EQ(session.DeviceCFG.mConnectTime, 3000);
    ASSERT_EQ(session.SensorTypes.size(), 3u);
    EXPECT_EQ(session.SensorTypes[2].mName, "O2");
}

TEST_F(SettingsTest, ModeEntry)
{
    struct Case {
        std::string ini;
        bool userMode;
    } cases[] = {
        {"[Environment]\nModeEntry=QWZ_ENG__\n", false},
        {"[environment]\nmodeentry = QWZ_ENG__ \n", false}, // names in any case, value trimmed
        {"[Environment]\nModeEntry=qwz_eng__\n", true},     // the code itself is case-sensitive
        {"[Environment]\nModeEntry=QWZ_ENG__X\n", true},
        {"[Environment]\nModeEntry=USER\n", true},
        {"[Environment]\n", true},
        {"", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.ini);
        Load(c.ini);
        EXPECT_EQ(session.UserMode, c.userMode);
    }
}

namespace {

// Every numeric field with its value in the user layout and the default of an
// empty settings file in the developer layout.
struct RField {
    const char *name;
    std::function<int(const RDeviceCFG &)> get;
    int user, fileDefault;
};

const std::vector<RField> &Fields()
{
    static const std::vector<RField> fields = {
        {"mConnectTime", [](const RDeviceCFG &c) { return c.mConnectTime; }, 3000, 3000},
        {"mAVOperate", [](const RDeviceCFG &c) { return c.mAVOperate; }, 1000, 1000},
        {"mUnitPacketSize", [](const RDeviceCFG &c) { return c.mUnitPacketSize; }, 32, 32},
        {"mUnitDataSize", [](const RDeviceCFG &c) { return c.mUnitDataSize; }, 64, 64},
        {"mUnitSensorDataSize", [](const RDeviceCFG &c) { return c.mUnitSensorDataSize; }, 64, 64},
        {"mUnitWriteUserStart", [](const RDeviceCFG &c) { return c.mUnitWriteUserStart; }, 1, 1},
        {"mUnitWriteUserSize", [](const RDeviceCFG &c) { return c.mUnitWriteUserSize; }, 8, 0},
        {"mUnitWriteFactoryStart", [](const RDeviceCFG &c) { return c.mUnitWriteFactoryStart; }, 17, 17},
        {"mUnitWriteFactorySize", [](const RDeviceCFG &c) { return c.mUnitWriteFactorySize; }, 0, 0},
        {"mSensorWriteUserStart", [](const RDeviceCFG &c) { return c.mSensorWriteUserStart; }, 65, 65},
        {"mSensorWriteUserSize", [](const RDeviceCFG &c) { return c.mSensorWriteUserSize; }, 10, 10},
        {"mSensorWriteFactoryStart", [](const RDeviceCFG &c) { return c.mSensorWriteFactoryStart; }, 86, 86},
        {"mSensorWriteFactorySize", [](const RDeviceCFG &c) { return c.mSensorWriteFactorySize; }, 0, 0},
        {"mEEPROMPacketSize", [](const RDeviceCFG &c) { return c.mEEPROMPacketSize; }, 32, 32},
        {"mEEPROMMaxAddress", [](const RDeviceCFG &c) { return c.mEEPROMMaxAddress; }, 1024, 1024},
        {"mEEPROMReadAddress", [](const RDeviceCFG &c) { return c.mEEPROMReadAddress; }, 0, 0},
        {"mFALSHPacketSize", [](const RDeviceCFG &c) { return c.mFALSHPacketSize; }, 128, 128},
        {"mFLASHMaxAddress", [](const RDeviceCFG &c) { return c.mFLASHMaxAddress; }, 128, 128},
        {"mFLASHDownloadRetry", [](const RDeviceCFG &c) { return c.mFLASHDownloadRetry; }, 3, 1},
        {"mFLASHRetry", [](const RDeviceCFG &c) { return c.mFLASHRetry; }, 3, 3},
        {"mEVENTReadPacketSize", [](const RDeviceCFG &c) { return c.mEVENTReadPacketSize; }, 32, 32},
        {"mEVENTPacketSize", [](const RDeviceCFG &c) { return c.mEVENTPacketSize; }, 9, 9},
        {"mLogInterval", [](const RDeviceCFG &c) { return c.mLogInterval; }, 1, 1},
        {"mLogDisplayTime", [](const RDeviceCFG &c) { return c.mLogDisplayTime; }, 120, 120},
        {"mLogConnectTime", [](const RDeviceCFG &c) { return c.mLogConnectTime; }, 800, 1000},
        {"mCalTime", [](const RDeviceCFG &c) { return c.mCalTime; }, 180, 180},
        {"mCalCheckTime", [](const RDeviceCFG &c) { return c.mCalCheckTime; }, 5, 5},
    };
    return fields;
}

// Every key of the developer layout set to a value that would change its field.
const std::string kEnvironmentKeys = "ConnectTime=10000\nAVOperate=200\n";
const std::string kOtherKeys = "[UNIT]\nPacketSize=16\nUnitDataSize=32\nSensorDataSize=32\nUnitWriteUserStart=2\n"
                        "UnitWriteUserSize=4\nUnitWriteFactoryStart=18\nUnitWriteFactorySize=4\n"
                        "SensorWriteUserStart=66\nSensorWriteUserSize=4\nSensorWriteFactoryStart=87\n"
                        "SensorWriteFactorySize=4\n"
                        "[EEPROM]\nPacketSize=16\nMaxAddress=2048\nReadStartAddress=16\n"
                        "[FLASH]\nPacketSize=64\nMaxAddress=64\nDownloadRetry=2\nRetry=5\n"
                        "[EVENT]\nReadPacketSize=16\nPacketSize=10\n"
                        "[Logging]\nInterval=2\nDisplayTime=400\nConnectTime=900\n"
                        "[Calibration]\nCalibrationTime=60\nCalibrationCheckTime=10\n";

} // namespace

TEST_F(SettingsTest, UserLayoutIgnoresTheNumericKeys)
{
    Load("[Environment]\nModeEntry=USER\n" + kEnvironmentKeys + kOtherKeys);
    ASSERT_TRUE(session.UserMode);
    for (const RField &f : Fields())
        EXPECT_EQ(f.get(session.DeviceCFG), f.user) << f.name;
}

TEST_F(SettingsTest, DeveloperLayoutDefaults)
{
    Load(Dev(""));
    ASSERT_FALSE(session.UserMode);
    for (const RField &f : Fields())
        EXPECT_EQ(f.get(session.DeviceCFG), f.fileDefault) << f.name;
}

TEST_F(SettingsTest, DeveloperLayoutReadsEveryKey)
{
    Load(Dev(kEnvironmentKeys + kOtherKeys));
    const int expected[] = {10000, 200, 16, 32, 32, 2, 4, 18, 4, 66, 4, 87, 4, 16, 2048, 16,
                            64, 64, 2, 5, 16, 10, 2, 400, 900, 60, 10};
    ASSERT_EQ(std::size(expected), Fields().size());
    for (size_t i = 0; i < Fields().size(); ++i)
        EXPECT_EQ(Fields()[i].get(session.DeviceCFG), expected[i]) << Fields()[i].name;
}

TEST_F(SettingsTest, DeveloperLayoutClamping)
{
    struct Case {
        std::string keys;
        const char *field;
        int expected;
    } cases[] = {
        {"ConnectTime=100\n", "mConnectTime", 500},
        {"ConnectTime=-1\n", "mConnectTime", 60000}, // low 16 bits: 65535
        {"ConnectTime=abc\n", "mConnectTime", 500},
        {"ConnectTime=70000\n", "mConnectTime", 4464},
        {"ConnectTime= 2500ms \n", "mConnectTime", 2500},
        {"ConnectTime=\n", "mConnectTime", 500}, // present but empty: not the default
        {"[FLASH]\nRetry=20\n", "mFLASHRetry", 10},
        {"[FLASH]\nDownloadRetry=0\n", "mFLASHDownloadRetry", 1},
        {"[UNIT]\nUnitWriteUserSize=129\n", "mUnitWriteUserSize", 128},
        {"[Logging]\nInterval=3\n", "mLogDisplayTime", 300},
        {"[Logging]\nInterval=3\nDisplayTime=250\n", "mLogDisplayTime", 300},
        {"[Logging]\nInterval=3\nDisplayTime=500\n", "mLogDisplayTime", 500},
        {"[Logging]\nInterval=600\n", "mLogDisplayTime", 60000},
        {"[Logging]\nInterval=0\n", "mLogInterval", 1},
        {"[Logging]\nConnectTime=2000\n", "mLogConnectTime", 1500},
        {"[EEPROM]\nMaxAddress=100\nReadStartAddress=500\n", "mEEPROMReadAddress", 100},
        {"[EEPROM]\nReadStartAddress=-1\n", "mEEPROMReadAddress", 1024},
        {"[EEPROM]\nMaxAddress=40000\n", "mEEPROMMaxAddress", 32768},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.keys);
        Load(Dev(c.keys));
        bool found = false;
        for (const RField &f : Fields())
            if (std::string(f.name) == c.field) {
                EXPECT_EQ(f.get(session.DeviceCFG), c.expected);
                found = true;
            }
        EXPECT_TRUE(found);
    }
}

TEST_F(SettingsTest, LogEnable)
{
    struct Case {
        const char *line;
        bool enabled;
    } cases[] = {
        {"LogEnable=1", true}, {"LogEnable=2", true},   {"LogEnable=-1", true}, {"logenable = 1 ", true},
        {"LogEnable=0", false}, {"LogEnable=yes", false}, {"LogEnable=true", false}, {"LogEnable=1x", false},
        {"LogEnable=", false}, {"Other=1", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        for (const bool developer : {false, true}) {
            const std::string etc = std::string("[ETC]\n") + c.line + "\n";
            Load(developer ? Dev(etc) : etc);
            EXPECT_EQ(session.DeviceCFG.mLogEnable, c.enabled);
        }
    }
}

TEST_F(SettingsTest, RecordsSection)
{
    const struct {
        const char *lines;
        int tolerance; // per mille
        const char *organisation;
    } cases[] = {
        {"", 100, ""},
        {"CalTolerance=5\nOrganisation= Gas Safety Ltd \nAddress=1 Mill Lane, Leeds\n", 50, "Gas Safety Ltd"},
        {"caltolerance = 7.5\n", 75, ""},
        {"CalTolerance=0\n", 100, ""},   // no tolerance at all: the default
        {"CalTolerance=51\n", 100, ""},  // a calibration 51 % off is no calibration
        {"CalTolerance=ten\n", 100, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.lines);
        for (const bool developer : {false, true}) {
            const std::string records = std::string("[RECORDS]\n") + c.lines;
            Load(developer ? Dev(records) : records);
            EXPECT_EQ(session.RecordsCFG.mCalTolerance, c.tolerance);
            EXPECT_EQ(session.RecordsCFG.mOrganisation, c.organisation);
        }
    }
    Load("[RECORDS]\nAddress=1 Mill Lane, Leeds\nbench =  Bench 3 \n");
    EXPECT_EQ(session.RecordsCFG.mAddress, "1 Mill Lane, Leeds");
    EXPECT_EQ(session.RecordsCFG.mBench, "Bench 3");
}

TEST(SensorLineTest, ParseAndRepair)
{
    struct Case {
        std::string key, value;
        RSensorType expected;
    } cases[] = {
        {"NH3", "9, ppm, N, 120, 50, 40", {"NH3", 9, "ppm", "SN", 120, 0.0f, 100.0f}},
        {"CO", "2,ppm,SC,180,0,0.05", {"CO", 2, "ppm", "SC", 180, 0.0f, 300.0f}},
        {"O2", "4,%,SO,60,5,5.1", {"O2", 4, "%", "SO", 60, 0.0f, 30.0f}}, // 5 is not below 5.1 - 0.1
        {"X", "", {"X", 0, "", "SS", 0, 0.0f, 100.0f}},
        {"Y", "300,ppm,ABC,70000,1.5,-2", {"Y", 44, "ppm", "AB", 4464, 0.0f, 100.0f}},
        {"Z", "1 ,ppm ,H", {"Z", 1, "ppm ", "SH", 0, 0.0f, 100.0f}},
        {"W", "1,ppm,SH,180,-5.5,12.25,extra,more", {"W", 1, "ppm", "SH", 180, -5.5f, 12.25f}},
        {"Huge", "5,ppm,SX,1,0," + std::string(60, '9'), {"Huge", 5, "ppm", "SX", 1, 0.0f, 3.4028235e38f}},
        {"Eq", "1,ppm=x,SH", {"Eq", 1, "ppm", "SS", 0, 0.0f, 100.0f}}, // the line is cut at its second "="
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.key);
        const RSensorType s = ParseSensorLine(c.key, c.value);
        EXPECT_EQ(s.mName, c.expected.mName);
        EXPECT_EQ(s.mIndex, c.expected.mIndex);
        EXPECT_EQ(s.mUnit, c.expected.mUnit);
        EXPECT_EQ(s.mSpec, c.expected.mSpec);
        EXPECT_EQ(s.mCalTime, c.expected.mCalTime);
        EXPECT_FLOAT_EQ(s.mMin, c.expected.mMin);
        EXPECT_FLOAT_EQ(s.mMax, c.expected.mMax);
    }
}

TEST_F(SettingsTest, SensorSection)
{
    Load("[SENSOR]\n");
    ASSERT_EQ(session.SensorTypes.size(), 3u); // an empty section gives the built-in table
    EXPECT_EQ(session.SensorTypes[0].mName, "H2S");

    Load("[sensor]\nNH3=9,ppm,N,120,0,50\n");
    ASSERT_EQ(session.SensorTypes.size(), 1u); // the built-in entries are not added
    EXPECT_EQ(session.SensorTypes[0].mName, "NH3");

    Load("[SENSOR]\nH2S=1,ppm,SH,180,0,100\n; old=1\nH2S-LOW=1,ppm,SH,180,0,50\nNoValue\n");
    ASSERT_EQ(session.SensorTypes.size(), 3u);
    EXPECT_EQ(session.SensorTypes[1].mName, "H2S-LOW");
    EXPECT_FLOAT_EQ(session.SensorTypes[1].mMax, 50.0f);
    EXPECT_EQ(session.SensorTypes[2].mName, "NoValue");
    EXPECT_EQ(session.SensorTypes[2].mIndex, 0);
    for (const RSensorType &s : session.SensorTypes)
        EXPECT_LT(s.mMin, s.mMax - 0.1);
}

TEST_F(SettingsTest, RememberedFolders)
{
    const fs::path image = dir / "fw" / "norvik.img";
    fs::create_directories(image.parent_path());
    WriteFile(image, "x");
    {
        TUserStore store(storeFile);
        store.SetSaveDirectory(TStoreGroup::EEPROM, "  /data/eeprom  ");
        store.SetSaveDirectory(TStoreGroup::EVENT, "/data/event");
        store.SetSaveDirectory(TStoreGroup::Logging, "/data/log");
        store.SetSaveDirectory(TStoreGroup::CONFIGURE, "/data/cfg");
        store.SetImageFile(image.string());
    }
    Load("");
    EXPECT_EQ(session.DeviceCFG.mEEPROMSaveDir, "/data/eeprom"); // read trimmed
    EXPECT_EQ(session.DeviceCFG.mEVENTSaveDir, "/data/event");
    EXPECT_EQ(session.DeviceCFG.mLogSaveDir, "/data/log");
    EXPECT_EQ(session.DeviceCFG.mConfSaveDir, "/data/cfg");
    EXPECT_EQ(session.DeviceCFG.mFLASHFile, image.string());
    EXPECT_EQ(session.DeviceCFG.mFLASHSaveDir, (dir / "fw" / "").string());

    fs::remove(image); // a remembered image that is gone keeps its name only
    Load("");
    EXPECT_EQ(session.DeviceCFG.mFLASHFile, image.string());
    EXPECT_EQ(session.DeviceCFG.mFLASHSaveDir, "");

    TUserStore(storeFile).SetImageFile((dir / "fw").string()); // a folder is no image
    Load("");
    EXPECT_EQ(session.DeviceCFG.mFLASHSaveDir, "");

    fs::remove(storeFile); // nothing stored: all empty
    Load("");
    EXPECT_EQ(session.DeviceCFG.mEEPROMSaveDir, "");
    EXPECT_EQ(session.DeviceCFG.mFLASHFile, "");
    EXPECT_EQ(session.DeviceCFG.mFLASHSaveDir, "");
    EXPECT_EQ(session.DeviceCFG.mConfSaveDir, "");
}

TEST_F(SettingsTest, UserStoreValues)
{
    {
        TUserStore store(storeFile);
        EXPECT_EQ(store.SpanGas("H2S"), std::nullopt);
        store.SetSpanGas("H2S", 250);
        store.SetSpanGas("CO/H2", 1000); // a name that would open a sub-group
        store.SetSpanGas("CO", 500);
        store.SetWindowPlacement({640, 800, 10, 20});
        store.WriteText(TStoreGroup::SENSORCAL, "O2", "not a number");
    }
    TUserStore store(storeFile); // a later run sees every value
    EXPECT_EQ(store.SpanGas("H2S"), 250);
    EXPECT_EQ(store.SpanGas("CO/H2"), 1000);
    EXPECT_EQ(store.SpanGas("CO"), 500);
    EXPECT_EQ(store.SpanGas("O2"), std::nullopt);
    EXPECT_EQ(store.SpanGas(""), std::nullopt);
    const RWindowPlacement p = store.WindowPlacement();
    EXPECT_EQ(p.mWidth, 640);
    EXPECT_EQ(p.mHeight, 800);
    EXPECT_EQ(p.mLeft, 10);
    EXPECT_EQ(p.mTop, 20);
    EXPECT_EQ(store.ReadText(TStoreGroup::FLASH, "ImageFile"), "");

    TUserStore fresh((dir / "fresh.conf").string());
    const RWindowPlacement d = fresh.WindowPlacement();
    EXPECT_EQ(d.mWidth, 500);
    EXPECT_EQ(d.mHeight, 760);
    EXPECT_EQ(d.mLeft, 0);
    EXPECT_EQ(d.mTop, 0);
    fresh.WriteInteger(TStoreGroup::WINDOW, "WIDTH", 700);
    EXPECT_EQ(fresh.WindowPlacement().mWidth, 700);
    EXPECT_EQ(fresh.WindowPlacement().mHeight, 760);

    // The groups keep the names a later reader expects.
    std::ifstream in(storeFile);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("[SENSORCAL]"), std::string::npos);
    EXPECT_NE(text.find("[WINDOW]"), std::string::npos);
    EXPECT_NE(text.find("WIDTH=640"), std::string::npos);
}

TEST(UserStoreTest, CurrentUsersStoreIsNamedByOrganisationAndApplication)
{
    const TUserStore store;
    const std::string name = store.FileName();
#ifdef _WIN32
    // The user's own registry key.
    EXPECT_EQ(name, "\\HKEY_CURRENT_USER\\Software\\IR\\Norvik");
#else
    EXPECT_EQ(name.substr(name.size() - std::string("/IR/Norvik.conf").size()), "/IR/Norvik.conf");
#endif
}

TEST_F(SettingsTest, BadFilesLoadWithTheDefaults)
{
    std::string garbage;
    for (int i = 0; i < 4096; ++i)
        garbage += static_cast<char>((i * 131 + 7) & 0xFF);
    Load(garbage);
    EXPECT_TRUE(session.UserMode);
    EXPECT_EQ(session.DeviceCFG.mConnectTime, 3000);
    EXPECT_EQ(session.SensorTypes.size(), 3u);

    // A very long line, and a value far longer than any number.
    Load(Dev("[UNIT]\nPacketSize=" + std::string(200000, '9') + "\n" + std::string(100000, 'x') + "\n"));
    EXPECT_FALSE(session.UserMode);
    EXPECT_EQ(session.DeviceCFG.mUnitPacketSize, 128);

    // Thousands of sensor lines: each one an entry, each repaired.
    std::string many = "[SENSOR]\n";
    for (int i = 0; i < 5000; ++i)
        many += "G" + std::to_string(i) + "=" + std::to_string(i % 256) + ",ppm,X,60,5,1\n";
    Load(many);
    ASSERT_EQ(session.SensorTypes.size(), 5000u);
    for (const RSensorType &t : session.SensorTypes)
        ASSERT_LT(t.mMin, t.mMax - 0.1f) << t.mName;

    // Sections with nothing usable in them.
    Load("[Environment]\n[SENSOR]\n[ETC]\nLogEnable=\n");
    EXPECT_TRUE(session.UserMode);
    EXPECT_FALSE(session.DeviceCFG.mLogEnable);
}

TEST_F(SettingsTest, SettingsFileThatCannotBeUsedIsNotReadAndSaysSo)
{
#ifdef _WIN32
    GTEST_SKIP() << "a FIFO, a link to /dev/zero and a sparse file by truncate are POSIX's";
#else
    const std::string dev = Dev("ConnectTime=1234\n");
    const auto padded = [&](size_t size) { return dev + "; " + std::string(size - dev.size() - 3, 'x') + "\n"; };
    const fs::path fifo = dir / "fifo.ini";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", dir / "zero.ini");
    WriteFile(dir / "max.ini", padded(1024 * 1024));
    WriteFile(dir / "over.ini", padded(1024 * 1024 + 1));
    std::ofstream(dir / "huge.ini").close();
    ASSERT_EQ(::truncate((dir / "huge.ini").c_str(), 3LL << 30), 0); // 3 GiB, sparse
    fs::create_directory(dir / "folder.ini");

    const std::string notRegular = "It is not a regular file.";
    const std::string tooLarge = "It is larger than 1 MiB, far more than any settings file.";
    const struct {
        const char *name;
        std::string reason; // empty: read
        bool userMode;
    } rows[] = {
        {"max.ini", {}, false},          // exactly 1 MiB is still read
        {"over.ini", tooLarge, true},    // one byte more is not
        {"huge.ini", tooLarge, true},
        {"fifo.ini", notRegular, true},  // would wait for a writer
        {"zero.ini", notRegular, true},  // would never end
        {"folder.ini", notRegular, true},
        {"none.ini", {}, true},          // missing: an empty file, nothing to say
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        session.UserMode = !r.userMode;
        session.DeviceCFG.mConnectTime = 1;
        const std::string path = (dir / r.name).string();
        const std::string warning = LoadSettings(session, path);
        EXPECT_EQ(session.UserMode, r.userMode);
        EXPECT_EQ(session.DeviceCFG.mConnectTime, r.userMode ? 3000 : 1234);
        if (r.reason.empty())
            EXPECT_EQ(warning, "");
        else
            EXPECT_EQ(warning, "The settings file " + path + " was not read.\r" + r.reason +
                                   "\rThe program uses the settings of the user layout.");
    }

    // Found by name in the program folder, it is refused the same way.
    fs::rename(fifo, dir / "optavo.ini");
    session.AppDir = dir.string() + "/";
    session.UserMode = false;
    EXPECT_NE(LoadSettings(session).find(notRegular), std::string::npos);
    EXPECT_TRUE(session.UserMode);
#endif
}
