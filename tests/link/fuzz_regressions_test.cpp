// Inputs the fuzz targets (tests/fuzz) found faults with, kept as plain tests.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "link/tamsel_comms.h"
#include "link/wire.h"

// A reply too short to hold its two CRC bytes read in front of the buffer.
TEST(FuzzRegressions, JudgeReplyRefusesRepliesShorterThanTheirCRC)
{
    for (int32_t nLen : {0, 1, -1, -1000}) {
        // Exactly nLen bytes (none for the negative lengths), so any read outside shows under ASan.
        const auto buf = std::make_unique<uint8_t[]>(nLen > 0 ? static_cast<size_t>(nLen) : 1);
        buf[0] = wire::kReplyAck;
        std::string prefix = "stale";
        EXPECT_EQ(TComTamsel::JudgeReply(nLen > 0 ? buf.get() : nullptr, nLen, prefix), wire::kStatusCrcError) << nLen;
        EXPECT_EQ(prefix, "CRCERROR:") << nLen;
    }
    // The shortest reply that can be judged: two CRC bytes over nothing.
    const uint8_t empty[2] = {0x00, 0x00};
    std::string prefix;
    EXPECT_EQ(TComTamsel::JudgeReply(empty, 2, prefix), 0);
    EXPECT_EQ(prefix, "");
}
