// Drives the library's socket fault seam (quex/test_seams.h) in the test build.
#pragma once

#include <cstdint>

#include "quex/test_seams.h"

namespace quex {

// The nth step of this kind from now on (1 = the next one) fails, with the
// reason "injected failure"; 0 disarms.
void InjectSocketFault(SocketFault step, int32_t nth);
// Disarms every step.
void ClearSocketFaults();

}  // namespace quex
