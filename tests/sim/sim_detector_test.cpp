#include "sim/sim_detector.h"

#include <gtest/gtest.h>

#include <thread>

#include "raw_line.h"

using namespace simtest;
using namespace std::chrono_literals;

namespace {

struct Sim {
    explicit Sim(const SimOptions &o = SimOptions()) : det(o)
    {
        det.Start();
        line = std::make_unique<RawLine>(det.DevicePath());
    }
    SimDetector det;
    std::unique_ptr<RawLine> line;
};

// Reads a configuration block the way the program does: select, two packets.
Bytes ReadBlock(RawLine &line, uint8_t select)
{
    if (line.Ask({select}, 3) != kAckFrame)
        return {};
    Bytes block;
    for (int i = 0; i < 2; ++i) {
        const Bytes p = line.Ask({wire::kOpNextPacket}, 34);
        if (p.size() != 34 || !CrcGood(p))
            return {};
        block.insert(block.end(), p.begin(), p.begin() + 32);
    }
    return block;
}

bool WriteRange(RawLine &line, int address, const Bytes &data)
{
    return line.Ask({wire::kOpWriteConfig}, 3) == kAckFrame &&
           line.Ask({static_cast<uint8_t>(data.size()), 0, static_cast<uint8_t>(address >> 8),
                     static_cast<uint8_t>(address)},
                    3) == kAckFrame &&
           line.Ask({wire::kOpData}, 3) == kAckFrame && line.Ask(data, 3) == kAckFrame;
}

} // namespace

TEST(SimMemory, DefaultRecordMatchesFactoryTableWithSealedBlocks)
{
    const char *table =
        "01 20 20 20 20 20 20 14 00 00 00 00 00 00 00 FF 53 48 31 30 30 30 30 30 30 30 89 02 89 02 C4 02 "
        "58 02 00 00 00 67 C2 03 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
        "96 00 64 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01 0F 00 FA 00 E8 03 00 00 38 7E "
        "FC FF D6 FD FF FF C9 81 FD FF CC 00 B9 15 05 00 00 67 C2 03 00 00 00 00 70 0D 00 00 00 00 00 00";
    auto config = SimDefaultConfig();
    EXPECT_TRUE(SimBlockCrcOk(config, kSimUnitBlock));
    EXPECT_TRUE(SimBlockCrcOk(config, kSimSensorBlock));
    for (int at : {62, 63, 126, 127})
        config[static_cast<size_t>(at)] = 0;
    for (int i = 0; i < kSimConfigSize; ++i)
        EXPECT_EQ(config[static_cast<size_t>(i)], std::stoi(std::string(table + i * 3, 2), nullptr, 16)) << i;
}

TEST(SimDetector, SleepsUntilWokenAndAfterKill)
{
    Sim s;
    ASSERT_TRUE(s.line->Open());
    EXPECT_TRUE(s.line->Ask({wire::kOpIdentity}, 20, 80).empty());
    EXPECT_TRUE(s.line->Wake());
    const Bytes id = s.line->Ask({wire::kOpIdentity}, 20);
    ASSERT_EQ(id.size(), 20u);
    EXPECT_TRUE(CrcGood(id));
    EXPECT_EQ(Bytes(id.begin(), id.begin() + 4), (Bytes{2, 5, 14, 1}));
    EXPECT_EQ(std::string(id.begin() + 8, id.begin() + 18), "NV00012345");
    EXPECT_EQ(s.line->Ask({wire::kOpWakeUp}, 3), kAckFrame); // still awake
    EXPECT_EQ(s.line->Ask({wire::kOpKill}, 3), kAckFrame);
    EXPECT_TRUE(s.line->Ask({wire::kOpIdentity}, 20, 80).empty());
    EXPECT_FALSE(s.det.Awake());
    EXPECT_EQ(s.det.ReceivedFrames().front(), Framed({wire::kOpIdentity}));
}

TEST(SimDetector, WakeUpBurstIsAnsweredOnce)
{
    SimOptions o;
    o.latency_us = 30000; // repeats pile up while the detector turns around
    Sim s(o);
    // As the program does it: repeat the frame about every millisecond until
    // the acknowledge is there.
    Bytes got;
    int sent = 0;
    while (got.size() < 3 && sent < 100) {
        s.line->Send(Framed({wire::kOpWakeUp}));
        ++sent;
        std::this_thread::sleep_for(1ms);
        const Bytes b = s.line->Receive(3, 0);
        got.insert(got.end(), b.begin(), b.end());
    }
    EXPECT_GT(sent, 1);
    const Bytes more = s.line->Receive(3, 100);
    got.insert(got.end(), more.begin(), more.end());
    EXPECT_EQ(got, kAckFrame);
    EXPECT_EQ(s.line->Ask({wire::kOpWakeUp}, 3), kAckFrame); // a later check is answered
}

