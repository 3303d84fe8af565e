// Firmware images: loading and its checks, the detector check, and the
// download against the simulated detector over a pty.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <windows.h>

#include "support/process.h"
#endif

#include "app/app_state.h"
#include "app/user_store.h"
#include "app/firmware_job.h"
#include "link/tamsel_comms.h"
#include "link/wire.h"
#include "model/settings_types.h"
#include "sim/sim_detector.h"
#include "support/fake_screen.h"
#include "support/test_session.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

// CRC-16/ARC written out bit by bit, independent of the program's table.
uint16_t ArcCrc(const uint8_t *data, size_t count)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < count; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

struct RImageFields {
    uint8_t product = 2;
    uint8_t sw = 15; // the simulated detector runs 1.4 on hardware 5
    uint8_t hw = 5;
    uint8_t minSW = 10;
    uint8_t minHW = 5;
};

// An image file's bytes: header, a data pattern, the CRC of bytes 2.. at 0.
Bytes MakeImage(size_t size, const RImageFields &fields = {})
{
    Bytes image(size);
    for (size_t i = 0; i < size; ++i)
        image[i] = static_cast<uint8_t>(i * 7 + 3);
    const uint8_t header[] = {fields.product, fields.sw, fields.hw, fields.minSW, fields.minHW};
    for (size_t i = 0; i < sizeof header && 2 + i < size; ++i)
        image[2 + i] = header[i];
    if (size >= 2) {
        const uint16_t crc = ArcCrc(image.data() + 2, size - 2);
        image[0] = static_cast<uint8_t>(crc);
        image[1] = static_cast<uint8_t>(crc >> 8);
    }
    return image;
}

constexpr uint16_t kPackets = 8;
constexpr uint16_t kPacketSize = 32;
constexpr size_t kImageSize = kPackets * kPacketSize;

// "hh:nn:ss:zzz" at the start of a line.
bool StampedLine(const std::string &line)
{
    static const char pattern[] = "dd:dd:dd:ddd";
    if (line.size() < sizeof pattern - 1)
        return false;
    for (size_t i = 0; i + 1 < sizeof pattern; ++i) {
        const bool digit = line[i] >= '0' && line[i] <= '9';
        if (pattern[i] == 'd' ? !digit : line[i] != pattern[i])
            return false;
    }
    return true;
}

// Traffic lines of the download without their time stamps; fails on a line
// whose stamp is not "hh:nn:ss:zzz".
std::vector<std::string> DownloadLines(const TFakeScreen &screen)
{
    std::vector<std::string> lines;
    for (const std::string &line : screen.traffic) {
        if (line.find("[SEND] OK") == std::string::npos && line.find("[SEND] Retry") == std::string::npos)
            continue;
        EXPECT_TRUE(StampedLine(line)) << line;
        lines.push_back(line.substr(std::min<size_t>(12, line.size())));
    }
    return lines;
}

std::vector<std::string> OkLines(int from, int to)
{
    std::vector<std::string> lines;
    for (int i = from; i < to; ++i)
        lines.push_back(" [SEND] OK " + std::to_string(i));
    return lines;
}

// Requests with this opcode the program sent (answered or not).
int Requests(const SimDetector &det, uint8_t opcode)
{
    int n = 0;
    for (const auto &frame : det.ReceivedFrames())
        n += frame.size() == 3 && frame[0] == opcode;
    return n;
}

// Packet 0 repeated `retries` times, then every packet acknowledged.
std::vector<std::string> RetriesThenOk(int retries)
{
    std::vector<std::string> lines(static_cast<size_t>(retries), " [SEND] Retry 0");
    const std::vector<std::string> ok = OkLines(0, kPackets);
    lines.insert(lines.end(), ok.begin(), ok.end());
    return lines;
}

bool HasStatus(const TFakeScreen &screen, const std::string &caption)
{
    for (const auto &s : screen.statuses)
        if (s.mCaption == caption)
            return true;
    return false;
}

int CountStatus(const TFakeScreen &screen, const std::string &caption)
{
    int n = 0;
    for (const auto &s : screen.statuses)
        n += s.mCaption == caption;
    return n;
}

class FirmwareTest : public ::testing::Test, protected TTestSession {
protected:
    void SetUp() override
    {
        session.DeviceCFG.mFLASHMaxAddress = kPackets;
        session.DeviceCFG.mFALSHPacketSize = kPacketSize;
        session.DeviceCFG.mFLASHRetry = 3;
        session.DeviceCFG.mFLASHDownloadRetry = 3;
        session.DeviceCFG.mConnectTime = 2000;
        session.DeviceCFG.mFLASHFile.clear();
        session.DeviceCFG.mFLASHSaveDir.clear();
        firmware.OnPanelChanged = [this](const RFirmwarePanel &p) { panels.push_back(p); };
    }

