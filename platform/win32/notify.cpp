// Win32 notification targets: a window handle that receives posted messages
// and an event handle. The library keeps a duplicate of the event, so an
// event the caller closes during a search is never signalled through a
// handle value the system may have given to something else.
#include <winsock2.h>
#include <windows.h>

#include "platform/notify.h"

namespace platform {

bool WindowExists(QuexWindow window) { return window != QUEX_NO_WINDOW && IsWindow(window) != 0; }

// A window handle cannot be duplicated; IsWindow before every post is the
// check that a destroyed window is skipped.
QuexWindow WindowRetain(QuexWindow window) { return WindowExists(window) ? window : QUEX_NO_WINDOW; }

void WindowRelease(QuexWindow) {}

bool WindowPost(QuexWindow window, uint32_t message, uint64_t wParam, uint64_t lParam) {
    if (!WindowExists(window)) return false;
    // Posted, never sent: the window's thread handles it later.
    return PostMessageA(window, message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam)) != 0;
}

bool EventGiven(QuexEvent event) { return event != QUEX_NO_EVENT; }

QuexEvent EventRetain(QuexEvent event) {
    if (event == QUEX_NO_EVENT) return QUEX_NO_EVENT;
    HANDLE copy = nullptr;
    const HANDLE self = GetCurrentProcess();
    if (!DuplicateHandle(self, event, self, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) return QUEX_NO_EVENT;
    return copy;
}

void EventRelease(QuexEvent event) {
    if (event != QUEX_NO_EVENT) CloseHandle(event);
}

bool EventSignal(QuexEvent event) { return event != QUEX_NO_EVENT && SetEvent(event) != 0; }

}  // namespace platform