TEST(SimDetector, WakeAfterAndAbsent)
{
    SimOptions late;
    late.wake_after = 3;
    Sim s(late);
    EXPECT_TRUE(s.line->Ask({wire::kOpWakeUp}, 3, 60).empty());
    EXPECT_TRUE(s.line->Ask({wire::kOpWakeUp}, 3, 60).empty());
    EXPECT_TRUE(s.line->Wake());

    SimOptions gone;
    gone.absent = true;
    Sim a(gone);
    EXPECT_TRUE(a.line->Ask({wire::kOpWakeUp}, 3, 60).empty());
    EXPECT_TRUE(a.line->Ask({wire::kOpWakeUp}, 3, 60).empty());
    EXPECT_EQ(a.det.ReceivedFrames().size(), 2u);
}

TEST(SimDetector, FaultsAffectTheirOpcodeForTheGivenCount)
{
    struct Case {
        SimFault fault;
        Bytes expected; // empty: the reply is judged below
    };
    const Case cases[] = {
        {SimFault::kNak, kNakFrame},
        {SimFault::kError, Framed({0xA1})},
        {SimFault::kDrop, {}},
        {SimFault::kCorrupt, {}},
    };
    for (const Case &c : cases) {
        SimOptions o;
        o.SetFault(wire::kOpIdentity, c.fault, 1);
        Sim s(o);
        ASSERT_TRUE(s.line->Wake());
        const Bytes first = s.line->Ask({wire::kOpIdentity}, 20, 100);
        if (c.fault == SimFault::kDrop) {
            EXPECT_TRUE(first.empty());
        } else if (c.fault == SimFault::kCorrupt) {
            EXPECT_EQ(first.size(), 20u);
            EXPECT_FALSE(CrcGood(first));
        } else {
            EXPECT_EQ(first, c.expected);
        }
        const Bytes second = s.line->Ask({wire::kOpIdentity}, 20);
        EXPECT_EQ(second.size(), 20u) << static_cast<int>(c.fault);
        EXPECT_TRUE(CrcGood(second));
    }
}

TEST(SimDetector, NakedKillLeavesTheDetectorAwake)
{
    SimOptions o;
    o.SetFault(wire::kOpKill, SimFault::kNak);
    Sim s(o);
    ASSERT_TRUE(s.line->Wake());
    EXPECT_EQ(s.line->Ask({wire::kOpKill}, 3), kNakFrame);
    EXPECT_TRUE(s.det.Awake());
}

TEST(SimDetector, LineShapingKnobs)
{
    SimOptions split;
    split.split_pieces = 3;
    split.split_gap_us = 100000;
    Sim s(split);
    ASSERT_TRUE(s.line->Wake()); // a wake-up answer is never split
    s.line->Purge();
    s.line->Send(Framed({wire::kOpIdentity}));
    Bytes all = s.line->Receive(1, 1000);
    const Bytes firstPiece = s.line->Receive(19, 20);
    all.insert(all.end(), firstPiece.begin(), firstPiece.end());
    EXPECT_EQ(all.size(), 6u); // 20 bytes in three pieces: 6, 7, 7
    const Bytes rest = s.line->Receive(20 - all.size(), 1000);
    all.insert(all.end(), rest.begin(), rest.end());
    EXPECT_TRUE(CrcGood(all));

    SimOptions stray;
    stray.stray_bytes = 2;
    stray.stray_opcode = wire::kOpIdentity;
    Sim t(stray);
    ASSERT_TRUE(t.line->Wake()); // no noise before other replies
    const Bytes noisy = t.line->Ask({wire::kOpIdentity}, 22);
    ASSERT_EQ(noisy.size(), 22u);
    EXPECT_EQ(noisy[0], 0x5A);
    EXPECT_EQ(noisy[1], 0x5A);
    EXPECT_TRUE(CrcGood(Bytes(noisy.begin() + 2, noisy.end())));

    SimOptions slow;
    slow.paced = true;
    slow.latency_us = 20000;
    Sim u(slow);
    ASSERT_TRUE(u.line->Wake());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(u.line->Ask({wire::kOpIdentity}, 20).size(), 20u);
    // 20 ms turnaround plus 20 bytes of about 87 us each.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 21ms);
}

