// The wire codec: the discovery request byte for byte, and the reply field
// rules, with replies built by hand in a receive buffer of exactly 1456
// bytes on the heap (so AddressSanitizer sees any read past it).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "quex/codec.h"
#include "quex/device_record.h"

namespace {

using Bytes = std::vector<uint8_t>;

const QuexGuid kMorvGuid = {0x3C6E2A90, 0x7B14, 0x4D5F, {0xA2, 0xC8, 0x91, 0xE0, 0xF4, 0xB7, 0xD3, 0x6A}};
const QuexGuid kToolGuid = {0xD4A17F3B, 0x2E8C, 0x4B61, {0x9F, 0x05, 0x6C, 0x3A, 0x8E, 0x1B, 0x72, 0xD4}};
const uint8_t kMac[6] = {0x02, 0xC0, 0xDE, 0x25, 0x40, 0x74};
const uint8_t kOtherMac[6] = {0x02, 0xC0, 0xDE, 0x25, 0x40, 0x75};

// The handle's magic the replies are decoded with.
constexpr uint32_t kMagic = QUEX_MAGIC_TELQ;

// An 8-byte header, big-endian, written here rather than by the library.
void PutHeader(uint8_t* out, uint32_t magic, uint16_t type, uint16_t length) {
    const uint8_t header[8] = {static_cast<uint8_t>(magic >> 24), static_cast<uint8_t>(magic >> 16),
                               static_cast<uint8_t>(magic >> 8),  static_cast<uint8_t>(magic),
                               static_cast<uint8_t>(type >> 8),   static_cast<uint8_t>(type),
                               static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
    std::memcpy(out, header, sizeof header);
}

// A reply under construction: header then fields; Buffer() lays it into a
// cleared 1456-byte receive buffer.
struct Reply {
    uint32_t magic = QUEX_MAGIC_TELQ;
    uint16_t type = quex::DiscoveryResponse;
    Bytes payload;

    Reply& Field(uint8_t code, const Bytes& value) {
        payload.push_back(code);
        payload.push_back(static_cast<uint8_t>(value.size()));
        payload.insert(payload.end(), value.begin(), value.end());
        return *this;
    }
    Reply& Mac(const uint8_t* mac = kMac) { return Field(quex::MacAddress, Bytes(mac, mac + 6)); }
    size_t Size() const { return quex::kHeaderSize + payload.size(); }
    Bytes Buffer(long claimedLength = -1) const {
        Bytes buffer(quex::kReceiveBufferSize, 0);
        const uint16_t length = static_cast<uint16_t>(claimedLength < 0 ? payload.size() : claimedLength);
        PutHeader(buffer.data(), magic, type, length);
        const size_t room = buffer.size() - quex::kHeaderSize;
        if (!payload.empty())
            std::memcpy(buffer.data() + quex::kHeaderSize, payload.data(), std::min(room, payload.size()));
        return buffer;
    }
};

class Codec : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(quex::InitDeviceRecord(kMagic, &record)); }
    bool Decode(const Reply& reply, long claimedLength = -1, uint16_t expected = quex::DiscoveryResponse) {
        const Bytes buffer = reply.Buffer(claimedLength);
        return quex::DecodeResponse(kMagic, buffer.data(), expected, &record);
    }
    // A preset record, to compare whole records against.
    quex::QuexDeviceRecord Fresh() {
        quex::QuexDeviceRecord fresh;
        EXPECT_TRUE(quex::InitDeviceRecord(kMagic, &fresh));
        return fresh;
    }
    static void ExpectSameRecord(const quex::QuexDeviceRecord& expected,
                                 const quex::QuexDeviceRecord& actual) {
        const uint8_t* a = reinterpret_cast<const uint8_t*>(&expected);
        const uint8_t* b = reinterpret_cast<const uint8_t*>(&actual);
        for (size_t i = 0; i < sizeof expected; ++i) ASSERT_EQ(a[i], b[i]) << "record byte " << i;
    }

    quex::QuexDeviceRecord record;
};

// --- the discovery request ---------------------------------------------

