// Ctrl-C and termination requests (SIGINT/SIGTERM, the Windows console's
// control events), turned into a flag a long run consults.
#pragma once

namespace platform {

// From this call on, an interrupt request no longer ends the process but
// sets the flag. Call once, before any thread is started.
bool CatchInterrupts();
// True once an interrupt request has come.
bool InterruptRequested();

}  // namespace platform
