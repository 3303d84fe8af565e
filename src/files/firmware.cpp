#include "files/firmware.h"


#include <algorithm>
#include <cstring>

#include "files/input_file.h"
#include "model/crc16.h"
#include "model/convert.h"
#include "model/datetime.h"
#include "model/device_records.h"
#include "model/read_buf.h"
#include "model/settings_types.h"

// ---------------------------------------------------------------- the image

uint16_t ImageCRC(const TImagePackets &packets)
{
    uint16_t crc = 0;
    size_t offset = 0;
    for (const std::vector<uint8_t> &packet : packets)
        for (const uint8_t byte : packet) {
            if (offset++ >= 2)
                crc = CRC16Step(crc, byte);
        }
    return crc;
}

bool ImageHeaderOf(const TImagePackets &packets, RImageHeader &header)
{
    if (packets.empty() || packets.front().size() < sizeof(RImageHeader))
        return false;
    std::memcpy(&header, packets.front().data(), sizeof(RImageHeader));
    return true;
}

uint8_t ReadUpgradeImage(const std::string &fileName, uint16_t nPackets, uint16_t nPacketSize, bool bUserMode,
                         TImagePackets &packets)
{
    packets.clear();
    // Only a regular file is read, and the size decides before anything is
    // read, whatever the file's length; a FIFO or a device cannot hang the load.
    const uint64_t expected = static_cast<uint64_t>(nPackets) * nPacketSize;
    const RInputFile file = ReadInputFile(fileName, expected);
    if (file.mResult == EInputFile::TooLarge)
        return kStatusImageSize;
    if (!file.Ok())
        return kStatusImageOpen;
    const std::vector<uint8_t> &bytes = file.mBytes;
    if (nPackets == 0 || nPacketSize < kImageHeaderSize || bytes.size() != expected)
        return kStatusImageSize;

    TImagePackets image(nPackets);
    for (size_t i = 0; i < nPackets; ++i)
        image[i].assign(bytes.begin() + static_cast<std::ptrdiff_t>(i * nPacketSize),
                        bytes.begin() + static_cast<std::ptrdiff_t>((i + 1) * nPacketSize));
    RImageHeader header;
    ImageHeaderOf(image, header);
    if (ImageCRC(image) != header.mCRC)
        return kStatusImageCRC;
    if (CheckProductID(header.mProduct, kImageProduct, bUserMode) != 0)
        return kStatusImageProduct;
    packets = std::move(image);
    return 0;
}

namespace {
// The largest block the link sends in one data frame.
constexpr size_t kMaxPacketSize = static_cast<size_t>(kReadBufCapacity) - 2;
} // namespace

bool ImageShapeOk(const TImagePackets &image)
{
    if (image.empty())
        return false;
    const size_t size = image.front().size();
    if (size < static_cast<size_t>(kImageHeaderSize) || size > kMaxPacketSize)
        return false;
    return std::all_of(image.begin(), image.end(), [size](const std::vector<uint8_t> &p) { return p.size() == size; });
}
