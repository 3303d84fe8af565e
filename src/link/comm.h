#pragma once
// The serial port: a thin layer over the system's serial driver. Opens a
// device by name, exclusively, raw 8N1; reads never wait for data; writes wait
// a bounded time; failures are raised as ECommError.
//
// The properties and their rules live in comm.cpp; what talks to the driver
// (open, line settings, transfers, purge, close) is the platform's own file:
// comm_posix.cpp (termios, flock + TIOCEXCL, poll) on Linux, with a place
// beside it for another system's.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

class TLineTally;

class ECommError : public std::runtime_error {
public:
    ECommError(const std::string &message, int errorCode);
    int ErrorCode;
    std::string Message; // the text without the " (Error: %d) " suffix
};

enum TParity { paNone, paOdd, paEven, paMark, paSpace };
enum TStopbits { sb10, sb15, sb20 };
enum TDatabits { da4, da5, da6, da7, da8 };

class TCustomComm {
public:
    TCustomComm();
    virtual ~TCustomComm(); // closes the port
    TCustomComm(const TCustomComm &) = delete;
    TCustomComm &operator=(const TCustomComm &) = delete;

    // The transfer operations are virtual so that a line without a device
    // (the fuzzing harness) can stand in for the tty.
    virtual void Open();
    virtual void Close();
    virtual bool Enabled() const { return FPort != nullptr; }
    // Bytes written, or -1 when the write did not complete within FWriteTimeout ms.
    virtual int Write(const void *buf, int count);
    // Bytes copied (0..count), at once: never waits for data.
    virtual int Read(void *buf, int count);
    // Discards everything the driver holds on the input side.
    virtual void PurgeIn();
    // Waits until input is queued or `seconds` have passed; true when input is
    // queued. A device that vanished raises "Read error". Not part of the
    // Windows component: it lets callers sleep instead of polling Read.
    virtual bool WaitInput(double seconds);

    const std::string &DeviceName() const { return FDeviceName; }
    // The device opened last is a pseudo-terminal (Unix98 pty slaves, majors
    // 136 to 143): a simulated detector, never a real adapter.
    bool IsPseudoTerminal() const { return FPseudoTerminal; }
    void SetDeviceName(const std::string &name);
    int BaudData() const { return FBaudData; }
    void SetBaudData(int baud);
    TDatabits Databits() const { return FDatabits; }
    void SetDatabits(TDatabits bits);
    TStopbits Stopbits() const { return FStopbits; }
    void SetStopbits(TStopbits bits);
    TParity Parity() const { return FParity; }
    void SetParity(TParity parity);
    int ReadBufSize() const { return FReadBufSize; }
    void SetReadBufSize(int size);
    int WriteBufSize() const { return FWriteBufSize; }
    // What the program does on the line, kept for a simulated detector in
    // this process that serves it (Windows: its pipe); taken at the next Open.
    void SetTally(std::shared_ptr<TLineTally> tally) { FTally = std::move(tally); }

    int FReadTimeout = 1000;  // ms
    int FWriteTimeout = 1000; // ms

protected:
    // Applies the line properties to the open device; nothing while closed.
    void ApplyLineSettings();

    std::string FDeviceName = "Com2";
    int FBaudData = 9600;
    TParity FParity = paNone;
    TStopbits FStopbits = sb10;
    TDatabits FDatabits = da8;
    int FReadBufSize = 4096;
    int FWriteBufSize = 2048;
    bool FPseudoTerminal = false; // set by the platform's Open
    std::shared_ptr<TLineTally> FTally;

private:
    // The platform's hold on the open device (its handle and whatever it must
    // put back at close), defined by the platform's file; null while closed.
    struct RPlatformPort;
    std::unique_ptr<RPlatformPort> FPort;
};

class TComm : public TCustomComm {};
