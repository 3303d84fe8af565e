#include "cli/read_progress.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <vector>

#include "cli/cli_screen.h"
#include "link/wire.h"
#include "model/read_buf.h"

namespace {
constexpr const char *kSend = "[SEND] ";
constexpr const char *kRead = "[READ] ";

bool StartsWith(const std::string &s, const char *prefix) { return s.rfind(prefix, 0) == 0; }

// The hexadecimal bytes of a traffic line after its tag; none when the reply
// was judged bad (a "CRCERROR:" or "NAK:" before the bytes).
std::vector<int> Bytes(const std::string &line, size_t from)
{
    std::vector<int> bytes;
    std::istringstream in(line.substr(from));
    std::string word;
    while (in >> word) {
        if (word.size() != 2 || !std::isxdigit(static_cast<unsigned char>(word[0])) ||
            !std::isxdigit(static_cast<unsigned char>(word[1])))
            return {};
        bytes.push_back(std::stoi(word, nullptr, 16));
    }
    return bytes;
}
} // namespace

int EventLogPackets(int length, int packet)
{
    if (length <= 0 || packet <= 0)
        return 0;
    const int bytes = std::min(length, kReadBufCapacity);
    return (bytes + packet - 1) / packet;
}

int EEPROMPackets(int maxAddress, int packet)
{
    if (packet <= 0)
        return 0;
    // The link stops once the last wanted packet is in, or the next would not fit its buffer.
    int count = 1;
    while (count * packet < maxAddress - packet && (count + 1) * packet <= kReadBufCapacity)
        ++count;
    return count;
}

TReadProgress TReadProgress::EventLog(TComTamsel &link, TCliScreen &screen)
{
    return TReadProgress(link, screen, EKind::kEventLog, -1);
}

TReadProgress TReadProgress::EEPROM(TComTamsel &link, TCliScreen &screen, int maxAddress)
{
    return TReadProgress(link, screen, EKind::kEEPROM, maxAddress);
}

TReadProgress::TReadProgress(TComTamsel &link, TCliScreen &screen, EKind kind, int size)
    : FLink(link), FScreen(screen), FKind(kind), FSize(size), FPrevious(link.OnTamselEvent)
{
    if (!FScreen.FProgress || !FScreen.FTerminal)
        return; // shown on a terminal only; otherwise the link stays as it was
    FLink.OnTamselEvent = [this](TComTamsel *sender, TDateTime now, const std::string &line) {
        OnLine(line);
        if (FPrevious)
            FPrevious(sender, now, line);
    };
}

TReadProgress::~TReadProgress()
{
    FLink.OnTamselEvent = FPrevious;
    FScreen.EndProgress();
}

void TReadProgress::OnLine(const std::string &line)
{
    if (StartsWith(line, kSend)) {
        const std::vector<int> request = Bytes(line, std::string(kSend).size());
        const int opcode = request.empty() ? -1 : request.front();
        FPacketNext = FStarted && opcode == wire::kOpNextPacket;
        if (FKind == EKind::kEventLog && opcode == wire::kOpLogLength)
            FLengthNext = true;
        if (FKind == EKind::kEEPROM && opcode == wire::kOpWriteConfig)
            FStarted = true;
        return;
    }
    if (!StartsWith(line, kRead))
        return;
    const std::vector<int> reply = Bytes(line, std::string(kRead).size());
    if (FLengthNext) {
        FLengthNext = false;
        if (reply.size() >= 6) {
            const uint32_t length = static_cast<uint32_t>(reply[0]) | static_cast<uint32_t>(reply[1]) << 8 |
                                    static_cast<uint32_t>(reply[2]) << 16 | static_cast<uint32_t>(reply[3]) << 24;
            FSize = static_cast<int32_t>(length); // as the link reads it
            FStarted = true;
        }
        return;
    }
    // A data reply holds a packet and its CRC; a three-byte reply is an acknowledgement.
    if (FPacketNext && reply.size() > 3)
        Packet(static_cast<int>(reply.size()) - 2);
    FPacketNext = false;
}

void TReadProgress::Packet(int bytes)
{
    if (FCount == 0)
        FCount = FKind == EKind::kEventLog ? EventLogPackets(FSize, bytes) : EEPROMPackets(FSize, bytes);
    ++FPosition;
    FCount = std::max(FCount, FPosition);
    FScreen.Progress(FKind == EKind::kEventLog ? "Event log packet" : "EEPROM packet", FPosition, FCount);
}
