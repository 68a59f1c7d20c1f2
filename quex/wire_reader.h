// A bounded view of wire bytes. Every read of received data goes through
// it, and every read reports short data instead of reaching past the view:
// the check and the copy stand together.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quex {

class WireReader {
public:
    WireReader() = default;
    WireReader(const uint8_t* data, size_t size) : data_(data), size_(data != nullptr ? size : 0) {}

    size_t Size() const { return size_; }
    bool Contains(size_t offset, size_t count) const { return offset <= size_ && count <= size_ - offset; }

    // Each fetch is false, and leaves *out as it was, when the bytes are not all inside.
    bool FetchU8(size_t offset, uint8_t* out) const {
        if (!Contains(offset, 1)) return false;
        *out = data_[offset];
        return true;
    }
    bool FetchBe16(size_t offset, uint16_t* out) const {
        if (!Contains(offset, 2)) return false;
        *out = static_cast<uint16_t>((data_[offset] << 8) | data_[offset + 1]);
        return true;
    }
    bool FetchBe32(size_t offset, uint32_t* out) const {
        uint16_t high = 0, low = 0;
        if (!FetchBe16(offset, &high) || !FetchBe16(offset + 2, &low)) return false;
        *out = (static_cast<uint32_t>(high) << 16) | low;
        return true;
    }
    bool Copy(size_t offset, size_t count, void* out) const {
        if (!Contains(offset, count)) return false;
        if (count > 0) std::memcpy(out, data_ + offset, count);
        return true;
    }
    // The view of count bytes from offset; false when they are not all inside.
    bool Sub(size_t offset, size_t count, WireReader* out) const {
        if (!Contains(offset, count)) return false;
        *out = WireReader(data_ + offset, count);
        return true;
    }

private:
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

}  // namespace quex