    std::string Write(const std::string &name, const Bytes &bytes)
    {
        const fs::path path = dir / name;
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }

    // A started detector with this test's packet size, the link pointed at it.
    SimDetector &StartSim(SimOptions options = {})
    {
        options.firmware_packet_size = kPacketSize;
        return TTestSession::StartSim(options);
    }

    // Loads `image` quietly and forgets what that showed.
    void Load(const Bytes &image)
    {
        ASSERT_EQ(firmware.LoadUpgradeFile(Write("fw.img", image), true), 0);
        screen.ClearRecord();
        panels.clear();
    }

    std::vector<Bytes> Packets(const Bytes &image) const
    {
        std::vector<Bytes> packets;
        for (size_t at = 0; at < image.size(); at += kPacketSize)
            packets.emplace_back(image.begin() + static_cast<std::ptrdiff_t>(at),
                                 image.begin() + static_cast<std::ptrdiff_t>(at + kPacketSize));
        return packets;
    }

    // After any upgrade: usable again.
    void ExpectUsable()
    {
        EXPECT_FALSE(firmware.GoingOn());
        EXPECT_FALSE(firmware.Running());
        const RFirmwarePanel &p = firmware.Panel();
        EXPECT_FALSE(p.mRunning);
        EXPECT_TRUE(p.mOpenEnabled);
        EXPECT_EQ(p.mUpgradeEnabled, firmware.ImageLoaded());
        EXPECT_FALSE(p.mCancelEnabled);
        ASSERT_FALSE(panels.empty());
        EXPECT_EQ(panels.back(), p);
    }

    TFakeScreen screen;
    RMainState state;
    TFirmwareUpgrade firmware{session, screen, state};
    std::vector<RFirmwarePanel> panels;
};

} // namespace

// ---------------------------------------------------------------- loading

TEST(FirmwareImageTest, CrcCoversBytesTwoToTheEndAcrossPackets)
{
    const Bytes image = MakeImage(kImageSize);
    TImagePackets packets;
    for (size_t at = 0; at < image.size(); at += 5) // uneven packets: the CRC runs over all of them
        packets.emplace_back(image.begin() + static_cast<std::ptrdiff_t>(at),
                             image.begin() + static_cast<std::ptrdiff_t>(std::min(at + 5, image.size())));
    EXPECT_EQ(ImageCRC(packets), image[0] | (image[1] << 8));
    const Bytes check = {0, 0, '1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(ImageCRC({check}), 0xBB3D);

    RImageHeader header;
    ASSERT_TRUE(ImageHeaderOf({MakeImage(7, {2, 14, 5, 30, 6})}, header));
    EXPECT_EQ(header.mProduct, 2);
    EXPECT_EQ(header.mSW, 14);
    EXPECT_EQ(header.mHW, 5);
    EXPECT_EQ(header.mMinSW, 30);
    EXPECT_EQ(header.mMinHW, 6);
    EXPECT_FALSE(ImageHeaderOf({Bytes(6)}, header));
    EXPECT_FALSE(ImageHeaderOf({}, header));
}

TEST_F(FirmwareTest, LoadResults)
{
    const Bytes good = MakeImage(kImageSize);
    Bytes dataByte = good;
    dataByte[100] ^= 0x40;
    Bytes crcByte = good;
    crcByte[1] ^= 0x01;
    Bytes shorter(good.begin(), good.end() - 1);
    Bytes longer = good;
    longer.push_back(0);

    struct Case {
        const char *name;
        Bytes bytes;
        bool userMode;
        uint8_t status;
    } cases[] = {
        {"good", good, true, 0},
        {"one byte short", shorter, true, 129},
        {"one byte long", longer, true, 129},
        {"empty", {}, true, 129},
        {"changed data byte", dataByte, true, 130},
        {"changed crc byte", crcByte, true, 130},
        {"product 3", MakeImage(kImageSize, {3}), true, 131},
        {"product 4, user layout", MakeImage(kImageSize, {4}), true, 131},
        {"product 4, developer layout", MakeImage(kImageSize, {4}), false, 0},
        {"product 1, developer layout", MakeImage(kImageSize, {1}), false, 131},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        session.UserMode = c.userMode;
        TImagePackets packets;
        EXPECT_EQ(ReadUpgradeImage(Write("case.img", c.bytes), kPackets, kPacketSize, session.UserMode, packets),
                  c.status);
        if (c.status == 0) {
            ASSERT_EQ(packets.size(), kPackets);
            EXPECT_EQ(packets, Packets(c.bytes));
        } else {
            EXPECT_TRUE(packets.empty());
        }
    }

    TImagePackets packets;
    EXPECT_EQ(ReadUpgradeImage((dir / "missing.img").string(), kPackets, kPacketSize, session.UserMode, packets), 128);
    EXPECT_EQ(ReadUpgradeImage(dir.string(), kPackets, kPacketSize, session.UserMode, packets), 128);
#ifdef _WIN32
    // A device is not read.
    EXPECT_EQ(ReadUpgradeImage("NUL", kPackets, kPacketSize, session.UserMode, packets), 128);
#else
    // A FIFO must neither hang the open nor be read.
    const fs::path fifo = dir / "fifo.img";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(ReadUpgradeImage(fifo.string(), kPackets, kPacketSize, session.UserMode, packets), 128);
    // Nor a device, endless or empty.
    for (const char *device : {"/dev/zero", "/dev/null"})
        EXPECT_EQ(ReadUpgradeImage(device, kPackets, kPacketSize, session.UserMode, packets), 128) << device;
#endif
}

TEST_F(FirmwareTest, HugeFileIsRefusedBySizeWithoutBeingRead)
{
    const fs::path huge = dir / "huge.img";
    std::ofstream(huge).close();
#ifdef _WIN32
    // The C runtime's file sizes stop at 2 GiB; the system's own call sets any.
    const HANDLE file = CreateFileW(huge.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER end{};
    end.QuadPart = 1LL << 40; // 1 TiB
    EXPECT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file));
    CloseHandle(file);
#else
    ASSERT_EQ(::truncate(huge.c_str(), 1LL << 40), 0); // 1 TiB, sparse
#endif
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(firmware.LoadUpgradeFile(huge.string(), false), 129);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(screen.StatusCaption(), "Loading Upgrade File... FAIL");
    EXPECT_EQ(screen.LastMessage().mText, "Upgrade data file size different\rCheck Upgrade File");
    EXPECT_FALSE(firmware.ImageLoaded());
}

