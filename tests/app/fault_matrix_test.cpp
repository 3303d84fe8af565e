// Every device job against every fault of the simulated detector, from one
// table: the status the job ends with and what the user is shown, that the
// caller is usable again afterwards (port closed, no running flags left, a
// second run against a healthy detector succeeds), that the detector's
// memories changed only as the job meant them to, and that a good file at the
// target path survives a failed download.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "app/device_actions.h"
#include "app/eeprom_job.h"
#include "app/event_log_job.h"
#include "app/firmware_job.h"
#include "link/tamsel_comms.h"
#include "model/config_form.h"
#include "sim/sim_detector.h"
#include "support/fake_screen.h"
#include "support/test_session.h"
#include "tools/sensor_cal.h"
#include "tools/sensor_logger.h"
#include "app/clock.h"

namespace {

// ---------------------------------------------------------------- the columns

enum EFault : int {
    kHealthy,     // no fault
    kAbsent,      // never answers
    kWakesLate,   // answers a later wake-up frame, well within the connect time
    kWakesTooLate,// answers only after the connect time
    kNak,         // the job's key request is refused (B6), every time
    kNakOnce,     // ... once
    kCorrupt,     // the key request takes effect, its reply fails the CRC
    kDrop,        // the key request takes effect, no reply
    kError,       // the key request is answered with an error code (177)
    kSplit,       // every reply arrives in three pieces
    kStray,       // noise before the reply to the key request
    kVanish,      // the device goes away in the middle of the job
    kGoneWaking,  // ... while the program is still waking it
    kUnplugged,   // ... before the job: its port cannot be opened
    kFaultCount
};
const char *const kFaultNames[kFaultCount] = {"Healthy", "Absent", "WakesLate", "WakesTooLate", "Nak", "NakOnce",
                                              "Corrupt", "Drop", "Error", "Split", "Stray", "Vanish",
                                              "GoneWhileWaking", "Unplugged"};

// ---------------------------------------------------------------- the rows

enum EJob : int {
    kReadDevice,
    kWriteDevice,
    kHibernate,
    kLogReset,
    kTurnOff,
    kCalibration,
    kActuator,
    kPeakBump,
    kFactoryReset,
    kIdentify,
    kEventLog,
    kEepromRead,
    kFirmware,
    kSensorLogger,
    kSensorCal,
    kJobCount
};

// How a job reports to the user.
enum class EReport {
    kFramed,  // busy text, then "<prefix>... <suffix>" and, on failure, one box captioned with the prefix
    kSilent,  // nothing at all (the actuator tests)
    kLogger,  // the logger's own boxes; readings in its view
    kCal,     // the calibration tool's boxes and status lines
};

struct RJob {
    const char *mName;
    EReport mReport;
    const char *mBusy;   // the first busy text (framed jobs)
    const char *mPrefix; // the prefix of the final result (framed jobs)
    uint8_t mKey;        // the request the faults hit (kSimDataFrame: the frames without opcode)
    const char *mVanishLine; // the device goes away once this traffic line has been reported ...
    int mVanishAt;           // ... for the n-th time
};

const RJob kJobs[kJobCount] = {
    {"ReadDevice", EReport::kFramed, "Read Norvik Information...", "Read Norvik Information", 0x50, "[SEND] 81", 2},
    {"WriteDevice", EReport::kFramed, "Write Norvik Information...", "Write Norvik Information", 0x91, "[SEND] 70", 1},
    {"Hibernate", EReport::kFramed, "Read Norvik Information...", "Hibernate", 0x17, "[CHECK TIME]", 2},
    {"LogReset", EReport::kFramed, "Event Log Reset...", "Event Log Reset", 0x13, "[SEND] A0", 1},
    {"TurnOff", EReport::kFramed, "Power Down...", "Power Down", 0x14, "[SEND] A0", 1},
    {"Calibration", EReport::kFramed, "Calibration...", "Calibration", 0x42, "[SEND] A0", 1},
    {"ActuatorBeep", EReport::kSilent, "", "", 0x30, "[CHECK TIME]", 1},
    {"ClearPeak", EReport::kFramed, "Clear Peak...", "Clear Peak", 0x44, "[CHECK TIME]", 1},
    {"FactoryReset", EReport::kFramed, "Fatory Reset...", "Fatory Reset", 0x12, "[CHECK TIME]", 1},
    {"Identify", EReport::kFramed, "Load Identify...", "Load Identify", 0xA0, "[CHECK TIME]", 1},
    {"SaveEventLog", EReport::kFramed, "Load Event Log...", "Load Event Log", 0xA1, "[SEND] 60", 1},
    {"EepromRead", EReport::kFramed, "Read EEPROM data...", "Read EEPROM data", 0x70, "[SEND] 81", 1},
    {"Firmware", EReport::kFramed, "Check Program...", "Download Image", kSimDataFrame, "[SEND] 10", 1},
    {"SensorLogger", EReport::kLogger, "", "", 0x20, "[SEND] 20", 1},
    {"SensorCal", EReport::kCal, "", "", 0x42, "[SEND] 42", 1},
};

// ---------------------------------------------------------------- the cells

// What became of the detector's memories (configuration, event log,
// identity, power, firmware blocks) compared with what the job means to do
// when it succeeds.
enum class EEffect {
    kNothing, // all as before
    kAll,     // exactly the job's whole change
    kPart,    // every byte either as before or as meant; firmware blocks a prefix of the image, never executed
};
constexpr EEffect N = EEffect::kNothing;
constexpr EEffect F = EEffect::kAll;
constexpr EEffect P = EEffect::kPart;

// What the user is shown where a job does not report in its usual way.
// Framed jobs: the prefix of the result when the job fails in an earlier phase.
constexpr const char *kReadPhase = "Read Norvik Information"; // Hibernate's read
constexpr const char *kCheckPhase = "Check Program";          // the upgrade's detector check
constexpr const char *kPortError = "port error";              // the error box of a port that cannot be opened
// The logger (nullptr: readings are shown, no box).
constexpr const char *kNoReadings = "no readings";
constexpr const char *kUnitBox = "unit box";
constexpr const char *kBeamportBox = "beamport box";
// The calibration tool (nullptr: "Calibration ... OK", no box).
constexpr const char *kPrepareBox = "prepare box";
constexpr const char *kStartBox = "start box";
constexpr const char *kZeroFailLine = "zero fail line";

struct RCell {
    uint8_t mStatus;               // the status the job ends with
    EEffect mEffect;
    const char *mShown = nullptr;  // see above; nullptr: the job's usual report of mStatus
};

// The matrix. Statuses: 160 no wake-up answer, 161 the port failed during an
// exchange (with kPortError: the port could not be opened at all and the job
// was aborted with the port's error box), 162 no reply, 176 NAK, 177 error
// reply, 178 CRC error; 193, 194, 195 the remapped refusals of power-down,
// calibration and hibernate. Stray bytes in front of a reply are taken as its
// first bytes, so the reply fails its CRC (178). A corrupted or dropped reply
// comes after the request took effect: the detector may have done what the
// program reports as failed. The logger rides out every detector fault by
// reconnecting; only a failing port stops it.
const RCell kMatrix[kJobCount][kFaultCount] = {
    //                healthy  absent                 late    too late               NAK       NAK once  corrupt   drop      error     split   stray     vanish    gone waking            unplugged
    /* ReadDevice  */ {{0, F}, {160, N},              {0, F}, {160, N},              {176, N}, {0, F},   {178, N}, {162, N}, {177, N}, {0, F}, {178, N}, {161, N}, {161, N},              {161, N, kPortError}},
    /* WriteDevice */ {{0, F}, {160, N},              {0, F}, {160, N},              {176, N}, {0, F},   {178, N}, {162, N}, {177, N}, {0, F}, {178, N}, {161, P}, {161, N},              {161, N, kPortError}},
    /* Hibernate   */ {{0, F}, {160, N, kReadPhase},  {0, F}, {160, N, kReadPhase},  {176, N}, {176, N}, {178, F}, {162, F}, {195, N}, {0, F}, {178, F}, {161, N}, {161, N, kReadPhase},  {161, N, kPortError}},
    /* LogReset    */ {{0, F}, {160, N},              {0, F}, {160, N},              {176, N}, {176, N}, {178, F}, {162, F}, {177, N}, {0, F}, {178, F}, {161, N}, {161, N},              {161, N, kPortError}},
    /* TurnOff     */ {{0, F}, {160, N},              {0, F}, {160, N},              {176, N}, {176, N}, {178, F}, {162, F}, {193, N}, {0, F}, {178, F}, {161, N}, {161, N},              {161, N, kPortError}},
    /* Calibration */ {{0, F}, {160, N},              {0, F}, {160, N},              {176, N}, {176, N}, {178, F}, {162, F}, {194, N}, {0, F}, {178, F}, {161, N}, {161, N},              {161, N, kPortError}},
    /* Actuator    */ {{0, F}, {160, N},              {0, F}, {160, N},              {176, N}, {176, N}, {178, F}, {162, F}, {177, N}, {0, F}, {178, F}, {161, N}, {161, N},              {161, N, kPortError}},
    /* ClearPeak   */ {{0, F}, {160, N},              {0, F}, {160, N},              {176, N}, {176, N}, {178, F}, {162, F}, {177, N}, {0, F}, {178, F}, {161, N}, {161, N},              {161, N, kPortError}},
    /* FactoryRes. */ {{0, F}, {160, N},              {0, F}, {160, N},              {176, N}, {176, N}, {178, F}, {162, F}, {177, N}, {0, F}, {178, F}, {161, N}, {161, N},              {161, N, kPortError}},
    /* Identify    */ {{0, F}, {160, N},              {0, F}, {160, N},              {176, N}, {176, N}, {178, N}, {162, N}, {177, N}, {0, F}, {178, N}, {161, N}, {161, N},              {161, N, kPortError}},
    /* EventLog    */ {{0, F}, {160, N},              {0, F}, {160, N},              {176, N}, {176, N}, {178, N}, {162, N}, {177, N}, {0, F}, {178, N}, {161, N}, {161, N},              {161, N, kPortError}},
    /* EepromRead  */ {{0, F}, {160, N},              {0, F}, {160, N},              {176, N}, {176, N}, {178, N}, {162, N}, {177, N}, {0, F}, {178, N}, {161, N}, {161, N},              {161, N, kPortError}},
    /* Firmware    */ {{0, F}, {160, N, kCheckPhase}, {0, F}, {160, N, kCheckPhase}, {176, N}, {0, F},   {178, P}, {162, P}, {177, N}, {0, F}, {178, P}, {161, P, kPortError}, {161, N, kCheckPhase}, {161, N, kPortError}},
    /* Logger      */ {{0, F}, {160, N, kUnitBox},    {0, F}, {160, N, kUnitBox},
                       {0, N, kNoReadings}, {0, F}, {0, N, kNoReadings}, {0, N, kNoReadings}, {0, N, kNoReadings},
                       {0, F}, {0, N, kNoReadings}, {161, N, kBeamportBox}, {161, N, kUnitBox}, {161, N, kPortError}},
    /* SensorCal   */ {{0, F}, {160, N, kPrepareBox}, {0, F}, {160, N, kPrepareBox},
                       {176, F, kStartBox}, {176, F, kStartBox}, {178, F, kStartBox}, {162, F, kStartBox}, {177, F, kZeroFailLine},
                       {0, F}, {178, F, kStartBox}, {161, F, kPortError}, {161, N, kPrepareBox}, {161, N, kPortError}},
};

// What the status table shows for the statuses of the matrix.
struct RUserText {
    uint8_t mStatus;
    const char *mSuffix;
    const char *mMessage;
};
const RUserText kUserTexts[] = {
    {0, "... OK", ""},
    {160, "... Norvik Dis-Connect", "Norvik connect error\rCheck Beamport and Norvik connection"},
    {161, "... Beamport Connection ERROR", "Beamport connection error\rCheck Beamport connection"},
    {162, "... FAIL", "Norvik comunication error - no response"},
    {176, "... FAIL", "Norvik comunication error - negative response"},
    {177, "... FAIL", "Norvik comunication error"},
    {178, "... FAIL", "Norvik comunication error - CRC error"},
    {193, "... FAIL", "Must calibration before POWER OFF"},
    {194, "... FAIL", "Zero calibration failed"},
    {195, "... FAIL", "Hibernation is not allowed"},
};

const RUserText &UserText(uint8_t status)
{
    for (const RUserText &t : kUserTexts)
        if (t.mStatus == status)
            return t;
    ADD_FAILURE() << "no text for status " << int(status);
    return kUserTexts[0];
}

// ---------------------------------------------------------------- fixed settings of every cell

constexpr int kWakeFramesInTime = 25;        // about 30 ms of wake-up frames
constexpr int kWakeFramesTooMany = 1000000;  // far beyond any connect time
constexpr uint16_t kConnectTimeMs = 400;
constexpr uint16_t kFirmwarePackets = 8;
constexpr uint16_t kFirmwarePacketSize = 128;
constexpr uint8_t kImageVersion = 15; // the detector runs 1.4
constexpr double kSpanEntry = 30.0;   // the detector holds 25.0
constexpr uint16_t kSpanTenths = 300;
constexpr double kLoggerSeconds = 4;
const std::string kGoodFile = "a good file from an earlier run\r\n";

class TFakeClock : public IClock {
public:
    TDateTime FNow = 45000.5;
    TDateTime Now() override { return FNow; }
    void SleepUntil(TDateTime t) override
    {
        if (t > FNow && t < FNow + 1.0)
            FNow = t;
    }
};

class TCountingLogView : public ISensorLogView {
public:
    void LogStateChanged(bool) override {}
    void CommandButtonsEnabled(bool) override {}
    void CalLabelChanged(const std::string &, RColor) override {}
    void CalProgressChanged(int, int) override {}
    void CalProgLabelChanged(const std::string &) override {}
    void ReadingShown(const RSensorLogDisplay &) override { ++readings; }
    void ChartReset(double, double, double) override {}
    void ChartAdded(const RChartPoint &) override {}
    void ChartMoved(double, double, const std::vector<RChartPoint> &) override {}
    int readings = 0;
};

class TLineCalView : public ISensorCalView {
public:
    void CaptionChanged(const std::string &) override {}
    void SpanRangeChanged(double, double) override {}
    void SpanValueChanged(double) override {}
    void UnitChanged(const std::string &) override {}
    void StatusLineChanged(int line, const std::string &text, RColor) override { lines[line] = text; }
    void RunningChanged(bool) override {}
    void CalProgressChanged(int, int) override {}
    std::string lines[3];
};

// The detector's memories.
struct RMemory {
    std::array<uint8_t, kSimConfigSize> mConfig{};
    std::vector<uint8_t> mLog;
    std::vector<uint8_t> mIdentity;
    bool mPoweredDown = false;
    std::vector<std::vector<uint8_t>> mBlocks;
    int mExecutes = 0;
};

// How a run ended.
struct ROutcome {
    uint8_t mStatus = 0;
    bool mAborted = false;
    int mReadings = 0; // logger
};

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

int CountLines(const std::string &text)
{
    int n = 0;
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2))
        ++n;
    return n;
}

