#pragma once
// A simulated detector behind a pseudo-terminal. It speaks the detector's side
// of the framed request/reply protocol on the pty master and serves on its own
// thread; the program opens the slave device like any serial port. On Windows
// the line is a named pipe instead (sim_pipe_win32.cpp), which the port class
// opens as it opens a COM port.
//
// The detector sleeps until it sees the wake-up frame B2 75 80, answers every
// command of the command set while awake and falls asleep again on the kill
// frame B3 B5 41. Its memories (configuration, identity, event log, EEPROM,
// readings) are plain bytes that tests can read and change at any time.
//
// Gas can be applied and removed while it runs (ApplyGas, RemoveGas): the gas
// reading follows it with the sensor's response, the alarm flags follow the
// set points of the configuration memory, and a calibration under gas
// corrects the sensor's gain so that the reading under that gas is the span
// gas the calibration was told. Its time is its own clock: seconds since it
// was made.
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/line_tally.h"
#include "sim/sim_memory.h"
#include "sim/sim_sensor.h"

// What the detector does to the reply of a request.
enum class SimFault : uint8_t {
    kNone,
    kNak,     // answer B6 B6 81 instead; the request has no effect
    kCorrupt, // the request takes effect, the reply's first byte is damaged (CRC fails)
    kDrop,    // the request takes effect, no reply is sent
    kError,   // answer the error code of SimOptions::error_code instead; no effect
};

struct SimFaultRule {
    SimFault fault = SimFault::kNone;
    int times = -1; // how many replies are affected; -1 = all of them
};

// Key of the fault table for the frames that carry no opcode (address frame,
// time frame, configuration data, firmware blocks).
inline constexpr uint8_t kSimDataFrame = 0x00;

// How the detector treats the block CRC words when a range is written.
enum class SimCrcOnWrite : uint8_t {
    kKeep,     // bytes are stored exactly as written, CRC words are never recomputed
    kMaintain, // a block touched by a write gets its CRC recomputed, unless the write
               // itself covered that block's CRC word (then the written word stays)
};

// What the detector holds when it is made.
enum class SimUnit : uint8_t {
    kPlain, // the factory record, a short event log, a test pattern in EEPROM
    kDemo,  // a unit in service, whose memories agree with each other (SimDemoUnit)
};

