// Event-log parsing and export: arbitrary downloaded bytes, counts and
// strides give a list of events, sorted oldest first, and a CSV text.
//
// Input: the carrier's byte count (32 bits, any value), the entry stride
// (16 bits, signed), a reference time byte, a configuration record (128
// bytes) for the header lines, and the rest is the downloaded bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "app/event_log_job.h"
#include "fuzz_util.h"
#include "model/config_record.h"
#include "model/read_buf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzHeapTick();
    TFuzzInput in(data, size);
    RComTamselReadBuf buf;
    const uint32_t rawCount = in.U32();
    // Mostly counts within what a download gives, sometimes anything.
    buf.mData = (rawCount & 0x80000000u) ? static_cast<int32_t>(rawCount << 1) : static_cast<int32_t>(rawCount % 1100);
    const int stride = static_cast<int16_t>(in.U16()) % 40;
    const uint8_t when = in.Byte();
    RTamselCFG cfg;
    in.Fill(&cfg, sizeof cfg);
    in.Fill(buf.mBuf, sizeof buf.mBuf);

    std::vector<RTamselEvent> events = ParseEventLog(buf, stride);
    FUZZ_SAY("ParseEventLog (%d bytes, stride %d): %zu events\n", buf.mData, stride, events.size());
    // Only whole entries within the received bytes, none of them the end marker.
    const int received = buf.mData < 0 ? 0 : (buf.mData > kReadBufCapacity ? kReadBufCapacity : buf.mData);
    if (stride < 1)
        FUZZ_CHECK(events.empty());
    else
        FUZZ_CHECK(events.size() <= static_cast<size_t>(received / stride));
    for (size_t k = 0; k < events.size(); ++k) {
        FUZZ_CHECK(events[k].mStartEvent != 0xFFFFFFFFu);
        FUZZ_CHECK(static_cast<int>(k) * stride + static_cast<int>(sizeof(RTamselEvent)) <= received);
        FUZZ_CHECK(std::memcmp(&events[k], buf.mBuf + k * static_cast<size_t>(stride), sizeof(RTamselEvent)) == 0);
    }

    const size_t count = events.size();
    SortEventLog(events);
    FUZZ_CHECK(events.size() == count);
    for (size_t i = 1; i < events.size(); ++i)
        FUZZ_CHECK(events[i - 1].mStartEvent >= events[i].mStartEvent);

    // A reference time between 1900 and about 2170: the present as the clock may have it.
    const TDateTime now = 1.0 + when * 400.0 + (rawCount % 86400) / 86400.0;
    // The export of the first entries (each row costs two local-time conversions).
    const std::vector<RTamselEvent> shown(events.begin(), events.begin() + std::min<std::ptrdiff_t>(events.size(), 16));
    const std::string text = EventLogText(cfg, shown, now);
    // One row per event after the column titles (the header's texts are the
    // record's bytes as they are and may hold line ends of their own).
    const std::string titles = std::string("\r\n\r\n") + kEventColumnTitles + "\r\n";
    const size_t body = text.find(titles);
    FUZZ_CHECK(body != std::string::npos);
    size_t rows = 0;
    for (size_t at = text.find("\r\n", body + titles.size()); at != std::string::npos; at = text.find("\r\n", at + 2))
        ++rows;
    FUZZ_CHECK(rows == shown.size());
    FUZZ_CHECK(text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0);
    return 0;
}
