// Drives the library's socket set-up seam (quex/test_seams.h) in the test build.
#pragma once

#include <cstdint>

namespace quex {

// The nth interface socket set-up from now on (1 = the next one) fails after
// its socket was created, as a failed bind would; 0 disarms.
void InjectSocketFailure(int32_t nth);

}  // namespace quex
