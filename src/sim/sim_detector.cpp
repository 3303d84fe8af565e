#include "sim/sim_detector.h"

#include <algorithm>
#include <cmath>
#include <cstring>

// ---------------------------------------------------------------- lifetime

SimOptions SimDemoOptions()
{
    SimOptions o;
    o.unit = SimUnit::kDemo;
    o.live_readings = true;
    o.calibration_ms = 12000;
    o.crc_on_write = SimCrcOnWrite::kMaintain;
    return o;
}

SimDetector::SimDetector(const SimOptions &options) : FOptions(options), FBorn(Clock::now())
{
    if (options.unit == SimUnit::kDemo) {
        const SimUnitMemories unit = SimDemoUnit(options.sensor_code, options.seed);
        FConfig = unit.config;
        FIdentity = unit.identity;
        FLog = unit.log;
        FEepromMirror = true;
    } else {
        FConfig = SimDefaultConfig();
        FConfig[kSimSensorTypeAddress] = options.sensor_code;
        SimSealBlock(FConfig, kSimSensorBlock);
        FIdentity.mSensor = options.sensor_code;
        FLog = SimDefaultEventLog(FIdentity.mLife);
    }
    if (!options.serial.empty()) {
        char serial[sizeof FIdentity.mSerial];
        std::memset(serial, '0', sizeof serial);
        std::memcpy(serial, options.serial.data(), std::min(options.serial.size(), sizeof serial));
        std::memcpy(FIdentity.mSerial, serial, sizeof serial);
        std::memcpy(FConfig.data() + kSimSerialAddress, serial, sizeof serial);
        SimSealBlock(FConfig, kSimUnitBlock);
    }
    FOxygen = options.sensor_code == kSimOxygenSensor;
    if (FOxygen) // alarms at 19.5 % and 23.5 % oxygen, an 18.0 % span gas
        SimSetSensorLevels(FConfig, 195, 235, 180);
    if (options.bad_block_crc & 1)
        FConfig[kSimUnitBlock + kSimBlockCrcOffset] ^= 0x5A;
    if (options.bad_block_crc & 2)
        FConfig[kSimSensorBlock + kSimBlockCrcOffset] ^= 0x5A;
    FFactoryConfig = FConfig;
    FIdentity.mPID = options.product_id;
    FEeprom = FEepromMirror ? SimComposeEeprom(FConfig, FIdentity, FLog) : SimDefaultEeprom();
    // Gas in tenths of the sensor's unit, as the alarm levels are kept; an
    // oxygen sensor reads 20.9 % in clean air.
    const int clean = FOxygen ? kSimOxygenClean : 0;
    const long gas = options.gas != 0 ? std::lround(std::clamp(options.gas, -3276.8, 3276.6) * 10) : clean;
    FSensor = SimGasSensor(clean);
    FReadings[0] = {static_cast<uint16_t>(static_cast<int16_t>(gas)), 0, 0x01, 0};
    FReadings[1] = {235, 1876, 0x01, 0}; // temperature: 23.5, ADC 1876
    FReadings[2] = {300, 712, 0x02, 0};  // battery: 3.00, ADC 712
    OpenPty();
}

SimDetector::~SimDetector()
{
    Stop();
    ClosePty();
}

bool SimDetector::Start()
{
    if (FStarted || FMaster < 0)
        return false;
    FStarted = true;
    FThread = std::thread([this] {
        // The program's stop signals are its own thread's to take (a program
        // that waits for them blocks them there): never this one's.
        KeepProgramSignalsAway();
        Serve();
    });
    return true;
}

void SimDetector::Stop()
{
    FStop = true;
    Wake();
    if (FThread.joinable())
        FThread.join();
    CloseMaster();
}

void SimDetector::Vanish()
{
    if (!FThread.joinable()) {
        CloseMaster();
        return;
    }
    FVanishReq = true;
    Wake();
    std::unique_lock lock(FMutex);
    FVanishedCv.wait(lock, [this] { return FVanished; });
}

std::unique_ptr<SimDetector> StartInProcessSimulator(const SimOptions &options)
{
    auto sim = std::make_unique<SimDetector>(options);
    if (!sim->Start())
        return nullptr;
    return sim;
}

// ---------------------------------------------------------------- accessors

SimOptions SimDetector::Options() const
{
    std::lock_guard lock(FMutex);
    return FOptions;
}

void SimDetector::SetOptions(const SimOptions &options)
{
    std::lock_guard lock(FMutex);
    FOptions = options;
}

