#pragma once
// The payload carrier that travels between the device link and its callers.
#include <cstdint>

#pragma pack(push, 1)
struct RComTamselReadBuf {
    int32_t mData = 0;       // number of valid bytes in mBuf
    uint8_t mBuf[1024] = {}; // payload; only the first mData bytes are defined
};
#pragma pack(pop)

static_assert(sizeof(RComTamselReadBuf) == 1028);
inline constexpr int kReadBufCapacity = 1024;