using TParam = std::tuple<int, int>; // job, fault

class FaultMatrix : public ::testing::TestWithParam<TParam>, protected TTestSession {
protected:
    void SetUp() override
    {
        session.UseClock(clock);
        session.DeviceCFG.mConnectTime = kConnectTimeMs;
        session.DeviceCFG.mAVOperate = 50;
        session.DeviceCFG.mFLASHMaxAddress = kFirmwarePackets;
        session.DeviceCFG.mFALSHPacketSize = kFirmwarePacketSize;
        session.DeviceCFG.mFLASHRetry = 1;
        session.DeviceCFG.mFLASHDownloadRetry = 2;
        session.DeviceCFG.mEVENTSaveDir.clear();
        session.DeviceCFG.mEEPROMSaveDir.clear();
        session.DeviceCFG.mLogSaveDir.clear();

        screen.defaultAnswer = true; // Hibernate's question
        StartConfigView(state.FForm, state.FTamselCFG, session.SensorTypes);
        firmware = std::make_unique<TFirmwareUpgrade>(session, screen, state);
        logger = std::make_unique<TSensorLogger>(session, screen, logView);
        cal = std::make_unique<TSensorCalibration>(session, screen, calView);
    }

    void TearDown() override
    {
        link.OnTamselEvent = nullptr;
        link.ComClose();
        cal.reset();
        logger.reset();
        firmware.reset();
    }