TEST_F(FirmwareTest, PacketsTooSmallForTheHeaderAreRefusedBySize)
{
    for (uint16_t size : {1, 4, 6}) {
        SCOPED_TRACE(size);
        session.DeviceCFG.mFALSHPacketSize = size;
        // A file of exactly the configured size with a valid CRC.
        EXPECT_EQ(firmware.LoadUpgradeFile(Write("small.img", MakeImage(size_t{kPackets} * size)), false), 129);
        EXPECT_FALSE(firmware.ImageLoaded());
        EXPECT_TRUE(firmware.Image().empty());
    }
    session.DeviceCFG.mFALSHPacketSize = 7;
    EXPECT_EQ(firmware.LoadUpgradeFile(Write("seven.img", MakeImage(size_t{kPackets} * 7)), false), 0);
}

TEST_F(FirmwareTest, GoodLoadRemembersTheImageAndFillsThePanel)
{
    const Bytes image = MakeImage(kImageSize);
    const std::string path = Write("good.img", image);
    EXPECT_EQ(firmware.LoadUpgradeFile(path, false), 0);

    EXPECT_EQ(screen.journal.front(), "status:Loading Upgrade File...");
    EXPECT_EQ(screen.StatusCaption(), "Loading Upgrade File... OK");
    EXPECT_TRUE(screen.messages.empty());
    EXPECT_EQ(firmware.Image(), Packets(image));
    EXPECT_EQ(session.DeviceCFG.mFLASHFile, path);
    EXPECT_EQ(session.DeviceCFG.mFLASHSaveDir, (dir / "").string()); // the folder and its separator
    EXPECT_EQ(session.Store().ImageFile(), path);

    const RFirmwarePanel &p = firmware.Panel();
    EXPECT_EQ(p.mFileText, path);
    EXPECT_EQ(p.mDescText, "Norvik Firmware Upgrade ... Firmware Version 1.5");
    EXPECT_TRUE(p.mUpgradeEnabled);
    EXPECT_TRUE(p.mOpenEnabled);
    EXPECT_FALSE(p.mCancelEnabled);
    ASSERT_EQ(panels.size(), 1u);
    EXPECT_EQ(panels.back(), p);
}

