#include "files/eeprom_dump.h"

#include <algorithm>
#include <cstdio>

#include "files/atomic_save.h"
#include "files/file_names.h"
#include "model/convert.h"
#include "model/settings_types.h"

namespace {

std::string Hex(unsigned value, int nWidth)
{
    char text[16];
    std::snprintf(text, sizeof text, "%X", value);
    return FitText(true, nWidth, '0', text);
}

} // namespace

std::string REEPROMGrid::Cell(int nCol, int nRow) const
{
    if (nRow < 0 || nRow >= RowCount() || nCol < 0 || nCol >= kEEPROMColumns)
        return {};
    return mCells[static_cast<size_t>(nRow)][static_cast<size_t>(nCol)];
}

void REEPROMGrid::SetCell(int nCol, int nRow, const std::string &text)
{
    if (nRow < 0 || nRow >= RowCount() || nCol < 0 || nCol >= kEEPROMColumns)
        return;
    mCells[static_cast<size_t>(nRow)][static_cast<size_t>(nCol)] = text;
}

int EEPROMRowCount(uint16_t nMaxAddress) { return nMaxAddress / kEEPROMBytesPerRow; }

std::string EEPROMAddressText(int nRow) { return Hex(static_cast<unsigned>(nRow) * kEEPROMBytesPerRow, 4); }

std::string EEPROMByteText(uint8_t nByte) { return Hex(nByte, 2); }

REEPROMGrid MakeEEPROMGrid(uint16_t nMaxAddress)
{
    REEPROMGrid grid;
    grid.mCells.resize(static_cast<size_t>(EEPROMRowCount(nMaxAddress)));
    for (int r = 0; r < grid.RowCount(); ++r) {
        auto &row = grid.mCells[static_cast<size_t>(r)];
        row[0] = EEPROMAddressText(r);
        for (int c = 1; c < kEEPROMColumns; ++c)
            row[static_cast<size_t>(c)] = "FF";
    }
    return grid;
}

void FillEEPROMGrid(REEPROMGrid &grid, const RComTamselReadBuf &mBuf, uint16_t nStart, uint16_t nMaxAddress)
{
    const int first = nStart / kEEPROMBytesPerRow;
    const int end = std::min(EEPROMRowCount(nMaxAddress), grid.RowCount());
    for (int r = first; r < end; ++r) {
        auto &row = grid.mCells[static_cast<size_t>(r)];
        for (int c = 0; c < kEEPROMBytesPerRow; ++c) {
            const int at = (r - first) * kEEPROMBytesPerRow + c;
            row[static_cast<size_t>(c + 1)] = at < kReadBufCapacity ? EEPROMByteText(mBuf.mBuf[at]) : "FF";
        }
    }
}

std::string EEPROMDumpText(const REEPROMGrid &grid)
{
    std::string text;
    for (const auto &row : grid.mCells) {
        text += "0x";
        for (const std::string &cell : row) {
            text += cell;
            text += ",";
        }
        text += "\r\n";
    }
    return text;
}

std::string EEPROMFileName(TDateTime rNow) { return "EEPROM_" + NameTimeStamp(rNow) + ".CSV"; }

bool SaveEEPROMDump(const std::string &path, const REEPROMGrid &grid, std::string *error)
{
    return WriteFileReplacing(path, EEPROMDumpText(grid), error);
}

REEPROMCellLook EEPROMCellLook(int nCol, bool bSelected)
{
    REEPROMCellLook look;
    if (nCol == 0) {
        look.mButtonFace = true;
        look.mBackground = kButtonFaceStandIn;
        look.mText = clBlack;
    } else if (bSelected) {
        look.mBackground = clBlue;
        look.mText = clWhite;
    }
    return look;
}

RTextOrigin EEPROMTextOrigin(const RCellRect &rect, int nTextWidth, int nTextHeight)
{
    return {(rect.mLeft + rect.mRight - nTextWidth) / 2, (rect.mTop + rect.mBottom - nTextHeight) / 2};
}
