// Local interfaces, the per-interface UDP sockets, and the datagrams that
// go out of them and come in.
#include "quex/sockets.h"

#include <new>
#include <string>

#include "platform/ipv4_text.h"
#include "quex/codec.h"
#include "quex/test_seams.h"

namespace quex {

namespace {

void NetworkError(QuexContext* context, const std::string& reason) {
    SetContextError(context, QUEX_ERROR_NETWORK, reason.c_str());
}

// "Cannot open a socket on 10.77.0.1: " and the system's reason.
void SocketError(QuexContext* context, uint32_t localAddress, const std::string& reason) {
    NetworkError(context, "Cannot open a socket on " + platform::FormatIPv4(localAddress) + ": " + reason);
}

}  // namespace

bool EnumerateLocalInterfaces(LocalInterfaces* interfaces, QuexContext* context) {
    if (interfaces == nullptr) return false;
    if (!platform::ListLocalInterfaces(interfaces)) {
        NetworkError(context, "Cannot list the local IPv4 addresses: " + platform::SocketErrorText());
        return false;
    }
    if (!interfaces->empty()) return true;
    NetworkError(context, "No usable IPv4 interface");
    return false;
}

SocketHandle OpenInterfaceSocket(QuexContext* context, uint32_t localAddress) {
    if (context == nullptr) return platform::kInvalidSocket;
    const SocketHandle socket = platform::UdpSocketOpen();
    if (socket == platform::kInvalidSocket) {
        SocketError(context, localAddress, platform::SocketErrorText());
        return platform::kInvalidSocket;
    }
    const bool injected = SocketSetupFaultDue();
    const bool configured = !injected && platform::SocketBind(socket, localAddress, 0) &&
                            platform::SocketSetMulticastInterface(socket, localAddress) &&
                            platform::SocketSetMulticastTtl(socket, context->multicastTtl) &&
                            platform::SocketSetNonBlocking(socket);
    if (!configured) {
        // Read before the close, which may change it.
        SocketError(context, localAddress, injected ? "injected failure" : platform::SocketErrorText());
        platform::SocketClose(socket);
        return platform::kInvalidSocket;
    }
    // Whatever is granted: a smaller buffer costs capacity, not function.
    platform::SocketSetReceiveBuffer(socket, kInterfaceReceiveBuffer);
    return socket;
}

int32_t OpenAllInterfaceSockets(QuexContext* context, const LocalInterfaces& interfaces,
                                SocketHandle** sockets) {
    if (context == nullptr || sockets == nullptr || interfaces.empty()) return 0;
    const int32_t count = static_cast<int32_t>(interfaces.size());
    SocketHandle* opened = new (std::nothrow) SocketHandle[interfaces.size()];
    if (opened == nullptr) return 0;
    for (int32_t i = 0; i < count; ++i) {
        opened[i] = OpenInterfaceSocket(context, interfaces[static_cast<size_t>(i)].address);
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

int32_t SendToGroup(const QuexContext* context, const SocketHandle* sockets, int32_t count, const void* data,
                    size_t length) {
    if (context == nullptr || sockets == nullptr || data == nullptr || count <= 0 || length == 0)
        return kExchangeFailed;
    // Every socket sends once; a failed send counts -1 and does not stop the others.
    int64_t total = 0;
    for (int32_t i = 0; i < count; ++i)
        total += platform::SocketSendTo(sockets[i], data, length, context->multicastGroup, context->port);
    return total == static_cast<int64_t>(count) * static_cast<int64_t>(length) ? kExchangeOk
                                                                               : kExchangeFailed;
}

void CloseInterfaceSockets(SocketHandle* sockets, int32_t count) {
    if (sockets == nullptr || count <= 0) return;
    for (int32_t i = 0; i < count; ++i) {
        if (sockets[i] != platform::kInvalidSocket) platform::SocketClose(sockets[i]);
    }
    delete[] sockets;
}

int32_t SendDiscoveryRequest(const QuexContext* context, const SocketHandle* sockets, int32_t count,
                             const uint8_t* targetMac) {
    if (context == nullptr || targetMac == nullptr) return kExchangeFailed;
    uint8_t request[kDiscoveryRequestSize];
    BuildDiscoveryRequest(IdentityOf(*context), targetMac, request);
    return SendToGroup(context, sockets, count, request, sizeof request);
}

int32_t ReceiveResponse(const QuexContext* context, SocketHandle socket, uint16_t expectedType,
                        const uint8_t* targetMac, QuexDeviceRecord* record) {
    if (context == nullptr || targetMac == nullptr || record == nullptr) return kExchangeFailed;
    uint8_t buffer[kReceiveBufferSize] = {};
    const int received = platform::SocketReceive(socket, buffer, sizeof buffer);
    if (CheckResponse(context->magic, buffer, received, expectedType, targetMac, record) != kExchangeOk)
        return kExchangeFailed;
    uint32_t local = 0;
    if (!platform::SocketLocalAddress(socket, &local)) return kExchangeFailed;
    record->info.interfaceAddress = local;
    return kExchangeOk;
}

}  // namespace quex
