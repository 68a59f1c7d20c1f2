// IPv4 text conversion: the classic short, octal and hexadecimal forms, and
// refusals told apart from 255.255.255.255.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/ipv4_text.h"

namespace {

uint32_t Address(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    const uint8_t bytes[4] = {a, b, c, d};
    uint32_t value;
    std::memcpy(&value, bytes, 4);
    return value;
}

struct Case {
    const char* text;
    uint32_t address;
};

TEST(ParseIPv4, AcceptedForms) {
    const Case cases[] = {
        {"192.168.1.2", Address(192, 168, 1, 2)},
        {"0.0.0.0", 0},
        {"255.255.255.255", 0xFFFFFFFFu},
        {"10.1", Address(10, 0, 0, 1)},      // a.b: 8.24
        {"10.1.258", Address(10, 1, 1, 2)},  // a.b.c: 8.8.16
        {"16909060", Address(1, 2, 3, 4)},   // a: 32 bits
        {"0x7f.1", Address(127, 0, 0, 1)},
        {"0X0A.0.0.0x10", Address(10, 0, 0, 16)},
        {"010.0.0.010", Address(8, 0, 0, 8)},  // octal
        {"0377.0xff.255.0", Address(255, 255, 255, 0)},
        {"00", 0},
        {"4294967295", 0xFFFFFFFFu},
        {"1.16777215", Address(1, 255, 255, 255)},
    };
    for (const Case& c : cases) {
        uint32_t address = 0x12345678;
        ASSERT_TRUE(platform::ParseIPv4(c.text, &address)) << c.text;
        EXPECT_EQ(c.address, address) << c.text;
    }
}

TEST(ParseIPv4, RefusedTexts) {
    for (const char* text : {"",
                             ".",
                             "1.",
                             ".1",
                             "1..2",
                             "1.2.3.4.5",
                             "256.0.0.1",
                             "1.2.3.256",
                             "1.2.65536",
                             "1.16777216",
                             "4294967296",
                             "08",
                             "1.2.3.09",
                             "0x",
                             "0x1g",
                             "1.2.3.4 ",
                             " 1.2.3.4",
                             "1.2.3.4x",
                             "+1.2.3.4",
                             "-1",
                             "a.b.c.d",
                             "1,2,3,4",
                             "99999999999999999999"}) {
        uint32_t address = 0x12345678;
        EXPECT_FALSE(platform::ParseIPv4(text, &address)) << '"' << text << '"';
        EXPECT_EQ(0x12345678u, address) << text;
    }
    uint32_t address;
    EXPECT_FALSE(platform::ParseIPv4(nullptr, &address));
}

TEST(FormatIPv4, FirstByteFirst) {
    EXPECT_EQ("192.168.1.2", platform::FormatIPv4(Address(192, 168, 1, 2)));
    EXPECT_EQ("0.0.0.0", platform::FormatIPv4(0));
    EXPECT_EQ("255.255.255.255", platform::FormatIPv4(0xFFFFFFFFu));
    uint32_t address = 0;
    ASSERT_TRUE(platform::ParseIPv4("10.77.0.2", &address));
    EXPECT_EQ("10.77.0.2", platform::FormatIPv4(address));
}

}  // namespace
