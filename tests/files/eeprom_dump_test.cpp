// The EEPROM grid: start-up layout, filling from a read (start row, shift,
// the carrier's bound), the dump file, the Read and Save File actions against
// the simulated detector, and the cell drawing rules.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <unistd.h>

#include "app/user_store.h"
#include "app/eeprom_job.h"
#include "link/wire.h"
#include "sim/sim_detector.h"
#include "support/fake_screen.h"
#include "support/test_session.h"

namespace fs = std::filesystem;

namespace {

std::string ReadText(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every byte cell of a row joined, e.g. "00 01 02 ...".
std::string RowBytes(const REEPROMGrid &grid, int row)
{
    std::string s;
    for (int c = 1; c < kEEPROMColumns; ++c)
        s += (c > 1 ? " " : "") + grid.Cell(c, row);
    return s;
}

std::string ExpectedRow(int firstAddress, uint8_t (*byteAt)(int))
{
    std::string s;
    for (int c = 0; c < 16; ++c)
        s += (c ? " " : "") + EEPROMByteText(byteAt(firstAddress + c));
    return s;
}

const std::string kFFRow = "FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF";

} // namespace

TEST(EEPROMGridTest, StartUpLayoutAndDump)
{
    const REEPROMGrid grid = MakeEEPROMGrid(100);
    ASSERT_EQ(grid.RowCount(), 6);
    EXPECT_EQ(grid.Cell(0, 0), "0000");
    EXPECT_EQ(grid.Cell(0, 5), "0050");
    EXPECT_EQ(RowBytes(grid, 3), kFFRow);
    EXPECT_EQ(grid.Cell(17, 0), "");
    EXPECT_EQ(MakeEEPROMGrid(15).RowCount(), 0);
    EXPECT_EQ(MakeEEPROMGrid(32768).Cell(0, 2047), "7FF0");
    EXPECT_EQ(EEPROMAddressText(0xAB), "0AB0");
    EXPECT_EQ(EEPROMByteText(10), "0A");
    EXPECT_EQ(EEPROMByteText(0xC3), "C3");

    const std::string text = EEPROMDumpText(grid);
    EXPECT_EQ(text.substr(0, text.find('\n') + 1),
              "0x0000,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,\r\n");
    EXPECT_EQ(text.size(), 6u * (2 + 4 + 1 + 16 * 3 + 2));
    EXPECT_EQ(text.substr(text.size() - 9), ",FF,FF,\r\n");

    // A user's edit is saved as typed.
    REEPROMGrid edited = grid;
    edited.SetCell(2, 1, "zz9");
    edited.SetCell(40, 1, "ignored");
    EXPECT_EQ(EEPROMDumpText(edited).substr(57, 20), "0x0010,FF,zz9,FF,FF,");
}

TEST(EEPROMGridTest, FillFromARead)
{
    RComTamselReadBuf buf;
    for (int i = 0; i < kReadBufCapacity; ++i)
        buf.mBuf[i] = static_cast<uint8_t>(i * 3);
    buf.mData = 992;

    // Start 512: rows 0..31 keep their texts, rows 32..63 are filled.
    REEPROMGrid grid = MakeEEPROMGrid(1024);
    grid.SetCell(5, 31, "XX");
    grid.SetCell(0, 40, "addr");
    FillEEPROMGrid(grid, buf, 512, 1024);
    EXPECT_EQ(grid.Cell(5, 31), "XX");
    EXPECT_EQ(RowBytes(grid, 0), kFFRow);
    EXPECT_EQ(grid.Cell(1, 32), "00");
    EXPECT_EQ(grid.Cell(2, 32), "03");
    EXPECT_EQ(grid.Cell(16, 63), EEPROMByteText(static_cast<uint8_t>(511 * 3)));
    EXPECT_EQ(grid.Cell(0, 40), "addr"); // the address column is never touched

    // A start inside a row: shown from the row's start on, shifted.
    grid = MakeEEPROMGrid(64);
    FillEEPROMGrid(grid, buf, 8, 64);
    EXPECT_EQ(grid.Cell(1, 0), "00");
    EXPECT_EQ(grid.Cell(1, 1), EEPROMByteText(48));

    // A range longer than the carrier: bytes past its 1024 were not read.
    grid = MakeEEPROMGrid(2048);
    grid.SetCell(1, 64, "old");
    FillEEPROMGrid(grid, buf, 0, 2048);
    EXPECT_EQ(grid.Cell(16, 63), EEPROMByteText(static_cast<uint8_t>(1023 * 3)));
    EXPECT_EQ(grid.Cell(1, 64), "FF");
    EXPECT_EQ(RowBytes(grid, 127), kFFRow);

    // A grid smaller than the range is filled as far as it goes.
    grid = MakeEEPROMGrid(32);
    FillEEPROMGrid(grid, buf, 0, 1024);
    EXPECT_EQ(grid.RowCount(), 2);
}

TEST(EEPROMGridTest, CellDrawing)
{
    const REEPROMCellLook fixed = EEPROMCellLook(0, true);
    EXPECT_TRUE(fixed.mButtonFace);
    EXPECT_EQ(fixed.mText, clBlack);
    const REEPROMCellLook selected = EEPROMCellLook(3, true);
    EXPECT_FALSE(selected.mButtonFace);
    EXPECT_EQ(selected.mBackground, (RColor{0, 0, 255}));
    EXPECT_EQ(selected.mText, clWhite);
    const REEPROMCellLook plain = EEPROMCellLook(16, false);
    EXPECT_EQ(plain.mBackground, clWhite);
    EXPECT_EQ(plain.mText, clBlack);

    EXPECT_EQ(EEPROMTextOrigin({44, 17, 66, 34}, 13, 10), (RTextOrigin{48, 20})); // halves dropped
    EXPECT_EQ(EEPROMTextOrigin({0, 0, 44, 17}, 30, 13), (RTextOrigin{7, 2}));
}

namespace {

class EEPROMActionTest : public ::testing::Test, protected TTestSession {
protected:
    void SetUp() override
    {
        session.DeviceCFG.mConnectTime = 2000;
        session.DeviceCFG.mEEPROMSaveDir = "/before/";
        StartSim();
    }
    // What a later run finds in the store file.
    std::string Remembered() const { return TUserStore(Path("store.conf")).SaveDirectory(TStoreGroup::EEPROM); }

