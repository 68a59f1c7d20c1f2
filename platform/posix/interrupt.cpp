// Interrupt requests on POSIX: SIGINT and SIGTERM set a flag that every
// thread may read (a lock-free atomic, safe in a signal handler).
#include "platform/interrupt.h"

#include <atomic>
#include <cerrno>
#include <signal.h>

namespace platform {

namespace {

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler may only touch lock-free atomics");

void OnInterrupt(int) {
    const int saved = errno;  // the interrupted code may be about to read it
    g_interrupted.store(true);
    errno = saved;
}

}  // namespace

bool CatchInterrupts() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;  // every wait of the program goes round EINTR anyway
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}

bool InterruptRequested() { return g_interrupted.load(); }

}  // namespace platform
