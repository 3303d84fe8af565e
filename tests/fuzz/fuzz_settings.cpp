// The settings reader: arbitrary OPTAVO.INI text through TProfile and
// LoadSettings (with a per-user store in a scratch file), and arbitrary
// sensor lines through ParseSensorLine.
//
// Input: a flags byte, then the settings text. With flag 1 the text ends at
// the first zero byte and what follows gives remembered values (image file,
// a save folder, a span gas name), written into the store before loading.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/profile.h"
#include "app/session.h"
#include "app/settings.h"
#include "app/user_store.h"
#include "fuzz_util.h"
#include "model/settings_types.h"

namespace {

void CheckSensor(const RSensorType &s)
{
    FUZZ_CHECK(static_cast<double>(s.mMin) < static_cast<double>(s.mMax) - 0.1);
    FUZZ_CHECK(s.mSpec.size() == 2);
}

bool In(unsigned v, unsigned lo, unsigned hi) { return v >= lo && v <= hi; }

void CheckDeveloperValues(const RDeviceCFG &c)
{
    FUZZ_CHECK(In(c.mConnectTime, 500, 60000) && In(c.mAVOperate, 100, 5000));
    FUZZ_CHECK(In(c.mUnitPacketSize, 1, 128) && In(c.mUnitDataSize, 1, 256) && In(c.mUnitSensorDataSize, 1, 256));
    FUZZ_CHECK(In(c.mUnitWriteUserStart, 1, 256) && In(c.mUnitWriteUserSize, 0, 128));
    FUZZ_CHECK(In(c.mUnitWriteFactoryStart, 1, 256) && In(c.mUnitWriteFactorySize, 0, 128));
    FUZZ_CHECK(In(c.mSensorWriteUserStart, 1, 256) && In(c.mSensorWriteUserSize, 0, 128));
    FUZZ_CHECK(In(c.mSensorWriteFactoryStart, 1, 256) && In(c.mSensorWriteFactorySize, 0, 128));
    FUZZ_CHECK(In(c.mEEPROMPacketSize, 1, 128) && In(c.mEEPROMMaxAddress, 1, 32768));
    FUZZ_CHECK(c.mEEPROMReadAddress <= c.mEEPROMMaxAddress);
    FUZZ_CHECK(In(c.mFALSHPacketSize, 1, 256) && In(c.mFLASHMaxAddress, 1, 256));
    FUZZ_CHECK(In(c.mFLASHDownloadRetry, 1, 5) && In(c.mFLASHRetry, 1, 10));
    FUZZ_CHECK(In(c.mEVENTReadPacketSize, 1, 128) && In(c.mEVENTPacketSize, 1, 128));
    FUZZ_CHECK(In(c.mLogInterval, 1, 600) && In(c.mLogDisplayTime, 100u * c.mLogInterval, 60000));
    FUZZ_CHECK(In(c.mLogConnectTime, 500, 1500) && In(c.mCalTime, 30, 300) && In(c.mCalCheckTime, 1, 30));
}

std::string_view NextPart(std::string_view &rest)
{
    const size_t z = rest.find('\0');
    const std::string_view part = rest.substr(0, z);
    rest = z == std::string_view::npos ? std::string_view() : rest.substr(z + 1);
    return part;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzHeapTick();
    // An empty store for most runs; runs that remember values get a new one,
    // so the store never grows from run to run.
    static TScratchFile emptyFile("store");
    static TScratchFile storeFile("store-run");
    static unsigned serial = 0;

    TFuzzInput in(data, size);
    const uint8_t flags = in.Byte();
    std::string_view rest(reinterpret_cast<const char *>(in.Rest()), in.Left());
    std::string_view text = rest;
    std::unique_ptr<TUserStore> runStore;
    const std::string runPath = storeFile.Path() + "." + std::to_string(serial++);
    if (flags & 1) {
        text = NextPart(rest);
        const std::string image(NextPart(rest));
        const std::string folder(NextPart(rest));
        const std::string gas(NextPart(rest));
        ::unlink(runPath.c_str());
        runStore = std::make_unique<TUserStore>(runPath);
        runStore->SetImageFile(image);
        runStore->SetSaveDirectory(TStoreGroup::EVENT, folder);
        if (!gas.empty()) {
            runStore->SetSpanGas(gas, flags);
            // Whatever the name, the value comes back under it.
            FUZZ_CHECK(runStore->SpanGas(gas) == flags);
        }
    }

    const TProfile ini(text);
    // The same text read from a file gives the same profile.
    {
        static TScratchFile iniFile("ini");
        WriteScratch(iniFile.Path(), text.data(), text.size());
        TProfile fromFile;
        FUZZ_CHECK(fromFile.LoadFile(iniFile.Path()));
        for (const char *section : {"SENSOR", "Environment", "ETC"}) {
            const auto a = ini.ReadSectionLines(section), b = fromFile.ReadSectionLines(section);
            FUZZ_CHECK(a.size() == b.size());
            for (size_t i = 0; i < a.size(); ++i)
                FUZZ_CHECK(a[i].mKey == b[i].mKey && a[i].mValue == b[i].mValue);
        }
        FUZZ_CHECK(fromFile.ReadString("Environment", "ModeEntry", "USER") ==
                   ini.ReadString("Environment", "ModeEntry", "USER"));
    }
    TSession session(runStore ? runPath : emptyFile.Path());
    LoadSettings(session, ini);
    FUZZ_SAY("LoadSettings: %s layout, %zu sensor types, connect %u ms\n", session.UserMode ? "user" : "developer",
             session.SensorTypes.size(), session.DeviceCFG.mConnectTime);
    FUZZ_CHECK(!session.SensorTypes.empty());
    for (const RSensorType &s : session.SensorTypes)
        CheckSensor(s);
    const std::vector<TProfile::RLine> lines = ini.ReadSectionLines("SENSOR");
    FUZZ_CHECK(lines.empty() ? session.SensorTypes.size() == 3 : session.SensorTypes.size() == lines.size());
    if (!session.UserMode)
        CheckDeveloperValues(session.DeviceCFG);
    if (!session.DeviceCFG.mFLASHSaveDir.empty())
        FUZZ_CHECK(session.DeviceCFG.mFLASHFile.rfind(session.DeviceCFG.mFLASHSaveDir, 0) == 0);

    // The whole text as one sensor line, split at its first "=".
    const size_t eq = text.find('=');
    const std::string key(text.substr(0, eq));
    const std::string value(eq == std::string_view::npos ? std::string_view() : text.substr(eq + 1));
    CheckSensor(ParseSensorLine(key, value));
    if (runStore) {
        runStore.reset();
        ::unlink(runPath.c_str());
    }
    return 0;
}
