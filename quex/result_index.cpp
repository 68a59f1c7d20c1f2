// The MAC index beside the result list.
#include "quex/result_index.h"

#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>

#include "quex/guarded_list.h"
#include "quex/mac_key.h"
#include "quex/packed_record.h"

namespace quex {

struct ResultIndex {
    std::unordered_map<uint64_t, uint32_t> counts;  // MAC as 48-bit number -> records
};

namespace {

void Forget(ResultIndex* index, const uint8_t* mac) {
    const auto found = index->counts.find(MacKey(mac));
    if (found == index->counts.end()) return;
    if (--found->second == 0) index->counts.erase(found);
}

}  // namespace

ResultIndex* CreateResultIndex() {
    auto* index = new (std::nothrow) ResultIndex;
    if (index == nullptr) return nullptr;
    try {
        // Room for a large plant up front: no rehash while a burst drains.
        index->counts.reserve(1024);
    } catch (...) {}
    return index;
}

void DestroyResultIndex(ResultIndex* index) { delete index; }

bool StoreResult(QuexContext* context, QuexDeviceRecord* record, bool unique) {
    if (record == nullptr) return false;
    if (context == nullptr || context->results == nullptr || context->resultIndex == nullptr) {
        DeleteDeviceRecord(record);
        return false;
    }
    const std::lock_guard guard(ListMutex(context->results));
    const uint64_t key = MacKey(record->info.macAddress);
    auto& counts = context->resultIndex->counts;
    const auto found = counts.find(key);
    // Full: a flood of forged devices must not take the host's memory.
    if ((unique && found != counts.end()) || context->results->count >= QUEX_MAX_SEARCH_RESULTS) {
        DeleteDeviceRecord(record);
        return false;
    }
    try {
        ++counts[key];
    } catch (...) {
        DeleteDeviceRecord(record);
        return false;
    }
    // Waiting records are kept packed; a fresh one cannot be listed
    // already: no walk of the list.
    PackedRecord* packed = PackRecord(*record);
    if (packed == nullptr || ListAppend(context->results, packed) < 0) {
        Forget(context->resultIndex, record->info.macAddress);
        FreePackedRecord(packed);
        DeleteDeviceRecord(record);
        return false;
    }
    DeleteDeviceRecord(record);
    return true;
}

QuexDeviceRecord* TakeResult(QuexContext* context) {
    if (context == nullptr || context->results == nullptr) return nullptr;
    const std::lock_guard guard(ListMutex(context->results));
    while (auto* packed = static_cast<PackedRecord*>(ListPopFront(context->results))) {
        QuexDeviceRecord unpacked;
        UnpackRecord(packed, &unpacked);
        FreePackedRecord(packed);
        if (context->resultIndex != nullptr) Forget(context->resultIndex, unpacked.info.macAddress);
        // Without memory for the record, this result is dropped as a store
        // without memory drops one, and the next is tried.
        auto* record = new (std::nothrow) QuexDeviceRecord(unpacked);
        if (record != nullptr) return record;
    }
    return nullptr;
}

int32_t IndexedCount(QuexContext* context, const uint8_t* mac) {
    if (context == nullptr || mac == nullptr || context->results == nullptr ||
        context->resultIndex == nullptr)
        return 0;
    const std::lock_guard guard(ListMutex(context->results));
    const auto found = context->resultIndex->counts.find(MacKey(mac));
    return found == context->resultIndex->counts.end() ? 0 : static_cast<int32_t>(found->second);
}

bool ResultIndexMatchesList(QuexContext* context) {
    if (context == nullptr || context->results == nullptr || context->resultIndex == nullptr) return false;
    const std::lock_guard guard(ListMutex(context->results));
    try {
        std::unordered_map<uint64_t, uint32_t> listed;
        QuexDeviceRecord record;
        for (GuardedListNode* node = context->results->head; node != nullptr; node = node->next) {
            UnpackRecord(static_cast<const PackedRecord*>(node->item), &record);
            ++listed[MacKey(record.info.macAddress)];
        }
        return listed == context->resultIndex->counts;
    } catch (...) {
        return false;
    }
}

}  // namespace quex
