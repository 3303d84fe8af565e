// The multi-exchange commands fed arbitrary detector bytes and arbitrary
// sizes: the configuration block reads, the event-log download (and its
// parse, sort and export), the EEPROM read (and its grid and dump), and the
// short commands around them, several in a row on one connection.
//
// Input: the line's piece size, a count of commands (1..6), one 8-byte
// parameter block per command (a selector byte, then the command's sizes),
// and the rest is the reply script of the fake line (see fake_line.h).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "app/eeprom_job.h"
#include "app/event_log_job.h"
#include "fuzz_util.h"
#include "model/crc16.h"
#include "link/tamsel_comms.h"
#include "model/config_record.h"

namespace {

struct RCommand {
    uint8_t mWhich = 0;
    uint16_t mA = 0, mB = 0, mC = 0;
    uint8_t mD = 0;
};

bool LinkStatus(uint8_t s)
{
    return s == 0 || s == 161 || s == 162 || s == 176 || s == 177 || s == 178;
}

// Packet sizes: mostly what the settings allow, sometimes anything.
uint16_t Packet(uint16_t raw) { return (raw & 0x8000) ? raw : static_cast<uint16_t>(raw % 130); }

void BlockRead(TComTamsel &link, const RCommand &c, bool unit)
{
    RTamselCFG cfg;
    std::memset(static_cast<void *>(&cfg), 0xA5, sizeof cfg);
    const uint16_t nPacket = Packet(c.mA);
    const uint16_t nSize = (c.mB & 0x8000) ? c.mB : static_cast<uint16_t>(c.mB % 300);
    const uint8_t status = unit ? link.ReadUnitCFGData(cfg.mUnit, nPacket, nSize)
                                : link.ReadSensorCFGData(cfg.mSensor, nPacket, nSize);
    const uint8_t *rec = unit ? reinterpret_cast<const uint8_t *>(&cfg.mUnit)
                              : reinterpret_cast<const uint8_t *>(&cfg.mSensor);
    FUZZ_SAY("%s block read (%u, %u): %u\n", unit ? "unit" : "sensor", nPacket, nSize, status);
    FUZZ_CHECK(LinkStatus(status) || status == 192);
    // A failed transfer leaves the record as it was; a good one of 64 bytes carries its CRC.
    if (status != 0 && status != 192)
        for (int i = 0; i < 64; ++i)
            FUZZ_CHECK(rec[i] == 0xA5);
    if (status == 0 && nPacket > 0 && nSize / nPacket * nPacket == 64)
        FUZZ_CHECK(CRC16(rec, 62) == (rec[62] | rec[63] << 8));
}

void EventLog(TComTamsel &link, const RCommand &c)
{
    RComTamselReadBuf buf;
    buf.mData = 12345;
    const int32_t nReadPacket = (c.mA & 0x8000) ? static_cast<int32_t>(static_cast<int16_t>(c.mA)) : c.mA % 130;
    const uint8_t status = link.LoadLog(buf, nReadPacket);
    FUZZ_SAY("LoadLog (%d): %u, %d bytes\n", nReadPacket, status, buf.mData);
    FUZZ_CHECK(LinkStatus(status));
    FUZZ_CHECK(buf.mData <= kReadBufCapacity);
    FUZZ_CHECK(buf.mData >= 0 || status == 0); // a negative announced length is kept as announced
    if (status != 0)
        return;
    const int stride = (c.mB & 0x8000) ? static_cast<int16_t>(c.mB) : c.mB % 20;
    std::vector<RTamselEvent> events = ParseEventLog(buf, stride);
    FUZZ_SAY("  %zu events at stride %d\n", events.size(), stride);
    FUZZ_CHECK(events.size() <= kReadBufCapacity / sizeof(RTamselEvent));
    SortEventLog(events);
    for (size_t i = 1; i < events.size(); ++i)
        FUZZ_CHECK(events[i - 1].mStartEvent >= events[i].mStartEvent);
    RTamselCFG cfg;
    std::memcpy(&cfg, buf.mBuf, sizeof cfg);
    const std::string text = EventLogText(cfg, events, 44000.0 + c.mC / 7.0);
    FUZZ_CHECK(text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0);
}

void EEPROM(TComTamsel &link, const RCommand &c)
{
    RComTamselReadBuf buf;
    buf.mData = -7;
    const uint16_t nPacket = Packet(c.mA);
    const uint16_t nStart = c.mB;
    // The grid is as large as nMax says: keep most runs small.
    const uint16_t nMax = (c.mC & 0x8000) ? c.mC : static_cast<uint16_t>(c.mC % 2048);
    const uint8_t status = link.ReadEEPROMData(buf, nPacket, nStart, nMax);
    FUZZ_SAY("ReadEEPROMData (%u, %u, %u): %u, %d bytes\n", nPacket, nStart, nMax, status, buf.mData);
    FUZZ_CHECK(LinkStatus(status));
    FUZZ_CHECK(buf.mData >= 0 && buf.mData <= kReadBufCapacity);
    if (status != 0)
        return;
    // The packet after the last one read is marked unread (0xFF), as far as the carrier holds it.
    const int packet = nPacket < 1 ? 1 : (nPacket > 244 ? 244 : nPacket);
    for (int i = buf.mData; i < buf.mData + packet && i < kReadBufCapacity; ++i)
        FUZZ_CHECK(buf.mBuf[i] == 0xFF);
    REEPROMGrid grid = MakeEEPROMGrid(nMax);
    FillEEPROMGrid(grid, buf, nStart, nMax);
    FUZZ_CHECK(grid.RowCount() == nMax / 16);
    const std::string dump = EEPROMDumpText(grid);
    FUZZ_CHECK(dump.size() == static_cast<size_t>(grid.RowCount()) * (2 + 4 + 1 + 16 * 3 + 2));
}

void Other(TComTamsel &link, const RCommand &c)
{
    uint8_t status = 0;
    switch (c.mWhich / 5 % 8) {
    case 0: {
        RTamselIdenty id;
        status = link.RequireIdenty(id);
        break;
    }
    case 1: {
        RTamselSensor s;
        status = link.RequireSensor(s, c.mD);
        break;
    }
    case 2: {
        RComTamselReadBuf image;
        for (int i = 0; i < kReadBufCapacity; ++i)
            image.mBuf[i] = static_cast<uint8_t>(i);
        status = link.WriteCFGData(image, c.mA, c.mB);
        FUZZ_SAY("WriteCFGData (%u, %u): %u\n", c.mA, c.mB, status);
        FUZZ_CHECK(LinkStatus(status) || status == 192);
        return;
    }
    case 3: status = link.WriteCFGTimeData(static_cast<uint32_t>(c.mA) << 16 | c.mB); break;
    case 4: {
        RComTamselReadBuf block;
        block.mData = static_cast<int32_t>(static_cast<uint32_t>(c.mA) << 16 | c.mB);
        status = link.UpgradeData(c.mD, block);
        break;
    }
    case 5: status = link.SensorCalibration(c.mD); break;
    case 6: status = link.ConnectTamselCheck(); break;
    default: status = link.AVOn(c.mD); break;
    }
    FUZZ_SAY("command %d: %u\n", c.mWhich / 5 % 8, status);
    FUZZ_CHECK(LinkStatus(status));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzHeapTick();
    TFuzzInput in(data, size);
    const uint8_t lineMode = in.Byte();
    const int count = in.Byte() % 6 + 1;
    std::vector<RCommand> commands(static_cast<size_t>(count));
    for (RCommand &c : commands) {
        c.mWhich = in.Byte();
        c.mA = in.U16();
        c.mB = in.U16();
        c.mC = in.U16();
        c.mD = in.Byte();
    }
    TFuzzLink fl(in.Rest(), in.Left(), lineMode & 0x1F);
    TComTamsel &link = *fl.link;
    int lines = 0;
    if (lineMode & 0x80)
        link.OnTamselEvent = [&lines](TComTamsel *, TDateTime, const std::string &) { ++lines; };

    for (const RCommand &c : commands) {
        switch (c.mWhich % 5) {
        case 0: BlockRead(link, c, true); break;
        case 1: BlockRead(link, c, false); break;
        case 2: EventLog(link, c); break;
        case 3: EEPROM(link, c); break;
        default: Other(link, c); break;
        }
    }
    link.CloseUSB(0);
    return 0;
}
