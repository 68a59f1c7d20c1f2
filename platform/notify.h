// The caller-facing notification targets of an asynchronous search:
// a "window" that receives queued messages and an event. See quex.h for
// what they are on each system.
#pragma once

#include <cstdint>

#include "quex/quex.h"

namespace platform {

// IsWindow: the target can still receive messages.
bool WindowExists(QuexWindow window);
// The library keeps its own reference for the length of a search.
QuexWindow WindowRetain(QuexWindow window);   // QUEX_NO_WINDOW on failure
void WindowRelease(QuexWindow window);
// Queues {message, wParam, lParam}; false when the window no longer exists
// (the message is then skipped) or the queue is full.
bool WindowPost(QuexWindow window, uint32_t message, uint64_t wParam, uint64_t lParam);

// The caller named an event at all (QUEX_NO_EVENT, or on POSIX any negative
// descriptor, names none).
bool EventGiven(QuexEvent event);
QuexEvent EventRetain(QuexEvent event);       // QUEX_NO_EVENT on failure
void EventRelease(QuexEvent event);
bool EventSignal(QuexEvent event);

}  // namespace platform
