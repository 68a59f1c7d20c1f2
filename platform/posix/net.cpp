// POSIX sockets, the local interface list and the readiness wait.
#include "platform/net.h"
#include "platform/local_interfaces.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <new>

namespace platform {

bool NetStartup() { return true; }
void NetCleanup() {}

// The rule: walk getifaddrs() once, in the order it reports its entries, and
// take each AF_INET address whose interface is up (IFF_UP) and is not a
// loopback interface (IFF_LOOPBACK); an address already taken (the same
// address configured on a second interface) is skipped, so the first
// occurrence keeps its place. 0.0.0.0 is never taken. On Linux that order is
// the kernel's address dump: interfaces by index, the addresses of one
// interface in the order they were added, so it is stable while the
// configuration stands. The host name is not consulted: on Debian it
// resolves to 127.0.1.1, which reaches no device. The name is the entry's
// interface name (an address label such as "eth0:1" where one is set).
bool ListLocalInterfaces(std::vector<LocalInterface>* interfaces) {
    if (interfaces == nullptr) return false;
    interfaces->clear();
    ifaddrs* first = nullptr;
    if (getifaddrs(&first) != 0) return false;
    std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> owner(first, freeifaddrs);
    try {
        for (const ifaddrs* entry = first; entry != nullptr; entry = entry->ifa_next) {
            if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
            if ((entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0) continue;
            sockaddr_in in;
            std::memcpy(&in, entry->ifa_addr, sizeof in);
            AddLocalInterface(interfaces, in.sin_addr.s_addr,
                              entry->ifa_name != nullptr ? entry->ifa_name : "");
        }
    } catch (const std::bad_alloc&) {
        interfaces->clear();
        errno = ENOMEM;
        return false;
    }
    return true;
}

std::string SocketErrorText() { return std::strerror(errno); }

SocketHandle UdpSocketOpen() {
    // Close-on-exec: a program embedding the library must not leak these into children.
    return socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
}

void SocketClose(SocketHandle socket) {
    if (socket != kInvalidSocket) close(socket);
}

static sockaddr_in MakeAddress(uint32_t address, uint16_t port) {
    sockaddr_in in;
    std::memset(&in, 0, sizeof in);
    in.sin_family = AF_INET;
    in.sin_port = htons(port);
    in.sin_addr.s_addr = address;
    return in;
}

bool SocketBind(SocketHandle socket, uint32_t address, uint16_t port) {
    const sockaddr_in in = MakeAddress(address, port);
    return bind(socket, reinterpret_cast<const sockaddr*>(&in), sizeof in) == 0;
}

bool SocketSetMulticastInterface(SocketHandle socket, uint32_t address) {
    in_addr in;
    in.s_addr = address;
    return setsockopt(socket, IPPROTO_IP, IP_MULTICAST_IF, &in, sizeof in) == 0;
}

bool SocketSetMulticastTtl(SocketHandle socket, int ttl) {
    return setsockopt(socket, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) == 0;
}

bool SocketSetNonBlocking(SocketHandle socket) {
    const int flags = fcntl(socket, F_GETFL);
    if (flags == -1) return false;
    return fcntl(socket, F_SETFL, flags | O_NONBLOCK) == 0;
}

int SocketSetReceiveBuffer(SocketHandle socket, int bytes) {
    if (setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) != 0) return 0;
    int granted = 0;
    socklen_t size = sizeof granted;
    if (getsockopt(socket, SOL_SOCKET, SO_RCVBUF, &granted, &size) != 0) return 0;
    return granted;
}

bool SocketLocalAddress(SocketHandle socket, uint32_t* address) {
    if (address == nullptr) return false;
    sockaddr_storage storage;
    socklen_t size = sizeof storage;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&storage), &size) != 0) return false;
    if (storage.ss_family != AF_INET || size < sizeof(sockaddr_in)) return false;
    sockaddr_in in;
    std::memcpy(&in, &storage, sizeof in);
    *address = in.sin_addr.s_addr;
    return true;
}

