// The record behind a QuexHandle, the process-wide handle registry and the
// per-handle last error.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "platform/sync.h"
#include "quex/guarded_list.h"
#include <quex/quex.h>

namespace quex {
struct ChallengeMemory;
struct ResultIndex;
struct WireIdentity;
}  // namespace quex

struct QuexContext {
    uint32_t magic;  // host order; sent big-endian
    QuexGuid vendorGuid;
    // Written by requests and search starts, read from any thread: only under errorLock.
    platform::RecursiveMutex errorLock;
    int32_t lastErrorCode;
    char lastErrorMessage[256];
    int32_t multicastTtl;     // 64
    uint32_t multicastGroup;  // 224.0.5.128, network order
    uint16_t port;            // 2362, host order
    uint32_t requestPollMs;   // 200: poll time-out of the request loops
    uint32_t replyTimeoutMs;  // 30000: how long a configuration request waits for its reply
    uint32_t infoTimeoutMs;   // 5000: how long the query before a configuration request waits
    // How long QUEXGetDeviceInfo waits (QUEXSetDeviceInfoTimeout); changed
    // only while no search runs, atomic for a query on another thread.
    std::atomic<uint32_t> deviceInfoTimeoutMs;
    // Read by QUEXStopSearch from any thread while a search runs, so atomic.
    // searchRunning is also cleared by a worker whose search failed.
    std::atomic<int32_t> searchRunning;
    std::atomic<int32_t> searchAsync;
    std::atomic<bool> searchFailed;  // the last search's wait or read failed (set by its worker)
    platform::Thread* searchThread;
    uint32_t searchPollMs;  // 200: poll time-out of the search worker
    QuexNotifyCallback notifyCallback;
    QuexWindow notifyWindow;  // the library's own reference, or QUEX_NO_WINDOW
    uint32_t notifyMessage;
    QuexEvent notifyEvent;  // the library's own reference, or QUEX_NO_EVENT
    uintptr_t notifyUserData;
    platform::Event* stopEvent;
    uint32_t quietTimeMs;  // of a synchronous search; platform::kInfinite: searchTimer never armed
    platform::WaitableTimer* searchTimer;
    quex::GuardedList* results;         // heap QuexDeviceRecords, oldest first
    quex::ResultIndex* resultIndex;     // MACs of results; changed with it, under its lock
    quex::ChallengeMemory* challenges;  // MACs whose answers to this handle offered a challenge
    // The local addresses (network order) that every operation is limited to
    // (QUEXSetInterfaces); empty: every interface. Changed only while no search runs.
    std::vector<uint32_t> chosenInterfaces;
};

namespace quex {

// QUEXSetDeviceInfoTimeout's range; 0 stands for the default.
constexpr uint32_t kDefaultDeviceInfoTimeoutMs = 5000;
constexpr uint32_t kMaxDeviceInfoTimeoutMs = 60000;

extern const char kMessageSucceeded[];           // "Operation succeeded"
extern const char kMessageTimedOut[];            // "Operation timed out"
extern const char kMessageChallengeWithdrawn[];  // "Device withdrew its challenge; request not sent"

QuexContext* CreateContext(uint32_t magic, const QuexGuid* vendorGuid);
// Also releases a notification window or event still held in the context
// (a holder that releases one itself sets the field to QUEX_NO_WINDOW /
// QUEX_NO_EVENT). Does not stop the search worker: stop it first (a worker
// that ended on its own is joined here).
void DestroyContext(QuexContext* context);
// What the codec writes for this handle: its magic and vendor GUID.
WireIdentity IdentityOf(const QuexContext& context);
// The process-wide registry of open contexts (items: QuexContext*).
GuardedList* HandleRegistry();
// The handle's context while the registry holds it, else nullptr.
QuexContext* LookupContext(QuexHandle handle);
// Stores code and at most 255 characters of message; -1 is never stored.
void SetContextError(QuexContext* context, int32_t code, const char* message);
// The last error as one consistent pair, copied under the lock.
int32_t ContextErrorCode(QuexContext* context);
void CopyContextErrorMessage(QuexContext* context, char* buffer, size_t size);  // strncpy rules

}  // namespace quex