TEST(SimDetector, ResynchronisesAfterGarbage)
{
    Sim s;
    ASSERT_TRUE(s.line->Wake());
    s.line->Purge();
    Bytes noisy = {0x00, 0x13, 0x77};
    const Bytes request = Framed({wire::kOpIdentity});
    noisy.insert(noisy.end(), request.begin(), request.end());
    s.line->Send(noisy);
    const Bytes id = s.line->Receive(20);
    EXPECT_TRUE(CrcGood(id));
    EXPECT_EQ(s.det.DroppedBytes(), 3);
}

TEST(SimDetector, IdentityAndBlockKnobs)
{
    SimOptions o;
    o.product_id = 4;
    o.sensor_code = 2;
    o.bad_block_crc = 1;
    Sim s(o);
    ASSERT_TRUE(s.line->Wake());
    const Bytes id = s.line->Ask({wire::kOpIdentity}, 20);
    ASSERT_EQ(id.size(), 20u);
    EXPECT_EQ(id[0], 4);
    EXPECT_EQ(id[3], 2);
    const auto config = s.det.Config();
    EXPECT_FALSE(SimBlockCrcOk(config, kSimUnitBlock));
    EXPECT_TRUE(SimBlockCrcOk(config, kSimSensorBlock));
    EXPECT_EQ(config[kSimSensorTypeAddress], 2);
    const Bytes sensor = ReadBlock(*s.line, wire::kOpSelectSensorBlock);
    ASSERT_EQ(sensor.size(), 64u);
    EXPECT_TRUE(std::equal(sensor.begin(), sensor.end(), config.begin() + 64));
}

TEST(SimDetector, PartialWritesKeepBytesAsWritten)
{
    SimOptions noReseal;
    noReseal.crc_on_write = SimCrcOnWrite::kKeep;
    Sim s(noReseal);
    ASSERT_TRUE(s.line->Wake());
    const auto before = s.det.Config();
    ASSERT_TRUE(WriteRange(*s.line, 88, {0x2C, 0x01})); // span gas 30.0
    auto after = s.det.Config();
    EXPECT_EQ(after[88], 0x2C);
    EXPECT_EQ(after[89], 0x01);
    EXPECT_EQ(after[126], before[126]); // CRC word untouched, now stale
    EXPECT_FALSE(SimBlockCrcOk(after, kSimSensorBlock));
    after[88] = before[88];
    after[89] = before[89];
    EXPECT_EQ(after, before);

    // Life write: low byte first, into the record and the identity.
    ASSERT_EQ(s.line->Ask({wire::kOpWriteLife}, 3), kAckFrame);
    ASSERT_EQ(s.line->Ask({0x78, 0x56, 0x34, 0x12}, 3), kAckFrame);
    EXPECT_EQ(s.det.Identity().mLife, 0x12345678u);
    EXPECT_EQ(s.det.Config()[kSimLifeAddress], 0x78);

    Sim m; // resealing is the default
    ASSERT_TRUE(m.line->Wake());
    ASSERT_TRUE(WriteRange(*m.line, 0, {0x05, 'A', 'B', 'C', 'D', 'E', 'F', 12}));
    EXPECT_TRUE(SimBlockCrcOk(m.det.Config(), kSimUnitBlock));
    ASSERT_TRUE(WriteRange(*m.line, 120, {1, 2, 3, 4, 5, 6, 0, 0})); // reaches the CRC word: kept as sent
    EXPECT_EQ(m.det.Config()[126], 0);
    EXPECT_FALSE(SimBlockCrcOk(m.det.Config(), kSimSensorBlock));
}

