#pragma once
// Progress of the long reads that the core does not report itself: the event
// log and the EEPROM. The link tells every exchange through its traffic
// callback; this counts the data requests (opcode 81) of the read, one a
// packet, and shows them through TCliScreen::Progress, on a terminal only.
// The callback that was set before (the traffic lines) is called as before,
// and put back at the end.
#include <cstdint>
#include <string>

#include "link/tamsel_comms.h"

class TCliScreen;

class TReadProgress {
public:
    // The event log: the packet count follows from the length the detector
    // announces (the reply to A1) and the packet size the replies show.
    static TReadProgress EventLog(TComTamsel &link, TCliScreen &screen);
    // The EEPROM up to maxAddress: the count follows from it and the packet size.
    static TReadProgress EEPROM(TComTamsel &link, TCliScreen &screen, int maxAddress);

    ~TReadProgress();
    TReadProgress(TReadProgress &&) = delete;

    // One traffic line, as the link reports it ("[SEND] 81 ...", "[READ] ...").
    void OnLine(const std::string &line);
    int Position() const { return FPosition; }
    int Count() const { return FCount; }

private:
    enum class EKind { kEventLog, kEEPROM };
    TReadProgress(TComTamsel &link, TCliScreen &screen, EKind kind, int size);
    void Packet(int bytes);

    TComTamsel &FLink;
    TCliScreen &FScreen;
    EKind FKind;
    int FSize;                 // EEPROM: the last address; event log: the announced length (-1 until known)
    int FCount = 0;            // packets expected; 0 until the first packet shows their size
    int FPosition = 0;         // packets received
    bool FStarted = false;     // the read's own requests have begun
    bool FLengthNext = false;  // the next reply carries the event log's length
    bool FPacketNext = false;  // the next reply answers a data request
    TOnTamselEvent FPrevious;
};

// The data requests the link makes to read the event log of `length` bytes,
// or the EEPROM up to `maxAddress`, `packet` bytes each.
int EventLogPackets(int length, int packet);
int EEPROMPackets(int maxAddress, int packet);
