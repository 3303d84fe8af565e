// Reply judgement and whole exchanges fed arbitrary reply bytes.
//
// Input: a length byte n and the next n bytes form a reply for JudgeReply
// alone (n cut to what is there). Then a count of exchanges (1..8), one
// parameter block per exchange (log mode and handler, reply length, opcode,
// payload count, time-out), the line's piece size and mode, and the rest is
// the reply script of the fake line (see fake_line.h).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_util.h"
#include "model/crc16.h"
#include "link/tamsel_comms.h"

namespace {

bool StartsWith(const std::string &s, const char *p) { return s.rfind(p, 0) == 0; }

void CheckJudgement(const uint8_t *buf, int32_t nLen)
{
    std::string prefix = "junk";
    const uint8_t status = TComTamsel::JudgeReply(buf, nLen, prefix);
    FUZZ_SAY("JudgeReply (%d bytes): %u %s\n", nLen, status, prefix.c_str());
    switch (status) {
    case 0:
        FUZZ_CHECK(prefix.empty() || prefix == "ACK:" || prefix == "WRONGACK:");
        if (nLen != 3)
            FUZZ_CHECK(prefix.empty());
        break;
    case 162: FUZZ_CHECK(prefix == "NORESPONSE:" && nLen == 3); break;
    case 176: FUZZ_CHECK(prefix == "NAK:" && nLen == 3); break;
    case 177: FUZZ_CHECK(prefix == "ERROR:" && nLen == 3); break;
    case 178: FUZZ_CHECK(prefix == "CRCERROR:"); break;
    default: FUZZ_CHECK(!"unknown status from JudgeReply");
    }
    // A data reply is only taken with its CRC (high byte first) matching.
    if (status == 0 && nLen != 3)
        FUZZ_CHECK(nLen >= 2 && CRC16(buf, nLen - 2) == (buf[nLen - 2] << 8 | buf[nLen - 1]));
}

struct RExchangeParams {
    uint8_t mLogMode;
    bool mHandler;
    int32_t mLen;
    uint8_t mOpcode;
    std::vector<uint8_t> mPayload;
    float mTimeOut;
};

RExchangeParams ReadParams(TFuzzInput &in)
{
    static const int32_t kTypical[] = {3, 6, 8, 20, 34, 130, 246, 1024};
    RExchangeParams p;
    const uint8_t mode = in.Byte();
    p.mLogMode = static_cast<uint8_t>(mode & 3);
    p.mHandler = (mode & 4) != 0;
    switch ((mode >> 3) & 3) {
    case 0: p.mLen = in.Byte() % 41; break;
    case 1: p.mLen = in.Byte(); break;
    case 2: p.mLen = in.I32(); break;
    default: p.mLen = kTypical[in.Byte() % 8]; break;
    }
    p.mOpcode = in.Byte();
    // Payloads up to twice the send buffer, so that the frame bound is tried.
    p.mPayload.resize(in.U16() % 2049);
    for (size_t i = 0; i < p.mPayload.size(); ++i)
        p.mPayload[i] = static_cast<uint8_t>(i * 7 + mode);
    const uint8_t t = in.Byte();
    p.mTimeOut = t == 0xFF ? -1.0f : static_cast<float>(t) * 0.002f / 254.0f;
    return p;
}

void RunExchange(TFuzzLink &fl, const RExchangeParams &p)
{
    TComTamsel &link = *fl.link;
    int lines = 0;
    if (p.mHandler)
        link.OnTamselEvent = [&lines](TComTamsel *, TDateTime, const std::string &) { ++lines; };
    else
        link.OnTamselEvent = nullptr;

    const long writesBefore = fl.line->Writes();
    const uint8_t status = link.SendFrame(p.mLogMode, p.mOpcode, p.mPayload.data(),
                                          static_cast<int32_t>(p.mPayload.size()), p.mLen, p.mTimeOut);

    FUZZ_SAY("exchange (log mode %u, length %d, opcode %02X, %zu payload bytes): %u %s\n", p.mLogMode, p.mLen,
             p.mOpcode, p.mPayload.size(), status, link.RevLog().c_str());
    FUZZ_CHECK(status == 0 || status == 161 || status == 162 || status == 176 || status == 177 || status == 178);
    const RComTamselReadBuf &rb = link.ReadBuf();
    const RComTamselReadBuf &sb = link.SendBuf();
    FUZZ_CHECK(rb.mData >= 0 && rb.mData <= kReadBufCapacity);
    FUZZ_CHECK(sb.mData >= 2 && sb.mData <= kReadBufCapacity);
    // The frame as built: opcode (when not 0), payload, CRC high byte first.
    const uint16_t crc = CRC16(sb.mBuf, sb.mData - 2);
    FUZZ_CHECK(sb.mBuf[sb.mData - 2] == (crc >> 8) && sb.mBuf[sb.mData - 1] == (crc & 0xFF));
    if (p.mOpcode != 0)
        FUZZ_CHECK(sb.mBuf[0] == p.mOpcode);
    if (status == 0)
        FUZZ_CHECK(p.mLen >= 2 && rb.mData >= p.mLen);
    // What went out is the frame, whole.
    if (fl.line->Writes() != writesBefore)
        FUZZ_CHECK(fl.line->LastWrite() == std::vector<uint8_t>(sb.mBuf, sb.mBuf + sb.mData));
    FUZZ_CHECK(StartsWith(link.RevLog(), "[READ] "));
    if (p.mLogMode == 2)
        FUZZ_CHECK(link.SendLog().empty());
    else
        FUZZ_CHECK(link.SendLog() == "[SEND] " + TComTamsel::HexBytes(sb.mBuf, sb.mData));
    FUZZ_CHECK(lines == (p.mHandler && p.mLogMode == 0 ? 2 : 0));
    link.OnTamselEvent = nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzHeapTick();
    TFuzzInput in(data, size);

    // The judgement alone, on a buffer of exactly nLen bytes.
    const uint8_t n = in.Byte();
    const std::vector<uint8_t> reply = in.Bytes(n);
    CheckJudgement(reply.data(), static_cast<int32_t>(reply.size()));

    // Whole exchanges over the fake line.
    const int count = in.Byte() % 8 + 1;
    std::vector<RExchangeParams> params;
    for (int i = 0; i < count; ++i)
        params.push_back(ReadParams(in));
    const uint8_t lineMode = in.Byte();
    TFuzzLink fl(in.Rest(), in.Left(), lineMode & 0x1F, (lineMode & 0x80) != 0);
    for (const RExchangeParams &p : params)
        RunExchange(fl, p);
    return 0;
}