TEST(SimDetector, SerialAndFailingCellKnobs)
{
    for (const SimUnit unit : {SimUnit::kPlain, SimUnit::kDemo}) {
        SCOPED_TRACE(unit == SimUnit::kPlain ? "plain" : "demo");
        SimOptions o;
        o.unit = unit;
        o.serial = "FL42";
        o.corrupt_write = 65; // the high byte of mAlarmHigh
        Sim s(o);
        EXPECT_EQ(std::string(s.det.Identity().mSerial, 10), "FL42000000");
        const auto before = s.det.Config();
        EXPECT_EQ(std::string(before.begin() + kSimSerialAddress, before.begin() + kSimSerialAddress + 10),
                  "FL42000000");
        EXPECT_TRUE(SimBlockCrcOk(before, kSimUnitBlock));

        // Every byte of the range lands but the failing one, which differs
        // from what was sent; the detector seals the block over what it holds.
        ASSERT_TRUE(s.line->Wake());
        ASSERT_TRUE(WriteRange(*s.line, 64, {0xC8, 0x00, 0x78, 0x00}));
        const auto after = s.det.Config();
        EXPECT_EQ(after[64], 0xC8);
        EXPECT_EQ(after[65], 0x01);
        EXPECT_EQ(after[66], 0x78);
        EXPECT_TRUE(SimBlockCrcOk(after, kSimSensorBlock));
        const Bytes sensor = ReadBlock(*s.line, wire::kOpSelectSensorBlock);
        ASSERT_EQ(sensor.size(), 64u);
        EXPECT_EQ(sensor[1], 0x01);
    }
}

