// The caller-facing notification targets of an asynchronous search: a
// "window" that receives queued messages and an event. On Windows they are a
// window handle (HWND) and an event handle; elsewhere a socket descriptor that
// receives PostedMessage records and an eventfd descriptor.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
struct HWND__;
#endif

namespace platform {

#ifdef _WIN32
using NotifyWindow = HWND__*;  // HWND
using NotifyEvent = void*;     // HANDLE
constexpr NotifyWindow kNoWindow = nullptr;
constexpr NotifyEvent kNoEvent = nullptr;
#else
using NotifyWindow = int;
using NotifyEvent = int;
// Descriptor 0 is a real descriptor: "none" is -1.
constexpr NotifyWindow kNoWindow = -1;
constexpr NotifyEvent kNoEvent = -1;

// What a notification window descriptor receives for each message: 24 bytes.
struct PostedMessage {
    uint32_t message;
    uint32_t reserved;  // zero
    uint64_t wParam;
    uint64_t lParam;
};
static_assert(sizeof(PostedMessage) == 24 && offsetof(PostedMessage, wParam) == 8 &&
                  offsetof(PostedMessage, lParam) == 16,
              "the posted record's layout is part of the library's interface");
#endif

// IsWindow: the target can still receive messages.
bool WindowExists(NotifyWindow window);
// The library keeps its own reference for the length of a search.
NotifyWindow WindowRetain(NotifyWindow window);  // kNoWindow on failure
void WindowRelease(NotifyWindow window);
// Queues {message, wParam, lParam}; false when the window no longer exists
// (the message is then skipped) or the queue is full.
bool WindowPost(NotifyWindow window, uint32_t message, uint64_t wParam, uint64_t lParam);

// The caller named an event: not kNoEvent, and on POSIX an eventfd (any other
// descriptor, standard output say, would receive the counter's bytes).
bool EventGiven(NotifyEvent event);
NotifyEvent EventRetain(NotifyEvent event);  // kNoEvent on failure
void EventRelease(NotifyEvent event);
bool EventSignal(NotifyEvent event);

}  // namespace platform
