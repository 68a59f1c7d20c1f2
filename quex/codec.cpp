// The wire format: reply decoding and the discovery request.
#include "quex/codec.h"

#include <cstring>

namespace quex {

const uint8_t kBroadcastMac[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

namespace {

// A bounded view of wire bytes. Every read of received data goes through
// it: a byte outside the view reads as zero and a copy that would leave the
// view copies nothing.
class WireReader {
public:
    WireReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    size_t Size() const { return size_; }
    bool Contains(size_t offset, size_t count) const {
        return offset <= size_ && count <= size_ - offset;
    }
    uint8_t U8(size_t offset) const { return offset < size_ ? data_[offset] : 0; }
    uint16_t Be16(size_t offset) const {
        return static_cast<uint16_t>((U8(offset) << 8) | U8(offset + 1));
    }
    uint32_t Be32(size_t offset) const {
        return (static_cast<uint32_t>(Be16(offset)) << 16) | Be16(offset + 2);
    }
    bool Copy(size_t offset, size_t count, void* out) const {
        if (!Contains(offset, count)) return false;
        if (count > 0) std::memcpy(out, data_ + offset, count);
        return true;
    }
    // The view of count bytes from offset; empty when they are not all inside.
    WireReader Sub(size_t offset, size_t count) const {
        return Contains(offset, count) ? WireReader(data_ + offset, count) : WireReader(data_, 0);
    }

private:
    const uint8_t* data_;
    size_t size_;
};

// The value of a field (code byte first); its extent is the field's own
// length byte, which DecodeResponse has checked against the buffer.
WireReader FieldValue(const uint8_t* field) {
    const WireReader head(field, 2);
    return WireReader(field, 2 + static_cast<size_t>(head.U8(1))).Sub(2, head.U8(1));
}

void PutBe16(uint8_t* out, uint16_t value) {
    out[0] = static_cast<uint8_t>(value >> 8);
    out[1] = static_cast<uint8_t>(value);
}

void PutBe32(uint8_t* out, uint32_t value) {
    PutBe16(out, static_cast<uint16_t>(value >> 16));
    PutBe16(out + 2, static_cast<uint16_t>(value));
}

// Decodes one field into the record; false when a recognised field fails.
bool StoreField(const uint8_t* field, QuexDeviceRecord* record) {
    QuexDeviceInfo& info = record->info;
    const uint8_t code = WireReader(field, 1).U8(0);
    const size_t length = FieldValue(field).Size();
    uint32_t number = 0;
    switch (code) {
    case MacAddress:
        if (!DecodeMacField(field, info.macAddress)) return false;
        info.presentFields |= kPresentMac;
        return true;
    case IpAddress:
        if (!DecodeAddressField(field, &info.ipAddress)) return false;
        info.presentFields |= kPresentIp;
        return true;
    case SubnetMask:
        if (!DecodeAddressField(field, &info.subnetMask)) return false;
        info.presentFields |= kPresentSubnet;
        return true;
    case Gateway:
        if (!DecodeAddressField(field, &info.gateway)) return false;
        info.presentFields |= kPresentGateway;
        return true;
    case AuxAddress:
        if (!DecodeAddressField(field, &info.auxAddress)) return false;
        info.presentFields |= kPresentAuxAddress;
        return true;
    case AuxText:
        if (!DecodeTextField(field, info.auxText)) return false;
        info.presentFields |= kPresentAuxText;
        return true;
    case ModelName:
        if (!DecodeTextField(field, info.modelName)) return false;
        info.presentFields |= kPresentModel;
        return true;
    case ResultMessage:
        if (!DecodeTextField(field, record->resultMessage)) return false;
        record->presentResults |= kPresentResultMessage;
        return true;
    case ResultCode:
        if (!DecodeNumberField(field, &number)) return false;
        record->resultCode = static_cast<uint8_t>(number);
        record->presentResults |= kPresentResultCode;
        return true;
    case ErrorCode:
        if (!DecodeNumberField(field, &number)) return false;
        record->errorCode = static_cast<uint8_t>(number);
        record->presentResults |= kPresentErrorCode;
        return true;
    case AuxNumber:
        if (!DecodeNumberField(field, &number)) return false;
        info.auxNumber = static_cast<uint16_t>(number);
        info.presentFields |= kPresentAuxNumber;
        return true;
    case DhcpEnabled:
        if (!DecodeNumberField(field, &number)) return false;
        info.dhcpEnabled = static_cast<uint8_t>(number);
        info.presentFields |= kPresentDhcp;
        return true;
    case Version:
        if (!DecodeNumberField(field, &number)) return false;
        info.version = number & 0xFFFFu;
        info.presentFields |= kPresentVersion;
        return true;
    case VendorGuid:
        if (!DecodeGuidField(field, &info.vendorGuid)) return false;
        info.presentFields |= kPresentVendorGuid;
        return true;
    case AuxByte: {
        // Any length; the first value byte, if there is one.
        uint8_t limit = 1;
        if (!DecodeBytesField(field, &info.auxByte, &limit)) return false;
        info.presentFields |= kPresentAuxByte;
        return true;
    }
    case Challenge: {
        if (length != sizeof info.challenge) return false;
        uint8_t limit = sizeof info.challenge;
        if (!DecodeBytesField(field, info.challenge, &limit)) return false;
        info.challengeLength = limit;
        info.presentFields |= kPresentChallenge;
        return true;
    }
    case AuxData: {
        // The limit is the member's size: the record's own count is zero
        // after a reset and would refuse every value.
        if (length == 0) return false;
        uint8_t limit = sizeof info.auxData;
        if (!DecodeBytesField(field, info.auxData, &limit)) return false;
        info.auxDataLength = limit;
        info.presentFields |= kPresentAuxData;
        return true;
    }
    default:
        return true;  // not recognised: skipped by its length
    }
}

}  // namespace

bool DecodeMacField(const uint8_t* field, uint8_t* mac) {
    if (field == nullptr || mac == nullptr) return false;
    const WireReader value = FieldValue(field);
    return value.Size() == 6 && value.Copy(0, 6, mac);
}

bool DecodeAddressField(const uint8_t* field, uint32_t* address) {
    if (field == nullptr || address == nullptr) return false;
    const WireReader value = FieldValue(field);
    return value.Size() == 4 && value.Copy(0, 4, address);  // stays in network order
}

bool DecodeGuidField(const uint8_t* field, QuexGuid* guid) {
    if (field == nullptr || guid == nullptr) return false;
    const WireReader value = FieldValue(field);
    if (value.Size() != 16) return false;
    guid->data1 = value.Be32(0);
    guid->data2 = value.Be16(4);
    guid->data3 = value.Be16(6);
    return value.Copy(8, 8, guid->data4);
}

bool DecodeTextField(const uint8_t* field, char* text) {
    if (field == nullptr || text == nullptr) return false;
    const WireReader value = FieldValue(field);
    const size_t count = value.Size() < 255 ? value.Size() : 255;
    if (!value.Copy(0, count, text)) return false;
    text[count] = '\0';
    return true;
}

bool DecodeNumberField(const uint8_t* field, uint32_t* number) {
    if (field == nullptr || number == nullptr) return false;
    const WireReader value = FieldValue(field);
    switch (value.Size()) {
    case 1: *number = value.U8(0); return true;
    case 2: *number = value.Be16(0); return true;
    case 4: *number = value.Be32(0); return true;
    default: return false;
    }
}

bool DecodeBytesField(const uint8_t* field, uint8_t* bytes, uint8_t* limit) {
    if (field == nullptr || bytes == nullptr || limit == nullptr || *limit == 0) return false;
    const WireReader value = FieldValue(field);
    const size_t count = value.Size() < *limit ? value.Size() : *limit;
    if (!value.Copy(0, count, bytes)) return false;
    *limit = static_cast<uint8_t>(count);
    return true;
}

bool DecodeResponse(const QuexContext* context, const uint8_t* datagram, uint16_t expectedType,
                    QuexDeviceRecord* record) {
    if (context == nullptr || datagram == nullptr || record == nullptr) return false;
    // The whole receive buffer is the bound, whatever the header claims;
    // bytes past the received end are zeros and walk as empty fields.
    const WireReader packet(datagram, kReceiveBufferSize);
    QuexPacketHeader header;
    header.magic = packet.Be32(0);
    header.type = packet.Be16(4);
    header.length = packet.Be16(6);
    if (header.magic != context->magic || header.type != expectedType) return false;

    record->info.presentFields = 0;
    record->presentResults = 0;
    bool allDecoded = true;
    size_t position = 0;
    while (position < header.length) {
        const size_t at = kHeaderSize + position;
        // A field whose code, length byte or value would reach past the
        // buffer ends the walk; the fields before it stand.
        if (!packet.Contains(at, 2)) break;
        const size_t span = 2 + static_cast<size_t>(packet.U8(at + 1));
        if (!packet.Contains(at, span)) break;
        if (!StoreField(datagram + at, record)) allDecoded = false;
        position += span;
    }
    return allDecoded;
}

int32_t CheckResponse(const QuexContext* context, const uint8_t* datagram, int receivedLength,
                      uint16_t expectedType, const uint8_t* targetMac, QuexDeviceRecord* record) {
    if (context == nullptr || datagram == nullptr || targetMac == nullptr || record == nullptr) return -1;
    // A datagram larger than the buffer is refused, not decoded from its first part.
    if (receivedLength <= 0 || static_cast<size_t>(receivedLength) > kReceiveBufferSize) return -1;
    if (!DecodeResponse(context, datagram, expectedType, record)) return -1;
    if ((record->info.presentFields & kPresentMac) == 0) return -1;
    if (std::memcmp(targetMac, kBroadcastMac, sizeof kBroadcastMac) != 0 &&
        std::memcmp(targetMac, record->info.macAddress, sizeof record->info.macAddress) != 0)
        return -1;
    return 0;
}

int32_t ReceiveResponse(const QuexContext* context, SocketHandle socket, uint16_t expectedType,
                        const uint8_t* targetMac, QuexDeviceRecord* record) {
    if (context == nullptr || targetMac == nullptr || record == nullptr) return -1;
    uint8_t buffer[kReceiveBufferSize] = {};
    const int received = platform::SocketReceive(socket, buffer, sizeof buffer);
    if (CheckResponse(context, buffer, received, expectedType, targetMac, record) != 0) return -1;
    uint32_t local = 0;
    if (!platform::SocketLocalAddress(socket, &local)) return -1;
    record->info.interfaceAddress = local;
    return 0;
}

void WriteVersionField(uint8_t* buffer) {
    if (buffer == nullptr) return;
    buffer[0] = Version;
    buffer[1] = 2;
    PutBe16(buffer + 2, 0x0200);
}

void WriteGuidField(const QuexContext* context, uint8_t* buffer) {
    if (context == nullptr || buffer == nullptr) return;
    const QuexGuid& guid = context->vendorGuid;
    buffer[0] = VendorGuid;
    buffer[1] = 16;
    PutBe32(buffer + 2, guid.data1);
    PutBe16(buffer + 6, guid.data2);
    PutBe16(buffer + 8, guid.data3);
    std::memcpy(buffer + 10, guid.data4, sizeof guid.data4);
}

void WriteHeader(uint8_t* buffer, uint32_t magic, uint16_t type, uint16_t length) {
    if (buffer == nullptr) return;
    PutBe32(buffer, magic);
    PutBe16(buffer + 4, type);
    PutBe16(buffer + 6, length);
}

void BuildDiscoveryRequest(const QuexContext* context, const uint8_t* targetMac, uint8_t* out36) {
    if (out36 == nullptr) return;
    std::memset(out36, 0, kDiscoveryRequestSize);
    if (context == nullptr || targetMac == nullptr) return;
    WriteHeader(out36, context->magic, DiscoveryRequest, kDiscoveryRequestSize - kHeaderSize);
    std::memcpy(out36 + 8, targetMac, 6);
    WriteVersionField(out36 + 14);
    WriteGuidField(context, out36 + 18);
}

int32_t SendDiscoveryRequest(const QuexContext* context, const SocketHandle* sockets, int32_t count,
                             const uint8_t* targetMac) {
    if (context == nullptr || targetMac == nullptr) return -1;
    uint8_t request[kDiscoveryRequestSize];
    BuildDiscoveryRequest(context, targetMac, request);
    return SendToGroup(context, sockets, count, request, sizeof request);
}

}  // namespace quex
