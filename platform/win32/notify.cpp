// Win32 notification targets: a window handle that receives posted messages
// and an event handle. The library keeps a duplicate of the event, so an
// event the caller closes during a search is never signalled through a
// handle value the system may have given to something else.
#include <winsock2.h>
#include <windows.h>

#include "platform/notify.h"

namespace platform {

bool WindowExists(NotifyWindow window) { return window != kNoWindow && IsWindow(window) != 0; }

// A window handle cannot be duplicated; IsWindow before every post is the
// check that a destroyed window is skipped.
NotifyWindow WindowRetain(NotifyWindow window) { return WindowExists(window) ? window : kNoWindow; }

void WindowRelease(NotifyWindow) {}

bool WindowPost(NotifyWindow window, uint32_t message, uint64_t wParam, uint64_t lParam) {
    if (!WindowExists(window)) return false;
    // Posted, never sent: the window's thread handles it later.
    return PostMessageA(window, message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam)) != 0;
}

bool EventGiven(NotifyEvent event) { return event != kNoEvent; }

NotifyEvent EventRetain(NotifyEvent event) {
    if (event == kNoEvent) return kNoEvent;
    HANDLE copy = nullptr;
    const HANDLE self = GetCurrentProcess();
    if (!DuplicateHandle(self, event, self, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) return kNoEvent;
    return copy;
}

void EventRelease(NotifyEvent event) {
    if (event != kNoEvent) CloseHandle(event);
}

bool EventSignal(NotifyEvent event) { return event != kNoEvent && SetEvent(event) != 0; }

}  // namespace platform
