// Request digest: expected values were computed independently with
// `printf '<bytes>' | openssl dgst -md5` over challenge || password || type || prefix.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "platform/md5.h"
#include "quex/digest.h"

namespace {

using Digest = std::array<uint8_t, 16>;

// Length byte 14, then the challenge bytes.
const uint8_t kChallengeBlock[quex::kChallengeBlockSize] = {14,   0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x07,
                                                            0x18, 0x29, 0x3A, 0x4B, 0x5C, 0x6D, 0x7E};
const uint8_t kMac[6] = {0x02, 0xC0, 0xDE, 0x25, 0x40, 0x74};

// A request datagram laid out as on the wire: header, the request's prefix
// (ending with the length byte 16), then room for the digest and a guard.
struct Request {
    std::vector<uint8_t> bytes;
    size_t prefixLength;

    // Sized once, then filled (growing a vector made from a short list is
    // taken for an out-of-bounds copy by GCC 12 at -O3: -Warray-bounds).
    Request(uint8_t type, std::vector<uint8_t> prefixWithoutLengthByte) {
        const uint8_t header[8] = {'T', 'E', 'L', 'Q', 0x00, type, 0x00, 0x00};
        prefixLength = prefixWithoutLengthByte.size() + 1;
        bytes.assign(sizeof header + prefixLength + 16 + 4, 0xEE);  // digest place, then guard bytes
        auto end = std::copy(std::begin(header), std::end(header), bytes.begin());
        end = std::copy(prefixWithoutLengthByte.begin(), prefixWithoutLengthByte.end(), end);
        *end = 16;
    }
    uint8_t* Payload() { return bytes.data() + 8; }
    uint8_t* Out() { return Payload() + prefixLength; }

