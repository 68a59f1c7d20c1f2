// Device search: synchronous and asynchronous, on a worker thread.
#pragma once

#include <cstdint>

#include "quex/context.h"

namespace quex {

void SetNotification(QuexContext* context, QuexNotifyCallback callback, QuexWindow window, uint32_t message,
                     QuexEvent event, uintptr_t userData);
void ClearResults(QuexContext* context);
int32_t StartSearchWorker(QuexContext* context);
void SearchWorker(QuexContext* context);
void StopSearchWorker(QuexContext* context);
int32_t RunSyncSearch(QuexContext* context, uint32_t quietMs, uint32_t maxMs);
void RearmQuietTimer(QuexHandle handle, uintptr_t userData);
int CompareMac(const void* key, const void* record);

// The never-arm quiet time: 0xFFFFFFFF ms times -10000.
constexpr int64_t kNeverArm = static_cast<int64_t>(0xFFFFFFFFull) * -10000;

}  // namespace quex