    EJob Job() const { return static_cast<EJob>(std::get<0>(GetParam())); }
    EFault Fault() const { return static_cast<EFault>(std::get<1>(GetParam())); }
    const RJob &JobRow() const { return kJobs[Job()]; }

    // ---- the detector ----

    static SimOptions HealthyOptions()
    {
        SimOptions o;
        o.crc_on_write = SimCrcOnWrite::kMaintain;
        o.calibration_ms = 0; // a started calibration is over at the first poll
        return o;
    }

    SimOptions FaultOptions() const
    {
        SimOptions o = HealthyOptions();
        const uint8_t key = JobRow().mKey;
        switch (Fault()) {
        case kHealthy: break;
        case kAbsent: o.absent = true; break;
        case kWakesLate: o.wake_after = kWakeFramesInTime; break;
        case kWakesTooLate: o.wake_after = kWakeFramesTooMany; break;
        case kNak: o.SetFault(key, SimFault::kNak); break;
        case kNakOnce: o.SetFault(key, SimFault::kNak, 1); break;
        case kCorrupt: o.SetFault(key, SimFault::kCorrupt); break;
        case kDrop: o.SetFault(key, SimFault::kDrop); break;
        case kError: o.SetFault(key, SimFault::kError); break;
        case kSplit: o.split_pieces = 3; break;
        case kStray:
            o.stray_bytes = 2;
            o.stray_opcode = key;
            break;
        case kVanish: break;
        case kGoneWaking: o.absent = true; break; // the program keeps sending wake-up frames
        case kUnplugged: break;
        case kFaultCount: break;
        }
        return o;
    }

