// Device search: synchronous and asynchronous, on a worker thread.
#pragma once

#include <cstdint>

#include "quex/context.h"
#include "quex/sockets.h"

namespace quex {

void SetNotification(QuexContext* context, QuexNotifyCallback callback, QuexWindow window, uint32_t message,
                     QuexEvent event, uintptr_t userData);
void ClearResults(QuexContext* context);
// Opens the sockets and sends the discovery request on the calling thread (so
// that a search that cannot run fails at once, with the reason as the last
// error), then starts the worker.
int32_t StartSearchWorker(QuexContext* context);
// Owns and closes the sockets and the ready flags (one per socket). A failed
// wait or read ends the search at once (the reason as the last error).
void SearchWorker(QuexContext* context, SocketHandle* sockets, int32_t count, bool* ready);
// Ends the worker and joins it; also joins a worker that ended on its own.
void StopSearchWorker(QuexContext* context);
// The number of devices, or -1 (also when the search failed: the reason is the last error).
int32_t RunSyncSearch(QuexContext* context, uint32_t quietMs, uint32_t maxMs);
void RearmQuietTimer(QuexHandle handle, uintptr_t userData);
int CompareMac(const void* key, const void* record);

// Most answers read from one socket in one poll cycle: a flood that arrives as
// fast as it is read must not keep the worker from seeing a stop.
constexpr int kMaxDrainPerCycle = 4096;

}  // namespace quex
