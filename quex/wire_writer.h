// A bounded writer of wire bytes, the mirror of WireReader: every request is
// written through it, appending big-endian numbers and byte runs, and a
// write that would pass the end writes nothing: the check and the copy
// stand together. Once a write failed every later one fails too, so Ok()
// at the end tells whether the whole datagram was written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quex {

class WireWriter {
public:
    WireWriter(uint8_t* data, size_t capacity) : data_(data), capacity_(data != nullptr ? capacity : 0) {}

    size_t Size() const { return size_; }  // bytes written so far
    bool Ok() const { return ok_; }
    const uint8_t* Data() const { return data_; }

    bool PutU8(uint8_t value) { return PutBytes(&value, 1); }
    bool PutBe16(uint16_t value) {
        const uint8_t bytes[2] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
        return PutBytes(bytes, sizeof bytes);
    }
    bool PutBe32(uint32_t value) {
        return PutBe16(static_cast<uint16_t>(value >> 16)) && PutBe16(static_cast<uint16_t>(value));
    }
    // count bytes as they are (addresses already in network order, MACs, text).
    bool PutBytes(const void* bytes, size_t count) {
        if (!ok_ || count > capacity_ - size_ || (count > 0 && bytes == nullptr)) {
            ok_ = false;
            return false;
        }
        if (count > 0) std::memcpy(data_ + size_, bytes, count);
        size_ += count;
        return true;
    }

private:
    uint8_t* data_ = nullptr;
    size_t capacity_ = 0;
    size_t size_ = 0;
    bool ok_ = true;
};

}  // namespace quex
