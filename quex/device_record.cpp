// Creating, presetting and freeing device records.
#include "quex/device_record.h"

#include <cstddef>
#include <cstring>
#include <new>

namespace quex {

static_assert(offsetof(QuexDeviceRecord, info) == 0, "the caller's image comes first");

bool InitDeviceRecord(uint32_t magic, QuexDeviceRecord* record) {
    if (record == nullptr) return false;
    std::memset(record, 0, sizeof *record);
    record->info.size = QUEX_DEVICE_INFO_SIZE;
    record->info.version = 0x0200;  // replaced by a reply's version field
    record->info.magic = magic;
    return true;
}

QuexDeviceRecord* NewDeviceRecord(uint32_t magic) {
    auto* record = new (std::nothrow) QuexDeviceRecord{};
    if (record != nullptr) InitDeviceRecord(magic, record);
    return record;
}

void DeleteDeviceRecord(QuexDeviceRecord* record) { delete record; }

}  // namespace quex