TEST(DiscoveryRequest, MorvForEveryDeviceByteForByte) {
    uint8_t out[40];
    std::memset(out, 0xEE, sizeof out);
    quex::BuildDiscoveryRequest({QUEX_MAGIC_MORV, kMorvGuid}, quex::kBroadcastMac, out);
    const uint8_t expected[36] = {0x4D, 0x4F, 0x52, 0x56, 0x00, 0x01, 0x00, 0x1C, 0xFF, 0xFF, 0xFF, 0xFF,
                                  0xFF, 0xFF, 0x14, 0x02, 0x02, 0x00, 0x15, 0x10, 0x3C, 0x6E, 0x2A, 0x90,
                                  0x7B, 0x14, 0x4D, 0x5F, 0xA2, 0xC8, 0x91, 0xE0, 0xF4, 0xB7, 0xD3, 0x6A};
    EXPECT_EQ(Bytes(expected, expected + 36), Bytes(out, out + 36));
    for (size_t i = 36; i < sizeof out; ++i) EXPECT_EQ(0xEE, out[i]) << "written past the request at " << i;
}

TEST(DiscoveryRequest, TelqWithToolGuidForOneDevice) {
    uint8_t out[36];
    quex::BuildDiscoveryRequest({QUEX_MAGIC_TELQ, kToolGuid}, kMac, out);
    const uint8_t expected[36] = {0x54, 0x45, 0x4C, 0x51, 0x00, 0x01, 0x00, 0x1C, 0x02, 0xC0, 0xDE, 0x25,
                                  0x40, 0x74, 0x14, 0x02, 0x02, 0x00, 0x15, 0x10, 0xD4, 0xA1, 0x7F, 0x3B,
                                  0x2E, 0x8C, 0x4B, 0x61, 0x9F, 0x05, 0x6C, 0x3A, 0x8E, 0x1B, 0x72, 0xD4};
    EXPECT_EQ(Bytes(expected, expected + 36), Bytes(out, out + 36));
}

// --- configuration requests -----------------------------------------------

const quex::WireIdentity kTelqIdentity{QUEX_MAGIC_TELQ, kToolGuid};
const Bytes kMacBytes(kMac, kMac + 6);