TEST(SimDetector, EventLogAndEepromDownloads)
{
    Sim s;
    ASSERT_TRUE(s.line->Wake());
    ASSERT_EQ(s.line->Ask({wire::kOpLoadLog}, 3), kAckFrame);
    const Bytes len = s.line->Ask({wire::kOpLogLength}, 6);
    ASSERT_TRUE(CrcGood(len));
    const std::vector<uint8_t> log = s.det.EventLog();
    EXPECT_EQ(len[0] | (len[1] << 8), static_cast<int>(log.size()));
    EXPECT_EQ(Bytes(log.end() - 4, log.end()), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
    Bytes got;
    while (got.size() < log.size()) {
        const Bytes p = s.line->Ask({wire::kOpNextPacket}, 34);
        ASSERT_TRUE(CrcGood(p));
        got.insert(got.end(), p.begin(), p.end() - 2);
    }
    EXPECT_TRUE(std::equal(log.begin(), log.end(), got.begin()));
    EXPECT_EQ(got.back(), 0xFF); // past the end: erased bytes

    // EEPROM from an odd start, 16-byte packets, running past the end.
    ASSERT_EQ(s.line->Ask({wire::kOpWriteConfig}, 3), kAckFrame);
    ASSERT_EQ(s.line->Ask({16, 0, 0x03, 0xF5}, 3), kAckFrame);
    Bytes ee;
    for (int i = 0; i < 2; ++i) {
        const Bytes p = s.line->Ask({wire::kOpNextPacket}, 18);
        ASSERT_TRUE(CrcGood(p));
        ee.insert(ee.end(), p.begin(), p.end() - 2);
    }
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(ee[static_cast<size_t>(i)], 0x3F5 + i < 1024 ? SimEepromPattern(0x3F5 + i) : 0xFF) << i;

    // Log reset leaves the end marker alone.
    EXPECT_EQ(s.line->Ask({wire::kOpLogReset}, 3), kAckFrame);
    EXPECT_EQ(s.det.EventLog(), SimEmptyEventLog());
}

TEST(SimDetector, CalibrationShowsProgressThenResult)
{
    SimOptions o;
    o.calibration_ms = 250;
    o.calibration_fails = true;
    Sim s(o);
    ASSERT_TRUE(s.line->Wake());
    auto history = [&] {
        const Bytes r = s.line->Ask({wire::kOpRequireSensor + wire::kReadGas}, 8);
        return r.size() == 8 && CrcGood(r) ? r[4] : -1;
    };
    EXPECT_EQ(history(), 0x01);
    ASSERT_EQ(s.line->Ask({wire::kOpSelectSensorBlock}, 3), kAckFrame);
    ASSERT_EQ(s.line->Ask({wire::kCalZeroSpan}, 3), kAckFrame);
    EXPECT_EQ(history(), 0x81);
    ASSERT_EQ(s.line->Ask({wire::kOpKill}, 3), kAckFrame); // the procedure runs on while asleep
    std::this_thread::sleep_for(350ms);
    ASSERT_TRUE(s.line->Wake());
    EXPECT_EQ(history(), 0x09);

    ASSERT_EQ(s.line->Ask({wire::kCalSpan}, 3), kAckFrame);
    EXPECT_TRUE(s.det.CalibrationRunning());
    ASSERT_EQ(s.line->Ask({wire::kCalAbort}, 3), kAckFrame);
    EXPECT_EQ(history(), 0x01);
}

TEST(SimDetector, HibernateAndPowerDown)
{
    SimOptions refuse;
    refuse.refuse_hibernate = true;
    Sim r(refuse);
    ASSERT_TRUE(r.line->Wake());
    EXPECT_EQ(r.line->Ask({wire::kOpHibernate}, 3), Framed({wire::kReplyRefused}));
    EXPECT_TRUE(r.det.Awake());

    Sim s;
    ASSERT_TRUE(s.line->Wake());
    EXPECT_EQ(s.line->Ask({wire::kOpHibernate}, 3), kAckFrame);
    EXPECT_FALSE(s.det.Awake());
    EXPECT_EQ(s.det.EventLog(), SimEmptyEventLog());
    ASSERT_TRUE(s.line->Wake());
    EXPECT_EQ(s.line->Ask({wire::kOpResetUnit}, 3), kAckFrame);
    EXPECT_TRUE(s.line->Ask({wire::kOpWakeUp}, 3, 80).empty());
    EXPECT_TRUE(s.det.PoweredDown());
}

TEST(SimDetector, FirmwareBlocksAndImageCheck)
{
    const Bytes image = SimMakeFirmwareImage(4, 32, 2, 15, 5, 10, 1);
    auto block = [&](int i) { return Bytes(image.begin() + i * 32, image.begin() + (i + 1) * 32); };
    Sim s;
    ASSERT_TRUE(s.line->Wake());
    ASSERT_EQ(s.line->Ask({wire::kOpUpgradeStart}, 3), kAckFrame);
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(s.line->Ask({wire::kOpData}, 3), kAckFrame);
        Bytes data = block(i);
        if (i == 1)
            data[5] ^= 0xFF; // a bad first send, repeated below with pointer 3
        ASSERT_EQ(s.line->Ask(data, 3), kAckFrame);
        if (i == 1) {
            ASSERT_EQ(s.line->Ask({wire::kOpDataRepeat}, 3), kAckFrame);
            ASSERT_EQ(s.line->Ask(block(i), 3), kAckFrame);
        }
    }
    ASSERT_EQ(s.det.FirmwareBlocks().size(), 4u);
    EXPECT_EQ(s.line->Ask({wire::kOpUpgradeExecute}, 3), kAckFrame);
    EXPECT_TRUE(s.det.ExecutePassed());
    EXPECT_EQ(s.det.Identity().mSW, 15);

    // A 0x91 whose acknowledge was lost: the repeat brings the block for the first time.
    Sim t;
    ASSERT_TRUE(t.line->Wake());
    ASSERT_EQ(t.line->Ask({wire::kOpUpgradeStart}, 3), kAckFrame);
    ASSERT_EQ(t.line->Ask({wire::kOpData}, 3), kAckFrame);
    ASSERT_EQ(t.line->Ask(block(0), 3), kAckFrame);
    t.det.SetFault(wire::kOpData, SimFault::kDrop, 1);
    EXPECT_TRUE(t.line->Ask({wire::kOpData}, 3, 80).empty());
    ASSERT_EQ(t.line->Ask({wire::kOpDataRepeat}, 3), kAckFrame);
    ASSERT_EQ(t.line->Ask(block(1), 3), kAckFrame);
    ASSERT_EQ(t.line->Ask({wire::kOpData}, 3), kAckFrame);
    Bytes bad = block(2);
    bad[0] ^= 1;
    ASSERT_EQ(t.line->Ask(bad, 3), kAckFrame);
    ASSERT_EQ(t.line->Ask({wire::kOpData}, 3), kAckFrame);
    ASSERT_EQ(t.line->Ask(block(3), 3), kAckFrame);
    EXPECT_EQ(t.det.FirmwareBlocks().size(), 4u);
    EXPECT_EQ(t.line->Ask({wire::kOpUpgradeExecute}, 3), kNakFrame); // image CRC fails on the damaged block
    EXPECT_FALSE(t.det.ExecutePassed());
    EXPECT_EQ(t.det.Identity().mSW, 14);
}

TEST(SimDetector, VanishHangsUpTheProgramMidExchange)
{
    SimOptions o;
    o.latency_us = 200000;
    Sim s(o);
    s.line->Send(Framed({wire::kOpWakeUp}));
    std::this_thread::sleep_for(20ms);
    const std::string path = s.det.DevicePath();
    s.det.Vanish();
    const Bytes got = s.line->Receive(3, 300);
    EXPECT_TRUE(got.empty());
    EXPECT_TRUE(s.line->error == EIO || s.line->hungUp);
    s.line->Send({'x'});
    EXPECT_LT(s.line->lastWrite, 0);
    EXPECT_NE(::access(path.c_str(), F_OK), 0);
    s.det.Stop();
}
