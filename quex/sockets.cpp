// Local interfaces and the per-interface UDP sockets.
#include "quex/sockets.h"

#include <atomic>
#include <new>
#include <vector>

namespace quex {

namespace {

std::atomic<int32_t> g_failAtOpen{0};

// True when this call is the one the test hook asked to fail.
bool InjectedFailureDue() {
    int32_t left = g_failAtOpen.load();
    while (left > 0) {
        if (g_failAtOpen.compare_exchange_weak(left, left - 1)) return left == 1;
    }
    return false;
}

void* AddressItem(uint32_t address) { return reinterpret_cast<void*>(static_cast<uintptr_t>(address)); }
uint32_t ItemAddress(const void* item) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(item));
}

// Owns an address list for one operation.
struct ListOwner {
    GuardedList* list;
    ~ListOwner() { ListDestroy(list); }
};

}  // namespace

void InjectSocketFailure(int32_t nth) { g_failAtOpen.store(nth > 0 ? nth : 0); }

int32_t EnumerateLocalAddresses(GuardedList* addresses) {
    if (addresses == nullptr) return 0;
    ListClear(addresses);
    std::vector<uint32_t> found;
    if (!platform::ListLocalIPv4Addresses(&found)) return 0;
    // The platform list has no duplicates already; ListAdd refuses them too.
    for (uint32_t address : found) ListAdd(addresses, AddressItem(address));
    const int32_t count = ListCount(addresses);
    return count > 0 ? count : 0;
}

SocketHandle OpenInterfaceSocket(const QuexContext* context, uint32_t localAddress) {
    if (context == nullptr) return platform::kInvalidSocket;
    const SocketHandle socket = platform::UdpSocketOpen();
    if (socket == platform::kInvalidSocket) return platform::kInvalidSocket;
    const bool configured = !InjectedFailureDue() && platform::SocketBind(socket, localAddress, 0) &&
                            platform::SocketSetMulticastInterface(socket, localAddress) &&
                            platform::SocketSetMulticastTtl(socket, context->multicastTtl) &&
                            platform::SocketSetNonBlocking(socket);
    if (!configured) {
        platform::SocketClose(socket);
        return platform::kInvalidSocket;
    }
    // Whatever is granted: a smaller buffer costs capacity, not function.
    platform::SocketSetReceiveBuffer(socket, kInterfaceReceiveBuffer);
    return socket;
}

int32_t OpenAllInterfaceSockets(const QuexContext* context, SocketHandle** sockets) {
    if (context == nullptr || sockets == nullptr) return 0;
    ListOwner addresses{ListCreate()};
    if (addresses.list == nullptr) return 0;
    const int32_t count = EnumerateLocalAddresses(addresses.list);
    if (count <= 0) return 0;
    SocketHandle* opened = new (std::nothrow) SocketHandle[count];
    if (opened == nullptr) return 0;
    for (int32_t i = 0; i < count; ++i) {
        opened[i] = OpenInterfaceSocket(context, ItemAddress(ListGetAt(addresses.list, i)));
        if (opened[i] == platform::kInvalidSocket) {
            // All or none: undo the sockets opened so far.
            for (int32_t j = 0; j < i; ++j) platform::SocketClose(opened[j]);
            delete[] opened;
            return 0;
        }
    }
    *sockets = opened;
    return count;
}

int32_t SendToGroup(const QuexContext* context, const SocketHandle* sockets, int32_t count,
                    const void* data, size_t length) {
    if (context == nullptr || sockets == nullptr || data == nullptr || count <= 0 || length == 0)
        return -1;
    // Every socket sends once; a failed send counts -1 and does not stop the others.
    int64_t total = 0;
    for (int32_t i = 0; i < count; ++i)
        total += platform::SocketSendTo(sockets[i], data, length, context->multicastGroup, context->port);
    return total == static_cast<int64_t>(count) * static_cast<int64_t>(length) ? 0 : -1;
}

void CloseInterfaceSockets(SocketHandle* sockets, int32_t count) {
    if (sockets == nullptr || count <= 0) return;
    for (int32_t i = 0; i < count; ++i) {
        if (sockets[i] != platform::kInvalidSocket) platform::SocketClose(sockets[i]);
    }
    delete[] sockets;
}

}  // namespace quex
