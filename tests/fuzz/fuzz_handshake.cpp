// The handshake's input scan: ConnectTamsel fed arbitrary bytes after its
// wake-up frames, then the still-awake check and the end of the connection
// on whatever the script has left.
//
// Input: the line's piece size, then the reply script of the fake line (see
// fake_line.h): one reply per wake-up frame written. The handshake ends when
// the script does (the empty line then raises a read error), so its time
// limit never runs out.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_util.h"
#include "model/crc16.h"
#include "link/tamsel_comms.h"

namespace {

bool IsHexLine(const std::string &s)
{
    if (s.empty() || s.size() % 3 != 0)
        return false;
    for (size_t i = 0; i < s.size(); i += 3) {
        const auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
        if (!hex(s[i]) || !hex(s[i + 1]) || s[i + 2] != ' ')
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzHeapTick();
    TFuzzInput in(data, size);
    const uint8_t lineMode = in.Byte();
    TFuzzLink fl(in.Rest(), in.Left(), lineMode & 0x0F);
    TComTamsel &link = *fl.link;

    std::vector<std::string> lines;
    link.OnTamselEvent = [&lines](TComTamsel *, TDateTime, const std::string &s) { lines.push_back(s); };

    const uint8_t status = link.ConnectTamsel(3.0f);
    FUZZ_SAY("ConnectTamsel: %u after %ld frames\n", status, fl.line->Writes());
    for (const std::string &l : lines)
        FUZZ_SAY("  %s\n", l.c_str());
    FUZZ_CHECK(status == 0 || status == 160 || status == 161);
    FUZZ_CHECK(!lines.empty() && lines.back().rfind("[CHECK TIME] ", 0) == 0);
    // Every other line is a verified 3-byte frame and what followed it in the same read.
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        FUZZ_CHECK(IsHexLine(lines[i]) && lines[i].size() <= 30);
    }
    if (status == 0) {
        // The last frame reported before the time line is the acknowledge.
        FUZZ_CHECK(lines.size() >= 2 && lines[lines.size() - 2].rfind("B5 B7 C1 ", 0) == 0);
    }
    // Every wake-up frame written is B2 75 80.
    if (fl.line->Writes() > 0)
        FUZZ_CHECK(fl.line->LastWrite() == (std::vector<uint8_t>{0xB2, 0x75, 0x80}));

    // The rest of a connection on what is left of the script.
    if (status == 0) {
        const uint8_t check = link.ConnectTamselCheck();
        FUZZ_SAY("ConnectTamselCheck: %u\n", check);
        FUZZ_CHECK(check == 0 || check == 161 || check == 162 || check == 176 || check == 177 || check == 178);
        link.CloseUSB(check);
    } else {
        link.CloseUSB(status);
    }
    FUZZ_CHECK(!link.Port().Enabled());
    return 0;
}
