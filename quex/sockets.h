// Local interfaces and the per-interface UDP sockets.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/net.h"
#include "quex/context.h"
#include "quex/guarded_list.h"

namespace quex {

using platform::SocketHandle;

// Fills the list with the host's IPv4 addresses (network order, stored in the
// item pointers); the number listed, 0 on failure.
int32_t EnumerateLocalAddresses(GuardedList* addresses);
SocketHandle OpenInterfaceSocket(const QuexContext* context, uint32_t localAddress);
// One socket per local address, all or none: the count (array stored in
// *sockets, made with new[] and released with CloseInterfaceSockets), or 0.
int32_t OpenAllInterfaceSockets(const QuexContext* context, SocketHandle** sockets);
// 0 when every socket sent all bytes, else -1.
int32_t SendToGroup(const QuexContext* context, const SocketHandle* sockets, int32_t count,
                    const void* data, size_t length);
void CloseInterfaceSockets(SocketHandle* sockets, int32_t count);

// Test hook: the nth OpenInterfaceSocket call from now on (1 = the next one)
// fails after its socket was created, as a failed bind would; 0 disarms.
void InjectSocketFailure(int32_t nth);

// Most sockets one wait watches; answers on further sockets are never read.
constexpr int32_t kMaxWatchedSockets = 64;
// Receive buffer asked for on every interface socket: a plant of thousands
// of devices answers a discovery in one burst, and a datagram the buffer
// cannot hold is a device lost. The system may grant less (Linux caps it at
// net.core.rmem_max and reports double the capped request).
constexpr int kInterfaceReceiveBuffer = 8 << 20;

}  // namespace quex
