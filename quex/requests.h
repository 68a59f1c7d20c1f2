// Directed queries and configuration requests, on the calling thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quex/context.h"
#include "quex/device_record.h"

namespace quex {

// Through every local interface.
int32_t QueryDevice(QuexContext* context, const uint8_t* mac, QuexDeviceRecord* record);
// Through the one interface of localAddress: exactly one answer comes back,
// even from a device that every interface reaches.
int32_t QueryDeviceThrough(QuexContext* context, uint32_t localAddress, const uint8_t* mac,
                           QuexDeviceRecord* record);
int32_t ExchangeOnInterface(QuexContext* context, uint32_t localAddress, uint16_t replyType,
                            const uint8_t* mac, const uint8_t* request, size_t length,
                            QuexDeviceRecord* record);
int64_t FindDeviceInterface(QuexContext* context, const uint8_t* mac);  // address or -1
// Asks for the challenge through the interface the request will use, so the
// challenge is the one the device offered last.
int32_t FetchChallenge(QuexContext* context, uint32_t localAddress, const uint8_t* mac,
                       uint8_t* challengeBlock);
int32_t RebootDevice(QuexContext* context, const uint8_t* mac, const char* password);
int32_t SetDeviceNetwork(QuexContext* context, const uint8_t* mac, uint32_t ipAddress, uint32_t subnetMask,
                         uint32_t gateway, const char* password);
int32_t SetDeviceDhcp(QuexContext* context, const uint8_t* mac, int32_t dhcp, const char* password);

}  // namespace quex
