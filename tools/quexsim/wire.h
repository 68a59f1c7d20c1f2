// The QUEX wire format as the device side sees it. Written independently of
// the library's codec on purpose: a fault in one must not hide in the other.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quexsim {

using Bytes = std::vector<uint8_t>;
using Mac = std::array<uint8_t, 6>;
using Guid = std::array<uint8_t, 16>;  // wire order: data1, data2, data3 big-endian, then 8 bytes
using Challenge = std::array<uint8_t, 14>;

constexpr size_t kHeaderSize = 8;
constexpr uint16_t kPort = 2362;
constexpr const char* kGroup = "224.0.5.128";

enum MessageType : uint16_t {
    kDiscoveryRequest = 1,
    kDiscoveryResponse = 2,
    kSetNetworkRequest = 3,
    kSetNetworkResponse = 4,
    kRebootRequest = 5,
    kRebootResponse = 6,
    kSetDhcpRequest = 7,
    kSetDhcpResponse = 8,
};

enum FieldCode : uint8_t {
    kFieldMac = 1,
    kFieldIp = 2,
    kFieldSubnet = 3,
    kFieldResultMessage = 9,
    kFieldResultCode = 10,
    kFieldGateway = 11,
    kFieldModel = 13,
    kFieldDhcp = 16,
    kFieldErrorCode = 17,
    kFieldVersion = 20,
    kFieldVendorGuid = 21,
    kFieldChallenge = 23,
};

struct Header {
    uint32_t magic = 0;  // first letter in the most significant byte
    uint16_t type = 0;
    uint16_t length = 0;  // payload bytes claimed by the sender
};

struct Field {
    uint8_t code = 0;
    Bytes value;
};

uint16_t ReadBe16(const uint8_t* p);
uint32_t ReadBe32(const uint8_t* p);
void AppendBe16(Bytes& out, uint16_t v);
void AppendBe32(Bytes& out, uint32_t v);

std::optional<Header> ParseHeader(const uint8_t* data, size_t size);

// Walks code-length-value fields; nullopt when a field runs past the end.
std::optional<std::vector<Field>> ParseFields(const uint8_t* data, size_t size);

// Header plus fields. headerLength overrides the length written in the
// header (to build lying replies); nullopt writes the true payload length.
Bytes BuildDatagram(uint32_t magic, uint16_t type, const std::vector<Field>& fields,
                    std::optional<uint16_t> headerLength = std::nullopt);

// The fixed part of a configuration request before its authentication block:
// 19 bytes for set-network, 7 for reboot, 8 for set-DHCP, the length byte
// included. 0 for other types.
size_t AuthPrefixLength(uint16_t type);

// A parsed configuration request (types 3, 5, 7).
struct ConfigRequest {
    uint16_t type = 0;
    Mac target{};
    uint32_t ip = 0, subnet = 0, gateway = 0;  // set-network: network order as uint32 read big-endian
    uint8_t dhcpFlag = 0;                      // set-DHCP
    uint8_t authLength = 0;
    Bytes auth;     // the authentication bytes
    Bytes trailer;  // whatever follows the authentication block
};

// Parses a configuration request; on failure returns nullopt and sets why.
std::optional<ConfigRequest> ParseConfigRequest(const uint8_t* data, size_t size, std::string& why);

// A parsed discovery request (type 1).
struct DiscoveryRequest {
    Mac target{};
    std::optional<uint16_t> version;
    std::optional<Guid> vendorGuid;
};
std::optional<DiscoveryRequest> ParseDiscoveryRequest(const uint8_t* data, size_t size, std::string& why);

// Trailer of the digest form: field 20 (0x0200) and field 21 (vendor GUID).
bool ParseTrailer(const Bytes& trailer, uint16_t& version, Guid& guid, std::string& why);

// MD5 over challenge || password || type bytes || payload prefix.
std::array<uint8_t, 16> RequestDigest(const Challenge& challenge, const std::string& password,
                                      const uint8_t* typeBytes, const uint8_t* prefix, size_t prefixLength);

// Text forms.
std::string Hex(const uint8_t* data, size_t size);
inline std::string Hex(const Bytes& b) { return Hex(b.data(), b.size()); }
std::optional<Bytes> ParseHex(const std::string& text);
std::string MacText(const Mac& mac);  // 02:c0:de:25:40:74
std::optional<Mac> ParseMac(const std::string& text);
std::string GuidText(const Guid& guid);  // {3C6E2A90-7B14-4D5F-A2C8-91E0F4B7D36A}
std::optional<Guid> ParseGuid(const std::string& text);
std::string MagicText(uint32_t magic);
std::optional<uint32_t> ParseMagic(const std::string& text);
std::string AddressText(uint32_t hostOrder);  // dotted decimal, first byte = most significant
std::optional<uint32_t> ParseAddress(const std::string& text);

}  // namespace quexsim
