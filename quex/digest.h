// Authentication of configuration requests.
#pragma once

#include <cstdint>

namespace quex {

// Challenge block: a length byte (0 or 14) and 14 challenge bytes.
constexpr int kChallengeBlockSize = 15;

// MD5 over challenge (14 bytes) || password || type field (2 bytes, as in the
// packet) || payload prefix (prefixLength bytes, the length byte included).
// 0 when written to out (16 bytes), -1 for missing inputs or prefixLength <= 0.
int32_t ComputeRequestDigest(const uint8_t* challengeBlock, const char* password, const uint8_t* payload,
                             int16_t prefixLength, const uint8_t* typeField, uint8_t* out);

}  // namespace quex