void SimDetector::SetFault(uint8_t opcode, SimFault fault, int times)
{
    std::lock_guard lock(FMutex);
    FOptions.SetFault(opcode, fault, times);
}

std::array<uint8_t, kSimConfigSize> SimDetector::Config() const
{
    std::lock_guard lock(FMutex);
    return FConfig;
}

void SimDetector::SetConfig(const std::array<uint8_t, kSimConfigSize> &bytes)
{
    std::lock_guard lock(FMutex);
    FConfig = bytes;
}

SimIdentity SimDetector::Identity() const
{
    std::lock_guard lock(FMutex);
    return FIdentity;
}

void SimDetector::SetIdentity(const SimIdentity &identity)
{
    std::lock_guard lock(FMutex);
    FIdentity = identity;
}

std::vector<uint8_t> SimDetector::EventLog() const
{
    std::lock_guard lock(FMutex);
    return FLog;
}

void SimDetector::SetEventLog(const std::vector<uint8_t> &bytes)
{
    std::lock_guard lock(FMutex);
    FLog = bytes;
}

std::vector<uint8_t> SimDetector::Eeprom() const
{
    std::lock_guard lock(FMutex);
    return FEeprom;
}

void SimDetector::SetEeprom(const std::vector<uint8_t> &bytes)
{
    std::lock_guard lock(FMutex);
    FEeprom = bytes;
    FEepromMirror = false;
}

SimReading SimDetector::Reading(int mode) const
{
    std::lock_guard lock(FMutex);
    return ReadingNow(std::clamp(mode, 0, 2), Clock::now());
}

void SimDetector::SetReading(int mode, const SimReading &reading)
{
    std::lock_guard lock(FMutex);
    FReadings[std::clamp(mode, 0, 2)] = reading;
}

bool SimDetector::ApplyGas(double concentration)
{
    if (!(concentration >= 0 && concentration <= 3276.6))
        return false;
    std::lock_guard lock(FMutex);
    const auto now = Clock::now();
    Settle(now);
    FSensor.Expose(concentration * 10, Seconds(now), SensorSettings(), static_cast<int16_t>(FReadings[0].value),
                   ConfigWord(kSimAlarmLowAddress));
    return true;
}

void SimDetector::RemoveGas()
{
    std::lock_guard lock(FMutex);
    const auto now = Clock::now();
    Settle(now);
    FSensor.Clear(Seconds(now), SensorSettings());
}

std::optional<double> SimDetector::AppliedGas() const
{
    std::lock_guard lock(FMutex);
    const auto tenths = FSensor.Applied();
    return tenths ? std::optional<double>(*tenths / 10) : std::nullopt;
}

double SimDetector::SpanGas() const
{
    std::lock_guard lock(FMutex);
    return ConfigWord(kSimSpanGasAddress) / 10.0;
}

bool SimDetector::Awake() const
{
    std::lock_guard lock(FMutex);
    return FAwake;
}

bool SimDetector::PoweredDown() const
{
    std::lock_guard lock(FMutex);
    return FPoweredDown;
}

bool SimDetector::CalibrationRunning() const
{
    std::lock_guard lock(FMutex);
    return FCalRunning && Clock::now() < FCalEnd;
}

std::vector<std::vector<uint8_t>> SimDetector::ReceivedFrames() const
{
    std::lock_guard lock(FMutex);
    return FFrames;
}

std::vector<std::vector<uint8_t>> SimDetector::SentReplies() const
{
    std::lock_guard lock(FMutex);
    return FReplies;
}

void SimDetector::ClearRecords()
{
    std::lock_guard lock(FMutex);
    FFrames.clear();
    FReplies.clear();
    FDropped = 0;
    FCounts.clear();
}

int SimDetector::DroppedBytes() const
{
    std::lock_guard lock(FMutex);
    return FDropped;
}

int SimDetector::CommandCount(uint8_t opcode) const
{
    std::lock_guard lock(FMutex);
    auto it = FCounts.find(opcode);
    return it == FCounts.end() ? 0 : it->second;
}

std::vector<std::vector<uint8_t>> SimDetector::FirmwareBlocks() const
{
    std::lock_guard lock(FMutex);
    return FBlocks;
}

int SimDetector::ExecuteCount() const
{
    std::lock_guard lock(FMutex);
    return FExecutes;
}

bool SimDetector::ExecutePassed() const
{
    std::lock_guard lock(FMutex);
    return FExecutePassed;
}
