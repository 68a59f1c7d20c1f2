// A MAC address as one 48-bit number, the key of the library's MAC sets.
#pragma once

#include <cstdint>

namespace quex {

inline uint64_t MacKey(const uint8_t* mac) {
    uint64_t key = 0;
    for (int i = 0; i < 6; ++i) key = (key << 8) | mac[i];
    return key;
}

}  // namespace quex
