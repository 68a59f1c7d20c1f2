// Directed queries and configuration requests. Each exchange sends its
// request exactly once and waits for the first matching reply or its
// time-out; a request that cannot leave, or a wait or read that fails, ends
// it at once with the reason as the last error. Sockets and timers live only
// for the exchange.
#include "quex/requests.h"

#include <cstring>
#include <memory>
#include <new>

#include "platform/net.h"
#include "platform/sync.h"
#include "quex/challenge_memory.h"
#include "quex/codec.h"
#include "quex/digest.h"
#include "quex/exchange_result.h"
#include "quex/sockets.h"

namespace quex {
namespace {

constexpr size_t kMacSize = 6;

// One socket per listed interface (OpenAllInterfaceSockets), closed with the scope.
class InterfaceSockets {
public:
    InterfaceSockets(QuexContext* context, const LocalInterfaces& interfaces)
        : count_(OpenAllInterfaceSockets(context, interfaces, &sockets_)) {}
    ~InterfaceSockets() {
        if (count_ > 0) CloseInterfaceSockets(sockets_, count_);
    }
    InterfaceSockets(const InterfaceSockets&) = delete;
    InterfaceSockets& operator=(const InterfaceSockets&) = delete;
    const SocketHandle* Get() const { return sockets_; }
    int32_t Count() const { return count_; }

private:
    SocketHandle* sockets_ = nullptr;
    int32_t count_;
};

// One socket bound to one local address, closed with the scope.
class InterfaceSocket {
public:
    InterfaceSocket(QuexContext* context, uint32_t localAddress)
        : socket_(OpenInterfaceSocket(context, localAddress)) {}
    ~InterfaceSocket() {
        if (socket_ != platform::kInvalidSocket) platform::SocketClose(socket_);
    }
    InterfaceSocket(const InterfaceSocket&) = delete;
    InterfaceSocket& operator=(const InterfaceSocket&) = delete;
    bool Valid() const { return socket_ != platform::kInvalidSocket; }
    const SocketHandle* Get() const { return &socket_; }

private:
    SocketHandle socket_;
};

bool IsWildcard(const uint8_t* mac) { return std::memcmp(mac, kBroadcastMac, kMacSize) == 0; }

int32_t TimedOut(QuexContext* context) {
    SetContextError(context, kExchangeTimedOut, kMessageTimedOut);
    return kExchangeTimedOut;
}

// Finds the device's interface, asks for its challenge there, builds the
// request in digest or plain form and exchanges it for the device's reply.
int32_t RunConfigurationRequest(QuexContext* context, const char* password,
                                const ConfigurationRequest& request) {
    if (context == nullptr || password == nullptr) return kExchangeFailed;
    const uint8_t* mac = request.mac;

    const int64_t interfaceAddress = FindDeviceInterface(context, mac);
    if (interfaceAddress < 0) return kExchangeFailed;

    // A fresh query for every request: the challenge is always the latest.
    uint8_t challenge[kChallengeBlockSize] = {};
    const int32_t fetched = FetchChallenge(context, static_cast<uint32_t>(interfaceAddress), mac, challenge);
    if (fetched != kExchangeOk) return fetched;
    // An answer without the challenge this device offered before is not its
    // own (or not to be trusted): the password must not travel in plain text.
    if (challenge[0] == 0 && ChallengeWasOffered(context, mac)) {
        SetContextError(context, QUEX_ERROR_CHALLENGE_WITHDRAWN, kMessageChallengeWithdrawn);
        return kExchangeFailed;
    }

    uint8_t datagram[kMaxRequestSize];
    size_t length = 0;
    if (challenge[0] == 14) {
        const RequestSigner sign = [&](const uint8_t* typeField, const uint8_t* prefix, size_t prefixLength,
                                       uint8_t* digest) {
            return ComputeRequestDigest(challenge, password, prefix, static_cast<int16_t>(prefixLength),
                                        typeField, digest) == kExchangeOk;
        };
        length = BuildSignedRequest(IdentityOf(*context), request, sign, datagram, sizeof datagram);
    } else {
        length = BuildPlainRequest(IdentityOf(*context), request, password, datagram, sizeof datagram);
    }
    if (length == 0) return kExchangeFailed;

    QuexDeviceRecord record;
    if (!InitDeviceRecord(context->magic, &record)) return kExchangeFailed;
    const int32_t exchanged = ExchangeOnInterface(context, static_cast<uint32_t>(interfaceAddress),
                                                  ReplyTypeOf(request.type), mac, datagram, length, &record);
    if (exchanged != kExchangeOk) return exchanged;

    const bool hasError = (record.presentResults & kPresentErrorCode) != 0;
    const bool hasMessage = (record.presentResults & kPresentResultMessage) != 0;
    SetContextError(context, hasError ? record.errorCode : 0, hasMessage ? record.resultMessage : "");
    return (record.presentResults & kPresentResultCode) != 0 ? record.resultCode : 0;
}

}  // namespace

namespace {

// How long the interface query waits, after the device's first answer, for
// its answers through the other interfaces. A device that renews its
// challenge with every answer must have answered every copy of that query
// before it is asked for the challenge of the request: a copy it answers
// later (over a slower link) would make the request's digest stale.
constexpr uint32_t kOtherAnswersMs = 200;

// Reads the device's answers through the sockets other than first, one each,
// until every socket has brought one or settleMs have passed. False when a
// wait or read failed (the reason is the last error).
bool AwaitOtherAnswers(QuexContext* context, const SocketHandle* sockets, size_t count, size_t first,
                       const uint8_t* mac, uint32_t settleMs, bool* ready) {
    const std::unique_ptr<bool[]> answered(new (std::nothrow) bool[count]());
    QuexDeviceRecord other;
    // Without memory the settling is skipped: the answer in hand stands.
    if (!answered || !InitDeviceRecord(context->magic, &other)) return true;
    answered[first] = true;
    size_t left = count - 1;
    const uint64_t deadline = platform::MonotonicMs() + settleMs;
    while (left > 0) {
        const uint64_t now = platform::MonotonicMs();
        if (now >= deadline) return true;
        const int readable =
            WaitForAnswers(context, sockets, count, static_cast<uint32_t>(deadline - now), ready);
        if (readable <= 0) return readable == 0;
        for (size_t i = 0; i < count; ++i) {
            if (!ready[i]) continue;
            // Read whatever came, so that a socket already answered does not keep the wait busy.
            InitDeviceRecord(context->magic, &other);
            const ReplyOutcome outcome = ReceiveResponse(context, sockets[i], DiscoveryResponse, mac, &other);
            if (outcome == ReplyOutcome::Failed) return false;
            if (outcome == ReplyOutcome::Accepted && !answered[i]) {
                answered[i] = true;
                --left;
            }
        }
    }
    return true;
}

// Sends the directed query on the sockets and waits for the first answer of
// the MAC on any of them, or timeoutMs; then, for settleMs at most, for the
// answers through the other sockets (see kOtherAnswersMs).
int32_t AwaitQueryAnswer(QuexContext* context, const SocketHandle* sockets, int32_t count, const uint8_t* mac,
                         QuexDeviceRecord* record, uint32_t timeoutMs, uint32_t settleMs = 0) {
    platform::WaitableTimer timer;
    if (!timer.Valid()) return kExchangeFailed;
    const std::unique_ptr<bool[]> ready(new (std::nothrow) bool[static_cast<size_t>(count)]());
    if (!ready) return kExchangeFailed;

    // Sent once; a query that left through no interface ends at once, with the reason.
    if (SendDiscoveryRequest(context, sockets, count, mac) == GroupSendOutcome::NoneSent)
        return kExchangeFailed;
    if (!timer.Arm(timeoutMs)) return kExchangeFailed;

    // Every socket is watched, however many interfaces the host has.
    const size_t watched = static_cast<size_t>(count);
    for (;;) {
        const int readyCount = WaitForAnswers(context, sockets, watched, context->requestPollMs, ready.get());
        if (readyCount < 0) return kExchangeFailed;
        for (size_t i = 0; readyCount > 0 && i < watched; ++i) {
            if (!ready[i]) continue;
            InitDeviceRecord(context->magic, record);
            const ReplyOutcome outcome = ReceiveResponse(context, sockets[i], DiscoveryResponse, mac, record);
            if (outcome == ReplyOutcome::Failed) return kExchangeFailed;
            if (outcome == ReplyOutcome::Accepted) {
                RememberChallenge(context, *record);
                if (settleMs > 0 && watched > 1 &&
                    !AwaitOtherAnswers(context, sockets, watched, i, mac, settleMs, ready.get()))
                    return kExchangeFailed;
                return kExchangeOk;
            }
        }
        // Checked on every pass: foreign datagrams that keep a socket
        // readable must not hold the wait open.
        if (timer.Wait(0)) return TimedOut(context);
    }
}

}  // namespace

int32_t QueryDevice(QuexContext* context, const uint8_t* mac, QuexDeviceRecord* record) {
    if (context == nullptr || mac == nullptr || IsWildcard(mac) || record == nullptr) return kExchangeFailed;
    LocalInterfaces interfaces;
    if (!EnumerateLocalInterfaces(&interfaces, context)) return kExchangeFailed;
    InterfaceSockets sockets(context, interfaces);
    if (sockets.Count() <= 0) return kExchangeFailed;
    return AwaitQueryAnswer(context, sockets.Get(), sockets.Count(), mac, record,
                            context->deviceInfoTimeoutMs);
}

int32_t QueryDeviceThrough(QuexContext* context, uint32_t localAddress, const uint8_t* mac,
                           QuexDeviceRecord* record) {
    if (context == nullptr || mac == nullptr || IsWildcard(mac) || record == nullptr) return kExchangeFailed;
    InterfaceSocket socket(context, localAddress);
    if (!socket.Valid()) return kExchangeFailed;
    return AwaitQueryAnswer(context, socket.Get(), 1, mac, record, context->infoTimeoutMs);
}

int32_t ExchangeOnInterface(QuexContext* context, uint32_t localAddress, uint16_t replyType,
                            const uint8_t* mac, const uint8_t* request, size_t length,
                            QuexDeviceRecord* record) {
    if (context == nullptr || mac == nullptr || request == nullptr || length == 0 || record == nullptr)
        return kExchangeFailed;

    InterfaceSocket socket(context, localAddress);
    if (!socket.Valid()) return kExchangeFailed;
    platform::WaitableTimer timer;
    if (!timer.Valid()) return kExchangeFailed;

    // Sent once; a request that could not leave ends the exchange at once, with the reason.
    if (SendToGroup(context, socket.Get(), 1, request, length) == GroupSendOutcome::NoneSent)
        return kExchangeFailed;
    if (!timer.Arm(context->replyTimeoutMs)) return kExchangeFailed;

    for (;;) {
        bool ready[1] = {};
        const int readyCount = WaitForAnswers(context, socket.Get(), 1, context->requestPollMs, ready);
        if (readyCount < 0) return kExchangeFailed;
        InitDeviceRecord(context->magic, record);
        if (readyCount > 0 && ready[0]) {
            const ReplyOutcome outcome = ReceiveResponse(context, *socket.Get(), replyType, mac, record);
            if (outcome == ReplyOutcome::Accepted) return kExchangeOk;
            if (outcome == ReplyOutcome::Failed) return kExchangeFailed;
        }
        // Checked on every pass, whether or not a datagram came.
        if (timer.Wait(0)) return TimedOut(context);
    }
}

int64_t FindDeviceInterface(QuexContext* context, const uint8_t* mac) {
    if (context == nullptr || mac == nullptr || IsWildcard(mac)) return kExchangeFailed;

    // Listed once: the count decides, and the same list gives the sockets.
    LocalInterfaces interfaces;
    if (!EnumerateLocalInterfaces(&interfaces, context)) return kExchangeFailed;
    if (interfaces.size() == 1) return interfaces[0].address;

    QuexDeviceRecord record;
    if (!InitDeviceRecord(context->magic, &record)) return kExchangeFailed;
    InterfaceSockets sockets(context, interfaces);
    if (sockets.Count() <= 0) return kExchangeFailed;
    if (AwaitQueryAnswer(context, sockets.Get(), sockets.Count(), mac, &record, context->infoTimeoutMs,
                         kOtherAnswersMs) != kExchangeOk)
        return kExchangeFailed;
    return record.info.interfaceAddress;
}

int32_t FetchChallenge(QuexContext* context, uint32_t localAddress, const uint8_t* mac,
                       uint8_t* challengeBlock) {
    if (context == nullptr || mac == nullptr || challengeBlock == nullptr || IsWildcard(mac))
        return kExchangeFailed;

    QuexDeviceRecord record;
    if (!InitDeviceRecord(context->magic, &record)) return kExchangeFailed;
    if (QueryDeviceThrough(context, localAddress, mac, &record) != kExchangeOk) return kExchangeFailed;
    if ((record.info.presentFields & kPresentChallenge) != 0 &&
        record.info.challengeLength == sizeof record.info.challenge) {
        challengeBlock[0] = record.info.challengeLength;
        std::memcpy(challengeBlock + 1, record.info.challenge, sizeof record.info.challenge);
    }
    return kExchangeOk;
}

int32_t RebootDevice(QuexContext* context, const uint8_t* mac, const char* password) {
    if (mac == nullptr) return kExchangeFailed;
    ConfigurationRequest request{RebootRequest, {}, 0, 0, 0, 0};
    std::memcpy(request.mac, mac, kMacSize);
    return RunConfigurationRequest(context, password, request);
}

int32_t SetDeviceNetwork(QuexContext* context, const uint8_t* mac, uint32_t ipAddress, uint32_t subnetMask,
                         uint32_t gateway, const char* password) {
    if (mac == nullptr) return kExchangeFailed;
    ConfigurationRequest request{SetNetworkRequest, {}, ipAddress, subnetMask, gateway, 0};
    std::memcpy(request.mac, mac, kMacSize);
    return RunConfigurationRequest(context, password, request);
}

int32_t SetDeviceDhcp(QuexContext* context, const uint8_t* mac, int32_t dhcp, const char* password) {
    if (mac == nullptr) return kExchangeFailed;
    // Its low byte is what the request carries.
    ConfigurationRequest request{SetDhcpRequest, {}, 0, 0, 0, static_cast<uint8_t>(dhcp & 0xFF)};
    std::memcpy(request.mac, mac, kMacSize);
    return RunConfigurationRequest(context, password, request);
}

}  // namespace quex