    // A detector that has been in service: hibernation allowed and alarm
    // levels that differ from the factory record.
    void SeedSim()
    {
        auto config = sim->Config();
        config[15] = kSuspendAllowed;
        config[kSimAlarmHighAddress] = 180;
        config[kSimAlarmLowAddress] = 110;
        SimSealBlock(config, kSimUnitBlock);
        SimSealBlock(config, kSimSensorBlock);
        sim->SetConfig(config);
    }

    // After the first run: the same detector without its fault, or a new one
    // with the same memories when the old one is gone or switched off.
    void Heal()
    {
        if (!FVanished && !sim->PoweredDown()) {
            sim->SetOptions(HealthyOptions());
            UsePort(sim->DevicePath());
            return;
        }
        const auto config = sim->Config();
        const SimIdentity identity = sim->Identity();
        const auto log = sim->EventLog();
        const auto eeprom = sim->Eeprom();
        sim.reset();
        StartSim(HealthyOptions());
        sim->SetConfig(config);
        sim->SetIdentity(identity);
        sim->SetEventLog(log);
        sim->SetEeprom(eeprom);
        FVanished = false;
    }

    RMemory Snapshot() const
    {
        RMemory m;
        m.mConfig = sim->Config();
        m.mLog = sim->EventLog();
        const SimIdentity id = sim->Identity();
        m.mIdentity.resize(sizeof id);
        std::memcpy(m.mIdentity.data(), &id, sizeof id);
        m.mPoweredDown = sim->PoweredDown();
        m.mBlocks = sim->FirmwareBlocks();
        m.mExecutes = sim->ExecuteCount();
        return m;
    }

    // A write of the record's bytes [address, address + size) as the
    // detector stores it: the CRC word of a block the write touches is
    // recomputed, unless the write brought that word itself.
    static void StoreRange(std::array<uint8_t, kSimConfigSize> &config, const uint8_t *record, int address, int size)
    {
        std::memcpy(config.data() + address, record + address, static_cast<size_t>(size));
        for (int block : {kSimUnitBlock, kSimSensorBlock}) {
            const int crcAt = block + kSimBlockCrcOffset;
            const bool touched = address < block + kSimBlockSize && address + size > block;
            const bool wroteCrc = address < crcAt + 2 && address + size > crcAt;
            if (touched && !wroteCrc)
                SimSealBlock(config, block);
        }
    }

    // The memories after a complete run of the job.
    RMemory Intended(const RMemory &before) const
    {
        RMemory m = before;
        switch (Job()) {
        case kWriteDevice: {
            const auto *record = reinterpret_cast<const uint8_t *>(&state.FTamselCFG);
            for (const auto &[start, size] : WriteRanges())
                StoreRange(m.mConfig, record, start - 1, size);
            break;
        }
        case kHibernate:
        case kLogReset: m.mLog = SimEmptyEventLog(); break;
        case kTurnOff: m.mPoweredDown = true; break;
        case kFactoryReset: m.mConfig = SimDefaultConfig(); break;
        case kFirmware:
            m.mBlocks = image;
            m.mExecutes = before.mExecutes + 1;
            m.mIdentity[offsetof(SimIdentity, mSW)] = kImageVersion;
            break;
        case kSensorCal: {
            const uint8_t span[2] = {static_cast<uint8_t>(kSpanTenths), static_cast<uint8_t>(kSpanTenths >> 8)};
            if (std::memcmp(&m.mConfig[kSpanGasAddress], span, 2) != 0) {
                uint8_t record[kSimConfigSize];
                std::memcpy(record, m.mConfig.data(), sizeof record);
                std::memcpy(record + kSpanGasAddress, span, 2);
                StoreRange(m.mConfig, record, kSpanGasAddress, kSpanGasSize);
            }
            break;
        }
        default: break;
        }
        return m;
    }