    TFakeScreen screen;
};

} // namespace

TEST_F(EEPROMActionTest, ReadFromTheSimulator)
{
    REEPROMGrid grid = MakeEEPROMGrid(session.DeviceCFG.mEEPROMMaxAddress);
    ASSERT_TRUE(EEPROMReadAction(session, screen, grid).Ok()) << screen.LastMessage().mText;
    EXPECT_EQ(screen.statuses.front().mCaption, "Read EEPROM data...");
    EXPECT_EQ(screen.StatusCaption(), "Read EEPROM data... OK");
    for (int row : {0, 1, 16, 33, 61})
        EXPECT_EQ(RowBytes(grid, row), ExpectedRow(row * 16, [](int a) { return SimEepromPattern(a); })) << row;
    // The last packet of the range is not read: its bytes show FF.
    EXPECT_EQ(RowBytes(grid, 62) + RowBytes(grid, 63), kFFRow + kFFRow);

    // A range longer than the carrier: the link stops at its 1024 bytes.
    std::vector<uint8_t> big(4096);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<uint8_t>(0x40 + (i >> 10)); // 0x40, 0x41, ... per kilobyte
    sim->SetEeprom(big);
    session.DeviceCFG.mEEPROMMaxAddress = 4096;
    grid = MakeEEPROMGrid(4096);
    ASSERT_TRUE(EEPROMReadAction(session, screen, grid).Ok());
    EXPECT_EQ(RowBytes(grid, 63), ExpectedRow(1008, [](int) -> uint8_t { return 0x40; }));
    EXPECT_EQ(RowBytes(grid, 64), kFFRow);

    // A failed read leaves the grid as it was.
    sim->SetFault(wire::kOpWriteConfig, SimFault::kNak);
    const REEPROMGrid before = grid;
    EXPECT_NE(EEPROMReadAction(session, screen, grid).mStatus, 0);
    EXPECT_EQ(grid.mCells, before.mCells);
    EXPECT_EQ(screen.StatusCaption(), "Read EEPROM data... FAIL");
    EXPECT_EQ(screen.LastMessage().mCaption, "Read EEPROM data");
}

TEST_F(EEPROMActionTest, SaveFileWritesTheGridAndRemembersTheFolder)
{
    REEPROMGrid grid = MakeEEPROMGrid(64);
    grid.SetCell(3, 2, "hello");
    const fs::path file = dir / "dump.csv";
    std::ofstream(file) << "an older dump";
    screen.saveFiles.push_back(file.string());
    EXPECT_EQ(EEPROMSaveAction(session, screen, grid), EFileOutcome::Done);
    EXPECT_EQ(ReadText(file), EEPROMDumpText(grid));
    const FileChoice &choice = screen.fileRequests.at(0).mChoice;
    EXPECT_EQ(choice.title, "Save EEPROM Data...");
    EXPECT_EQ(choice.filter, kEEPROMFilter);
    EXPECT_EQ(choice.initialDir, "/before/");
    EXPECT_EQ(choice.fileName.substr(0, 7) + choice.fileName.substr(19), "EEPROM_.CSV");
    // This folder is kept with its trailing separator.
    EXPECT_EQ(session.DeviceCFG.mEEPROMSaveDir, dir.string() + "/");
    EXPECT_EQ(Remembered(), dir.string() + "/");

    // Cancelled: nothing changes.
    session.DeviceCFG.mEEPROMSaveDir = "/x/";
    EXPECT_EQ(EEPROMSaveAction(session, screen, grid), EFileOutcome::Cancelled);
    EXPECT_EQ(session.DeviceCFG.mEEPROMSaveDir, "/x/");

    // A target that cannot be written: the message, the folder all the same.
    const fs::path sub = dir / "sub";
    fs::create_directories(sub / "taken.csv");
    screen.saveFiles.push_back((sub / "taken.csv").string());
    EXPECT_EQ(EEPROMSaveAction(session, screen, grid), EFileOutcome::Failed);
    EXPECT_EQ(screen.LastMessage().mCaption, "Save EEPROM Data");
    EXPECT_EQ(screen.LastMessage().mText, "EEPROM data file did not save\rRetry SAVE FILE");
    EXPECT_EQ(screen.LastMessage().mIcon, MsgIcon::Error);
    EXPECT_TRUE(fs::is_directory(sub / "taken.csv"));
    EXPECT_EQ(Remembered(), sub.string() + "/");
}
