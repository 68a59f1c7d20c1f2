// Device search: one discovery request out of every local interface, then a
// worker that polls the sockets, collects the answers in the handle's results
// and tells the caller about them. A synchronous search is the same worker
// with a callback that re-arms the quiet-time timer the caller waits on.
#include "quex/search.h"

#include <cstring>
#include <memory>
#include <new>

#include "platform/net.h"
#include "platform/notify.h"
#include "platform/sync.h"
#include "quex/challenge_memory.h"
#include "quex/codec.h"
#include "quex/device_record.h"
#include "quex/exchange_result.h"
#include "quex/guarded_list.h"
#include "quex/result_index.h"
#include "quex/sockets.h"

namespace quex {
namespace {

// Drops the library's own references to the caller's window and event.
void ReleaseNotificationTargets(QuexContext* context) {
    if (context->notifyWindow != QUEX_NO_WINDOW) {
        platform::WindowRelease(context->notifyWindow);
        context->notifyWindow = QUEX_NO_WINDOW;
    }
    if (context->notifyEvent != QUEX_NO_EVENT) {
        platform::EventRelease(context->notifyEvent);
        context->notifyEvent = QUEX_NO_EVENT;
    }
}

bool HasNotificationTarget(const QuexContext* context) {
    return context->notifyCallback != nullptr || context->notifyWindow != QUEX_NO_WINDOW ||
           context->notifyEvent != QUEX_NO_EVENT;
}

// Drops a firing nobody waited for, so that it cannot end the next
// synchronous search at once.
void DiscardTimerFiring(QuexContext* context) {
    context->searchTimer->Cancel();
    context->searchTimer->Wait(0);
}

void Notify(QuexContext* context) {
    if (context->notifyCallback != nullptr) context->notifyCallback(context, context->notifyUserData);
    // Posted, never sent; a window whose peer is gone is skipped and the search goes on.
    if (context->notifyWindow != QUEX_NO_WINDOW && platform::WindowExists(context->notifyWindow))
        platform::WindowPost(context->notifyWindow, context->notifyMessage, 0, context->notifyUserData);
    if (context->notifyEvent != QUEX_NO_EVENT) platform::EventSignal(context->notifyEvent);
}

// How the reading of one socket's queue in a poll cycle ended.
enum class Drain {
    Done,      // nothing more this cycle: the queue is empty, a datagram was refused (the rest waits for
               // the next cycle), or kMaxDrainPerCycle answers were read
    NoMemory,  // no record could be allocated
    Failed,    // a read failed; the reason is the last error
};

Drain DrainSocket(QuexContext* context, SocketHandle socket) {
    for (int read = 0; read < kMaxDrainPerCycle; ++read) {
        QuexDeviceRecord* record = NewDeviceRecord(context->magic);
        if (record == nullptr) return Drain::NoMemory;
        const ReplyOutcome outcome =
            ReceiveResponse(context, socket, DiscoveryResponse, kBroadcastMac, record);
        if (outcome != ReplyOutcome::Accepted) {
            DeleteDeviceRecord(record);
            return outcome == ReplyOutcome::Failed ? Drain::Failed : Drain::Done;
        }
        RememberChallenge(context, *record);
        // A repeated device in a synchronous search: the first answer wins.
        StoreResult(context, record, !context->searchAsync);
    }
    return Drain::Done;
}

// Joins the worker thread, if there is one: a stopped worker, or one that
// ended on its own when its search failed.
void JoinWorker(QuexContext* context) {
    if (context->searchThread == nullptr) return;
    context->searchThread->Join();
    delete context->searchThread;
    context->searchThread = nullptr;
}

// The end of a search whose wait or read failed, on the worker: the reason is
// the last error already. A synchronous caller stops waiting at once, and the
// handle no longer counts as searching (its thread is joined by the stop or
// the next start).
void EndFailedSearch(QuexContext* context) {
    context->searchFailed = true;
    if (!context->searchAsync) context->searchTimer->Arm(0);
    context->searchRunning = 0;
}

}  // namespace

void SetNotification(QuexContext* context, QuexNotifyCallback callback, QuexWindow window, uint32_t message,
                     QuexEvent event, uintptr_t userData) {
    if (callback != nullptr) {
        ReleaseNotificationTargets(context);
        context->notifyCallback = callback;
        context->notifyMessage = 0;
        context->notifyUserData = userData;
    } else if (window != QUEX_NO_WINDOW && platform::WindowExists(window)) {
        // Our own reference: the caller may close theirs while the search runs.
        const QuexWindow own = platform::WindowRetain(window);
        ReleaseNotificationTargets(context);
        context->notifyCallback = nullptr;
        context->notifyWindow = own;
        context->notifyMessage = message;
        context->notifyUserData = userData;
    } else if (event != QUEX_NO_EVENT) {
        const QuexEvent own = platform::EventRetain(event);
        ReleaseNotificationTargets(context);
        context->notifyCallback = nullptr;
        context->notifyMessage = 0;
        context->notifyEvent = own;
        context->notifyUserData = 0;
    }
}

void ClearResults(QuexContext* context) {
    if (context->results == nullptr) return;
    while (QuexDeviceRecord* record = TakeResult(context)) DeleteDeviceRecord(record);
}

int32_t StartSearchWorker(QuexContext* context) {
    if (context->searchRunning) return kExchangeFailed;
    // A target that could not be retained would make a search nobody hears of.
    if (!HasNotificationTarget(context)) return kExchangeFailed;
    JoinWorker(context);
    ClearResults(context);  // the records of an earlier search are dropped now
    LocalInterfaces interfaces;
    SocketHandle* sockets = nullptr;
    const int32_t count = EnumerateLocalInterfaces(&interfaces, context)
                              ? OpenAllInterfaceSockets(context, interfaces, &sockets)
                              : 0;
    bool* ready = count > 0 ? new (std::nothrow) bool[static_cast<size_t>(count)]() : nullptr;
    // Sent once, here: there is no retransmission, and a request that left
    // through no interface fails the start with the reason.
    if (ready == nullptr ||
        SendDiscoveryRequest(context, sockets, count, kBroadcastMac) == GroupSendOutcome::NoneSent) {
        if (count > 0) CloseInterfaceSockets(sockets, count);
        delete[] ready;
        ReleaseNotificationTargets(context);
        return kExchangeFailed;
    }
    context->searchRunning = 1;
    context->searchFailed = false;
    // Cleared here by the starting thread, never by the worker: a stale stop must not cut this search short,
    // nor a stop issued right after the start be lost.
    context->stopEvent->Wait(0);
    platform::Thread* thread = new (std::nothrow) platform::Thread();
    // Set before the worker runs, which may look at it from a callback.
    context->searchThread = thread;
    bool started = false;
    if (thread != nullptr) {
        try {
            started = thread->Start(
                [context, sockets, count, ready] { SearchWorker(context, sockets, count, ready); });
        } catch (...) {
            started = false;
        }
    }
    if (!started) {
        context->searchThread = nullptr;
        delete thread;
        CloseInterfaceSockets(sockets, count);
        delete[] ready;
        context->searchRunning = 0;
        ReleaseNotificationTargets(context);
        return kExchangeFailed;
    }
    return kExchangeOk;
}

void SearchWorker(QuexContext* context, SocketHandle* sockets, int32_t count, bool* readyFlags) {
    const std::unique_ptr<bool[]> ready(readyFlags);
    bool failed = false;
    // Every socket is watched, however many interfaces the host has.
    for (;;) {
        // The stop signal also ends the wait early; it is consumed only below.
        bool woken = false;
        const int readable =
            WaitForAnswers(context, sockets, static_cast<size_t>(count), context->searchPollMs, ready.get(),
                           context->stopEvent->Native(), &woken);
        if (readable < 0) {
            failed = true;
            break;
        }
        if (readable > 0) {
            for (int32_t i = 0; i < count && !failed; ++i) {
                if (!ready[i]) continue;
                const Drain drained = DrainSocket(context, sockets[i]);
                failed = drained == Drain::Failed;
                // No memory for a record: give up the rest of this cycle; the answers stay queued for the
                // next one.
                if (drained == Drain::NoMemory) break;
            }
            if (failed) break;
            if (ListCount(context->results) > 0) Notify(context);
        }
        if (context->stopEvent->Wait(0)) break;
    }
    CloseInterfaceSockets(sockets, count);
    if (failed) EndFailedSearch(context);
}

void StopSearchWorker(QuexContext* context) {
    // A worker that ended on its own has left its thread to be joined.
    if (!context->searchRunning && context->searchThread == nullptr) return;
    context->searchTimer->Cancel();
    context->stopEvent->Set();
    JoinWorker(context);
    // The worker may have re-armed the timer between the cancel and its end.
    DiscardTimerFiring(context);
    ReleaseNotificationTargets(context);
    context->searchRunning = 0;
}

int32_t RunSyncSearch(QuexContext* context, uint32_t quietMs, uint32_t maxMs) {
    if (context->searchRunning) return kExchangeFailed;
    if (quietMs == 0 || maxMs == 0 || (quietMs == platform::kInfinite && maxMs == platform::kInfinite))
        return kExchangeFailed;
    context->quietTimeMs = quietMs;
    SetNotification(context, RearmQuietTimer, QUEX_NO_WINDOW, 0, QUEX_NO_EVENT, 0);
    DiscardTimerFiring(context);
    if (StartSearchWorker(context) != kExchangeOk) return kExchangeFailed;
    // First armed by the first answer: when none comes, the whole maximum
    // time passes. A search that fails fires it at once.
    context->searchTimer->Wait(maxMs);
    StopSearchWorker(context);
    // The reason is the last error already.
    if (context->searchFailed) return kExchangeFailed;
    return ListCount(context->results);
}

void RearmQuietTimer(QuexHandle handle, uintptr_t /*userData*/) {
    QuexContext* context = LookupContext(handle);
    if (context == nullptr) return;
    // An infinite quiet time leaves the timer unarmed: the maximum time ends the search.
    context->searchTimer->Arm(context->quietTimeMs);
}

int CompareMac(const void* key, const void* record) {
    if (key == nullptr || record == nullptr) return -1;
    const int order = std::memcmp(key, static_cast<const QuexDeviceRecord*>(record)->info.macAddress, 6);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

}  // namespace quex