    std::vector<std::pair<int, int>> WriteRanges() const
    {
        const RDeviceCFG &cfg = session.DeviceCFG;
        std::vector<std::pair<int, int>> ranges;
        for (const auto &r : {std::pair<int, int>{cfg.mUnitWriteFactoryStart, cfg.mUnitWriteFactorySize},
                              {cfg.mUnitWriteUserStart, cfg.mUnitWriteUserSize},
                              {cfg.mSensorWriteFactoryStart, cfg.mSensorWriteFactorySize},
                              {cfg.mSensorWriteUserStart, cfg.mSensorWriteUserSize}})
            if (r.second > 0)
                ranges.push_back(r);
        return ranges;
    }

    void ExpectEffect(const RMemory &before, const RMemory &after, EEffect effect) const
    {
        const RMemory meant = Intended(before);
        switch (effect) {
        case EEffect::kNothing:
            EXPECT_EQ(after.mConfig, before.mConfig) << "configuration changed";
            EXPECT_EQ(after.mLog, before.mLog) << "event log changed";
            EXPECT_EQ(after.mIdentity, before.mIdentity) << "identity changed";
            EXPECT_EQ(after.mPoweredDown, before.mPoweredDown);
            EXPECT_EQ(after.mBlocks, before.mBlocks) << "firmware blocks changed";
            EXPECT_EQ(after.mExecutes, before.mExecutes) << "firmware executed";
            break;
        case EEffect::kAll:
            EXPECT_EQ(after.mConfig, meant.mConfig) << "configuration is not what the job meant";
            EXPECT_EQ(after.mLog, meant.mLog);
            EXPECT_EQ(after.mIdentity, meant.mIdentity);
            EXPECT_EQ(after.mPoweredDown, meant.mPoweredDown);
            EXPECT_EQ(after.mBlocks, meant.mBlocks);
            EXPECT_EQ(after.mExecutes, meant.mExecutes);
            break;
        case EEffect::kPart:
            for (int i = 0; i < kSimConfigSize; ++i)
                EXPECT_TRUE(after.mConfig[i] == before.mConfig[i] || after.mConfig[i] == meant.mConfig[i])
                    << "configuration byte " << i << " was written though the job never meant it";
            EXPECT_TRUE(after.mLog == before.mLog || after.mLog == meant.mLog);
            EXPECT_TRUE(after.mIdentity == before.mIdentity || after.mIdentity == meant.mIdentity);
            EXPECT_TRUE(after.mPoweredDown == before.mPoweredDown || after.mPoweredDown == meant.mPoweredDown);
            EXPECT_LE(after.mBlocks.size(), meant.mBlocks.size());
            for (size_t i = 0; i < after.mBlocks.size() && i < meant.mBlocks.size(); ++i)
                EXPECT_EQ(after.mBlocks[i], meant.mBlocks[i]) << "firmware block " << i << " is not packet " << i;
            EXPECT_EQ(after.mExecutes, before.mExecutes) << "a partly sent image was executed";
            break;
        }
    }

    // ---- the jobs ----

    void Prepare()
    {
        switch (Job()) {
        case kWriteDevice: {
            // The detector's serial number and zero count differ from the
            // record the user layout builds (the default record plus the
            // user's fields), so a write beyond the ranges would show.
            auto config = sim->Config();
            std::memcpy(&config[16], "NV00012345", 10);
            config[106] = 0xE7;
            config[107] = 0x03;
            SimSealBlock(config, kSimUnitBlock);
            SimSealBlock(config, kSimSensorBlock);
            sim->SetConfig(config);
            // The user's edits, inside the ranges.
            std::memcpy(&state.FTamselCFG, config.data(), sizeof state.FTamselCFG);
            StartConfigView(state.FForm, state.FTamselCFG, session.SensorTypes);
            state.FForm.mUserAlarmHigh.SetValue(22.5);
            state.FForm.mUserAlarmLow.SetValue(12.5);
            state.FForm.mUserUserId.SetText("FAULTS");
            state.FForm.mUserTestInterval.SetValue(12);
            break;
        }
        case kEventLog:
            WriteFile(Path("events.csv"), kGoodFile);
            break;
        case kEepromRead:
            WriteFile(Path("eeprom.csv"), kGoodFile);
            grid = MakeEEPROMGrid(session.DeviceCFG.mEEPROMMaxAddress);
            break;
        case kFirmware: {
            const auto bytes = SimMakeFirmwareImage(kFirmwarePackets, kFirmwarePacketSize, 2, kImageVersion, 5, 10, 1);
            WriteFile(Path("image.img"), std::string(bytes.begin(), bytes.end()));
            image.clear();
            for (int i = 0; i < kFirmwarePackets; ++i)
                image.emplace_back(bytes.begin() + i * kFirmwarePacketSize, bytes.begin() + (i + 1) * kFirmwarePacketSize);
            ASSERT_EQ(firmware->LoadUpgradeFile(Path("image.img"), true), 0);
            break;
        }
        case kSensorCal: {
            RTamselCFG cfg;
            const auto config = sim->Config();
            std::memcpy(&cfg, config.data(), sizeof cfg);
            ASSERT_TRUE(cal->Open(cfg));
            cal->SetSpanEntry(kSpanEntry);
            break;
        }
        default: break;
        }
    }

