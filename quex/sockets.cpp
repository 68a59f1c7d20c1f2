// Local interfaces, the per-interface UDP sockets, and the datagrams that
// go out of them and come in.
#include "quex/sockets.h"

#include <algorithm>
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

// The reason of the step that just failed, read before any other call: the
// system's text, or the test build's injected failure.
std::string FailureReason(bool injected) {
    return injected ? "injected failure" : platform::SocketErrorText();
}

// "Cannot send through 10.77.0.1: " and the reason, the socket named by its
// interface address when that can be read.
void ThroughError(QuexContext* context, const char* what, SocketHandle socket, const std::string& reason) {
    uint32_t local = 0;
    const std::string where = platform::SocketLocalAddress(socket, &local)
                                  ? " through " + platform::FormatIPv4(local)
                                  : std::string();
    NetworkError(context, std::string("Cannot ") + what + where + ": " + reason);
}

}  // namespace

bool EnumerateLocalInterfaces(LocalInterfaces* interfaces, QuexContext* context) {
    if (interfaces == nullptr) return false;
    if (!platform::ListLocalInterfaces(interfaces)) {
        NetworkError(context, "Cannot list the local IPv4 addresses: " + platform::SocketErrorText());
        return false;
    }
    const bool chosen = context != nullptr && !context->chosenInterfaces.empty();
    if (chosen) {
        // The host's order stays; an interface gone since it was chosen is left out.
        const std::vector<uint32_t>& keep = context->chosenInterfaces;
        interfaces->erase(std::remove_if(interfaces->begin(), interfaces->end(),
                                         [&keep](const platform::LocalInterface& entry) {
                                             return std::find(keep.begin(), keep.end(), entry.address) ==
                                                    keep.end();
                                         }),
                          interfaces->end());
    }
    if (!interfaces->empty()) return true;
    NetworkError(context,
                 chosen ? "No usable IPv4 interface among the chosen ones" : "No usable IPv4 interface");
    return false;
}

bool ChooseInterfaces(QuexContext* context, const uint32_t* addresses, size_t count) {
    if (context == nullptr || (count > 0 && addresses == nullptr)) return false;
    std::vector<uint32_t> chosen;
    if (count > 0) {
        LocalInterfaces local;
        if (!platform::ListLocalInterfaces(&local)) return false;
        for (size_t i = 0; i < count; ++i) {
            const uint32_t address = addresses[i];
            const auto isIt = [address](const platform::LocalInterface& entry) {
                return entry.address == address;
            };
            if (std::none_of(local.begin(), local.end(), isIt)) return false;
            if (std::find(chosen.begin(), chosen.end(), address) == chosen.end()) chosen.push_back(address);
        }
    }
    context->chosenInterfaces.swap(chosen);
    return true;
}

SocketHandle OpenInterfaceSocket(QuexContext* context, uint32_t localAddress) {
    if (context == nullptr) return platform::kInvalidSocket;
    const SocketHandle socket = platform::UdpSocketOpen();
    if (socket == platform::kInvalidSocket) {
        SocketError(context, localAddress, platform::SocketErrorText());
        return platform::kInvalidSocket;
    }
    const bool injected = SocketFaultDue(SocketFault::Setup);
    const bool configured = !injected && platform::SocketBind(socket, localAddress, 0) &&
                            platform::SocketSetMulticastInterface(socket, localAddress) &&
                            platform::SocketSetMulticastTtl(socket, context->multicastTtl) &&
                            platform::SocketSetNonBlocking(socket);
    if (!configured) {
        // Read before the close, which may change it.
        SocketError(context, localAddress, FailureReason(injected));
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

GroupSendOutcome SendToGroup(QuexContext* context, const SocketHandle* sockets, int32_t count,
                             const void* data, size_t length) {
    if (context == nullptr || sockets == nullptr || data == nullptr || count <= 0 || length == 0)
        return GroupSendOutcome::NoneSent;
    int32_t sent = 0;
    std::string firstReason;  // reported when no socket sent, so the first one failed
    for (int32_t i = 0; i < count; ++i) {
        const bool injected = SocketFaultDue(SocketFault::Send);
        if (!injected && platform::SocketSendTo(sockets[i], data, length, context->multicastGroup,
                                                context->port) == platform::SendOutcome::Sent)
            ++sent;
        else if (i == 0)
            firstReason = FailureReason(injected);
    }
    if (sent == count) return GroupSendOutcome::AllSent;
    if (sent > 0) return GroupSendOutcome::SomeSent;
    ThroughError(context, "send", sockets[0], firstReason);
    return GroupSendOutcome::NoneSent;
}

void CloseInterfaceSockets(SocketHandle* sockets, int32_t count) {
    if (sockets == nullptr || count <= 0) return;
    for (int32_t i = 0; i < count; ++i) {
        if (sockets[i] != platform::kInvalidSocket) platform::SocketClose(sockets[i]);
    }
    delete[] sockets;
}

GroupSendOutcome SendDiscoveryRequest(QuexContext* context, const SocketHandle* sockets, int32_t count,
                                      const uint8_t* targetMac) {
    if (context == nullptr || targetMac == nullptr) return GroupSendOutcome::NoneSent;
    uint8_t request[kDiscoveryRequestSize];
    BuildDiscoveryRequest(IdentityOf(*context), targetMac, request);
    return SendToGroup(context, sockets, count, request, sizeof request);
}

int WaitForAnswers(QuexContext* context, const SocketHandle* sockets, size_t count, uint32_t timeoutMs,
                   bool* ready, platform::Waitable wake, bool* woken) {
    const bool injected = SocketFaultDue(SocketFault::Wait);
    if (injected && woken != nullptr) *woken = false;
    const int readable =
        injected ? -1 : platform::WaitReadable(sockets, count, timeoutMs, ready, wake, woken);
    if (readable < 0) NetworkError(context, "Cannot wait for answers: " + FailureReason(injected));
    return readable;
}

ReplyOutcome ReceiveResponse(QuexContext* context, SocketHandle socket, uint16_t expectedType,
                             const uint8_t* targetMac, QuexDeviceRecord* record) {
    if (context == nullptr || targetMac == nullptr || record == nullptr) return ReplyOutcome::Failed;
    uint8_t buffer[kReceiveBufferSize] = {};
    size_t length = 0;
    const bool injected = SocketFaultDue(SocketFault::Receive);
    const platform::ReceiveOutcome read =
        injected ? platform::ReceiveOutcome::Failed
                 : platform::SocketReceive(socket, buffer, sizeof buffer, &length);
    if (read == platform::ReceiveOutcome::NothingWaiting) return ReplyOutcome::NothingWaiting;
    if (read == platform::ReceiveOutcome::Failed) {
        ThroughError(context, "receive", socket, FailureReason(injected));
        return ReplyOutcome::Failed;
    }
    // Any length past the buffer is refused alike; this one says so in an int.
    const int received = static_cast<int>(length > kReceiveBufferSize ? kReceiveBufferSize + 1 : length);
    if (CheckResponse(context->magic, buffer, received, expectedType, targetMac, record) != kExchangeOk)
        return ReplyOutcome::Refused;
    uint32_t local = 0;
    if (!platform::SocketLocalAddress(socket, &local)) {
        NetworkError(context, "Cannot read a socket's local address: " + platform::SocketErrorText());
        return ReplyOutcome::Failed;
    }
    record->info.interfaceAddress = local;
    return ReplyOutcome::Accepted;
}

}  // namespace quex
