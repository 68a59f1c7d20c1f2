// The whole wire format, both ways: the datagram header, the message types,
// the reply fields and their decoders (bytes in, records out), and every
// request the library sends (values in, bytes out, all written through
// WireWriter). Nothing here touches a socket or a handle. Every number on the
// wire is big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

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

// Builds the 36-byte discovery request: the target MAC (kBroadcastMac for
// every device), then field 20 (version 0x0200) and field 21 (vendor GUID).
void BuildDiscoveryRequest(const WireIdentity& identity, const uint8_t* targetMac, uint8_t* out36);

// Each reply type is its request type plus one.
constexpr uint16_t ReplyTypeOf(uint16_t requestType) { return static_cast<uint16_t>(requestType + 1); }

// What a configuration request says before its authentication block.
struct ConfigurationRequest {
    uint16_t type;   // RebootRequest, SetNetworkRequest or SetDhcpRequest
    uint8_t mac[6];  // the target device
    // Set network: the new settings, in network order, sent as they are.
    uint32_t ipAddress;
    uint32_t subnetMask;
    uint32_t gateway;
    uint8_t dhcp;  // set DHCP: 1 switches DHCP on, 0 off
};

// Room for the largest configuration request: set network in plain form with
// a password of 255 characters (the digest form is shorter).
constexpr size_t kMaxRequestSize = kHeaderSize + 18 + 1 + 255;

// Computes the 16-byte digest of a configuration request from its type field
// as it stands in the header (2 bytes) and its payload from the start up to
// and including the authentication length byte (prefixLength bytes). False
// when it cannot.
using RequestSigner = std::function<bool(const uint8_t* typeField, const uint8_t* prefix, size_t prefixLength,
                                         uint8_t* digest)>;

// The request in digest form, for a device that offered a challenge: length
// byte 16, the digest from sign, then fields 20 and 21 as in the discovery
// request. The datagram's length, or 0 when sign fails, the type is not a
// configuration request or out cannot hold it.
size_t BuildSignedRequest(const WireIdentity& identity, const ConfigurationRequest& request,
                          const RequestSigner& sign, uint8_t* out, size_t capacity);
// The request in plain form, for a device that offered no challenge: the
// password's length byte and characters, no fields after them. 0 for a
// password of more than 255 characters (the length byte holds no more; a cut
// password would be a wrong one), a type that is not a configuration request,
// or when out cannot hold it.
size_t BuildPlainRequest(const WireIdentity& identity, const ConfigurationRequest& request,
                         const char* password, uint8_t* out, size_t capacity);

}  // namespace quex