struct SimOptions {
    bool absent = false;   // never answers anything
    int wake_after = 1;    // answers the N-th wake-up frame of each sleep
    std::map<uint8_t, SimFaultRule> faults; // by request opcode; kSimDataFrame for frames without one
    uint8_t error_code = 0xA1;              // code byte of an error reply (kError)
    int split_pieces = 1;                   // each reply (but a wake-up acknowledge) in this many pieces
    int split_gap_us = 500;                 // pause between two pieces
    int stray_bytes = 0;                    // bytes of noise written before each reply
    int stray_opcode = -1;                  // only before replies to this opcode; -1 = all but wake-up
    uint8_t stray_value = 0x5A;             // the noise byte
    bool refuse_hibernate = false;          // hibernate answered with the error code 0xB1
    uint8_t product_id = 2;                 // identity mPID
    uint8_t sensor_code = 1;                // identity mSensor and the sensor block's mSensorType
    uint8_t bad_block_crc = 0;              // bit 0: unit block, bit 1: sensor block starts with a wrong CRC
    bool paced = false;                     // write replies at 115200 baud (about 87 us a byte)
    int latency_us = 0;                     // turnaround before each reply
    int calibration_ms = 3000;              // how long a span calibration keeps the progress flag
    bool calibration_fails = false;         // a finished calibration sets the "Calibration Fail" flag
    SimCrcOnWrite crc_on_write = SimCrcOnWrite::kMaintain;
    int config_packet_size = 32;            // bytes per 0x81 packet of a configuration block
    int log_packet_size = 32;               // bytes per 0x81 packet of the event log
    int firmware_packet_size = 128;         // expected size of a firmware block (others are found too)
    // The line as an echoing adapter makes it: every frame the program sends
    // comes back to it at once, before any reply.
    bool echo = false;
    int echo_opcode = -1;                   // only frames with this opcode (kSimDataFrame: without one); -1 = all
    int wake_acks = 1;                      // acknowledges sent for each answered wake-up frame
    int wake_ack_gap_us = 500;              // pause before each acknowledge after the first
    SimUnit unit = SimUnit::kPlain;
    bool live_readings = false;             // noise, slow drift, span gas while a calibration asks for it
    // A steady gas from the start, in the sensor's unit (ppm or %; for oxygen
    // the oxygen level read): the reading stands at it. 0 is clean air.
    double gas = 0.0;
    // The sensor behind the gas reading, for gas applied while it runs.
    SimSensorKind sensor_kind = SimSensorKind::kResponsive; // dead, slow or drifted
    double response_seconds = 10.0;         // T90: 90 % of a change of gas after this long
    double slow_alarm_seconds = 90.0;       // a slow sensor passes the low alarm this long after the gas
    double drift_percent = 30.0;            // a drifted sensor reads this much low until calibrated under gas
    uint32_t seed = 1;                      // of the noise and of the demonstration unit's history
    // The unit's serial number in its identity and its record (up to 10
    // characters, padded with "0"); empty: the unit's own.
    std::string serial;
    // A failing memory cell: a byte written to this configuration address
    // (0..127) is stored with its lowest bit flipped, so what is read back
    // differs from what was written. -1: every cell holds what it is given.
    int corrupt_write = -1;
    // The alarm flags of a reading stay off whatever the gas: a detector whose
    // alarm does not come on though its reading reaches the level.
    bool silent_alarms = false;

    void SetFault(uint8_t opcode, SimFault fault, int times = -1) { faults[opcode] = {fault, times}; }
};

// The unit a new user or a trainer meets: beamport-sim by default and the
// programs' --simulate. A detector in service for five months (SimDemoUnit),
// live readings, a span calibration of twelve seconds.
SimOptions SimDemoOptions();

// One live reading as the detector reports it (the 6 data bytes of a reading reply).
struct SimReading {
    uint16_t value = 0;
    uint16_t peak = 0;   // peak (gas) or raw ADC count (temperature, battery)
    uint8_t history = 0; // bits 0-1 decimal places, bits 2-7 flags
    uint8_t alarm = 0;
};

class SimDetector {
public:
    explicit SimDetector(const SimOptions &options = SimOptions());
    ~SimDetector();
    SimDetector(const SimDetector &) = delete;
    SimDetector &operator=(const SimDetector &) = delete;

    // False when the pty could not be created (see Error()).
    bool Ok() const { return FCreated; }
    const std::string &Error() const { return FError; }

    // Starts the serving thread; false when there is no pty or it ran already.
    bool Start();
    // Stops the thread and closes the pty; the device path disappears.
    void Stop();
    // Closes the master at once: the program sees hang-up / EIO mid-exchange.
    void Vanish();
    // The slave device the program opens.
    const std::string &DevicePath() const { return FDevicePath; }
    // What the program does on the line, for its port to keep (Windows: the
    // detector tells a repeated wake-up frame by it; line_tally.h).
    std::shared_ptr<TLineTally> LineTally() const { return FTally; }

    // --- state for tests (all thread-safe) ---
    SimOptions Options() const;
    void SetOptions(const SimOptions &options); // knobs only; memories are untouched
    void SetFault(uint8_t opcode, SimFault fault, int times = -1);

