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
// order: platform::ListLocalInterfaces), only the context's chosen ones when
// it has chosen some. False when it lists none; the reason then becomes the
// context's last error (QUEX_ERROR_NETWORK), if one is given.
bool EnumerateLocalInterfaces(LocalInterfaces* interfaces, QuexContext* context);
// Limits the context's operations to the interfaces with these addresses
// (count 0: every interface again). False, and nothing changed, when an
// address is no local IPv4 interface now (or the list cannot be read).
bool ChooseInterfaces(QuexContext* context, const uint32_t* addresses, size_t count);
// The socket, or kInvalidSocket with the system's reason as the context's last
// error (QUEX_ERROR_NETWORK).
SocketHandle OpenInterfaceSocket(QuexContext* context, uint32_t localAddress);
// One socket per listed interface, in list order, all or none: the count
// (array stored in *sockets, made with new[] and released with
// CloseInterfaceSockets), or 0 with the reason as the context's last error
// (QUEX_ERROR_NETWORK).
int32_t OpenAllInterfaceSockets(QuexContext* context, const LocalInterfaces& interfaces,
                                SocketHandle** sockets);
void CloseInterfaceSockets(SocketHandle* sockets, int32_t count);

// What sending one datagram on a set of sockets came to.
enum class GroupSendOutcome {
    AllSent,   // through every socket
    SomeSent,  // through some: the operation goes on through those
    NoneSent,  // through none (or an argument was missing): the first failure's
               // reason is the context's last error (QUEX_ERROR_NETWORK)
};
// Sends the datagram once on every socket, in order; a failed send does not
// stop the others, and nothing is retried.
GroupSendOutcome SendToGroup(QuexContext* context, const SocketHandle* sockets, int32_t count,
                             const void* data, size_t length);
// Builds the discovery request for targetMac and sends it (SendToGroup).
GroupSendOutcome SendDiscoveryRequest(QuexContext* context, const SocketHandle* sockets, int32_t count,
                                      const uint8_t* targetMac);

// Waits up to timeoutMs for answers on the sockets (platform::WaitReadable,
// with the same optional wake object): the number of readable sockets, 0
// when none became readable, or -1 with the reason as the context's last
// error (QUEX_ERROR_NETWORK).
int WaitForAnswers(QuexContext* context, const SocketHandle* sockets, size_t count, uint32_t timeoutMs,
                   bool* ready, platform::Waitable wake = platform::kNoWaitable, bool* woken = nullptr);

// What reading one datagram from a socket came to.
enum class ReplyOutcome {
    Accepted,        // the awaited reply; its receiving interface is in interfaceAddress
    NothingWaiting,  // no datagram was queued
    Refused,         // a datagram that is not the awaited reply: dropped, nothing reported
    Failed,          // the read, or reading the socket's address, failed: the reason is the
                     // context's last error (QUEX_ERROR_NETWORK); or an argument was missing
};
// Reads one datagram from the socket and checks it (CheckResponse).
ReplyOutcome ReceiveResponse(QuexContext* context, SocketHandle socket, uint16_t expectedType,
                             const uint8_t* targetMac, QuexDeviceRecord* record);

// Receive buffer asked for on every interface socket: a plant of thousands
// of devices answers a discovery in one burst, and a datagram the buffer
// cannot hold is a device lost. The system may grant less (Linux caps it at
// net.core.rmem_max and reports double the capped request).
constexpr int kInterfaceReceiveBuffer = 8 << 20;

}  // namespace quex
