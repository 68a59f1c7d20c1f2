// The wire format: header, message types, reply fields and their decoders,
// and the discovery request. Bytes in, records out (and the reverse for
// requests): nothing here touches a socket. Every number on the wire is
// big-endian.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quex/device_record.h"
#include "quex/exchange_result.h"
#include "quex/wire_reader.h"
#include <quex/quex.h>

namespace quex {

// What a handle's packets carry of it: the packet magic (host order, sent
// big-endian) and the vendor GUID. The codec needs nothing else of a handle.
struct WireIdentity {
    uint32_t magic;
    QuexGuid vendorGuid;
};

struct QuexPacketHeader {
    uint32_t magic;
    uint16_t type;
    uint16_t length;  // payload bytes after the 8-byte header
};
constexpr size_t kHeaderSize = 8;
constexpr size_t kReceiveBufferSize = 1456;
constexpr size_t kDiscoveryRequestSize = 36;

enum QuexMessageType : uint16_t {
    DiscoveryRequest = 1,
    DiscoveryResponse = 2,
    SetNetworkRequest = 3,
    SetNetworkResponse = 4,
    RebootRequest = 5,
    RebootResponse = 6,
    SetDhcpRequest = 7,
    SetDhcpResponse = 8,
};

enum QuexFieldCode : uint8_t {
    MacAddress = 1,
    IpAddress = 2,
    SubnetMask = 3,
    AuxText = 4,
    ResultMessage = 9,
    ResultCode = 10,
    Gateway = 11,
    AuxNumber = 12,
    ModelName = 13,
    AuxAddress = 15,
    DhcpEnabled = 16,
    ErrorCode = 17,
    Version = 20,
    VendorGuid = 21,
    AuxByte = 22,
    Challenge = 23,
    AuxData = 24,
};

extern const uint8_t kBroadcastMac[6];  // FF FF FF FF FF FF

// Field decoders. field is the view of one field, code byte first, as far as
// the datagram holds it: a length byte or value that reaches past it fails.
bool DecodeMacField(const WireReader& field, uint8_t* mac);
bool DecodeAddressField(const WireReader& field, uint32_t* address);
bool DecodeGuidField(const WireReader& field, QuexGuid* guid);
bool DecodeTextField(const WireReader& field, char* text);  // text holds 256
bool DecodeNumberField(const WireReader& field, uint32_t* number);
bool DecodeBytesField(const WireReader& field, uint8_t* bytes, uint8_t* limit);

// datagram holds kReceiveBufferSize bytes (the received ones, then zeros).
// False for a magic other than the handle's.
bool DecodeResponse(uint32_t magic, const uint8_t* datagram, uint16_t expectedType, QuexDeviceRecord* record);
// The acceptance checks of ReceiveResponse on a datagram already read:
// datagram holds kReceiveBufferSize bytes (the received ones, then zeros) and
// receivedLength is the datagram's real length. kExchangeOk when accepted
// (the caller then sets interfaceAddress), else kExchangeFailed.
int32_t CheckResponse(uint32_t magic, const uint8_t* datagram, int receivedLength, uint16_t expectedType,
                      const uint8_t* targetMac, QuexDeviceRecord* record);

void WriteVersionField(uint8_t* buffer);                     // 4 bytes
void WriteGuidField(const QuexGuid& guid, uint8_t* buffer);  // 18 bytes
void WriteHeader(uint8_t* buffer, uint32_t magic, uint16_t type, uint16_t length);
// Builds the 36-byte discovery request.
void BuildDiscoveryRequest(const WireIdentity& identity, const uint8_t* targetMac, uint8_t* out36);

}  // namespace quex