    std::array<uint8_t, kSimConfigSize> Config() const;
    void SetConfig(const std::array<uint8_t, kSimConfigSize> &bytes);
    SimIdentity Identity() const;
    void SetIdentity(const SimIdentity &identity);
    std::vector<uint8_t> EventLog() const;
    void SetEventLog(const std::vector<uint8_t> &bytes);
    std::vector<uint8_t> Eeprom() const;
    void SetEeprom(const std::vector<uint8_t> &bytes);
    SimReading Reading(int mode) const; // as it would be reported now (flags included)
    void SetReading(int mode, const SimReading &reading);

    // Gas at the sensor from now on, in the sensor's unit (ppm or %; for
    // oxygen the gas's oxygen level, 0 for nitrogen): the gas reading moves
    // toward it with the sensor's response. False, and nothing changes, for a
    // value that is no concentration (negative, not a number, above 3276.6).
    bool ApplyGas(double concentration);
    // Clean air from now on: the reading returns to 0 (oxygen: 20.9).
    void RemoveGas();
    // The gas applied, in the sensor's unit; none in clean air.
    std::optional<double> AppliedGas() const;
    // The span gas of the configuration memory (mSpanGas), in the sensor's unit.
    double SpanGas() const;

    bool Awake() const;
    bool PoweredDown() const;
    bool CalibrationRunning() const;

    std::vector<std::vector<uint8_t>> ReceivedFrames() const; // every well-formed frame, in order
    std::vector<std::vector<uint8_t>> SentReplies() const;    // every reply as written (noise excluded)
    void ClearRecords();
    int DroppedBytes() const; // bytes thrown away while resynchronising
    int CommandCount(uint8_t opcode) const; // requests handled while awake, per opcode

    std::vector<std::vector<uint8_t>> FirmwareBlocks() const;
    int ExecuteCount() const;
    bool ExecutePassed() const; // the last execute found a good image CRC

private:
    enum class Expect : uint8_t { kCommand, kAddress, kTime, kConfigData, kFirmwareData };
    enum class Source : uint8_t { kNone, kConfig, kLog, kEeprom };
    using Clock = std::chrono::steady_clock;

    struct Reply {
        std::vector<uint8_t> bytes; // empty: no reply
        uint8_t key = 0;            // opcode the fault table is looked up with
    };

    // The line's platform side (sim_pty_linux.cpp): the pseudo-terminal made
    // and closed, the serving thread kept off the program's stop signals,
    // the serving loop woken.
    void OpenPty();
    void ClosePty();
    static void KeepProgramSignalsAway();
    void Wake();
    void Serve();
    void CloseMaster();
    bool ReadInput();
    void WaitForOpen();
    // Parses what has arrived; returns true when bytes wait for more input.
    bool ProcessInput(bool idle);
    void HandleFrame(const std::vector<uint8_t> &frame, bool command, Clock::time_point arrived);
    // A wake-up frame that came in at `arrived` (the frame just taken, which
    // ends FFrameEnd bytes into the connection) repeats one answered already.
    bool AnsweredAlready(Clock::time_point arrived) const;
    // The reply to a wake-up frame, `bytes` long, goes out next: from here on
    // the line tells when the program has taken it in (the pipe; the pty
    // goes by time).
    void WatchForTakeIn(size_t bytes);
    Reply HandleCommand(uint8_t opcode);
    Reply HandleData(Expect expect, const std::vector<uint8_t> &payload);
    void WriteBytes(const std::vector<uint8_t> &bytes, bool paced);
    bool WaitUntil(Clock::time_point deadline); // false when stopping or vanishing
    bool Stopping() const { return FStop.load() || FVanishReq.load(); }

