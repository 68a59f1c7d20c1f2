// Creating, presetting and freeing device records.
#include "quex/device_record.h"

#include <cstring>
#include <new>

#include "quex/context.h"

namespace quex {

static_assert(offsetof(QuexDeviceRecord, info) == 0, "the caller's image comes first");

bool InitDeviceRecord(const QuexContext* context, QuexDeviceRecord* record) {
    if (context == nullptr || record == nullptr) return false;
    std::memset(record, 0, sizeof *record);
    record->info.size = QUEX_DEVICE_INFO_SIZE;
    record->info.version = 0x0200;  // replaced by a reply's version field
    record->info.magic = context->magic;
    return true;
}

QuexDeviceRecord* NewDeviceRecord(const QuexContext* context) {
    if (context == nullptr) return nullptr;
    auto* record = new (std::nothrow) QuexDeviceRecord{};
    if (record != nullptr) InitDeviceRecord(context, record);
    return record;
}

void ResetDeviceRecord(const QuexContext* context, QuexDeviceRecord* record) {
    InitDeviceRecord(context, record);
}

void DeleteDeviceRecord(QuexDeviceRecord* record) { delete record; }

}  // namespace quex