TEST_F(FirmwareTest, FailedLoadDropsTheImageButKeepsTheRememberedPath)
{
    const std::string path = Write("good.img", MakeImage(kImageSize));
    ASSERT_EQ(firmware.LoadUpgradeFile(path, true), 0);
    Bytes bad = MakeImage(kImageSize);
    bad[50] ^= 1;
    screen.ClearRecord();

    EXPECT_EQ(firmware.LoadUpgradeFile(Write("bad.img", bad), false), 130);
    EXPECT_EQ(screen.StatusCaption(), "Loading Upgrade File... FAIL");
    ASSERT_EQ(screen.messages.size(), 1u);
    EXPECT_EQ(screen.LastMessage().mCaption, "Loading Upgrade File");
    EXPECT_EQ(screen.LastMessage().mText, "Upgrade data file CRC error\rCheck Upgrade File");
    EXPECT_EQ(screen.LastMessage().mIcon, MsgIcon::Error);

    EXPECT_TRUE(firmware.Image().empty());
    EXPECT_FALSE(firmware.ImageLoaded());
    EXPECT_EQ(firmware.Panel().mFileText, "");
    EXPECT_EQ(firmware.Panel().mDescText, "Norvik Firmware Upgrade ... Select File");
    EXPECT_FALSE(firmware.Panel().mUpgradeEnabled);
    EXPECT_EQ(session.DeviceCFG.mFLASHFile, path);
    EXPECT_EQ(session.Store().ImageFile(), path);
    // Without an image the upgrade does nothing at all.
    EXPECT_EQ(firmware.Upgrade().mStatus, 128);
    EXPECT_FALSE(firmware.GoingOn());
}

TEST_F(FirmwareTest, RememberedImageLoadsQuietlyAtFirstActivation)
{
    // A remembered path that no longer exists: nothing is loaded or shown.
    session.DeviceCFG.mFLASHFile = (dir / "gone.img").string();
    EXPECT_FALSE(firmware.LoadRememberedImage());
    EXPECT_TRUE(screen.journal.empty());
    EXPECT_FALSE(firmware.Panel().mUpgradeEnabled);

    // One that exists but is refused: still nothing shown.
    session.DeviceCFG.mFLASHFile = Write("bad.img", Bytes(10));
    EXPECT_FALSE(firmware.LoadRememberedImage());
    EXPECT_TRUE(screen.journal.empty());
    EXPECT_EQ(firmware.Panel().mDescText, "Norvik Firmware Upgrade ... Select File");

    session.DeviceCFG.mFLASHFile = Write("good.img", MakeImage(kImageSize));
    EXPECT_TRUE(firmware.LoadRememberedImage());
    EXPECT_TRUE(screen.journal.empty());
    EXPECT_TRUE(firmware.Panel().mUpgradeEnabled);
    EXPECT_EQ(firmware.Panel().mFileText, session.DeviceCFG.mFLASHFile);
}

TEST_F(FirmwareTest, OpenButtonOffersTheDialogInTheImageFolder)
{
    session.DeviceCFG.mFLASHSaveDir = dir.string() + "/";
    screen.openFiles.push_back(std::nullopt);
    EXPECT_EQ(firmware.OpenUpgradeFile(), std::nullopt);
    ASSERT_EQ(screen.fileRequests.size(), 1u);
    EXPECT_EQ(screen.fileRequests[0].mChoice.title, "Select Firmware Upgrade File");
    EXPECT_EQ(screen.fileRequests[0].mChoice.filter, "Image File (*.img)");
    EXPECT_EQ(screen.fileRequests[0].mChoice.initialDir, dir.string() + "/");
    EXPECT_TRUE(screen.statuses.empty());

    screen.openFiles.push_back(Write("good.img", MakeImage(kImageSize)));
    EXPECT_EQ(firmware.OpenUpgradeFile(), std::optional<uint8_t>(0));
    EXPECT_EQ(screen.StatusCaption(), "Loading Upgrade File... OK");
}

// ---------------------------------------------------------------- the detector check

