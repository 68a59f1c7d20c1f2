// Interrupt requests on Windows: the console's control events set a flag.
#include "platform/interrupt.h"

#include <windows.h>

namespace platform {

namespace {

volatile LONG g_interrupted = 0;

BOOL WINAPI OnControl(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        InterlockedExchange(&g_interrupted, 1);
        return TRUE;  // handled: the process goes on and stops in order
    default:
        return FALSE;
    }
}

}  // namespace

bool CatchInterrupts() { return SetConsoleCtrlHandler(OnControl, TRUE) != 0; }

bool InterruptRequested() { return InterlockedCompareExchange(&g_interrupted, 0, 0) != 0; }

}  // namespace platform
