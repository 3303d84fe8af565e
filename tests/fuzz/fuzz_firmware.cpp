// Firmware image loading: arbitrary files and arbitrary packet layouts give
// an image or one of the load statuses (128..131), never anything else.
//
// Input: a flags byte, the packet size and count (16 bits each), then the
// file's bytes. Flag 1 fits the layout to the file (packet size 1..256 and
// as many whole packets as the bytes hold) so most runs get past the size
// check; flag 2 writes the right CRC into the first two bytes so that runs
// get past the CRC check; flag 4 loads in the user layout. The loader only
// reads files, so each run writes its file first.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/firmware_job.h"
#include "fuzz_util.h"
#include "model/crc16.h"
#include "model/device_records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzHeapTick();
    static TScratchFile scratch("img");
    TFuzzInput in(data, size);
    const uint8_t flags = in.Byte();
    uint16_t nPacketSize = in.U16();
    uint16_t nPackets = in.U16();
    std::vector<uint8_t> file = in.Bytes(in.Left());
    if (flags & 1) {
        nPacketSize = static_cast<uint16_t>(nPacketSize % 256 + 1);
        nPackets = static_cast<uint16_t>(file.size() / nPacketSize);
        file.resize(static_cast<size_t>(nPackets) * nPacketSize);
    }
    if ((flags & 2) && file.size() >= 2) {
        const uint16_t crc = CRC16(file.data() + 2, static_cast<int>(file.size() - 2));
        file[0] = static_cast<uint8_t>(crc & 0xFF);
        file[1] = static_cast<uint8_t>(crc >> 8);
    }
    const bool userMode = (flags & 4) != 0;
    WriteScratch(scratch.Path(), file.data(), file.size());

    TImagePackets packets{{1, 2, 3}};
    const uint8_t status = ReadUpgradeImage(scratch.Path(), nPackets, nPacketSize, userMode, packets);
    FUZZ_SAY("ReadUpgradeImage (%u x %u, %zu bytes): %u\n", nPackets, nPacketSize, file.size(), status);
    FUZZ_CHECK(status == 0 || status == kStatusImageSize || status == kStatusImageCRC ||
               status == kStatusImageProduct);
    if (status != 0) {
        FUZZ_CHECK(packets.empty());
        // Only a file of the exact size (and packets that hold the header) gets past the size check.
        const bool sizeOk = nPackets > 0 && nPacketSize >= kImageHeaderSize &&
                            file.size() == static_cast<size_t>(nPackets) * nPacketSize;
        FUZZ_CHECK(sizeOk == (status != kStatusImageSize));
        return 0;
    }
    // A loaded image is the file, packet by packet, with a matching CRC and product.
    FUZZ_CHECK(packets.size() == nPackets);
    std::vector<uint8_t> joined;
    for (const auto &p : packets) {
        FUZZ_CHECK(p.size() == nPacketSize);
        joined.insert(joined.end(), p.begin(), p.end());
    }
    FUZZ_CHECK(joined == file);
    RImageHeader header;
    FUZZ_CHECK(ImageHeaderOf(packets, header));
    FUZZ_CHECK(ImageCRC(packets) == header.mCRC);
    FUZZ_CHECK(ImageCRC(packets) == CRC16(file.data() + 2, static_cast<int>(file.size() - 2)));
    FUZZ_CHECK(CheckProductID(header.mProduct, kImageProduct, userMode) == 0);
    return 0;
}
