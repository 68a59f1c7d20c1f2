// IPv4 text conversion with the classic inet_addr forms, written out so that
// a refused text is told from 255.255.255.255 and trailing junk is refused.
#include <cstdio>
#include <cstring>

#include "platform/ipv4_text.h"

namespace platform {

namespace {

// One part: decimal, octal with a leading 0, or hexadecimal after 0x / 0X.
// Advances *cursor past the digits; false when there are none or the value
// overflows 32 bits.
bool ParsePart(const char** cursor, uint32_t* value) {
    const char* p = *cursor;
    uint32_t base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    } else if (p[0] == '0') {
        base = 8;
    }
    const char* digits = p;
    uint64_t result = 0;
    for (;; ++p) {
        uint32_t digit;
        char c = *p;
        if (c >= '0' && c <= '9')
            digit = static_cast<uint32_t>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = static_cast<uint32_t>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = static_cast<uint32_t>(c - 'A' + 10);
        else
            break;
        if (digit >= base) return false;  // 8 or 9 in an octal part
        result = result * base + digit;
        if (result > 0xFFFFFFFFull) return false;
    }
    if (p == digits) return false;
    *cursor = p;
    *value = static_cast<uint32_t>(result);
    return true;
}

}  // namespace

bool ParseIPv4(const char* text, uint32_t* address) {
    if (text == nullptr || address == nullptr) return false;
    uint32_t parts[4];
    int count = 0;
    const char* p = text;
    for (;;) {
        if (count == 4) return false;
        if (!ParsePart(&p, &parts[count])) return false;
        ++count;
        if (*p == '\0') break;
        if (*p != '.') return false;
        ++p;
    }
    // The last part fills every byte the earlier ones left: a, a.b (8.24),
    // a.b.c (8.8.16), a.b.c.d (8.8.8.8).
    uint32_t host = 0;
    for (int i = 0; i < count - 1; ++i) {
        if (parts[i] > 0xFF) return false;
        host |= parts[i] << (24 - 8 * i);
    }
    const uint32_t lastLimit = count == 1 ? 0xFFFFFFFFu : (0xFFFFFFFFu >> (8 * (count - 1)));
    if (parts[count - 1] > lastLimit) return false;
    host |= parts[count - 1];
    const uint8_t bytes[4] = {static_cast<uint8_t>(host >> 24), static_cast<uint8_t>(host >> 16),
                              static_cast<uint8_t>(host >> 8), static_cast<uint8_t>(host)};
    std::memcpy(address, bytes, sizeof bytes);
    return true;
}

std::string FormatIPv4(uint32_t address) {
    uint8_t bytes[4];
    std::memcpy(bytes, &address, sizeof bytes);
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
}

}  // namespace platform
