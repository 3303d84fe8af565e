#pragma once
// The firmware image: an image file is exactly mFLASHMaxAddress x
// mFALSHPacketSize bytes, read as that many packets. It starts with a 7-byte
// header (image CRC, product code, versions); every packet, the header
// included, goes to the detector unchanged. The size is checked before
// anything is read and an image is only taken whole, after every check
// passed. The download itself is the firmware job of the core.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>


// ---- statuses of the image checks and the download ----

inline constexpr uint8_t kStatusImageOpen = 0x80;      // 128: the file cannot be opened or read
inline constexpr uint8_t kStatusImageSize = 0x81;      // 129: wrong size (or packets too small for the header)
inline constexpr uint8_t kStatusImageCRC = 0x82;       // 130: stored image CRC differs
inline constexpr uint8_t kStatusImageProduct = 0x83;   // 131: product code refused
inline constexpr uint8_t kStatusImageOlder = 0x84;     // 132: older image, the user declined
inline constexpr uint8_t kStatusImageTooNew = 0x85;    // 133: the image needs a newer detector
inline constexpr uint8_t kStatusUserStop = 0x86;       // 134: "Cancel" during the download
inline constexpr uint8_t kStatusExecuteFailed = 0x87;  // 135: UpgradeExecute failed

// ---- the image ----

inline constexpr int kImageHeaderSize = 7;
inline constexpr uint8_t kImageProduct = 2; // the product an image must be for

#pragma pack(push, 1)
// The first bytes of an image file.
struct RImageHeader {
    uint16_t mCRC = 0;      // CRC16 over file bytes 2 to the end, little-endian
    uint8_t mProduct = 0;   // product code, checked with CheckProductID against 2
    uint8_t mSW = 0;        // image firmware version x10
    uint8_t mHW = 0;        // image hardware version
    uint8_t mMinSW = 0;     // lowest detector firmware version that may take it
    uint8_t mMinHW = 0;     // lowest detector hardware version that may take it
};
#pragma pack(pop)

static_assert(sizeof(RImageHeader) == kImageHeaderSize);
static_assert(offsetof(RImageHeader, mCRC) == 0);
static_assert(offsetof(RImageHeader, mProduct) == 2);
static_assert(offsetof(RImageHeader, mSW) == 3);
static_assert(offsetof(RImageHeader, mHW) == 4);
static_assert(offsetof(RImageHeader, mMinSW) == 5);
static_assert(offsetof(RImageHeader, mMinHW) == 6);

// An image as packets x bytes, in file order.
using TImagePackets = std::vector<std::vector<uint8_t>>;

// CRC16 over the image bytes from offset 2 to the end (bytes 2.. of packet 0,
// then every byte of the following packets).
uint16_t ImageCRC(const TImagePackets &packets);
// The header of an image; false (header untouched) when the first packet
// cannot hold it.
bool ImageHeaderOf(const TImagePackets &packets, RImageHeader &header);

// Reads and checks an image file of nPackets packets of nPacketSize bytes:
// 0, or 128 (cannot be opened or read, not a regular file), 129 (size is not
// nPackets x nPacketSize, checked before any byte is read; also when a packet
// cannot hold the 7-byte header), 130 (CRC), 131 (product, with the layout
// bUserMode). `packets` is filled only on 0 and cleared otherwise.
uint8_t ReadUpgradeImage(const std::string &fileName, uint16_t nPackets, uint16_t nPacketSize, bool bUserMode,
                         TImagePackets &packets);

// Every packet of one size, large enough for the header and small enough for
// one data frame of the link.
bool ImageShapeOk(const TImagePackets &image);
