#pragma once
// What the bump test and the calibration measurement share: the gas reading
// in tenths of the sensor's unit (as the detector keeps its set points), a
// stable-reading judge, and a connection held open for a run of readings.
//
// The connection is kept as the logger keeps its own: one OpenUSB, a gas
// reading (mode 0) once a second, a keep-alive check mLogConnectTime ms after
// the last link action while no reading is due, ConnectTamsel again at that
// pace after a failure, and CloseUSB at the end. A controller steps it from
// its Pass and sleeps until NextDue.
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "app/clock.h"
#include "model/device_records.h"

class TComTamsel;
class TSession;

// The reading in tenths of the unit, whatever number of decimals the
// detector reports it with (rounded); over range is kOverRangeTenths.
inline constexpr int32_t kOverRangeTenths = 327670;
int32_t ReadingTenths(const RTamselSensor &reading);

// Three successive readings that agree within a band: 2 % of the gas's
// concentration under gas, 0.2 of the unit in clean air. The value is their
// mean, rounded to tenths.
class TStableReading {
public:
    static constexpr int kNeeded = 3;
    // bandTenths: the widest spread of the readings that counts as stable (at least 1).
    explicit TStableReading(int32_t bandTenths) : FBand(bandTenths < 1 ? 1 : bandTenths) {}
    // The band under gas of a concentration (tenths): 2 % of it, at least 1.
    static int32_t GasBand(int32_t concentration);
    // The band in clean air: 0.2 of the unit.
    static constexpr int32_t kCleanAirBand = 2;

    // Takes a reading; true once the last three agree.
    bool Add(int32_t tenths);
    bool Stable() const;
    int32_t Value() const;
    void Reset() { FLast.clear(); }

private:
    int32_t FBand;
    std::deque<int32_t> FLast;
};

class TReadingLink {
public:
    explicit TReadingLink(TSession &session);
    TReadingLink(const TReadingLink &) = delete;
    TReadingLink &operator=(const TReadingLink &) = delete;

    // OpenUSB; the status it gave (0: open and connected). A port error
    // escapes as the link raises it.
    uint8_t Open();
    bool IsOpen() const { return FOpen; }
    // One step at `now`: a reading when one is due, else a keep-alive or a
    // reconnection when that is due. True when a new reading arrived.
    bool Step(TDateTime now);
    // When the next step has something to do.
    TDateTime NextDue() const;
    // A report command (SensorCalibration) on the open connection: the link
    // is checked first and connected again when it dropped.
    uint8_t Send(uint8_t nCode);
    // CloseUSB with the last status (nothing when not open); port errors are swallowed.
    void Close();
    // Drops the port without an end-of-connection request (after a port error).
    void Drop();

    const RTamselSensor &Reading() const { return FReading; }
    // The status of the last link action.
    uint8_t Status() const { return FStatus; }
    // The adapter itself has failed: nothing more can be read.
    bool AdapterFailed() const;
    int Readings() const { return FReadings; }

private:
    float TimeOut() const;

    TSession &FSession;
    TComTamsel &FLink;
    IClock &FClock;
    bool FOpen = false;
    bool FConnected = false;
    uint8_t FStatus = 0;
    TDateTime FNextReading = 0;
    TDateTime FNextConnection = 0;
    RTamselSensor FReading{};
    int FReadings = 0;
};