    ROutcome FromOp(const ROpResult &op) const { return {op.mStatus, op.mAborted, 0}; }

    ROutcome Run()
    {
        switch (Job()) {
        case kReadDevice: return FromOp(actions.ReadDevice());
        case kWriteDevice: return FromOp(actions.WriteDevice());
        case kHibernate: return FromOp(actions.Hibernate());
        case kLogReset: return FromOp(actions.LogReset());
        case kTurnOff: return FromOp(actions.TurnOff());
        case kCalibration: return FromOp(actions.Calibration());
        case kActuator: return FromOp(actions.ActuatorTest(1));
        case kPeakBump: return FromOp(actions.PeakBumpReport(1));
        case kFactoryReset: return FromOp(actions.FactoryReset());
        case kIdentify: return FromOp(actions.Identify());
        case kEventLog: {
            screen.saveFiles = {Path("events.csv")};
            return FromOp(SaveEventLogAction(session, screen, state).mOp);
        }
        case kEepromRead: {
            const ROpResult read = EEPROMReadAction(session, screen, grid);
            if (read.Ok()) {
                screen.saveFiles = {Path("eeprom.csv")};
                EXPECT_EQ(EEPROMSaveAction(session, screen, grid), EFileOutcome::Done);
            }
            return FromOp(read);
        }
        case kFirmware: return FromOp(firmware->Upgrade());
        case kSensorLogger: {
            logView.readings = 0;
            ROutcome o;
            if (logger->Start())
                logger->Run(AddSeconds(clock.Now(), kLoggerSeconds));
            o.mStatus = logger->EndStatus();
            o.mReadings = logView.readings;
            return o;
        }
        case kSensorCal: {
            if (cal->Start())
                cal->Run();
            ROutcome o;
            o.mStatus = cal->OutcomeStatus();
            o.mAborted = cal->Outcome() == ECalOutcome::kAborted;
            return o;
        }
        case kJobCount: break;
        }
        return {};
    }

    // The device goes away once the job's vanish line has been reported for
    // the n-th time; the job's next exchange meets a closed line, and its
    // device path leads nowhere from then on.
    void ArmVanish()
    {
        const RJob &job = JobRow();
        FVanishSeen = 0;
        link.OnTamselEvent = [this, &job](TComTamsel *, TDateTime, const std::string &line) {
            if (FVanished || line.rfind(job.mVanishLine, 0) != 0 || ++FVanishSeen < job.mVanishAt)
                return;
            sim->Vanish();
            UsePort(Path("vanished-tty"));
            FVanished = true;
        };
    }

