// IPv4 addresses as text. Addresses are 32-bit values in network byte order.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Dotted-quad text to a network-order address with the classic inet_addr
// forms (a, a.b, a.b.c, a.b.c.d; decimal, octal 0..., hex 0x...).
// false for text it refuses (so 255.255.255.255 is told from a refusal).
bool ParseIPv4(const char* text, uint32_t* address);
// "%d.%d.%d.%d", first byte first.
std::string FormatIPv4(uint32_t address);

}  // namespace platform
