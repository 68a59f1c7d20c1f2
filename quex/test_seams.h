// Points where the test build makes the library fail on purpose. The shipped
// library is compiled without QUEX_TEST_SEAMS: there every seam is a
// constant false and nothing of it remains.
#pragma once

namespace quex {

// The socket steps a test can make fail as the system would: the set-up of an
// interface socket (after its creation, as a failed bind), a send, a wait for
// answers, a read.
enum class SocketFault { Setup, Send, Wait, Receive };

#ifdef QUEX_TEST_SEAMS
// True when this step is to fail now (driven by tests/support/socket_fault.h).
bool SocketFaultDue(SocketFault step);
#else
constexpr bool SocketFaultDue(SocketFault) { return false; }
#endif

}  // namespace quex
