// Counting the packets of the event-log and EEPROM reads from the link's
// traffic lines, as TReadProgress does for the terminal's progress line.
#include <gtest/gtest.h>

#include "cli/cli_screen.h"
#include "cli/read_progress.h"
#include "link/tamsel_comms.h"

namespace {
std::string Reply(int bytes)
{
    std::string line = "[READ] ";
    for (int i = 0; i < bytes; ++i)
        line += "5A ";
    return line;
}
} // namespace

TEST(CliReadProgress, CountsOnlyTheReadsOwnDataPackets)
{
    const std::string ack = "[READ] ACK:B5 B7 C1 ";
    const struct {
        const char *what;
        bool eventLog;
        int maxAddress;
        std::vector<std::string> lines;
        int position, count;
    } rows[] = {
        {"event log: the configuration read before it does not count",
         true, 0,
         {"[SEND] 80 12 34 ", ack, "[SEND] 81 56 78 ", Reply(34),                   // configuration block
          "[SEND] A0 78 00 ", Reply(20),                                            // identity
          "[SEND] 60 11 22 ", ack, "[SEND] A1 33 44 ", "[READ] 2C 01 00 00 9A BC ", // 300 bytes
          "[SEND] 81 56 78 ", Reply(34), "[SEND] 81 56 78 ", Reply(34)},
         2, 10},
        {"event log: a refused packet does not count", true, 0,
         {"[SEND] A1 33 44 ", "[READ] 40 00 00 00 9A BC ", "[SEND] 81 56 78 ", Reply(34), "[SEND] 81 56 78 ",
          "[READ] CRCERROR:5A 5A 5A 5A 5A ", "[SEND] 81 56 78 ", "[READ] NAK:B6 B6 81 "},
         1, 2},
        {"event log longer than the link's buffer: what fits", true, 0,
         {"[SEND] A1 33 44 ", "[READ] 00 00 01 00 9A BC ", "[SEND] 81 56 78 ", Reply(34)}, 1, 32},
        {"EEPROM: the address frame is acknowledged, not counted", false, 1024,
         {"[SEND] 70 12 34 ", ack, "[SEND] 81 00 00 00 AB CD ", ack, "[SEND] 81 56 78 ", Reply(34),
          "[SEND] 81 56 78 ", Reply(34), "[SEND] 81 56 78 ", Reply(34)},
         3, 31},
        {"EEPROM: data before the read started", false, 1024, {"[SEND] 81 56 78 ", Reply(34)}, 0, 0},
        {"EEPROM smaller than one packet", false, 16, {"[SEND] 70 12 34 ", ack, "[SEND] 81 56 78 ", Reply(34)}, 1, 1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        TComTamsel link;
        TCliScreen screen;
        screen.FProgress = false; // nothing on stderr
        TReadProgress progress = row.eventLog ? TReadProgress::EventLog(link, screen)
                                              : TReadProgress::EEPROM(link, screen, row.maxAddress);
        for (const std::string &line : row.lines)
            progress.OnLine(line);
        EXPECT_EQ(progress.Position(), row.position);
        EXPECT_EQ(progress.Count(), row.count);
    }
}

TEST(CliReadProgress, PacketCounts)
{
    EXPECT_EQ(EventLogPackets(0, 32), 0);
    EXPECT_EQ(EventLogPackets(-5, 32), 0);
    EXPECT_EQ(EventLogPackets(32, 32), 1);
    EXPECT_EQ(EventLogPackets(33, 32), 2);
    EXPECT_EQ(EventLogPackets(1 << 20, 32), 32); // the link keeps what fits its buffer
    // The link stops once the packet before the last wanted one is in; the last
    // row of the grid is filled, not read.
    EXPECT_EQ(EEPROMPackets(1024, 32), 31);
    EXPECT_EQ(EEPROMPackets(64, 32), 1);
    EXPECT_EQ(EEPROMPackets(0, 32), 1);
    EXPECT_EQ(EEPROMPackets(4096, 32), 32); // then the buffer is full
}
