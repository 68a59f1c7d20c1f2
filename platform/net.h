// UDP sockets, the local interface list and the readiness wait.
// Addresses are 32-bit values in network byte order; ports are host order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/sync.h"

namespace platform {

#ifdef _WIN32
using SocketHandle = uintptr_t;
constexpr SocketHandle kInvalidSocket = ~static_cast<uintptr_t>(0);
#else
using SocketHandle = int;
constexpr SocketHandle kInvalidSocket = -1;
#endif

// Starts / releases the system's socket library (a no-op where there is none).
bool NetStartup();
void NetCleanup();

// One local IPv4 address and the interface that holds it.
struct LocalInterface {
    uint32_t address;  // network order
    std::string name;  // as users see it, in UTF-8: "eth0", or on Windows the adapter's "Ethernet 2"
};

// The host's IPv4 interfaces for multicast, one entry per address, in a
// stable order: see the implementation for the rule.
bool ListLocalInterfaces(std::vector<LocalInterface>* interfaces);
// The system's text for the error of the last failed call of this header on
// this thread ("Too many open files"); read it before any other call.
std::string SocketErrorText();

SocketHandle UdpSocketOpen();
void SocketClose(SocketHandle socket);
bool SocketBind(SocketHandle socket, uint32_t address, uint16_t port);
bool SocketSetMulticastInterface(SocketHandle socket, uint32_t address);
bool SocketSetMulticastTtl(SocketHandle socket, int ttl);
bool SocketSetNonBlocking(SocketHandle socket);
// Asks for a receive buffer; returns the size the system granted (0 on failure).
int SocketSetReceiveBuffer(SocketHandle socket, int bytes);
bool SocketLocalAddress(SocketHandle socket, uint32_t* address);

// What sending one datagram came to: all of it sent, or not (SocketErrorText
// then says why).
enum class SendOutcome { Sent, Failed };
SendOutcome SocketSendTo(SocketHandle socket, const void* data, size_t length, uint32_t address,
                         uint16_t port);

// What reading one datagram came to. Datagram: *length is its real length,
// which may exceed capacity (the copy is then cut at capacity), 0 for an
// empty one. NothingWaiting: none was queued. Failed: the read failed
// (SocketErrorText then says why).
enum class ReceiveOutcome { Datagram, NothingWaiting, Failed };
ReceiveOutcome SocketReceive(SocketHandle socket, void* buffer, size_t capacity, size_t* length);

// Waits up to timeoutMs for any number of sockets (and the optional wake
// object) to become readable. ready[i] is set for each readable socket. Returns the
// number of readable sockets (0 on time-out or when only the wake object is
// ready; *woken tells which), or -1 when the wait failed (SocketErrorText
// then says why).
int WaitReadable(const SocketHandle* sockets, size_t count, uint32_t timeoutMs, bool* ready,
                 Waitable wake = kNoWaitable, bool* woken = nullptr);

}  // namespace platform
