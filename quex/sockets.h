// Local interfaces, the per-interface UDP sockets, and the datagrams that
// go out of them and come in: every socket read and write of the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/net.h"
#include "quex/context.h"
#include "quex/device_record.h"

namespace quex {

using platform::SocketHandle;
// The host's IPv4 interfaces, listed once per operation.
using LocalInterfaces = std::vector<platform::LocalInterface>;

// Fills interfaces with the host's IPv4 interfaces (which ones, and in which
// order: platform::ListLocalInterfaces). False when it lists none; the reason
// then becomes the context's last error (QUEX_ERROR_NETWORK), if one is given.
bool EnumerateLocalInterfaces(LocalInterfaces* interfaces, QuexContext* context);
// The socket, or kInvalidSocket with the system's reason as the context's last
// error (QUEX_ERROR_NETWORK).
SocketHandle OpenInterfaceSocket(QuexContext* context, uint32_t localAddress);
// One socket per listed interface, in list order, all or none: the count
// (array stored in *sockets, made with new[] and released with
// CloseInterfaceSockets), or 0 with the reason as the context's last error
// (QUEX_ERROR_NETWORK).
int32_t OpenAllInterfaceSockets(QuexContext* context, const LocalInterfaces& interfaces,
                                SocketHandle** sockets);
// kExchangeOk when every socket sent all bytes, else kExchangeFailed.
int32_t SendToGroup(const QuexContext* context, const SocketHandle* sockets, int32_t count, const void* data,
                    size_t length);
void CloseInterfaceSockets(SocketHandle* sockets, int32_t count);

// Builds the discovery request for targetMac and sends it once on every
// socket; SendToGroup's result (callers do not act on it).
int32_t SendDiscoveryRequest(const QuexContext* context, const SocketHandle* sockets, int32_t count,
                             const uint8_t* targetMac);
// Reads one datagram from the socket and checks it (CheckResponse):
// kExchangeOk when it was the awaited reply, its receiving interface then in
// interfaceAddress; kExchangeFailed for nothing waiting or a refused datagram.
int32_t ReceiveResponse(const QuexContext* context, SocketHandle socket, uint16_t expectedType,
                        const uint8_t* targetMac, QuexDeviceRecord* record);

// Receive buffer asked for on every interface socket: a plant of thousands
// of devices answers a discovery in one burst, and a datagram the buffer
// cannot hold is a device lost. The system may grant less (Linux caps it at
// net.core.rmem_max and reports double the capped request).
constexpr int kInterfaceReceiveBuffer = 8 << 20;

}  // namespace quex
