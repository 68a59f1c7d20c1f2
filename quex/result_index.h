// The MAC index beside a handle's result list: how many records of each MAC
// the list holds, so that a synchronous search finds a repeated device in
// constant time instead of walking the list per answer. Every function here
// takes the list's lock; the list and the index change together under it.
#pragma once

#include <cstdint>

#include "quex/context.h"
#include "quex/device_record.h"

namespace quex {

struct ResultIndex;

ResultIndex* CreateResultIndex();             // nullptr without memory
void DestroyResultIndex(ResultIndex* index);  // null ignored

// Takes ownership of record: appends it to results and indexes it, or frees
// it when unique is set and its MAC is listed already (the first answer of a
// device wins), when QUEX_MAX_SEARCH_RESULTS records wait already, or when
// there is no memory. True when it was appended.
bool StoreResult(QuexContext* context, QuexDeviceRecord* record, bool unique);
// Takes the oldest record out of results (nullptr when empty); the caller frees it.
QuexDeviceRecord* TakeResult(QuexContext* context);
// Number of records of this MAC in results, from the index.
int32_t IndexedCount(QuexContext* context, const uint8_t* mac);
// True when the index counts exactly the MACs of the records in results
// (a check for tests; walks the whole list).
bool ResultIndexMatchesList(QuexContext* context);

}  // namespace quex
