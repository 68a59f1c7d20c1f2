// Arbitrary datagrams through the reply decoder and the acceptance checks of
// a received reply, with the record's invariants checked after each. Run by
// libFuzzer (KELVO_FUZZ), and over the saved corpus by corpus_replay.cpp in
// every build with tests.
#include <cstdlib>
#include <cstring>

#include "quex/codec.h"
#include "quex/device_record.h"

namespace {

const uint8_t kTarget[6] = {0x02, 0xC0, 0xDE, 0x25, 0x40, 0x74};
constexpr uint32_t kMagic = QUEX_MAGIC_TELQ;  // the handle's magic

// Every presence bit the decoder may set.
constexpr uint32_t kKnownFields = quex::kPresentMac | quex::kPresentIp | quex::kPresentSubnet |
                                  quex::kPresentGateway | quex::kPresentAuxAddress | quex::kPresentDhcp |
                                  quex::kPresentAuxText | quex::kPresentModel | quex::kPresentAuxNumber |
                                  quex::kPresentVersion | quex::kPresentVendorGuid | quex::kPresentAuxByte |
                                  quex::kPresentChallenge | quex::kPresentAuxData;

void Require(bool condition) {
    if (!condition) std::abort();
}

void CheckRecord(const quex::QuexDeviceRecord& record) {
    const QuexDeviceInfo& info = record.info;
    Require(info.size == QUEX_DEVICE_INFO_SIZE);
    Require(info.magic == kMagic);
    Require((info.presentFields & ~kKnownFields) == 0);
    Require((record.presentResults & ~7u) == 0);
    Require(info.version <= 0xFFFF);
    Require(info.challengeLength == 0 || info.challengeLength == 14);
    Require((info.challengeLength == 14) == ((info.presentFields & quex::kPresentChallenge) != 0));
    Require((info.auxDataLength > 0) == ((info.presentFields & quex::kPresentAuxData) != 0));
    Require(std::memchr(info.auxText, 0, sizeof info.auxText) != nullptr);
    Require(std::memchr(info.modelName, 0, sizeof info.modelName) != nullptr);
    Require(std::memchr(record.resultMessage, 0, sizeof record.resultMessage) != nullptr);
    Require(info.reserved1[0] == 0 && info.reserved1[1] == 0 && info.reserved1[2] == 0);
    Require(info.reserved2 == 0 && info.reserved3[0] == 0 && info.reserved3[1] == 0 && info.reserved4 == 0);
    Require(info.interfaceAddress == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The receive buffer as ReceiveResponse fills it: cleared, then the datagram.
    uint8_t buffer[quex::kReceiveBufferSize] = {};
    std::memcpy(buffer, data, size < sizeof buffer ? size : sizeof buffer);
    const int received = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);

    quex::QuexDeviceRecord record;
    Require(quex::InitDeviceRecord(kMagic, &record));
    // Expect the datagram's own type, so that the walk runs whatever the type.
    const uint16_t ownType = static_cast<uint16_t>((buffer[4] << 8) | buffer[5]);
    quex::DecodeResponse(kMagic, buffer, ownType, &record);
    CheckRecord(record);

    quex::InitDeviceRecord(kMagic, &record);
    if (quex::CheckResponse(kMagic, buffer, received, ownType, quex::kBroadcastMac, &record) == 0) {
        Require(size <= quex::kReceiveBufferSize);
        Require((record.info.presentFields & quex::kPresentMac) != 0);
    }
    CheckRecord(record);

    quex::InitDeviceRecord(kMagic, &record);
    if (quex::CheckResponse(kMagic, buffer, received, quex::DiscoveryResponse, kTarget, &record) == 0)
        Require(std::memcmp(record.info.macAddress, kTarget, 6) == 0);
    CheckRecord(record);
    return 0;
}