    Digest Compute(const char* password) {
        std::vector<uint8_t> before(bytes.begin(), bytes.begin() + 8 + prefixLength);
        EXPECT_EQ(0, quex::ComputeRequestDigest(kChallengeBlock, password, Payload(),
                                                static_cast<int16_t>(prefixLength), bytes.data() + 4, Out()));
        // Only the 16 bytes after the length byte are written.
        EXPECT_TRUE(std::equal(before.begin(), before.end(), bytes.begin()));
        for (size_t i = 8 + prefixLength + 16; i < bytes.size(); ++i) EXPECT_EQ(0xEE, bytes[i]) << i;
        Digest digest;
        std::memcpy(digest.data(), Out(), 16);
        return digest;
    }
};

std::vector<uint8_t> MacBytes() { return std::vector<uint8_t>(kMac, kMac + 6); }

// Sized once, then filled, as Request's bytes.
std::vector<uint8_t> NetworkPrefix(std::vector<uint8_t> gateway) {
    static const uint8_t kAddressAndMask[8] = {0xC0, 0xA8, 0x01, 0x01, 0xFF, 0xFF, 0xFF, 0x00};
    std::vector<uint8_t> prefix(sizeof kAddressAndMask + gateway.size() + sizeof kMac);
    auto end = std::copy(std::begin(kAddressAndMask), std::end(kAddressAndMask), prefix.begin());
    end = std::copy(gateway.begin(), gateway.end(), end);
    std::copy(std::begin(kMac), std::end(kMac), end);
    return prefix;
}

TEST(RequestDigest, RebootCoversMacAndLengthByte) {
    Request reboot(5, MacBytes());
    ASSERT_EQ(7u, reboot.prefixLength);
    const Digest expected = {0x01, 0x76, 0x66, 0xb7, 0x66, 0xd2, 0x7e, 0xd2,
                             0x78, 0xfb, 0x7a, 0x05, 0xb5, 0xb7, 0x59, 0x78};
    EXPECT_EQ(expected, reboot.Compute("admin"));
}

TEST(RequestDigest, EmptyPasswordDigestsChallengeTypeAndPrefixOnly) {
    Request reboot(5, MacBytes());
    const Digest expected = {0x98, 0x32, 0x18, 0xc6, 0x8a, 0xf4, 0x6a, 0x8e,
                             0x25, 0x81, 0x91, 0xc0, 0xe5, 0x04, 0xaa, 0xf7};
    EXPECT_EQ(expected, reboot.Compute(""));
}

TEST(RequestDigest, PasswordLongerThan255IsDigestedWhole) {
    Request reboot(5, MacBytes());
    const std::string password(300, 'p');
    const Digest expected = {0xa7, 0x7f, 0xdd, 0x1f, 0xf6, 0xb0, 0xaa, 0x38,
                             0xaf, 0x39, 0x75, 0x9a, 0x7a, 0x6c, 0x77, 0x0f};
    EXPECT_EQ(expected, reboot.Compute(password.c_str()));
}

TEST(RequestDigest, SetNetworkTwoGatewaysGiveTwoDigests) {
    Request first(3, NetworkPrefix({0xC0, 0xA8, 0x01, 0xFE}));
    Request second(3, NetworkPrefix({0xC0, 0xA8, 0x01, 0x01}));
    ASSERT_EQ(19u, first.prefixLength);
    const Digest expectedFirst = {0x02, 0x1e, 0x21, 0x88, 0xbe, 0xd2, 0x11, 0xe2,
                                  0x25, 0xf6, 0xfa, 0x95, 0xdb, 0xb9, 0xdf, 0xb4};
    const Digest expectedSecond = {0xd1, 0x95, 0x9b, 0x34, 0xfd, 0x89, 0x91, 0x6e,
                                   0x02, 0xd8, 0xa0, 0x54, 0x72, 0xf6, 0xe2, 0x0e};
    EXPECT_EQ(expectedFirst, first.Compute("admin"));
    EXPECT_EQ(expectedSecond, second.Compute("admin"));
}

TEST(RequestDigest, SetDhcp) {
    std::vector<uint8_t> on = {0x01};
    on.insert(on.end(), kMac, kMac + 6);
    Request dhcpOn(7, on);
    ASSERT_EQ(8u, dhcpOn.prefixLength);
    const Digest expectedOn = {0xab, 0xf9, 0xc2, 0x94, 0x69, 0x09, 0x8b, 0x4f,
                               0xb0, 0x8a, 0x0a, 0x91, 0xe8, 0xeb, 0x2e, 0x1d};
    EXPECT_EQ(expectedOn, dhcpOn.Compute("secret"));

    std::vector<uint8_t> off = {0x00};
    off.insert(off.end(), kMac, kMac + 6);
    Request dhcpOff(7, off);
    const Digest expectedOff = {0x03, 0x6e, 0xe4, 0x77, 0xe0, 0x8c, 0x0f, 0x1d,
                                0x9f, 0xf3, 0x9c, 0x8f, 0xda, 0x6f, 0x7f, 0x55};
    EXPECT_EQ(expectedOff, dhcpOff.Compute(""));
}

TEST(RequestDigest, MissingInputsAndBadPrefixAreRefusedWithoutWriting) {
    Request reboot(5, MacBytes());
    uint8_t* payload = reboot.Payload();
    const uint8_t* type = reboot.bytes.data() + 4;
    uint8_t out[16];
    std::memset(out, 0x5A, sizeof out);
    EXPECT_EQ(-1, quex::ComputeRequestDigest(kChallengeBlock, nullptr, payload, 7, type, out));
    EXPECT_EQ(-1, quex::ComputeRequestDigest(kChallengeBlock, "admin", nullptr, 7, type, out));
    EXPECT_EQ(-1, quex::ComputeRequestDigest(kChallengeBlock, "admin", payload, 7, type, nullptr));
    EXPECT_EQ(-1, quex::ComputeRequestDigest(kChallengeBlock, "admin", payload, 0, type, out));
    EXPECT_EQ(-1, quex::ComputeRequestDigest(kChallengeBlock, "admin", payload, -7, type, out));
    EXPECT_EQ(-1, quex::ComputeRequestDigest(nullptr, "admin", payload, 7, type, out));
    EXPECT_EQ(-1, quex::ComputeRequestDigest(kChallengeBlock, "admin", payload, 7, nullptr, out));
    for (uint8_t b : out) EXPECT_EQ(0x5A, b);
}

TEST(Md5, Rfc1321VectorsAcrossRanges) {
    uint8_t digest[16];
    const Digest empty = {0xd4, 0x1d, 0x8c, 0xd9, 0x8f, 0x00, 0xb2, 0x04,
                          0xe9, 0x80, 0x09, 0x98, 0xec, 0xf8, 0x42, 0x7e};
    ASSERT_TRUE(platform::Md5(nullptr, 0, digest));
    EXPECT_EQ(0, std::memcmp(empty.data(), digest, 16));

    // "abc" split over three ranges, one of them empty.
    const platform::ByteRange abc[] = {{"a", 1}, {nullptr, 0}, {"bc", 2}};
    const Digest expected = {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0,
                             0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
    ASSERT_TRUE(platform::Md5(abc, 3, digest));
    EXPECT_EQ(0, std::memcmp(expected.data(), digest, 16));

    const platform::ByteRange missing[] = {{nullptr, 3}};
    EXPECT_FALSE(platform::Md5(missing, 1, digest));
}

}  // namespace
