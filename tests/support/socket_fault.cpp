// The test build's side of the socket set-up seam.
#include "tests/support/socket_fault.h"

#include <atomic>

#include "quex/test_seams.h"

namespace quex {

namespace {
std::atomic<int32_t> g_failAtOpen{0};
}  // namespace

void InjectSocketFailure(int32_t nth) { g_failAtOpen.store(nth > 0 ? nth : 0); }

bool SocketSetupFaultDue() {
    int32_t left = g_failAtOpen.load();
    while (left > 0) {
        if (g_failAtOpen.compare_exchange_weak(left, left - 1)) return left == 1;
    }
    return false;
}

}  // namespace quex
