#include "sim/sim_detector.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

namespace {

void MakeRaw(int fd)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return;
    cfmakeraw(&t);
    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &t);
}

} // namespace

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

    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        FError = std::string("posix_openpt: ") + std::strerror(errno);
        return;
    }
    char name[128] = {};
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof(name)) != 0) {
        FError = std::string("pty setup: ") + std::strerror(errno);
        ::close(master);
        return;
    }
    // Raw line on both sides from the start: no echo, no line discipline, even
    // before the program configures its end.
    MakeRaw(master);
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave >= 0) {
        MakeRaw(slave);
        ::close(slave);
    }
    const int flags = fcntl(master, F_GETFL);
    fcntl(master, F_SETFL, flags | O_NONBLOCK);
    if (pipe2(FWake, O_CLOEXEC | O_NONBLOCK) != 0) {
        FError = std::string("pipe2: ") + std::strerror(errno);
        ::close(master);
        return;
    }
    FMaster = master;
    FDevicePath = name;
    FCreated = true;
    FOpenWatch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (FOpenWatch >= 0 && inotify_add_watch(FOpenWatch, name, IN_OPEN) < 0) {
        ::close(FOpenWatch);
        FOpenWatch = -1;
    }
}

SimDetector::~SimDetector()
{
    Stop();
    for (int &fd : FWake)
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    if (FOpenWatch >= 0)
        ::close(FOpenWatch);
}

bool SimDetector::Start()
{
    if (FStarted || FMaster < 0)
        return false;
    FStarted = true;
    FThread = std::thread([this] {
        // The program's stop signals are its own thread's to take (a program
        // that waits for them blocks them there): never this one's.
        sigset_t stop;
        sigemptyset(&stop);
        for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
            sigaddset(&stop, sig);
        pthread_sigmask(SIG_BLOCK, &stop, nullptr);
        Serve();
    });
    return true;
}

void SimDetector::Stop()
{
    FStop = true;
    if (FWake[1] >= 0) {
        const uint8_t b = 1;
        [[maybe_unused]] ssize_t r = ::write(FWake[1], &b, 1);
    }
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
    const uint8_t b = 1;
    [[maybe_unused]] ssize_t r = ::write(FWake[1], &b, 1);
    std::unique_lock lock(FMutex);
    FVanishedCv.wait(lock, [this] { return FVanished; });
}

void SimDetector::CloseMaster()
{
    {
        std::lock_guard lock(FMutex);
        if (FMaster >= 0) {
            ::close(FMaster);
            FMaster = -1;
            FVanished = true;
        }
    }
    FVanishedCv.notify_all();
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
