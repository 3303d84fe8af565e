#pragma once
// The device link: frames, the exchange engine, the connection handshake and
// the detector's commands over one serial port.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/comm.h"
#include "model/config_record.h"
#include "model/datetime.h"
#include "model/device_records.h"
#include "model/read_buf.h"

class TComTamsel;

// The error text of ComOpen for a port number no adapter was given: the
// same as for any other port that cannot be opened.
inline constexpr const char *kNoAdapterText = "Error accessing specified device";

// Traffic-log event: called once per log line.
using TOnTamselEvent = std::function<void(TComTamsel *Sender, TDateTime rNow, const std::string &sLog)>;

struct RTamselLogRead {
    TDateTime mSendTime = 0;
    std::string mSendLog;
    TDateTime mRevTime = 0;
    std::string mRevLog;
    bool mOK = false;
};

// What the detector told the link, and what the link wrote to it, since the
// last ForgetSeen: the facts a job leaves on the service record. The link
// keeps them as they pass, so recording a job never sends a byte of its own.
struct RLinkSeen {
    int mOpens = 0;                           // OpenUSB calls: the job reached for the detector
    std::optional<RTamselIdenty> mIdentity;   // the last identity read
    std::optional<RTamselUnitCFG> mUnit;      // the last unit block read whole and checked
    std::vector<RTamselCFG> mConfigs;         // each sensor block read, with the unit block read before it
    struct RWrite {
        uint16_t mAddress = 0;
        std::vector<uint8_t> mBytes;
    };
    std::vector<RWrite> mWrites;              // configuration ranges written and acknowledged
    std::optional<uint32_t> mLifeWritten;     // the life remaining written, when acknowledged
    bool mPseudoTerminal = false;             // a port opened was a pseudo-terminal (a simulated detector)
};

class TComTamsel {
public:
    TComTamsel();
    // A link over another line (the fuzzing harness's in-memory line).
    explicit TComTamsel(std::unique_ptr<TComm> line);
    ~TComTamsel();
    TComTamsel(const TComTamsel &) = delete;
    TComTamsel &operator=(const TComTamsel &) = delete;

    // --- connection ---
    void ComOpen(int nPort);
    void ComClose();
    void CloseUSB(uint8_t nStatus);
    uint8_t ConnectTamsel(float rTimeOut);
    uint8_t ConnectTamselCheck();
    uint8_t KillTamsel();
    // The port to use (discovery, or the port choice), then ComOpen and
    // ConnectTamsel.
    uint8_t OpenUSB(float rTimeOut);
    // One quiet try to find a detector in front of the adapter, for a loop
    // that waits for the next unit or for one to be taken away: the port
    // OpenUSB would use, wake-up frames for at most rTimeOut seconds
    // (stopping at the first acknowledge), then (with bSleep) the
    // end-of-connection request so that it sleeps again, and the port closed.
    // Without bSleep an answering detector stays awake for the job that
    // follows at once. Nothing reaches the traffic log or what the link saw
    // (Seen). 0: a detector answered; 160: none did; 161: the port could not
    // be used; or the discovery's status.
    uint8_t Probe(float rTimeOut, bool bSleep = true);

    // The port choice: a device that bypasses discovery (--port, --simulate,
    // BEAMPORT_PORT; the program sets it once); empty: discovery finds the
    // adapter.
    void SetPortChoice(const std::string &device) { FPortChoice = device; }
    const std::string &PortChoice() const { return FPortChoice; }
    // The line of a simulated detector in this process and its tally: the
    // port keeps the tally whenever it opens that device (line_tally.h).
    void SetSimulatedLine(const std::string &device, std::shared_ptr<TLineTally> tally);

    // Port numbers stand for device paths on this platform: discovery (or
    // the port choice) assigns them. ComOpen of a number without a path raises
    // ECommError kNoAdapterText (error code ENODEV) and opens nothing.
    void SetPortDevice(int nPort, const std::string &path);
    // The path of a port number; empty when none was assigned.
    std::string PortDevice(int nPort) const;
    // The Windows device name of COM port nPort: "COMn", or "\\.\COMn" above 9.
    static std::string WindowsPortName(int nPort);