SendOutcome SocketSendTo(SocketHandle socket, const void* data, size_t length, uint32_t address,
                         uint16_t port) {
    if (data == nullptr || length > static_cast<size_t>(INT_MAX)) {
        errno = EINVAL;
        return SendOutcome::Failed;
    }
    const sockaddr_in in = MakeAddress(address, port);
    ssize_t sent;
    do {
        sent = sendto(socket, data, length, 0, reinterpret_cast<const sockaddr*>(&in), sizeof in);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) return SendOutcome::Failed;
    if (static_cast<size_t>(sent) != length) {
        errno = EMSGSIZE;  // a datagram goes whole or not at all
        return SendOutcome::Failed;
    }
    return SendOutcome::Sent;
}

ReceiveOutcome SocketReceive(SocketHandle socket, void* buffer, size_t capacity, size_t* length) {
    if (buffer == nullptr || length == nullptr) {
        errno = EINVAL;
        return ReceiveOutcome::Failed;
    }
    // MSG_TRUNC makes recv report the datagram's real length, so a datagram
    // larger than the buffer is recognised instead of silently cut.
    ssize_t received;
    do {
        received = recv(socket, buffer, capacity, MSG_TRUNC | MSG_DONTWAIT);
    } while (received < 0 && errno == EINTR);
    if (received < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK ? ReceiveOutcome::NothingWaiting
                                                       : ReceiveOutcome::Failed;
    *length = static_cast<size_t>(received);
    return ReceiveOutcome::Datagram;
}

// poll, never select: select cannot watch descriptors numbered 1024 or more.
int WaitReadable(const SocketHandle* sockets, size_t count, uint32_t timeoutMs, bool* ready, Waitable wake,
                 bool* woken) {
    if (woken != nullptr) *woken = false;
    const bool withWake = wake != kNoWaitable;
    const size_t total = count + (withWake ? 1 : 0);
    if ((count > 0 && (sockets == nullptr || ready == nullptr)) || count > 0x10000 || total == 0) {
        errno = EINVAL;
        return -1;
    }

    constexpr size_t kOnStack = 65;
    pollfd onStack[kOnStack];
    std::unique_ptr<pollfd[]> onHeap;
    pollfd* fds = onStack;
    if (total > kOnStack) {
        onHeap.reset(new (std::nothrow) pollfd[total]);
        if (!onHeap) {
            errno = ENOMEM;
            return -1;
        }
        fds = onHeap.get();
    }
    for (size_t i = 0; i < count; ++i) fds[i] = pollfd{sockets[i], POLLIN, 0};
    if (withWake) fds[count] = pollfd{static_cast<int>(wake), POLLIN, 0};

    const bool forever = timeoutMs == kInfinite;
    const uint64_t deadline = forever ? 0 : MonotonicMs() + timeoutMs;
    int result;
    for (;;) {
        int waitMs = -1;
        if (!forever) {
            const uint64_t now = MonotonicMs();
            const uint64_t left = deadline > now ? deadline - now : 0;
            waitMs = static_cast<int>(std::min<uint64_t>(left, INT_MAX));
        }
        result = poll(fds, static_cast<nfds_t>(total), waitMs);
        if (result >= 0 || errno != EINTR) break;
    }
    if (result < 0) return -1;

    int readable = 0;
    for (size_t i = 0; i < total; ++i) {
        if ((fds[i].revents & POLLNVAL) != 0) {
            errno = EBADF;  // a descriptor that is not open
            return -1;
        }
    }
    for (size_t i = 0; i < count; ++i) {
        // An error pending on the socket counts as readable: the read that
        // follows collects it, so the next wait does not return at once again.
        ready[i] = (fds[i].revents & (POLLIN | POLLERR | POLLHUP)) != 0;
        if (ready[i]) ++readable;
    }
    if (withWake && woken != nullptr) *woken = (fds[count].revents & (POLLIN | POLLERR | POLLHUP)) != 0;
    return readable;
}

}  // namespace platform
