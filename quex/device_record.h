// The library's working device record: the caller-visible 852-byte image
// followed by the result block that only configuration replies fill.
#pragma once

#include <cstdint>

#include <quex/quex.h>

struct QuexContext;

namespace quex {

struct QuexDeviceRecord {
    QuexDeviceInfo info;      // copied out to callers byte for byte
    uint32_t presentResults;  // bit 0 resultCode, bit 1 errorCode, bit 2 resultMessage
    uint8_t resultCode;
    uint8_t errorCode;
    char resultMessage[256];
};

// Presence bits of QuexDeviceInfo::presentFields.
enum PresentFieldBit : uint32_t {
    kPresentMac = 1u << 0,
    kPresentIp = 1u << 1,
    kPresentSubnet = 1u << 2,
    kPresentGateway = 1u << 3,
    kPresentAuxAddress = 1u << 4,
    kPresentDhcp = 1u << 5,
    kPresentAuxText = 1u << 7,
    kPresentModel = 1u << 12,
    kPresentAuxNumber = 1u << 14,
    kPresentVersion = 1u << 17,
    kPresentVendorGuid = 1u << 18,
    kPresentAuxByte = 1u << 19,
    kPresentChallenge = 1u << 20,
    kPresentAuxData = 1u << 21,
};
enum PresentResultBit : uint32_t {
    kPresentResultCode = 1u << 0,
    kPresentErrorCode = 1u << 1,
    kPresentResultMessage = 1u << 2,
};

bool InitDeviceRecord(const QuexContext* context, QuexDeviceRecord* record);
QuexDeviceRecord* NewDeviceRecord(const QuexContext* context);  // nullptr on failure
void ResetDeviceRecord(const QuexContext* context, QuexDeviceRecord* record);
void DeleteDeviceRecord(QuexDeviceRecord* record);

}  // namespace quex
