// What an exchange with a device, or a step of one, comes to. A
// configuration request may also return the device's own result code (1..255).
#pragma once

#include <cstdint>

#include <quex/quex.h>

namespace quex {

enum ExchangeResult : int32_t {
    kExchangeOk = QUEX_OK,
    kExchangeFailed = QUEX_FAILED,       // bad argument, no socket or timer, a failed send, wait or read
    kExchangeTimedOut = QUEX_TIMED_OUT,  // also the last error code of a time-out
};

}  // namespace quex
