// The MAC index beside the result list.
#include "quex/result_index.h"

#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>

#include "quex/guarded_list.h"
#include "quex/mac_key.h"

namespace quex {

struct ResultIndex {
    std::unordered_map<uint64_t, uint32_t> counts;  // MAC as 48-bit number -> records
};

namespace {

void Forget(ResultIndex* index, const QuexDeviceRecord* record) {
    const auto found = index->counts.find(MacKey(record->info.macAddress));
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
    // A fresh record cannot be listed already: no walk of the list.
    if (ListAppend(context->results, record) < 0) {
        Forget(context->resultIndex, record);
        DeleteDeviceRecord(record);
        return false;
    }
    return true;
}

QuexDeviceRecord* TakeResult(QuexContext* context) {
    if (context == nullptr || context->results == nullptr) return nullptr;
    const std::lock_guard guard(ListMutex(context->results));
    auto* record = static_cast<QuexDeviceRecord*>(ListPopFront(context->results));
    if (record != nullptr && context->resultIndex != nullptr) Forget(context->resultIndex, record);
    return record;
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
        for (GuardedListNode* node = context->results->head; node != nullptr; node = node->next)
            ++listed[MacKey(static_cast<const QuexDeviceRecord*>(node->item)->info.macAddress)];
        return listed == context->resultIndex->counts;
    } catch (...) {
        return false;
    }
}

}  // namespace quex
