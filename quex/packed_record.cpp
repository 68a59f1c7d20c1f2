// Records packed as runs: each run is a count of zero bytes, then a count of
// bytes as they stand and those bytes (counts little-endian, 16 bits: a
// record is far smaller than 64 KiB), until the record's size is reached.
#include "quex/packed_record.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

namespace quex {

namespace {

static_assert(sizeof(QuexDeviceRecord) < 0x10000, "run counts are 16 bits");

// A zero run shorter than this stays inside the literal bytes: a run costs
// four bytes of counts.
constexpr size_t kShortestZeroRun = 4;

void PutCount(uint8_t*& out, size_t count) {
    if (out != nullptr) {
        *out++ = static_cast<uint8_t>(count & 0xFF);
        *out++ = static_cast<uint8_t>(count >> 8);
    }
}

size_t GetCount(const uint8_t*& in) {
    const size_t count = static_cast<size_t>(in[0]) | static_cast<size_t>(in[1]) << 8;
    in += 2;
    return count;
}

size_t ZerosFrom(const uint8_t* bytes, size_t at, size_t size) {
    size_t end = at;
    while (end < size && bytes[end] == 0) ++end;
    return end - at;
}

// Writes the runs to out (nothing when out is null); returns their length.
size_t WriteRuns(const uint8_t* bytes, size_t size, uint8_t* out) {
    size_t length = 0;
    size_t at = 0;
    while (at < size) {
        const size_t zeros = ZerosFrom(bytes, at, size);
        at += zeros;
        size_t end = at;
        while (end < size) {
            const size_t ahead = ZerosFrom(bytes, end, size);
            if (ahead >= kShortestZeroRun || end + ahead == size) break;
            end += ahead == 0 ? 1 : ahead;
        }
        PutCount(out, zeros);
        PutCount(out, end - at);
        if (out != nullptr) {
            std::memcpy(out, bytes + at, end - at);
            out += end - at;
        }
        length += 4 + (end - at);
        at = end;
    }
    return length;
}

}  // namespace

PackedRecord* PackRecord(const QuexDeviceRecord& record) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
    const size_t length = WriteRuns(bytes, sizeof record, nullptr);
    // A packed record is its runs alone: the type only names the bytes.
    uint8_t* runs = new (std::nothrow) uint8_t[length];
    if (runs != nullptr) WriteRuns(bytes, sizeof record, runs);
    return reinterpret_cast<PackedRecord*>(runs);
}

void UnpackRecord(const PackedRecord* packed, QuexDeviceRecord* record) {
    auto* bytes = reinterpret_cast<uint8_t*>(record);
    std::memset(bytes, 0, sizeof *record);
    const auto* in = reinterpret_cast<const uint8_t*>(packed);
    size_t at = 0;
    while (at < sizeof *record) {
        at += GetCount(in);
        const size_t literal = GetCount(in);
        std::memcpy(bytes + at, in, literal);
        in += literal;
        at += literal;
    }
}

void FreePackedRecord(PackedRecord* packed) { delete[] reinterpret_cast<uint8_t*>(packed); }

}  // namespace quex
