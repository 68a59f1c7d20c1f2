// QuexDeviceInfo as seen from a C translation unit and from C++.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include <quex/quex.h>

extern "C" {
size_t LayoutCDeviceInfoSize(void);
size_t LayoutCOffsets(size_t* offsets, size_t capacity);
void LayoutCFill(QuexDeviceInfo* info);
uintptr_t LayoutCCallThroughHeader(void);
}

namespace {

template <typename T>
T At(const unsigned char* bytes, size_t offset) {
    T value;
    std::memcpy(&value, bytes + offset, sizeof value);
    return value;
}

TEST(LayoutTest, CSeesTheSameSizeAndOffsets) {
    EXPECT_EQ(LayoutCDeviceInfoSize(), 852u);
    const size_t expected[] = {0,  4,  8,  12, 13, 16, 20, 36,  37,  51,  52,  56,
                               62, 64, 68, 72, 76, 80, 81, 337, 593, 594, 596, 597};
    size_t offsets[32] = {};
    ASSERT_EQ(LayoutCOffsets(offsets, 32), sizeof expected / sizeof expected[0]);
    for (size_t i = 0; i < sizeof expected / sizeof expected[0]; ++i)
        EXPECT_EQ(offsets[i], expected[i]) << "member " << i;
}

TEST(LayoutTest, RecordFilledInCReadsAtFixedOffsets) {
    QuexDeviceInfo info;
    LayoutCFill(&info);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&info);
    const unsigned char mac[6] = {0x02, 0xC0, 0xDE, 0x25, 0x40, 0x74};
    EXPECT_EQ(std::memcmp(bytes + 56, mac, 6), 0);
    EXPECT_EQ(At<uint32_t>(bytes, 0), 852u);
    EXPECT_EQ(At<uint32_t>(bytes, 64), 0x11223344u);
    EXPECT_EQ(At<uint32_t>(bytes, 68), 0x55667788u);
    EXPECT_EQ(At<uint32_t>(bytes, 72), 0x99AABBCCu);
    EXPECT_EQ(bytes[80], 1);
    EXPECT_STREQ(reinterpret_cast<const char*>(bytes + 337), "KV-C");
    EXPECT_EQ(At<uint16_t>(bytes, 594), 0xBEEF);
    EXPECT_EQ(bytes[851], 0x5A);
    // And C++ reads the same bytes by name.
    EXPECT_EQ(info.gateway, 0x99AABBCCu);
    EXPECT_STREQ(info.modelName, "KV-C");
}

TEST(LayoutTest, EntryPointsLinkFromC) { EXPECT_EQ(LayoutCCallThroughHeader(), 1u); }

}  // namespace