TEST_F(FirmwareTest, VersionRules)
{
    struct Case {
        const char *name;
        RImageFields image;
        uint8_t detectorSW, detectorHW, product;
        std::optional<bool> answer; // the question's answer; nullopt: no question asked
        uint8_t status;
    } cases[] = {
        {"newer image", {2, 15, 5, 10, 5}, 14, 5, 2, std::nullopt, 0},
        {"equal versions go on", {2, 14, 5, 14, 5}, 14, 5, 2, std::nullopt, 0},
        {"needs firmware 3.0 on 2.9", {2, 31, 5, 30, 5}, 29, 5, 2, std::nullopt, 133},
        {"needs newer hardware", {2, 31, 6, 10, 6}, 14, 5, 2, std::nullopt, 133},
        {"needs newer, even when older", {2, 10, 5, 30, 5}, 29, 5, 2, std::nullopt, 133},
        {"older firmware, No", {2, 12, 5, 10, 5}, 14, 5, 2, false, 132},
        {"older hardware, No", {2, 15, 4, 10, 4}, 14, 5, 2, false, 132},
        {"older firmware, Yes", {2, 12, 5, 10, 5}, 14, 5, 2, true, 0},
        {"not a Norvik detector", {2, 15, 5, 10, 5}, 14, 5, 3, std::nullopt, wire::kStatusWrongProduct},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SimOptions options;
        options.product_id = c.product;
        SimDetector &det = StartSim(options);
        SimIdentity id = det.Identity();
        id.mSW = c.detectorSW;
        id.mHW = c.detectorHW;
        det.SetIdentity(id);
        const Bytes image = MakeImage(kImageSize, c.image);
        Load(image);
        if (c.answer)
            screen.answers.push_back(*c.answer);

        const ROpResult r = firmware.Upgrade();
        EXPECT_EQ(r.mStatus, c.status);
        EXPECT_FALSE(r.mAborted);
        if (c.answer) {
            ASSERT_EQ(screen.questions.size(), 1u);
            EXPECT_EQ(screen.questions[0].mCaption, "File Version Check");
            EXPECT_EQ(screen.questions[0].mText, "This file is not old version\rExecute upgrade?");
        } else {
            EXPECT_TRUE(screen.questions.empty());
        }
        const bool checkOk = c.status == 0;
        EXPECT_TRUE(HasStatus(screen, checkOk ? "Check Program... OK" : "Check Program... FAIL"));
        if (checkOk) {
            EXPECT_EQ(det.FirmwareBlocks(), Packets(image));
            EXPECT_TRUE(det.ExecutePassed());
            EXPECT_EQ(screen.StatusCaption(), "Download Image... OK");
        } else {
            // No upgrade command reached the detector.
            EXPECT_EQ(Requests(det, wire::kOpUpgradeStart), 0);
            EXPECT_EQ(Requests(det, wire::kOpData), 0);
            EXPECT_EQ(screen.LastMessage().mCaption, "Check Program");
            EXPECT_EQ(screen.LastMessage().mText, StatusMessage(c.status));
        }
        ExpectUsable();
        screen.ClearRecord();
        screen.answers.clear();
    }
}

// ---------------------------------------------------------------- the download

TEST_F(FirmwareTest, DownloadSendsEveryPacketThenExecutes)
{
    SimDetector &det = StartSim();
    const Bytes image = MakeImage(kImageSize);
    Load(image);
    state.FHibernateConfirmed = true;
    std::vector<RFirmwarePanel> duringPump;
    std::vector<bool> flags;
    screen.onProcessMessages = [&](int) {
        duringPump.push_back(firmware.Panel());
        flags.push_back(firmware.GoingOn() && firmware.Running());
    };

    const ROpResult r = firmware.Upgrade();
    EXPECT_TRUE(r.Ok());
    EXPECT_FALSE(state.FHibernateConfirmed);
    EXPECT_EQ(det.FirmwareBlocks(), Packets(image));
    EXPECT_EQ(det.ExecuteCount(), 1);
    EXPECT_TRUE(det.ExecutePassed());
    EXPECT_EQ(det.Identity().mSW, 15);
    EXPECT_EQ(Requests(det, wire::kOpDataRepeat), 0);
    EXPECT_EQ(DownloadLines(screen), OkLines(0, kPackets));
    EXPECT_TRUE(screen.messages.empty());

    // The status bar's road.
    std::vector<std::string> captions;
    for (const auto &s : screen.statuses)
        captions.push_back(s.mCaption);
    EXPECT_EQ(captions, (std::vector<std::string>{"Check Program...", "Check Program... OK", "Download Image...",
                                                  "Download Image... OK"}));
    EXPECT_EQ(screen.LastStatus().mBackground, clLime);

    // Progress: 0 of 8, then one step per packet.
    std::vector<int> positions;
    for (const auto &p : screen.progress) {
        EXPECT_EQ(p.mWhich, "packet");
        EXPECT_EQ(p.mMax, kPackets);
        positions.push_back(p.mPosition);
    }
    EXPECT_EQ(positions, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}));

    // Buttons: all locked at the start; while packets go, only Cancel.
    ASSERT_FALSE(panels.empty());
    EXPECT_TRUE(panels.front().mRunning);
    EXPECT_FALSE(panels.front().mOpenEnabled);
    EXPECT_FALSE(panels.front().mUpgradeEnabled);
    EXPECT_FALSE(panels.front().mCancelEnabled);
    ASSERT_EQ(duringPump.size(), 2u + kPackets); // two status texts, then one per packet
    for (size_t i = 2; i < duringPump.size(); ++i) {
        EXPECT_TRUE(duringPump[i].mCancelEnabled);
        EXPECT_FALSE(duringPump[i].mUpgradeEnabled);
        EXPECT_FALSE(duringPump[i].mOpenEnabled);
        EXPECT_TRUE(duringPump[i].mRunning);
    }
    for (bool f : flags)
        EXPECT_TRUE(f);
    ExpectUsable();
    EXPECT_EQ(firmware.Panel().mProgress, kPackets);
    // The image stays loaded for another upgrade.
    EXPECT_EQ(firmware.Image(), Packets(image));
}