quex::ConfigurationRequest Request(uint16_t type) {
    quex::ConfigurationRequest request{type, {}, 0, 0, 0, 0};
    std::memcpy(request.mac, kMac, 6);
    return request;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Plain(const quex::ConfigurationRequest& request, const char* password, size_t capacity = 300) {
    Bytes out(capacity + 4, 0xEE);
    const size_t length = quex::BuildPlainRequest(kTelqIdentity, request, password, out.data(), capacity);
    for (size_t i = capacity; i < out.size(); ++i)
        EXPECT_EQ(0xEE, out[i]) << "written past the room at " << i;
    return Bytes(out.begin(), out.begin() + static_cast<long>(length));
}

TEST(ConfigurationRequest, PlainFormOfEachRequestByteForByte) {
    EXPECT_EQ(
        Plain(Request(quex::RebootRequest), "abcd"),
        Concat({{0x54, 0x45, 0x4C, 0x51, 0x00, 0x05, 0x00, 0x0B}, kMacBytes, {0x04, 'a', 'b', 'c', 'd'}}));

    quex::ConfigurationRequest network = Request(quex::SetNetworkRequest);
    const uint8_t ip[4] = {192, 168, 1, 80}, mask[4] = {255, 255, 255, 0}, gateway[4] = {192, 168, 1, 1};
    std::memcpy(&network.ipAddress, ip, 4);  // network order, as the caller gives it
    std::memcpy(&network.subnetMask, mask, 4);
    std::memcpy(&network.gateway, gateway, 4);
    EXPECT_EQ(Plain(network, "pw"), Concat({{0x54, 0x45, 0x4C, 0x51, 0x00, 0x03, 0x00, 0x15},
                                            {192, 168, 1, 80, 255, 255, 255, 0, 192, 168, 1, 1},
                                            kMacBytes,
                                            {0x02, 'p', 'w'}}));

    quex::ConfigurationRequest dhcp = Request(quex::SetDhcpRequest);
    dhcp.dhcp = 1;
    EXPECT_EQ(Plain(dhcp, ""),
              Concat({{0x54, 0x45, 0x4C, 0x51, 0x00, 0x07, 0x00, 0x08, 0x01}, kMacBytes, {0x00}}));
    EXPECT_EQ(quex::SetDhcpResponse, quex::ReplyTypeOf(quex::SetDhcpRequest));
}

TEST(ConfigurationRequest, PlainFormRefusesWhatItCannotCarry) {
    const quex::ConfigurationRequest network = Request(quex::SetNetworkRequest);
    const std::string longest(255, 'p');
    EXPECT_EQ(quex::kMaxRequestSize, Plain(network, longest.c_str()).size());
    EXPECT_TRUE(Plain(network, (longest + "p").c_str()).empty());  // the length byte holds no more
    EXPECT_TRUE(Plain(network, "pw", 28).empty());                 // one byte short of the room it needs
    EXPECT_TRUE(Plain(network, nullptr).empty());
    EXPECT_TRUE(Plain(Request(quex::DiscoveryRequest), "pw").empty());
}

TEST(ConfigurationRequest, DigestFormSignsTypeAndPrefixThenCarriesTheTrailer) {
    quex::ConfigurationRequest dhcp = Request(quex::SetDhcpRequest);
    dhcp.dhcp = 1;
    Bytes typeField, prefix;
    const quex::RequestSigner sign = [&](const uint8_t* type, const uint8_t* start, size_t length,
                                         uint8_t* digest) {
        typeField.assign(type, type + 2);
        prefix.assign(start, start + length);
        for (uint8_t i = 0; i < 16; ++i) digest[i] = static_cast<uint8_t>(0xA0 + i);
        return true;
    };
    uint8_t out[quex::kMaxRequestSize];
    const size_t length = quex::BuildSignedRequest(kTelqIdentity, dhcp, sign, out, sizeof out);
    EXPECT_EQ(Bytes({0x00, 0x07}), typeField);
    EXPECT_EQ(Concat({{0x01}, kMacBytes, {0x10}}), prefix);  // through the length byte 16
    Bytes digest;
    for (uint8_t i = 0; i < 16; ++i) digest.push_back(static_cast<uint8_t>(0xA0 + i));
    EXPECT_EQ(Bytes(out, out + length),
              Concat({{0x54, 0x45, 0x4C, 0x51, 0x00, 0x07, 0x00, 0x2E, 0x01},
                      kMacBytes,
                      {0x10},
                      digest,
                      {0x14, 0x02, 0x02, 0x00, 0x15, 0x10, 0xD4, 0xA1, 0x7F, 0x3B, 0x2E,
                       0x8C, 0x4B, 0x61, 0x9F, 0x05, 0x6C, 0x3A, 0x8E, 0x1B, 0x72, 0xD4}}));

    const quex::RequestSigner refuses = [](const uint8_t*, const uint8_t*, size_t, uint8_t*) {
        return false;
    };
    EXPECT_EQ(0u, quex::BuildSignedRequest(kTelqIdentity, dhcp, refuses, out, sizeof out));
    EXPECT_EQ(0u, quex::BuildSignedRequest(kTelqIdentity, dhcp, nullptr, out, sizeof out));
    EXPECT_EQ(0u, quex::BuildSignedRequest(kTelqIdentity, dhcp, sign, out, 45));  // 46 needed
}

// --- whole replies ------------------------------------------------------

TEST_F(Codec, EveryFieldLandsInItsMember) {
    Reply reply;
    reply.Mac()
        .Field(quex::IpAddress, {192, 168, 1, 20})
        .Field(quex::SubnetMask, {255, 255, 255, 0})
        .Field(quex::Gateway, {192, 168, 1, 254})
        .Field(quex::AuxAddress, {10, 0, 0, 9})
        .Field(quex::AuxText, {'a', 'u', 'x'})
        .Field(quex::ModelName, {'K', 'V', '-', '7'})
        .Field(quex::AuxNumber, {0x00, 0x01, 0x23, 0x45})
        .Field(quex::DhcpEnabled, {0x01})
        .Field(quex::Version, {0x02, 0x01})
        .Field(quex::VendorGuid, {0xD4, 0xA1, 0x7F, 0x3B, 0x2E, 0x8C, 0x4B, 0x61, 0x9F, 0x05, 0x6C, 0x3A,
                                  0x8E, 0x1B, 0x72, 0xD4})
        .Field(quex::AuxByte, {0x42})
        .Field(quex::Challenge, Bytes(14, 0xC7))
        .Field(quex::AuxData, {1, 2, 3})
        .Field(quex::ResultCode, {0x11, 0x22, 0x33, 0x44})
        .Field(quex::ErrorCode, {0x01, 0x07})
        .Field(quex::ResultMessage, {'b', 'a', 'd'});
    ASSERT_TRUE(Decode(reply));

    quex::QuexDeviceRecord expected = Fresh();
    QuexDeviceInfo& info = expected.info;
    std::memcpy(info.macAddress, kMac, 6);
    const uint8_t ip[4] = {192, 168, 1, 20}, mask[4] = {255, 255, 255, 0}, gw[4] = {192, 168, 1, 254},
                  aux[4] = {10, 0, 0, 9};
    std::memcpy(&info.ipAddress, ip, 4);  // network order, as on the wire
    std::memcpy(&info.subnetMask, mask, 4);
    std::memcpy(&info.gateway, gw, 4);
    std::memcpy(&info.auxAddress, aux, 4);
    std::strcpy(info.auxText, "aux");
    std::strcpy(info.modelName, "KV-7");
    info.auxNumber = 0x2345;
    info.dhcpEnabled = 1;
    info.version = 0x0201;
    info.vendorGuid = kToolGuid;
    info.auxByte = 0x42;
    info.challengeLength = 14;
    std::memset(info.challenge, 0xC7, 14);
    info.auxDataLength = 3;
    info.auxData[0] = 1, info.auxData[1] = 2, info.auxData[2] = 3;
    info.presentFields = quex::kPresentMac | quex::kPresentIp | quex::kPresentSubnet | quex::kPresentGateway |
                         quex::kPresentAuxAddress | quex::kPresentDhcp | quex::kPresentAuxText |
                         quex::kPresentModel | quex::kPresentAuxNumber | quex::kPresentVersion |
                         quex::kPresentVendorGuid | quex::kPresentAuxByte | quex::kPresentChallenge |
                         quex::kPresentAuxData;
    EXPECT_EQ(0x003E50BFu, info.presentFields);
    expected.resultCode = 0x44;
    expected.errorCode = 0x07;
    std::strcpy(expected.resultMessage, "bad");
    expected.presentResults = 0x7;
    ExpectSameRecord(expected, record);
}

TEST_F(Codec, EmptyReplySucceedsAndClearsBothMasks) {
    record.info.presentFields = 0xFFFFFFFFu;
    record.presentResults = 0xFFFFFFFFu;
    Reply reply;
    reply.Mac();  // present in the buffer but outside the claimed length
    EXPECT_TRUE(Decode(reply, 0));
    EXPECT_EQ(0u, record.info.presentFields);
    EXPECT_EQ(0u, record.presentResults);
    EXPECT_EQ(0, record.info.macAddress[0]);
}

TEST_F(Codec, HeaderMustMatchTheMagicAndExpectedType) {
    Reply reply;
    reply.Mac();
    EXPECT_FALSE(Decode(reply, -1, quex::RebootResponse));
    reply.type = quex::SetNetworkResponse;  // right MAC, wrong type
    EXPECT_FALSE(Decode(reply, -1, quex::DiscoveryResponse));
    reply.type = quex::DiscoveryResponse;
    reply.magic = QUEX_MAGIC_HAPF;
    EXPECT_FALSE(Decode(reply));
    EXPECT_EQ(0u, record.info.presentFields);
    reply.magic = QUEX_MAGIC_TELQ;
    EXPECT_TRUE(Decode(reply));

    const Bytes buffer = reply.Buffer();
    EXPECT_FALSE(quex::DecodeResponse(kMagic, nullptr, quex::DiscoveryResponse, &record));
    EXPECT_FALSE(quex::DecodeResponse(kMagic, buffer.data(), quex::DiscoveryResponse, nullptr));
}

// --- lengths the header claims ------------------------------------------

TEST_F(Codec, ClaimedLength1000Over20BytesDecodesThemAndSkipsTheZeros) {
    Reply reply;
    reply.Mac().Field(quex::IpAddress, {10, 77, 0, 2}).Field(quex::DhcpEnabled, {0}).Field(14, {9});
    ASSERT_EQ(20u, reply.payload.size());
    ASSERT_TRUE(Decode(reply, 1000));

    quex::QuexDeviceRecord expected = Fresh();
    std::memcpy(expected.info.macAddress, kMac, 6);
    const uint8_t ip[4] = {10, 77, 0, 2};
    std::memcpy(&expected.info.ipAddress, ip, 4);
    expected.info.presentFields = quex::kPresentMac | quex::kPresentIp | quex::kPresentDhcp;
    ExpectSameRecord(expected, record);
}

TEST_F(Codec, ClaimedLength65535StaysInsideTheBuffer) {
    Reply reply;
    reply.Mac().Field(quex::ModelName, {'M'});
    ASSERT_TRUE(Decode(reply, 65535));
    EXPECT_EQ(quex::kPresentMac | quex::kPresentModel, record.info.presentFields);
    EXPECT_STREQ("M", record.info.modelName);

    // An odd number of payload bytes: the zero walk ends with a length byte
    // that would lie past the buffer.
    Reply odd;
    odd.Mac().Field(quex::ModelName, {'M', 'N', 'O'});
    ASSERT_EQ(13u, odd.payload.size());
    ASSERT_TRUE(Decode(odd, 65535));
    EXPECT_STREQ("MNO", record.info.modelName);
}

TEST_F(Codec, FieldReachingPastTheBufferEndsTheWalkKeepingEarlierFields) {
    Reply reply;
    reply.Mac();
    // Unrecognised filler up to 6 bytes before the end of the buffer.
    while (reply.Size() + 257 <= quex::kReceiveBufferSize - 6) reply.Field(30, Bytes(255, 0x55));
    const size_t gap = quex::kReceiveBufferSize - 6 - reply.Size();
    ASSERT_GE(gap, 2u);
    reply.Field(31, Bytes(gap - 2, 0x55));
    ASSERT_EQ(quex::kReceiveBufferSize - 6, reply.Size());
    // A model name of 200 bytes starting 6 bytes before the end.
    reply.Field(quex::ModelName, Bytes(200, 'x'));
    ASSERT_TRUE(Decode(reply, 65535));
    EXPECT_EQ(quex::kPresentMac, record.info.presentFields);
    EXPECT_STREQ("", record.info.modelName);
}

TEST_F(Codec, FieldRunningPastTheReceivedEndDecodesFromZeros) {
    Reply reply;
    reply.Mac().Field(quex::ModelName, {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J'});
    reply.payload.resize(reply.payload.size() - 6);  // received: "ABCD", the rest is zeros
    ASSERT_TRUE(Decode(reply, 20));
    EXPECT_STREQ("ABCD", record.info.modelName);
    EXPECT_NE(0u, record.info.presentFields & quex::kPresentModel);
}

// --- order and failures ---------------------------------------------------

TEST_F(Codec, LaterOfTwoEqualFieldsStands) {
    Reply reply;
    reply.Field(quex::IpAddress, {1, 1, 1, 1})
        .Field(quex::ModelName, {'l', 'o', 'n', 'g', 'e', 'r'})
        .Field(quex::IpAddress, {2, 2, 2, 2})
        .Field(quex::ModelName, {'s'})
        .Field(quex::Version, {0x03, 0x00});
    ASSERT_TRUE(Decode(reply));
    const uint8_t ip[4] = {2, 2, 2, 2};
    EXPECT_EQ(0, std::memcmp(&record.info.ipAddress, ip, 4));
    EXPECT_STREQ("s", record.info.modelName);
    EXPECT_EQ(0x0300u, record.info.version);
}

TEST_F(Codec, FailingFieldStillLetsLaterFieldsBeStored) {
    Reply reply;
    reply.Field(quex::MacAddress, {1, 2, 3, 4, 5})
        .Field(quex::IpAddress, {10, 0, 0, 1})
        .Field(quex::ModelName, {'m'})
        .Field(quex::ResultCode, {1, 2, 3})
        .Field(quex::ErrorCode, {5});
    EXPECT_FALSE(Decode(reply));
    EXPECT_EQ(quex::kPresentIp | quex::kPresentModel, record.info.presentFields);
    EXPECT_EQ(quex::kPresentErrorCode, record.presentResults);
    EXPECT_EQ(5, record.errorCode);
    EXPECT_EQ(0, record.resultCode);
    const uint8_t zeroMac[6] = {};
    EXPECT_EQ(0, std::memcmp(record.info.macAddress, zeroMac, 6));
    EXPECT_STREQ("m", record.info.modelName);
}

TEST_F(Codec, UnrecognisedCodesAreSkippedByTheirLength) {
    Reply reply;
    // Code 14 carries a byte that would read as a MAC field if not skipped whole.
    reply.Field(14, {quex::MacAddress, 6, 0})
        .Field(0, {})
        .Field(5, {1})
        .Field(19, Bytes(7, 1))
        .Field(255, {});
    EXPECT_TRUE(Decode(reply));
    EXPECT_EQ(0u, record.info.presentFields);
    EXPECT_EQ(0u, record.presentResults);
}

// --- one field form at a time --------------------------------------------

TEST_F(Codec, AuxByteOfLengthZeroAndThree) {
    Reply empty;
    empty.Field(quex::AuxByte, {});
    EXPECT_TRUE(Decode(empty));
    EXPECT_EQ(quex::kPresentAuxByte, record.info.presentFields);
    EXPECT_EQ(0, record.info.auxByte);

    Reply three;
    three.Field(quex::AuxByte, {0xAA, 0xBB, 0xCC});
    EXPECT_TRUE(Decode(three));
    EXPECT_EQ(0xAA, record.info.auxByte);
    const uint8_t zero[3] = {};
    EXPECT_EQ(0, std::memcmp(record.info.reserved1, zero, 3));
}

TEST_F(Codec, AuxDataOfLengthZeroOneAnd255) {
    Reply empty;
    empty.Field(quex::AuxData, {});
    EXPECT_FALSE(Decode(empty));
    EXPECT_EQ(0u, record.info.presentFields);
    EXPECT_EQ(0, record.info.auxDataLength);

    Reply one;
    one.Field(quex::AuxData, {0x5C});
    EXPECT_TRUE(Decode(one));
    EXPECT_EQ(quex::kPresentAuxData, record.info.presentFields);
    EXPECT_EQ(1, record.info.auxDataLength);
    EXPECT_EQ(0x5C, record.info.auxData[0]);

    Bytes full(255);
    for (size_t i = 0; i < full.size(); ++i) full[i] = static_cast<uint8_t>(i + 1);
    Reply most;
    most.Field(quex::AuxData, full);
    ASSERT_TRUE(quex::InitDeviceRecord(kMagic, &record));  // limit must not come from the zeroed count
    EXPECT_TRUE(Decode(most));
    EXPECT_EQ(255, record.info.auxDataLength);
    EXPECT_EQ(full, Bytes(record.info.auxData, record.info.auxData + 255));
    EXPECT_EQ(0u, record.presentResults);  // the result block after it is untouched
}

TEST_F(Codec, ChallengeOnlyOfExactly14Bytes) {
    for (size_t length : {13u, 15u, 0u, 8u}) {
        ASSERT_TRUE(quex::InitDeviceRecord(kMagic, &record));
        Reply reply;
        reply.Field(quex::Challenge, Bytes(length, 0x33));
        EXPECT_FALSE(Decode(reply)) << length;
        EXPECT_EQ(0, record.info.challengeLength) << length;
        EXPECT_EQ(0u, record.info.presentFields) << length;
        EXPECT_EQ(0, record.info.challenge[0]) << length;
    }
    Bytes challenge(14);
    for (size_t i = 0; i < 14; ++i) challenge[i] = static_cast<uint8_t>(0xA0 + i);
    Reply good;
    good.Field(quex::Challenge, challenge);
    EXPECT_TRUE(Decode(good));
    EXPECT_EQ(14, record.info.challengeLength);
    EXPECT_EQ(quex::kPresentChallenge, record.info.presentFields);
    EXPECT_EQ(challenge, Bytes(record.info.challenge, record.info.challenge + 14));
    EXPECT_EQ(0, record.info.reserved2);
}

TEST_F(Codec, NumberWidthsAndNarrowing) {
    struct Case {
        Bytes value;
        bool ok;
        uint32_t version;
    };
    const Case cases[] = {
        {{0x07}, true, 0x07},
        {{0x02, 0x00}, true, 0x0200},
        {{0x00, 0x01, 0x02, 0x00}, true, 0x0200},  // low 16 bits of 0x00010200
        {{0xFF, 0xFF, 0x12, 0x34}, true, 0x1234},
        {{0x00, 0x01, 0x02}, false, 0x0200},
        {{}, false, 0x0200},
        {{0, 0, 0, 0, 1}, false, 0x0200},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(quex::InitDeviceRecord(kMagic, &record));
        Reply reply;
        reply.Field(quex::Version, c.value);
        EXPECT_EQ(c.ok, Decode(reply)) << c.value.size();
        EXPECT_EQ(c.version, record.info.version) << c.value.size();
        EXPECT_EQ(c.ok ? quex::kPresentVersion : 0u, record.info.presentFields);
    }
    Reply narrow;
    narrow.Field(quex::DhcpEnabled, {0x01, 0x00, 0x01}).Field(quex::DhcpEnabled, {0x12, 0x01});
    narrow.Field(quex::AuxNumber, {0xAB, 0xCD, 0xEF, 0x01}).Field(quex::ResultCode, {0x01, 0x02});
    EXPECT_FALSE(Decode(narrow));  // the 3-byte one fails, the rest stand
    EXPECT_EQ(0x01, record.info.dhcpEnabled);
    EXPECT_EQ(0xEF01, record.info.auxNumber);
    EXPECT_EQ(0x02, record.resultCode);

    uint32_t number = 0;
    const uint8_t field[] = {quex::Version, 4, 0x89, 0xAB, 0xCD, 0xEF};
    EXPECT_TRUE(quex::DecodeNumberField(quex::WireReader(field, sizeof field), &number));
    EXPECT_EQ(0x89ABCDEFu, number);
}

TEST_F(Codec, GuidByteOrder) {
    Reply reply;
    reply.Field(quex::VendorGuid, {0x3C, 0x6E, 0x2A, 0x90, 0x7B, 0x14, 0x4D, 0x5F, 0xA2, 0xC8, 0x91, 0xE0,
                                   0xF4, 0xB7, 0xD3, 0x6A});
    ASSERT_TRUE(Decode(reply));
    EXPECT_EQ(0x3C6E2A90u, record.info.vendorGuid.data1);
    EXPECT_EQ(0x7B14, record.info.vendorGuid.data2);
    EXPECT_EQ(0x4D5F, record.info.vendorGuid.data3);
    EXPECT_EQ(0, std::memcmp(record.info.vendorGuid.data4, kMorvGuid.data4, 8));

    ASSERT_TRUE(quex::InitDeviceRecord(kMagic, &record));
    Reply shortGuid;
    shortGuid.Field(quex::VendorGuid, Bytes(15, 1));
    EXPECT_FALSE(Decode(shortGuid));
    EXPECT_EQ(0u, record.info.vendorGuid.data1);
}

TEST_F(Codec, TextOf255BytesIsStoredWholeWithTerminator) {
    Bytes text(255);
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<uint8_t>('a' + i % 26);
    std::memset(record.info.auxText, 'Z', sizeof record.info.auxText);
    Reply reply;
    reply.Field(quex::AuxText, text).Field(quex::ResultMessage, text).Field(quex::ModelName, {});
    std::strcpy(record.info.modelName, "old");
    ASSERT_TRUE(Decode(reply));
    EXPECT_EQ(text, Bytes(record.info.auxText, record.info.auxText + 255));
    EXPECT_EQ('\0', record.info.auxText[255]);
    EXPECT_EQ('\0', record.resultMessage[255]);
    EXPECT_EQ(std::string(text.begin(), text.end()), record.resultMessage);
    EXPECT_STREQ("", record.info.modelName);
    EXPECT_EQ(0, record.info.reserved4);  // the byte after modelName
}

TEST_F(Codec, AddressesAreExactlyFourBytes) {
    Reply reply;
    reply.Field(quex::IpAddress, {1, 2, 3}).Field(quex::SubnetMask, {1, 2, 3, 4, 5}).Field(quex::Gateway, {});
    EXPECT_FALSE(Decode(reply));
    EXPECT_EQ(0u, record.info.presentFields);
    EXPECT_EQ(0u, record.info.ipAddress);
    EXPECT_EQ(0u, record.info.subnetMask);
}

TEST(FieldDecoders, BytesFieldLimit) {
    const uint8_t bytes[] = {24, 3, 7, 8, 9};
    const quex::WireReader field(bytes, sizeof bytes);
    uint8_t out[3] = {};
    uint8_t limit = 0;
    EXPECT_FALSE(quex::DecodeBytesField(field, out, &limit));
    limit = 2;
    EXPECT_TRUE(quex::DecodeBytesField(field, out, &limit));
    EXPECT_EQ(2, limit);
    EXPECT_EQ(7, out[0]);
    EXPECT_EQ(8, out[1]);
    EXPECT_EQ(0, out[2]);
    EXPECT_FALSE(quex::DecodeBytesField(field, out, nullptr));
    EXPECT_FALSE(quex::DecodeTextField(field, nullptr));
    EXPECT_FALSE(quex::DecodeMacField(quex::WireReader(), out));
}

// --- acceptance of a received datagram ------------------------------------

TEST_F(Codec, AcceptanceByMacTypeAndLength) {
    Reply reply;
    reply.Mac();
    Bytes buffer = reply.Buffer();
    const int size = static_cast<int>(reply.Size());
    auto check = [&](const uint8_t* target, uint16_t type, int length) {
        quex::InitDeviceRecord(kMagic, &record);
        return quex::CheckResponse(kMagic, buffer.data(), length, type, target, &record);
    };
    EXPECT_EQ(0, check(kMac, quex::DiscoveryResponse, size));
    EXPECT_EQ(0, check(quex::kBroadcastMac, quex::DiscoveryResponse, size));
    EXPECT_EQ(-1, check(kOtherMac, quex::DiscoveryResponse, size));
    EXPECT_EQ(-1, check(kMac, quex::SetNetworkResponse, size));
    EXPECT_EQ(-1, check(kMac, quex::DiscoveryResponse, 0));
    EXPECT_EQ(-1, check(kMac, quex::DiscoveryResponse, -1));
    EXPECT_EQ(0, check(kMac, quex::DiscoveryResponse, 1456));
    EXPECT_EQ(-1, check(kMac, quex::DiscoveryResponse, 1457));  // larger than the buffer: refused, not cut
    EXPECT_EQ(-1,
              quex::CheckResponse(kMagic, buffer.data(), size, quex::DiscoveryResponse, nullptr, &record));

    Reply noMac;
    noMac.Field(quex::IpAddress, {1, 2, 3, 4});
    buffer = noMac.Buffer();
    EXPECT_EQ(-1, check(quex::kBroadcastMac, quex::DiscoveryResponse, static_cast<int>(noMac.Size())));

    Reply badField;  // right MAC, but a failing field refuses the datagram
    badField.Mac().Field(quex::Challenge, Bytes(8, 1));
    buffer = badField.Buffer();
    EXPECT_EQ(-1, check(kMac, quex::DiscoveryResponse, static_cast<int>(badField.Size())));

    Reply empty;
    buffer = empty.Buffer();
    EXPECT_EQ(-1, check(quex::kBroadcastMac, quex::DiscoveryResponse, 8));
}

}  // namespace
