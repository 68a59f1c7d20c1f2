// MD5 (RFC 1321) over a sequence of byte ranges.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

struct ByteRange {
    const void* data;
    size_t length;
};

// Digest of the ranges concatenated; false if the system's MD5 failed.
bool Md5(const ByteRange* ranges, size_t count, uint8_t digest[16]);

}  // namespace platform
