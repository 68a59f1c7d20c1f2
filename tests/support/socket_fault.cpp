// The test build's side of the socket fault seam.
#include "tests/support/socket_fault.h"

#include <atomic>

namespace quex {

namespace {
constexpr int kSteps = 4;
std::atomic<int32_t> g_failAt[kSteps] = {};
}  // namespace

void InjectSocketFault(SocketFault step, int32_t nth) {
    g_failAt[static_cast<int>(step)].store(nth > 0 ? nth : 0);
}

void ClearSocketFaults() {
    for (std::atomic<int32_t>& left : g_failAt) left.store(0);
}

bool SocketFaultDue(SocketFault step) {
    std::atomic<int32_t>& counter = g_failAt[static_cast<int>(step)];
    int32_t left = counter.load();
    while (left > 0) {
        if (counter.compare_exchange_weak(left, left - 1)) return left == 1;
    }
    return false;
}

}  // namespace quex
