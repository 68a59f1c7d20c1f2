// The library's working device record: the caller-visible 852-byte image
// followed by the result block that only configuration replies fill.
#pragma once

#include <cstdint>

#include <quex/quex.h>

namespace quex {

struct QuexDeviceRecord {
    QuexDeviceInfo info;      // copied out to callers byte for byte
    uint32_t presentResults;  // bit 0 resultCode, bit 1 errorCode, bit 2 resultMessage
    uint8_t resultCode;
    uint8_t errorCode;
    char resultMessage[256];
};

// Presence bits of QuexDeviceInfo::presentFields (public in quex.h).
enum PresentFieldBit : uint32_t {
    kPresentMac = QUEX_PRESENT_MAC,
    kPresentIp = QUEX_PRESENT_IP,
    kPresentSubnet = QUEX_PRESENT_SUBNET,
    kPresentGateway = QUEX_PRESENT_GATEWAY,
    kPresentAuxAddress = QUEX_PRESENT_AUX_ADDRESS,
    kPresentDhcp = QUEX_PRESENT_DHCP,
    kPresentAuxText = QUEX_PRESENT_AUX_TEXT,
    kPresentModel = QUEX_PRESENT_MODEL,
    kPresentAuxNumber = QUEX_PRESENT_AUX_NUMBER,
    kPresentVersion = QUEX_PRESENT_VERSION,
    kPresentVendorGuid = QUEX_PRESENT_VENDOR_GUID,
    kPresentAuxByte = QUEX_PRESENT_AUX_BYTE,
    kPresentChallenge = QUEX_PRESENT_CHALLENGE,
    kPresentAuxData = QUEX_PRESENT_AUX_DATA,
};
enum PresentResultBit : uint32_t {
    kPresentResultCode = 1u << 0,
    kPresentErrorCode = 1u << 1,
    kPresentResultMessage = 1u << 2,
};

// Presets the record for a handle of this magic: every byte zero, then size
// 852, version 0x0200 and the magic. Also how a record is reset for the next
// datagram. False (nothing written) for a missing record.
bool InitDeviceRecord(uint32_t magic, QuexDeviceRecord* record);
QuexDeviceRecord* NewDeviceRecord(uint32_t magic);  // preset; nullptr without memory
void DeleteDeviceRecord(QuexDeviceRecord* record);

}  // namespace quex
