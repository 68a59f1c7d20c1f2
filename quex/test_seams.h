// Points where the test build makes the library fail on purpose. The shipped
// library is compiled without QUEX_TEST_SEAMS: there every seam is a
// constant false and nothing of it remains.
#pragma once

namespace quex {

#ifdef QUEX_TEST_SEAMS
// True when this interface socket's set-up is to fail as a failed bind would
// (driven by tests/support/socket_fault.h).
bool SocketSetupFaultDue();
#else
constexpr bool SocketSetupFaultDue() { return false; }
#endif

}  // namespace quex
