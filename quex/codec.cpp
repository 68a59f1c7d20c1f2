// The wire format: reply decoding, and the building of every request.
// The sockets are elsewhere.
#include "quex/codec.h"

#include <cstddef>
#include <cstring>

#include "quex/wire_writer.h"

namespace quex {

const uint8_t kBroadcastMac[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

namespace {

// The value of a field: its length byte says how many bytes follow the code
// and the length byte; false when they are not all in the view.
bool FieldValue(const WireReader& field, WireReader* value) {
    uint8_t length = 0;
    return field.FetchU8(1, &length) && field.Sub(2, length, value);
}

// How a recognised field's value is checked and stored.
enum class ValueForm : uint8_t {
    Mac,        // exactly 6 bytes
    Address,    // exactly 4 bytes, kept in network order
    Guid,       // exactly 16 bytes, the first three parts big-endian
    Text,       // any length; up to 255 characters and a terminating zero
    Number,     // 1, 2 or 4 bytes big-endian, narrowed by mask to the member's width
    FirstByte,  // any length; the first value byte, if there is one
    Challenge,  // exactly 14 bytes; its length member set to 14
    Bytes,      // 1 to 255 bytes; its length member set to the count
};

// One row per recognised field code. Offsets are into QuexDeviceRecord (the
// caller's QuexDeviceInfo comes first); presence bits go to presentResults
// for the result fields, to presentFields for the others.
struct FieldRule {
    uint8_t code;
    ValueForm form;
    size_t member;
    uint8_t width;        // Number: the member's size in bytes
    uint32_t mask;        // Number: the bits kept
    size_t lengthMember;  // Challenge, Bytes: where the stored count goes
    bool isResult;
    uint32_t presence;
};

#define QUEX_INFO(member) (offsetof(QuexDeviceRecord, info) + offsetof(QuexDeviceInfo, member))
#define QUEX_RESULT(member) offsetof(QuexDeviceRecord, member)
constexpr FieldRule kFieldRules[] = {
    {MacAddress, ValueForm::Mac, QUEX_INFO(macAddress), 0, 0, 0, false, kPresentMac},
    {IpAddress, ValueForm::Address, QUEX_INFO(ipAddress), 0, 0, 0, false, kPresentIp},
    {SubnetMask, ValueForm::Address, QUEX_INFO(subnetMask), 0, 0, 0, false, kPresentSubnet},
    {AuxText, ValueForm::Text, QUEX_INFO(auxText), 0, 0, 0, false, kPresentAuxText},
    {ResultMessage, ValueForm::Text, QUEX_RESULT(resultMessage), 0, 0, 0, true, kPresentResultMessage},
    {ResultCode, ValueForm::Number, QUEX_RESULT(resultCode), 1, 0xFF, 0, true, kPresentResultCode},
    {Gateway, ValueForm::Address, QUEX_INFO(gateway), 0, 0, 0, false, kPresentGateway},
    {AuxNumber, ValueForm::Number, QUEX_INFO(auxNumber), 2, 0xFFFF, 0, false, kPresentAuxNumber},
    {ModelName, ValueForm::Text, QUEX_INFO(modelName), 0, 0, 0, false, kPresentModel},
    {AuxAddress, ValueForm::Address, QUEX_INFO(auxAddress), 0, 0, 0, false, kPresentAuxAddress},
    {DhcpEnabled, ValueForm::Number, QUEX_INFO(dhcpEnabled), 1, 0xFF, 0, false, kPresentDhcp},
    {ErrorCode, ValueForm::Number, QUEX_RESULT(errorCode), 1, 0xFF, 0, true, kPresentErrorCode},
    // The version is held in a 32-bit member, of which the wire fills the low 16 bits.
    {Version, ValueForm::Number, QUEX_INFO(version), 4, 0xFFFF, 0, false, kPresentVersion},
    {VendorGuid, ValueForm::Guid, QUEX_INFO(vendorGuid), 0, 0, 0, false, kPresentVendorGuid},
    {AuxByte, ValueForm::FirstByte, QUEX_INFO(auxByte), 0, 0, 0, false, kPresentAuxByte},
    {Challenge, ValueForm::Challenge, QUEX_INFO(challenge), 0, 0, QUEX_INFO(challengeLength), false,
     kPresentChallenge},
    {AuxData, ValueForm::Bytes, QUEX_INFO(auxData), 0, 0, QUEX_INFO(auxDataLength), false, kPresentAuxData},
};
#undef QUEX_INFO
#undef QUEX_RESULT

const FieldRule* RuleFor(uint8_t code) {
    for (const FieldRule& rule : kFieldRules)
        if (rule.code == code) return &rule;
    return nullptr;
}

// Stores an unsigned number in a member of 1, 2 or 4 bytes.
void StoreNumber(uint8_t* member, uint8_t width, uint32_t value) {
    if (width == 1) {
        const uint8_t narrow = static_cast<uint8_t>(value);
        std::memcpy(member, &narrow, 1);
    } else if (width == 2) {
        const uint16_t narrow = static_cast<uint16_t>(value);
        std::memcpy(member, &narrow, 2);
    } else {
        std::memcpy(member, &value, 4);
    }
}

// Decodes one value into the member the rule names; false when the value
// does not have the rule's form.
bool StoreValue(const FieldRule& rule, const WireReader& field, QuexDeviceRecord* record) {
    uint8_t* base = reinterpret_cast<uint8_t*>(record);
    uint8_t* member = base + rule.member;
    switch (rule.form) {
    case ValueForm::Mac:
        return DecodeMacField(field, member);
    case ValueForm::Address: {
        uint32_t address = 0;
        if (!DecodeAddressField(field, &address)) return false;
        std::memcpy(member, &address, sizeof address);
        return true;
    }
    case ValueForm::Guid: {
        QuexGuid guid{};
        if (!DecodeGuidField(field, &guid)) return false;
        std::memcpy(member, &guid, sizeof guid);
        return true;
    }
    case ValueForm::Text:
        return DecodeTextField(field, reinterpret_cast<char*>(member));
    case ValueForm::Number: {
        uint32_t number = 0;
        if (!DecodeNumberField(field, &number)) return false;
        StoreNumber(member, rule.width, number & rule.mask);
        return true;
    }
    case ValueForm::FirstByte: {
        uint8_t limit = 1;
        return DecodeBytesField(field, member, &limit);
    }
    case ValueForm::Challenge:
    case ValueForm::Bytes: {
        WireReader value;
        if (!FieldValue(field, &value)) return false;
        if (rule.form == ValueForm::Challenge && value.Size() != sizeof record->info.challenge) return false;
        if (value.Size() == 0) return false;
        // The limit is the member's size: the record's own count is zero
        // after a reset and would refuse every value.
        uint8_t limit =
            rule.form == ValueForm::Challenge ? sizeof record->info.challenge : sizeof record->info.auxData;
        if (!DecodeBytesField(field, member, &limit)) return false;
        base[rule.lengthMember] = limit;
        return true;
    }
    }
    return false;
}

// Decodes one field into the record; false when a recognised field fails.
// Unrecognised codes are skipped by their length and store nothing.
bool StoreField(const WireReader& field, QuexDeviceRecord* record) {
    uint8_t code = 0;
    if (!field.FetchU8(0, &code)) return false;
    const FieldRule* rule = RuleFor(code);
    if (rule == nullptr) return true;
    if (!StoreValue(*rule, field, record)) return false;
    if (rule->isResult)
        record->presentResults |= rule->presence;
    else
        record->info.presentFields |= rule->presence;
    return true;
}

}  // namespace

bool DecodeMacField(const WireReader& field, uint8_t* mac) {
    WireReader value;
    if (mac == nullptr || !FieldValue(field, &value)) return false;
    return value.Size() == 6 && value.Copy(0, 6, mac);
}

bool DecodeAddressField(const WireReader& field, uint32_t* address) {
    WireReader value;
    if (address == nullptr || !FieldValue(field, &value)) return false;
    return value.Size() == 4 && value.Copy(0, 4, address);  // stays in network order
}

bool DecodeGuidField(const WireReader& field, QuexGuid* guid) {
    WireReader value;
    if (guid == nullptr || !FieldValue(field, &value) || value.Size() != 16) return false;
    QuexGuid decoded{};
    if (!value.FetchBe32(0, &decoded.data1) || !value.FetchBe16(4, &decoded.data2) ||
        !value.FetchBe16(6, &decoded.data3) || !value.Copy(8, 8, decoded.data4))
        return false;
    *guid = decoded;
    return true;
}

bool DecodeTextField(const WireReader& field, char* text) {
    WireReader value;
    if (text == nullptr || !FieldValue(field, &value)) return false;
    const size_t count = value.Size() < 255 ? value.Size() : 255;
    if (!value.Copy(0, count, text)) return false;
    text[count] = '\0';
    return true;
}

bool DecodeNumberField(const WireReader& field, uint32_t* number) {
    WireReader value;
    if (number == nullptr || !FieldValue(field, &value)) return false;
    uint8_t byte = 0;
    uint16_t half = 0;
    switch (value.Size()) {
    case 1:
        if (!value.FetchU8(0, &byte)) return false;
        *number = byte;
        return true;
    case 2:
        if (!value.FetchBe16(0, &half)) return false;
        *number = half;
        return true;
    case 4:
        return value.FetchBe32(0, number);
    default:
        return false;
    }
}

bool DecodeBytesField(const WireReader& field, uint8_t* bytes, uint8_t* limit) {
    WireReader value;
    if (bytes == nullptr || limit == nullptr || *limit == 0 || !FieldValue(field, &value)) return false;
    const size_t count = value.Size() < *limit ? value.Size() : *limit;
    if (!value.Copy(0, count, bytes)) return false;
    *limit = static_cast<uint8_t>(count);
    return true;
}

bool DecodeResponse(uint32_t magic, const uint8_t* datagram, uint16_t expectedType,
                    QuexDeviceRecord* record) {
    if (datagram == nullptr || record == nullptr) return false;
    // The whole receive buffer is the bound, whatever the header claims;
    // bytes past the received end are zeros and walk as empty fields.
    const WireReader packet(datagram, kReceiveBufferSize);
    QuexPacketHeader header{};
    if (!packet.FetchBe32(0, &header.magic) || !packet.FetchBe16(4, &header.type) ||
        !packet.FetchBe16(6, &header.length))
        return false;
    if (header.magic != magic || header.type != expectedType) return false;

    record->info.presentFields = 0;
    record->presentResults = 0;
    bool allDecoded = true;
    size_t position = 0;
    while (position < header.length) {
        const size_t at = kHeaderSize + position;
        // A field whose code, length byte or value would reach past the
        // buffer ends the walk; the fields before it stand.
        uint8_t length = 0;
        WireReader field;
        if (!packet.FetchU8(at + 1, &length) || !packet.Sub(at, 2 + static_cast<size_t>(length), &field))
            break;
        if (!StoreField(field, record)) allDecoded = false;
        position += field.Size();
    }
    return allDecoded;
}

int32_t CheckResponse(uint32_t magic, const uint8_t* datagram, int receivedLength, uint16_t expectedType,
                      const uint8_t* targetMac, QuexDeviceRecord* record) {
    if (datagram == nullptr || targetMac == nullptr || record == nullptr) return kExchangeFailed;
    // A datagram larger than the buffer is refused, not decoded from its first part.
    if (receivedLength <= 0 || static_cast<size_t>(receivedLength) > kReceiveBufferSize)
        return kExchangeFailed;
    if (!DecodeResponse(magic, datagram, expectedType, record)) return kExchangeFailed;
    if ((record->info.presentFields & kPresentMac) == 0) return kExchangeFailed;
    if (std::memcmp(targetMac, kBroadcastMac, sizeof kBroadcastMac) != 0 &&
        std::memcmp(targetMac, record->info.macAddress, sizeof record->info.macAddress) != 0)
        return kExchangeFailed;
    return kExchangeOk;
}

namespace {

constexpr uint16_t kProtocolVersion = 0x0200;
constexpr size_t kTypeFieldOffset = 4;  // in the header, after the magic
constexpr size_t kMacSize = 6;
constexpr size_t kDigestSize = 16;
constexpr size_t kMaxPlainPassword = 255;
// Field 20 (4 bytes) and field 21 (18 bytes): the discovery request's tail,
// and the authenticated requests' after the digest.
constexpr size_t kTrailerSize = 4 + 18;

void PutHeader(WireWriter& out, uint32_t magic, uint16_t type, size_t payloadLength) {
    out.PutBe32(magic);
    out.PutBe16(type);
    out.PutBe16(static_cast<uint16_t>(payloadLength));
}

void PutTrailer(WireWriter& out, const QuexGuid& guid) {
    out.PutU8(Version);
    out.PutU8(2);
    out.PutBe16(kProtocolVersion);
    out.PutU8(VendorGuid);
    out.PutU8(16);
    out.PutBe32(guid.data1);
    out.PutBe16(guid.data2);
    out.PutBe16(guid.data3);
    out.PutBytes(guid.data4, sizeof guid.data4);
}

// Bytes before the authentication length byte: the fixed settings, then the
// target MAC. 0 for a type that is not a configuration request.
size_t FixedBodySize(uint16_t type) {
    switch (type) {
    case RebootRequest:
        return kMacSize;
    case SetNetworkRequest:
        return 12 + kMacSize;
    case SetDhcpRequest:
        return 1 + kMacSize;
    default:
        return 0;
    }
}

void PutFixedBody(WireWriter& out, const ConfigurationRequest& request) {
    if (request.type == SetNetworkRequest) {
        out.PutBytes(&request.ipAddress, 4);
        out.PutBytes(&request.subnetMask, 4);
        out.PutBytes(&request.gateway, 4);
    } else if (request.type == SetDhcpRequest) {
        out.PutU8(request.dhcp);
    }
    out.PutBytes(request.mac, kMacSize);
}

size_t Finished(const WireWriter& out) { return out.Ok() ? out.Size() : 0; }

}  // namespace

void BuildDiscoveryRequest(const WireIdentity& identity, const uint8_t* targetMac, uint8_t* out36) {
    if (out36 == nullptr) return;
    std::memset(out36, 0, kDiscoveryRequestSize);
    if (targetMac == nullptr) return;
    WireWriter out(out36, kDiscoveryRequestSize);
    PutHeader(out, identity.magic, DiscoveryRequest, kDiscoveryRequestSize - kHeaderSize);
    out.PutBytes(targetMac, kMacSize);
    PutTrailer(out, identity.vendorGuid);
}

size_t BuildSignedRequest(const WireIdentity& identity, const ConfigurationRequest& request,
                          const RequestSigner& sign, uint8_t* out, size_t capacity) {
    const size_t bodySize = FixedBodySize(request.type);
    if (bodySize == 0 || !sign) return 0;
    WireWriter writer(out, capacity);
    PutHeader(writer, identity.magic, request.type, bodySize + 1 + kDigestSize + kTrailerSize);
    PutFixedBody(writer, request);
    writer.PutU8(kDigestSize);
    if (!writer.Ok()) return 0;
    // Over the type field as it stands and the payload through the length byte.
    uint8_t digest[kDigestSize];
    if (!sign(writer.Data() + kTypeFieldOffset, writer.Data() + kHeaderSize, writer.Size() - kHeaderSize,
              digest))
        return 0;
    writer.PutBytes(digest, sizeof digest);
    PutTrailer(writer, identity.vendorGuid);
    return Finished(writer);
}

size_t BuildPlainRequest(const WireIdentity& identity, const ConfigurationRequest& request,
                         const char* password, uint8_t* out, size_t capacity) {
    const size_t bodySize = FixedBodySize(request.type);
    if (bodySize == 0 || password == nullptr) return 0;
    const size_t passwordLength = std::strlen(password);
    if (passwordLength > kMaxPlainPassword) return 0;
    WireWriter writer(out, capacity);
    PutHeader(writer, identity.magic, request.type, bodySize + 1 + passwordLength);
    PutFixedBody(writer, request);
    writer.PutU8(static_cast<uint8_t>(passwordLength));
    writer.PutBytes(password, passwordLength);  // without its terminator
    return Finished(writer);
}

}  // namespace quex