    // The device goes away as soon as the first wake-up frame has reached it
    // (it does not answer them, so the program is still waking it).
    std::thread VanishWhileWaking()
    {
        FStopWatching = false;
        return std::thread([this] {
            while (!FStopWatching) {
                if (!sim->ReceivedFrames().empty()) {
                    sim->Vanish();
                    FVanished = true;
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }

    // ---- what the user saw ----

    void ExpectShown(const RCell &cell, const ROutcome &outcome)
    {
        const RJob &job = JobRow();
        switch (job.mReport) {
        case EReport::kSilent:
            EXPECT_TRUE(screen.statuses.empty()) << screen.StatusCaption();
            if (cell.mShown == kPortError)
                ExpectPortErrorBox();
            else
                EXPECT_TRUE(screen.messages.empty()) << screen.LastMessage().mText;
            return;
        case EReport::kFramed: ExpectFramed(cell, outcome); return;
        case EReport::kLogger: ExpectLogger(cell, outcome); return;
        case EReport::kCal: ExpectCal(cell); return;
        }
    }

    void ExpectFramed(const RCell &cell, const ROutcome &outcome)
    {
        const RJob &job = JobRow();
        ASSERT_FALSE(screen.statuses.empty());
        EXPECT_EQ(screen.statuses.front().mCaption, job.mBusy);
        EXPECT_EQ(screen.statuses.front().mBackground, clWhite);

        if (cell.mShown == kPortError) {
            // An error raised by the port outside a transaction: its box,
            // and the status bar keeps the busy text.
            EXPECT_TRUE(outcome.mAborted);
            ExpectPortErrorBox();
            const std::string caption = screen.StatusCaption();
            EXPECT_EQ(screen.LastStatus().mBackground, clWhite) << caption;
            EXPECT_TRUE(caption.size() > 3 && caption.substr(caption.size() - 3) == "...") << caption;
            return;
        }
        EXPECT_FALSE(outcome.mAborted) << "unexpected error box: " << screen.LastMessage().mText;
        const std::string prefix = cell.mShown ? cell.mShown : job.mPrefix;
        const RUserText &text = UserText(cell.mStatus);
        const auto last = screen.LastStatus();
        EXPECT_EQ(last.mCaption, prefix + text.mSuffix);
        EXPECT_EQ(last.mBackground, cell.mStatus == 0 ? clLime : clRed);
        EXPECT_EQ(last.mText, cell.mStatus == 0 ? clBlack : clWhite);
        if (cell.mStatus != 0) {
            ASSERT_EQ(screen.messages.size(), 1u) << screen.LastMessage().mText;
            EXPECT_EQ(screen.messages[0].mCaption, prefix);
            EXPECT_EQ(screen.messages[0].mText, text.mMessage);
            EXPECT_EQ(screen.messages[0].mIcon, MsgIcon::Error);
        } else if (Job() == kIdentify) {
            ASSERT_EQ(screen.messages.size(), 1u);
            EXPECT_EQ(screen.messages[0].mCaption, kIdentifyCaption);
            EXPECT_EQ(screen.messages[0].mText.rfind("Product ID = 2\r", 0), 0u) << screen.messages[0].mText;
            EXPECT_EQ(screen.messages[0].mIcon, MsgIcon::Information);
        } else {
            EXPECT_TRUE(screen.messages.empty()) << screen.LastMessage().mText;
        }
        if (Job() == kFirmware && cell.mStatus != 0 && prefix == job.mPrefix) {
            // Each failed attempt says so before the next one starts.
            int fails = 0;
            for (const auto &s : screen.statuses)
                fails += s.mCaption == "Download Image...Fail" && s.mBackground == clRed;
            EXPECT_EQ(fails, session.DeviceCFG.mFLASHDownloadRetry);
        }
    }

    void ExpectPortErrorBox()
    {
        ASSERT_EQ(screen.messages.size(), 1u);
        EXPECT_EQ(screen.messages[0].mCaption, "Corvane Beamport");
        EXPECT_EQ(screen.messages[0].mText.rfind("Error accessing specified device", 0), 0u)
            << screen.messages[0].mText;
        EXPECT_EQ(screen.messages[0].mIcon, MsgIcon::Error);
    }

    void ExpectBox(const char *caption, const char *text)
    {
        ASSERT_EQ(screen.messages.size(), 1u);
        EXPECT_EQ(screen.messages[0].mCaption, caption);
        EXPECT_EQ(screen.messages[0].mText, text);
        EXPECT_EQ(screen.messages[0].mIcon, MsgIcon::Error);
    }

    void ExpectLogger(const RCell &cell, const ROutcome &outcome)
    {
        if (cell.mShown == kUnitBox)
            ExpectBox("Norvik Unit Information Error",
                      "Do not read Norvik unit configuration data\rCheck Norvik and Beamport connection");
        else if (cell.mShown == kBeamportBox)
            ExpectBox("Beamport Error", "Beamport Error\rCheck Beamport connection\rData logging stopped");
        else if (cell.mShown == kPortError)
            ExpectPortErrorBox();
        else
            EXPECT_TRUE(screen.messages.empty()) << screen.LastMessage().mText;
        if (cell.mShown == nullptr)
            EXPECT_GT(outcome.mReadings, 0);
        else
            EXPECT_EQ(outcome.mReadings, 0);
    }

    void ExpectCal(const RCell &cell)
    {
        if (cell.mShown == nullptr) {
            EXPECT_EQ(cal->Outcome(), ECalOutcome::kOk);
            EXPECT_TRUE(screen.messages.empty()) << screen.LastMessage().mText;
            EXPECT_EQ(calView.lines[0], "Zero Calibration... OK");
            EXPECT_EQ(calView.lines[2], "Calibration ... OK");
        } else if (cell.mShown == kPrepareBox) {
            EXPECT_EQ(cal->Outcome(), ECalOutcome::kNotPrepared);
            ExpectBox("Read Norvik Information", "Norvik comunication error\rCheck Beamport and Norvik unit connection");
        } else if (cell.mShown == kStartBox) {
            EXPECT_EQ(cal->Outcome(), ECalOutcome::kStartFailed);
            ExpectBox("Sensor Calibration Fail", "Sensor calibration failed ... Communication error");
        } else if (cell.mShown == kPortError) {
            EXPECT_EQ(cal->Outcome(), ECalOutcome::kAborted);
            ExpectPortErrorBox();
        } else if (cell.mShown == kZeroFailLine) {
            EXPECT_EQ(cal->Outcome(), ECalOutcome::kStartFailed);
            EXPECT_TRUE(screen.messages.empty()) << screen.LastMessage().mText;
            EXPECT_EQ(calView.lines[0], "Zero Calibration... FAIL");
        }
    }

    // ---- the caller ----

    void ExpectCallerUsable()
    {
        EXPECT_FALSE(link.Port().Enabled()) << "the port was left open";
        EXPECT_FALSE(firmware->GoingOn());
        EXPECT_FALSE(firmware->Running());
        const RFirmwarePanel &panel = firmware->Panel();
        EXPECT_FALSE(panel.mRunning);
        EXPECT_TRUE(panel.mOpenEnabled);
        EXPECT_EQ(panel.mUpgradeEnabled, firmware->ImageLoaded());
        EXPECT_FALSE(panel.mCancelEnabled);
        EXPECT_FALSE(logger->Running());
        EXPECT_TRUE(logger->CloseEnabled());
        EXPECT_FALSE(cal->Running());
        EXPECT_TRUE(cal->CloseAllowed());
    }

    // What the job keeps in the caller and on disk.
    void ExpectJobState(uint8_t status, const std::vector<uint8_t> &cfgBefore)
    {
        const auto *cfg = reinterpret_cast<const uint8_t *>(&state.FTamselCFG);
        const std::vector<uint8_t> cfgNow(cfg, cfg + sizeof state.FTamselCFG);
        const auto config = sim->Config();
        switch (Job()) {
        case kWriteDevice:
            // The record still differs from the detector outside the write
            // ranges, so a write beyond them would have shown.
            EXPECT_NE(std::memcmp(cfg + 16, &config[16], 10), 0) << "serial numbers agree";
            EXPECT_NE(std::memcmp(cfg + 106, &config[106], 2), 0) << "zero counts agree";
            break;
        case kReadDevice:
            if (status == 0)
                EXPECT_EQ(cfgNow, std::vector<uint8_t>(config.begin(), config.end()));
            else
                EXPECT_EQ(cfgNow, cfgBefore) << "a failed read changed the record";
            break;
        case kEventLog: {
            const std::string file = ReadFile(Path("events.csv"));
            if (status == 0) {
                EXPECT_EQ(file.rfind("Product Name,Norvik\r\n", 0), 0u) << file;
                EXPECT_NE(file.find(kEventColumnTitles), std::string::npos);
                EXPECT_GE(CountLines(file), 12);
                EXPECT_EQ(file.substr(file.size() - 2), "\r\n");
            } else {
                EXPECT_EQ(file, kGoodFile) << "a failed download touched the file";
            }
            break;
        }
        case kEepromRead: {
            const std::string file = ReadFile(Path("eeprom.csv"));
            const REEPROMGrid fresh = MakeEEPROMGrid(session.DeviceCFG.mEEPROMMaxAddress);
            if (status == 0) {
                const auto eeprom = sim->Eeprom();
                for (int a = 0; a < session.DeviceCFG.mEEPROMMaxAddress - session.DeviceCFG.mEEPROMPacketSize; ++a)
                    ASSERT_EQ(grid.Cell(a % 16 + 1, a / 16), EEPROMByteText(eeprom[static_cast<size_t>(a)])) << a;
                EXPECT_EQ(file, EEPROMDumpText(grid));
                EXPECT_EQ(CountLines(file), fresh.RowCount());
            } else {
                EXPECT_EQ(grid.mCells, fresh.mCells) << "a failed read changed the grid";
                EXPECT_EQ(file, kGoodFile) << "a failed read touched the file";
            }
            break;
        }
        default: break;
        }
        // Nothing half-written is left beside the files.
        const std::set<std::string> known = {"store.conf", "store.conf.lock", "events.csv", "eeprom.csv", "image.img"};
        for (const auto &entry : std::filesystem::directory_iterator(dir))
            EXPECT_TRUE(known.count(entry.path().filename().string())) << "left behind: " << entry.path();
    }

    std::vector<uint8_t> CfgBytes() const
    {
        const auto *p = reinterpret_cast<const uint8_t *>(&state.FTamselCFG);
        return {p, p + sizeof state.FTamselCFG};
    }

    // ---- members ----

    TFakeScreen screen;
    RMainState state;
    TDeviceActions actions{session, screen, state};
    TFakeClock clock;
    TCountingLogView logView;
    TLineCalView calView;
    std::unique_ptr<TFirmwareUpgrade> firmware;
    std::unique_ptr<TSensorLogger> logger;
    std::unique_ptr<TSensorCalibration> cal;
    REEPROMGrid grid;
    TImagePackets image;
    std::atomic<bool> FVanished{false};
    std::atomic<bool> FStopWatching{false};
    int FVanishSeen = 0;
};

TEST_P(FaultMatrix, EndsAsPrescribedAndLeavesTheCallerUsable)
{
    const RCell &cell = kMatrix[Job()][Fault()];
    StartSim(FaultOptions());
    SeedSim();
    Prepare();
    if (HasFatalFailure())
        return;

    // The faulty run.
    const RMemory before = Snapshot();
    const std::vector<uint8_t> cfgBefore = CfgBytes();
    if (Fault() == kVanish)
        ArmVanish();
    if (Fault() == kUnplugged)
        UsePort(Path("unplugged-tty"));
    std::thread waking;
    if (Fault() == kGoneWaking) {
        // The vanish ends the wait; a long connect time only keeps a slow
        // machine from ending it first.
        session.DeviceCFG.mConnectTime = 10000;
        waking = VanishWhileWaking();
    }
    const ROutcome first = Run();
    link.OnTamselEvent = nullptr;
    if (waking.joinable()) {
        FStopWatching = true;
        waking.join();
        UsePort(Path("vanished-tty"));
        session.DeviceCFG.mConnectTime = kConnectTimeMs;
    }
    if (Fault() == kVanish || Fault() == kGoneWaking) {
        ASSERT_TRUE(FVanished) << "the job never reached the point where the device goes away";
    }
    {
        SCOPED_TRACE("first run");
        EXPECT_EQ(int(first.mStatus), int(cell.mStatus));
        ExpectShown(cell, first);
        ExpectCallerUsable();
        ExpectEffect(before, Snapshot(), cell.mEffect);
        ExpectJobState(first.mStatus, cfgBefore);
    }

    // The same job again, on a healthy detector.
    Heal();
    screen.ClearRecord();
    const RMemory healthy = Snapshot();
    const std::vector<uint8_t> cfgHealthy = CfgBytes();
    const ROutcome second = Run();
    {
        SCOPED_TRACE("second run, healthy detector");
        EXPECT_EQ(int(second.mStatus), 0);
        ExpectShown(kMatrix[Job()][kHealthy], second);
        ExpectCallerUsable();
        ExpectEffect(healthy, Snapshot(), EEffect::kAll);
        ExpectJobState(second.mStatus, cfgHealthy);
    }
}

std::string CellName(const ::testing::TestParamInfo<TParam> &info)
{
    return std::string(kJobs[std::get<0>(info.param)].mName) + "_" + kFaultNames[std::get<1>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(AllJobs, FaultMatrix,
                         ::testing::Combine(::testing::Range(0, static_cast<int>(kJobCount)),
                                            ::testing::Range(0, static_cast<int>(kFaultCount))),
                         CellName);

} // namespace
