// Device records: the preset image byte for byte, reset, and the missing-argument cases.
#include "quex/device_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using namespace quex;

// The preset image written out by hand: 852 in the first word, 0x0200 in
// the second, the magic at 16, zero everywhere else, the result block included.
std::vector<uint8_t> ExpectedPreset(uint32_t magic) {
    std::vector<uint8_t> image(sizeof(QuexDeviceRecord), 0);
    const uint32_t size = 852, version = 0x0200;
    std::memcpy(&image[0], &size, 4);
    std::memcpy(&image[4], &version, 4);
    std::memcpy(&image[16], &magic, 4);
    return image;
}

std::vector<uint8_t> Bytes(const QuexDeviceRecord& record) {
    const auto* begin = reinterpret_cast<const uint8_t*>(&record);
    return std::vector<uint8_t>(begin, begin + sizeof record);
}

TEST(DeviceRecordTest, PresetImageByteForByte) {
    QuexDeviceRecord record;
    std::memset(&record, 0xCD, sizeof record);
    ASSERT_TRUE(InitDeviceRecord(QUEX_MAGIC_HAPF, &record));
    EXPECT_EQ(Bytes(record), ExpectedPreset(QUEX_MAGIC_HAPF));
    EXPECT_EQ(record.info.size, 852u);
    EXPECT_EQ(record.info.version, 0x0200u);
    EXPECT_EQ(record.info.magic, 0x48415046u);  // "HAPF", host order

    QuexDeviceRecord* heap = NewDeviceRecord(QUEX_MAGIC_HAPF);
    ASSERT_NE(heap, nullptr);
    EXPECT_EQ(Bytes(*heap), ExpectedPreset(QUEX_MAGIC_HAPF));
    DeleteDeviceRecord(heap);
}

TEST(DeviceRecordTest, ResetLeavesNoTraceOfAReply) {
    QuexDeviceRecord record;
    ASSERT_TRUE(InitDeviceRecord(QUEX_MAGIC_MORV, &record));
    // As a decoded reply with a result block would leave it.
    record.info.presentFields = 0xFFFFFFFF;
    record.info.version = 0x0301;
    record.info.ipAddress = 0x0101A8C0;
    record.info.dhcpEnabled = 1;
    std::strcpy(record.info.modelName, "KV-200");
    std::strcpy(record.info.auxText, "aux");
    record.info.challengeLength = 14;
    std::memset(record.info.challenge, 0xAB, sizeof record.info.challenge);
    record.info.auxDataLength = 255;
    std::memset(record.info.auxData, 0x11, sizeof record.info.auxData);
    record.presentResults = 7;
    record.resultCode = 3;
    record.errorCode = 9;
    std::strcpy(record.resultMessage, "wrong password");

    ASSERT_TRUE(InitDeviceRecord(QUEX_MAGIC_MORV, &record));
    EXPECT_EQ(Bytes(record), ExpectedPreset(QUEX_MAGIC_MORV));
}

TEST(DeviceRecordTest, MissingArgumentsDoNothing) {
    EXPECT_FALSE(InitDeviceRecord(QUEX_MAGIC_TELQ, nullptr));
    DeleteDeviceRecord(nullptr);
}

}  // namespace
