#pragma once
// The EEPROM view: a grid of 16 bytes a row with the row's address in front,
// filled from an EEPROM read, editable by the user, and saved as a CSV dump.
// The grid is a plain value; the window draws it with the pure functions
// below and writes the user's edits back into it.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "model/color.h"
#include "model/datetime.h"
#include "model/read_buf.h"

inline constexpr int kEEPROMColumns = 17;      // the address, then 16 bytes
inline constexpr int kEEPROMBytesPerRow = 16;
inline constexpr int kEEPROMAddressWidth = 44; // pixels, fixed column
inline constexpr int kEEPROMByteWidth = 22;    // pixels
inline constexpr int kEEPROMRowHeight = 17;    // pixels

struct REEPROMGrid {
    // mCells[row][col]: col 0 the address text, cols 1..16 the byte texts.
    std::vector<std::array<std::string, kEEPROMColumns>> mCells;

    int RowCount() const { return static_cast<int>(mCells.size()); }
    // The text of a cell; empty outside the grid.
    std::string Cell(int nCol, int nRow) const;
    // Sets a cell as typed (a user edit is not checked); ignored outside the grid.
    void SetCell(int nCol, int nRow, const std::string &text);
};

// nMaxAddress div 16.
int EEPROMRowCount(uint16_t nMaxAddress);
// The address of a row, four upper-case hex digits: row 1 -> "0010".
std::string EEPROMAddressText(int nRow);
// A byte as two upper-case hex digits: 10 -> "0A".
std::string EEPROMByteText(uint8_t nByte);

// The start-up layout: EEPROMRowCount rows, their addresses, "FF" in every byte cell.
REEPROMGrid MakeEEPROMGrid(uint16_t nMaxAddress);

// Shows a read: row s = nStart div 16 on, up to the last row of nMaxAddress,
// cell (c + 1, r) gets buffer byte (r - s) * 16 + c. Rows before s and the
// address column keep their texts. Bytes the carrier cannot hold (past its
// 1024) were never read and show "FF", as the link marks a range end it
// does not read.
void FillEEPROMGrid(REEPROMGrid &grid, const RComTamselReadBuf &mBuf, uint16_t nStart, uint16_t nMaxAddress);

// The dump: per row "0x" + address + "," then each byte cell + ",", CR LF.
std::string EEPROMDumpText(const REEPROMGrid &grid);
// The proposed name "EEPROM_" + "YYMMDDHHNNSS" + ".CSV".
std::string EEPROMFileName(TDateTime rNow);
// Writes the dump; an existing file is replaced only by a complete new one.
bool SaveEEPROMDump(const std::string &path, const REEPROMGrid &grid, std::string *error = nullptr);

// ---- drawing a cell ----

struct REEPROMCellLook {
    bool mButtonFace = false; // background is the system's button-face colour (mBackground a stand-in)
    RColor mBackground = clWhite;
    RColor mText = clBlack;
};
inline constexpr RColor kButtonFaceStandIn{240, 240, 240};
inline constexpr RColor clBlue{0, 0, 255};

// Column 0 (fixed): button face on black; a selected cell: white on blue;
// any other: black on white.
REEPROMCellLook EEPROMCellLook(int nCol, bool bSelected);

struct RCellRect {
    int mLeft = 0, mTop = 0, mRight = 0, mBottom = 0;
};
struct RTextOrigin {
    int mLeft = 0, mTop = 0;
    bool operator==(const RTextOrigin &) const = default;
};
// Where a text of the given size is written to be centred: halves dropped.
RTextOrigin EEPROMTextOrigin(const RCellRect &rect, int nTextWidth, int nTextHeight);
