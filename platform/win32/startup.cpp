// Start-up of the application on Windows. The step that the program's
// framework once took is kept: the module must be known to the system, and
// the process asks not to be stopped by the system's error dialogs (a missing
// drive named in /firmware must fail the transfer, not wait for a click).
#include <winsock2.h>
#include <windows.h>

#include "platform/startup.h"

namespace platform {

bool StartApplicationFramework() {
    if (GetModuleHandleA(nullptr) == nullptr) return false;
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    return true;
}

}  // namespace platform