    // --- commands (need an open connection; never open or close the port) ---
    uint8_t ReadUnitCFGData(RTamselUnitCFG &mData, uint16_t nPacket, uint16_t nSize);
    uint8_t ReadSensorCFGData(RTamselSensorCFG &mData, uint16_t nPacket, uint16_t nSize);
    uint8_t WriteCFGData(const RComTamselReadBuf &mBuf, uint16_t nAddress, uint16_t nSize);
    uint8_t WriteCFGTimeData(uint32_t nTime);
    uint8_t SendHibernate();
    uint8_t RequireIdenty(RTamselIdenty &mData);
    uint8_t LoadLog(RComTamselReadBuf &mBuf, int32_t nReadPacket);
    uint8_t LogReset();
    uint8_t UpgradeStart();
    uint8_t UpgradeData(uint8_t nPointer, const RComTamselReadBuf &mBuf);
    uint8_t UpgradeExecute();
    uint8_t ResetUnit();
    uint8_t FactoryReset();
    uint8_t RequireSensor(RTamselSensor &mData, uint8_t nMode);
    uint8_t SensorCalibration(uint8_t nCom);
    uint8_t ReadEEPROMData(RComTamselReadBuf &mBuf, uint16_t nPacket, uint16_t nStart, uint16_t nMax);
    uint8_t AVOn(uint8_t nCom);

    // What passed since the last ForgetSeen (see RLinkSeen).
    const RLinkSeen &Seen() const { return FSeen; }
    void ForgetSeen() { FSeen = {}; }

    TOnTamselEvent OnTamselEvent;
    TComm &Port() { return RSCom; }
    // Scales the link's own pauses (the settle time after exchanges and blocks,
    // the wake-up frame pacing): 1 on a real line; the fuzzing harness uses 0.
    void SetPauseScale(double scale) { FPauseScale = scale; }

    // --- exchange engine (used by the commands; public for tests and fuzzing) ---
    uint8_t SendCommand(uint8_t nLogMode, uint8_t opcode, int32_t nLen, float rTimeOut);
    uint8_t SendFrame(uint8_t nLogMode, uint8_t opcode, const uint8_t *payload, int32_t count, int32_t nLen,
                      float rTimeOut);
    uint8_t Exchange(uint8_t nLogMode, int32_t nLen, float rTimeOut);
    void BusyWait(float ms);
    void GetLogRead(RTamselLogRead &rec) const;
    void Report(TDateTime t, const std::string &line);

    const RComTamselReadBuf &ReadBuf() const { return FReadBuf; }
    const RComTamselReadBuf &SendBuf() const { return FSendBuf; }
    const std::string &SendLog() const { return FSendLog; }
    const std::string &RevLog() const { return FRevLog; }

    // Judges nLen received bytes of a reply: status and log prefix. Pure. A
    // reply shorter than its 2 CRC bytes is a CRC error (178).
    static uint8_t JudgeReply(const uint8_t *buf, int32_t nLen, std::string &prefix);
    // Bytes as upper-case hex, each followed by one space.
    static std::string HexBytes(const uint8_t *buf, int count);

private:
    uint8_t ReadBlock(uint8_t opcode, uint8_t *record, uint16_t nPacket, uint16_t nSize);
    // Repeats the wake-up frame about every 1.05 ms until the detector
    // acknowledges or rTimeOut seconds have passed (NaN: forever); every
    // short frame it answers goes to the traffic log when bReport. Counts the
    // frames in `sent`. 0, 160, or 161 when the port failed.
    uint8_t WakeUpFrames(float rTimeOut, bool bReport, int &sent);
    void ReportCollected(const RTamselLogRead *records, int count);

    RLinkSeen FSeen;
    std::unique_ptr<TComm> FLine;
    TComm &RSCom;
    int32_t FDefPort = 0;
    RComTamselReadBuf FReadBuf;
    RComTamselReadBuf FSendBuf;
    TDateTime FSendTime = 0;
    std::string FSendLog;
    TDateTime FRevTime = 0;
    std::string FRevLog;
    std::map<int, std::string> FPortDevices;
    std::string FPortChoice;
    std::string FSimulatedDevice;
    std::shared_ptr<TLineTally> FSimulatedTally;
    double FPauseScale = 1.0;
};