    // Caller holds FMutex.
    Reply Short(uint8_t code) const;
    Reply Data(const std::vector<uint8_t> &data) const;
    void WriteConfig(int address, const uint8_t *bytes, int count);
    // What a calibration that ran to its end comes to: failed or not, and
    // the sensor's new gain, if it gets one.
    struct CalOutcome {
        bool failed = false;
        std::optional<double> gain;
    };
    CalOutcome CalibrationOutcome() const;
    // Ends a calibration whose time is over, with its outcome.
    void Settle(Clock::time_point now);
    SimReading ReadingNow(int mode, Clock::time_point now) const;
    int GasValue(Clock::time_point now) const;
    int LiveValue(int mode, Clock::time_point now) const; // temperature and battery
    int Noise(Clock::time_point now, uint32_t channel, int range) const;
    int CalibrationGas(Clock::time_point now) const;
    double Seconds(Clock::time_point t) const; // the simulator's clock
    SimSensorSettings SensorSettings() const;
    int ConfigWord(int address) const;
    std::vector<uint8_t> NextPacket();
    void Record(std::vector<std::vector<uint8_t>> &list, const std::vector<uint8_t> &bytes);
    static bool IsCommandOpcode(uint8_t opcode);

    // --- fixed at construction ---
    int FMaster = -1;
    int FWake[2] = {-1, -1};
    int FOpenWatch = -1; // inotify: the slave device is opened
    std::string FDevicePath;
    std::shared_ptr<TLineTally> FTally = std::make_shared<TLineTally>();
    std::string FError;
    std::thread FThread;
    std::atomic<bool> FStop{false};
    std::atomic<bool> FVanishReq{false};
    bool FCreated = false;
    bool FStarted = false;
    bool FVanished = false;
    std::condition_variable FVanishedCv;

    // --- serving thread only ---
    std::vector<uint8_t> FRx;
    std::vector<Clock::time_point> FRxTime;
    Clock::time_point FLastRx{};
    Clock::time_point FBurstUntil{}; // wake-up frames arriving before this are answered already
    uint64_t FRxGone = 0;   // bytes of this connection taken out of FRx (handled or dropped)
    uint64_t FFrameEnd = 0; // where the frame being handled ends, counted as FRxGone
    uint64_t FTxCount = 0;  // bytes written to the program on this connection (the pipe)
    bool FHungUp = false;

    // --- shared, under FMutex ---
    mutable std::mutex FMutex;
    SimOptions FOptions;
    std::array<uint8_t, kSimConfigSize> FConfig{};
    std::array<uint8_t, kSimConfigSize> FFactoryConfig{};
    SimIdentity FIdentity{};
    std::vector<uint8_t> FLog;
    std::vector<uint8_t> FEeprom;
    SimReading FReadings[3];
    bool FAwake = false;
    bool FPoweredDown = false;
    int FWakeFrames = 0;
    Expect FExpect = Expect::kCommand;
    Source FSource = Source::kNone;
    int FSourcePos = 0;
    int FPacketSize = 32;
    int FAddrCount = 0;
    int FAddress = 0;
    bool FFirmwareMode = false;
    int FBlocksAnnounced = 0; // wire::kOpData frames heard since the firmware start
    bool FEepromMirror = false; // EEPROM reads show the live memories (demonstration unit)
    Clock::time_point FBorn{};
    bool FCalRunning = false;
    bool FCalUsed = false;            // a span calibration was started at some time
    Clock::time_point FCalEnd{};
    Clock::time_point FCalSpanAt{};   // when the detector asked for span gas
    Clock::time_point FCalStop{};     // when it stopped asking (end or abort)
    bool FCalFailed = false;
    bool FBumpFailed = false;
    bool FOxygen = false;       // the installed sensor reads oxygen: 20.9 in clean air, alarms as it falls
    SimGasSensor FSensor;
    std::vector<std::vector<uint8_t>> FBlocks;
    int FExecutes = 0;
    bool FExecutePassed = false;
    std::vector<std::vector<uint8_t>> FFrames;
    std::vector<std::vector<uint8_t>> FReplies;
    int FDropped = 0;
    std::map<uint8_t, int> FCounts;
};

// For the programs' --simulate option: a started detector, or null when no pty
// could be made.
std::unique_ptr<SimDetector> StartInProcessSimulator(const SimOptions &options = SimOptions());