TEST_F(FirmwareTest, PacketRepeatsAndDownloadAttempts)
{
    struct Case {
        const char *name;
        std::vector<std::pair<uint8_t, SimFaultRule>> faults;
        uint8_t status;
        int starts;     // UpgradeStart requests
        int repeats;    // kOpDataRepeat requests sent
        int failTexts;  // "Download Image...Fail"
        std::vector<std::string> lines;
    } cases[] = {
        {"data NAK twice", {{kSimDataFrame, {SimFault::kNak, 2}}}, 0, 1, 2, 0, RetriesThenOk(2)},
        {"data reply lost once", {{kSimDataFrame, {SimFault::kDrop, 1}}}, 0, 1, 1, 0, RetriesThenOk(1)},
        {"repeat refused too", {{kSimDataFrame, {SimFault::kNak, 1}}, {wire::kOpDataRepeat, {SimFault::kNak, 1}}}, 0, 1, 2, 0,
         RetriesThenOk(2)},
        {"packet fails past its repeats, next attempt", {{kSimDataFrame, {SimFault::kNak, 4}}}, 0, 2, 3, 1,
         RetriesThenOk(3)},
        {"every attempt fails", {{kSimDataFrame, {SimFault::kNak, -1}}}, wire::kStatusNak, 3, 9, 3,
         std::vector<std::string>(9, " [SEND] Retry 0")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SimOptions options;
        for (const auto &[op, rule] : c.faults)
            options.faults[op] = rule;
        SimDetector &det = StartSim(options);
        const Bytes image = MakeImage(kImageSize);
        Load(image);

        const ROpResult r = firmware.Upgrade();
        EXPECT_EQ(r.mStatus, c.status);
        EXPECT_EQ(Requests(det, wire::kOpUpgradeStart), c.starts);
        EXPECT_EQ(Requests(det, wire::kOpDataRepeat), c.repeats);
        EXPECT_EQ(CountStatus(screen, "Download Image...Fail"), c.failTexts);
        EXPECT_EQ(DownloadLines(screen), c.lines);
        if (c.status == 0) {
            EXPECT_EQ(det.FirmwareBlocks(), Packets(image));
            EXPECT_EQ(det.ExecuteCount(), 1);
            EXPECT_TRUE(det.ExecutePassed());
            EXPECT_TRUE(screen.messages.empty());
        } else {
            EXPECT_EQ(Requests(det, wire::kOpUpgradeExecute), 0);
            EXPECT_EQ(screen.StatusCaption(), "Download Image... FAIL");
            EXPECT_EQ(screen.LastMessage().mCaption, "Download Image");
            EXPECT_EQ(screen.LastMessage().mText, "Norvik comunication error - negative response");
        }
        ExpectUsable();
        screen.ClearRecord();
    }
}

TEST_F(FirmwareTest, ExecuteFailureIs135AndTheDownloadIsTriedAgain)
{
    struct Case {
        const char *name;
        int nakTimes;
        uint16_t attempts;
        uint8_t status;
        int starts;
    } cases[] = {
        {"once, then good", 1, 3, 0, 2},
        {"always", -1, 3, 135, 3},
        {"single attempt", 1, 1, 135, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        session.DeviceCFG.mFLASHDownloadRetry = c.attempts;
        SimOptions options;
        options.SetFault(wire::kOpUpgradeExecute, SimFault::kNak, c.nakTimes);
        SimDetector &det = StartSim(options);
        Load(MakeImage(kImageSize));

        const ROpResult r = firmware.Upgrade();
        EXPECT_EQ(r.mStatus, c.status);
        EXPECT_EQ(Requests(det, wire::kOpUpgradeStart), c.starts);
        EXPECT_EQ(CountStatus(screen, "Download Image...Fail"), c.starts - (c.status == 0));
        if (c.status == 135) {
            EXPECT_EQ(screen.StatusCaption(), "Download Image... FAIL");
            EXPECT_EQ(screen.LastMessage().mText, "Program validation failed\rRetry download image");
        } else {
            EXPECT_TRUE(det.ExecutePassed());
        }
        ExpectUsable();
        screen.ClearRecord();
    }
}

TEST_F(FirmwareTest, CancelStopsAfterThePacketUnderWay)
{
    SimDetector &det = StartSim();
    Load(MakeImage(kImageSize));
    screen.onProcessMessages = [&](int) {
        if (firmware.Panel().mCancelEnabled && firmware.Panel().mProgress == 3)
            firmware.Cancel();
    };

    const ROpResult r = firmware.Upgrade();
    EXPECT_EQ(r.mStatus, 134);
    EXPECT_EQ(det.FirmwareBlocks().size(), 3u); // nothing sent after the click
    EXPECT_EQ(Requests(det, wire::kOpUpgradeExecute), 0); // no execute
    EXPECT_EQ(Requests(det, wire::kOpUpgradeStart), 1);   // no further attempt
    EXPECT_EQ(DownloadLines(screen), OkLines(0, 3));
    EXPECT_FALSE(HasStatus(screen, "Download Image...Fail"));
    EXPECT_EQ(screen.StatusCaption(), "Download Image... USER STOP");
    ASSERT_EQ(screen.messages.size(), 1u);
    EXPECT_EQ(screen.LastMessage().mText, "User Stop...");
    ExpectUsable();
}

TEST_F(FirmwareTest, CancelBeforeTheFirstPacketSendsNoStart)
{
    SimDetector &det = StartSim();
    Load(MakeImage(kImageSize));
    // Pressed while "Download Image..." is painted.
    screen.onProcessMessages = [&](int) {
        if (firmware.Panel().mCancelEnabled)
            firmware.Cancel();
    };
    EXPECT_EQ(firmware.Upgrade().mStatus, 134);
    EXPECT_EQ(Requests(det, wire::kOpUpgradeStart), 0);
    EXPECT_TRUE(det.FirmwareBlocks().empty());
    ExpectUsable();
}

TEST_F(FirmwareTest, WhatTheWindowDoesDuringTheDownloadCannotDisturbIt)
{
    SimDetector &det = StartSim();
    const Bytes image = MakeImage(kImageSize);
    Load(image);
    const std::string other = Write("other.img", MakeImage(kImageSize, {2, 16, 5, 10, 5}));
    std::vector<uint8_t> loads;
    std::vector<bool> secondUpgrades;
    screen.onProcessMessages = [&](int) {
        if (firmware.Panel().mProgress != 2)
            return;
        loads.push_back(firmware.LoadUpgradeFile(other, false));
        secondUpgrades.push_back(firmware.Upgrade().mAborted);
    };
    const ROpResult r = firmware.Upgrade();
    EXPECT_TRUE(r.Ok());
    EXPECT_EQ(det.FirmwareBlocks(), Packets(image));
    ASSERT_FALSE(loads.empty());
    for (uint8_t s : loads)
        EXPECT_EQ(s, 128);
    for (bool aborted : secondUpgrades)
        EXPECT_TRUE(aborted);
    EXPECT_EQ(Requests(det, wire::kOpUpgradeStart), 1);
    EXPECT_NE(session.DeviceCFG.mFLASHFile, other);
}

TEST_F(FirmwareTest, SerialPortErrorsEndTheUpgradeAndLeaveItUsable)
{
    const std::string missing = (dir / "no-such-tty").string();
    {
        SCOPED_TRACE("while the check connects");
        Load(MakeImage(kImageSize));
        UsePort(missing);
        const ROpResult r = firmware.Upgrade();
        EXPECT_TRUE(r.mAborted);
        EXPECT_FALSE(r.Ok());
        ASSERT_EQ(screen.messages.size(), 1u);
        EXPECT_EQ(screen.LastMessage().mCaption, "Corvane Beamport");
        EXPECT_EQ(screen.StatusCaption(), "Check Program...");
        ExpectUsable();
        EXPECT_FALSE(link.Port().Enabled());
        screen.ClearRecord();
    }
    {
        SCOPED_TRACE("while a download connects");
        StartSim();
        screen.onProcessMessages = [&](int) {
            if (screen.StatusCaption() == "Download Image...")
                UsePort(missing);
        };
        const ROpResult r = firmware.Upgrade();
        EXPECT_TRUE(r.mAborted);
        ASSERT_EQ(screen.messages.size(), 1u);
        EXPECT_EQ(screen.LastMessage().mCaption, "Corvane Beamport");
        EXPECT_FALSE(HasStatus(screen, "Download Image... FAIL"));
        EXPECT_EQ(Requests(*sim, wire::kOpUpgradeStart), 0);
        ExpectUsable();
        EXPECT_FALSE(link.Port().Enabled());
        screen.ClearRecord();
        screen.onProcessMessages = nullptr;
    }
    {
        SCOPED_TRACE("detector vanishes mid-download");
        SimDetector &det = StartSim();
        screen.onProcessMessages = [&](int) {
            if (firmware.Panel().mProgress == 3)
                det.Vanish();
        };
        const ROpResult r = firmware.Upgrade();
        EXPECT_FALSE(r.Ok());
        EXPECT_NE(r.mStatus, 0);
        EXPECT_EQ(det.ExecuteCount(), 0);
        // The packets fail (the attempt is reported), then reopening the gone
        // device raises the port error.
        EXPECT_TRUE(HasStatus(screen, "Download Image...Fail"));
        EXPECT_TRUE(r.mAborted);
        ASSERT_FALSE(screen.messages.empty());
        EXPECT_EQ(screen.LastMessage().mCaption, "Corvane Beamport");
        ExpectUsable();
        EXPECT_FALSE(link.Port().Enabled());
        // After all that the upgrade works again on a present detector.
        screen.onProcessMessages = nullptr;
        SimDetector &again = StartSim();
        EXPECT_TRUE(firmware.Upgrade().Ok());
        EXPECT_TRUE(again.ExecutePassed());
    }
}

TEST_F(FirmwareTest, AttemptDrivenPassByPass)
{
    SimDetector &det = StartSim();
    const Bytes bytes = MakeImage(kImageSize);
    const TImagePackets image = Packets(bytes);
    bool goOn = true;

    TImageDownload download(session, screen, image, goOn);
    ASSERT_TRUE(download.Begin());
    int passes = 0;
    while (download.Pass())
        ++passes;
    EXPECT_EQ(passes, kPackets);
    EXPECT_EQ(download.Position(), kPackets);
    EXPECT_TRUE(download.End().Ok());
    EXPECT_TRUE(det.ExecutePassed());
    EXPECT_FALSE(link.Port().Enabled());

    // Ended before its last packet: never executed, reported as stopped.
    TImageDownload early(session, screen, image, goOn);
    ASSERT_TRUE(early.Begin());
    ASSERT_TRUE(early.Pass());
    EXPECT_EQ(early.End().mStatus, 134);
    EXPECT_EQ(det.ExecuteCount(), 1);
    EXPECT_FALSE(link.Port().Enabled());

    // An image whose packets cannot hold the header is not sent at all.
    const TImagePackets tiny(4, Bytes(6));
    TImageDownload refused(session, screen, tiny, goOn);
    EXPECT_FALSE(refused.Begin());
    EXPECT_EQ(refused.End().mStatus, 129);
}

TEST_F(FirmwareTest, CommandLineUpgrade)
{
    const std::string cli = BEAMPORT_CLI;
#ifndef _WIN32
    if (!fs::exists(cli))
        GTEST_SKIP() << "beamport-cli not built";
#endif
    // The command line runs on the user layout's sizes: 128 packets of 128 bytes.
    const std::string good = Write("cli.img", MakeImage(128 * 128));
    const std::string older = Write("older.img", MakeImage(128 * 128, {2, 12, 5, 10, 5}));
    const std::string bad = Write("bad.img", Bytes(100));
#ifdef _WIN32
    // No shell: the program gets the words, its output goes to the same files.
    auto run = [&](const std::string &args) {
        std::vector<std::string> words = ShellWords(args);
        words.insert(words.begin(), "--simulate");
        const ProcessResult r = RunProcess(cli, words);
        std::ofstream(dir / "out.txt", std::ios::binary) << r.out;
        std::ofstream(dir / "err.txt", std::ios::binary) << r.err;
        return r.status;
    };
#else
    auto run = [&](const std::string &args) {
        const std::string command = "cd '" + dir.string() + "' && XDG_CONFIG_HOME='" + dir.string() + "/cfg' '" +
                                    cli + "' --simulate " + args + " >out.txt 2>err.txt";
        const int rc = std::system(command.c_str());
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    };
#endif
    auto slurp = [&](const char *name) {
        std::ifstream in(dir / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };

    EXPECT_EQ(run("upgrade '" + good + "'"), 0);
    EXPECT_EQ(slurp("out.txt"), "Loading Upgrade File... OK\nCheck Program... OK\nDownload Image... OK\n");
    const std::string err = slurp("err.txt");
    EXPECT_EQ(err.find("packet "), std::string::npos); // no progress when stderr is no terminal

    EXPECT_EQ(run("upgrade '" + older + "'"), 132);
    EXPECT_EQ(run("--yes upgrade '" + older + "'"), 0);
    EXPECT_EQ(run("upgrade '" + bad + "'"), 129); // the size check's status
    EXPECT_EQ(run("upgrade"), 64);
}
