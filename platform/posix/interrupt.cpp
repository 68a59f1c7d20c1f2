// Interrupt requests on POSIX: SIGINT and SIGTERM set a flag.
#include "platform/interrupt.h"

#include <signal.h>

namespace platform {

namespace {

volatile sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) { g_interrupted = 1; }

}  // namespace

bool CatchInterrupts() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;  // every wait of the program goes round EINTR anyway
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}

bool InterruptRequested() { return g_interrupted != 0; }

}  // namespace platform
