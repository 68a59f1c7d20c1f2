// Directed queries and configuration requests. Each exchange sends its
// request exactly once and waits for the first matching reply or its
// time-out; sockets and timers live only for the exchange.
#include "quex/requests.h"

#include <cstring>
#include <memory>
#include <new>

#include "platform/net.h"
#include "platform/sync.h"
#include "quex/challenge_memory.h"
#include "quex/codec.h"
#include "quex/digest.h"
#include "quex/guarded_list.h"
#include "quex/sockets.h"

namespace quex {
namespace {

constexpr size_t kMacSize = 6;
constexpr size_t kDigestSize = 16;
constexpr size_t kTrailerSize = 4 + 18;  // field 20, then field 21
constexpr size_t kMaxPlainPassword = 255;
// Largest fixed body (set network: address, mask, gateway, MAC) plus the
// length byte and the longer of the two authentication forms.
constexpr size_t kMaxBodySize = 18;
constexpr size_t kMaxRequestSize = kHeaderSize + kMaxBodySize + 1 + kMaxPlainPassword;
static_assert(kDigestSize + kTrailerSize <= kMaxPlainPassword, "digest form fits the buffer");

// The sockets of OpenAllInterfaceSockets, closed with the scope.
class InterfaceSockets {
public:
    explicit InterfaceSockets(QuexContext* context) : count_(OpenAllInterfaceSockets(context, &sockets_)) {}
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

// An address list destroyed with the scope.
class AddressList {
public:
    AddressList() : list_(ListCreate()) {}
    ~AddressList() { ListDestroy(list_); }
    AddressList(const AddressList&) = delete;
    AddressList& operator=(const AddressList&) = delete;
    GuardedList* Get() const { return list_; }

private:
    GuardedList* list_;
};

bool IsWildcard(const uint8_t* mac) { return std::memcmp(mac, kBroadcastMac, kMacSize) == 0; }

int32_t TimedOut(QuexContext* context) {
    SetContextError(context, kExchangeTimedOut, kMessageTimedOut);
    return kExchangeTimedOut;
}

// The request types and the part of the body that precedes the
// authentication block (the target MAC is its last six bytes).
struct RequestShape {
    uint16_t requestType;
    uint16_t replyType;
    uint8_t body[kMaxBodySize];
    size_t bodyLength;
};

int32_t RunConfigurationRequest(QuexContext* context, const uint8_t* mac, const char* password,
                                const RequestShape& shape) {
    if (context == nullptr || mac == nullptr || password == nullptr) return kExchangeFailed;

    const int64_t interfaceAddress = FindDeviceInterface(context, mac);
    if (interfaceAddress < 0) return kExchangeFailed;

    uint8_t request[kMaxRequestSize] = {};
    WriteHeader(request, context->magic, shape.requestType, 0);
    uint8_t* payload = request + kHeaderSize;
    std::memcpy(payload, shape.body, shape.bodyLength);
    uint8_t* lengthByte = payload + shape.bodyLength;
    uint8_t* authentication = lengthByte + 1;

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

    size_t payloadLength = 0;
    const size_t passwordLength = std::strlen(password);
    if (challenge[0] == 14) {
        *lengthByte = static_cast<uint8_t>(kDigestSize);
        const int32_t digested =
            ComputeRequestDigest(challenge, password, payload, static_cast<int16_t>(shape.bodyLength + 1),
                                 request + 4, authentication);
        if (digested != 0) return digested;
        WriteVersionField(authentication + kDigestSize);
        WriteGuidField(context->vendorGuid, authentication + kDigestSize + 4);
        payloadLength = shape.bodyLength + 1 + kDigestSize + kTrailerSize;
    } else {
        // The length byte cannot carry more; a cut password would be wrong.
        if (passwordLength > kMaxPlainPassword) return kExchangeFailed;
        *lengthByte = static_cast<uint8_t>(passwordLength);
        std::memcpy(authentication, password, passwordLength);
        payloadLength = shape.bodyLength + 1 + passwordLength;
    }
    WriteHeader(request, context->magic, shape.requestType, static_cast<uint16_t>(payloadLength));

    QuexDeviceRecord record;
    if (!InitDeviceRecord(context->magic, &record)) return kExchangeFailed;
    const int32_t exchanged =
        ExchangeOnInterface(context, static_cast<uint32_t>(interfaceAddress), shape.replyType, mac, request,
                            kHeaderSize + payloadLength, &record);
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
// until every socket has brought one or settleMs have passed.
void AwaitOtherAnswers(QuexContext* context, const SocketHandle* sockets, size_t count, size_t first,
                       const uint8_t* mac, uint32_t settleMs, bool* ready) {
    const std::unique_ptr<bool[]> answered(new (std::nothrow) bool[count]());
    QuexDeviceRecord other;
    if (!answered || !InitDeviceRecord(context->magic, &other)) return;
    answered[first] = true;
    size_t left = count - 1;
    const uint64_t deadline = platform::MonotonicMs() + settleMs;
    while (left > 0) {
        const uint64_t now = platform::MonotonicMs();
        if (now >= deadline) return;
        if (platform::WaitReadable(sockets, count, static_cast<uint32_t>(deadline - now), ready) <= 0) return;
        for (size_t i = 0; i < count; ++i) {
            if (!ready[i]) continue;
            // Read whatever came, so that a socket already answered does not keep the wait busy.
            InitDeviceRecord(context->magic, &other);
            if (ReceiveResponse(context, sockets[i], DiscoveryResponse, mac, &other) == kExchangeOk &&
                !answered[i]) {
                answered[i] = true;
                --left;
            }
        }
    }
}

// Sends the directed query on the sockets and waits for the first answer of
// the MAC on any of them, or the information time-out; then, for settleMs at
// most, for the answers through the other sockets (see kOtherAnswersMs).
int32_t AwaitQueryAnswer(QuexContext* context, const SocketHandle* sockets, int32_t count, const uint8_t* mac,
                         QuexDeviceRecord* record, uint32_t settleMs = 0) {
    platform::WaitableTimer timer;
    if (!timer.Valid()) return kExchangeFailed;
    const std::unique_ptr<bool[]> ready(new (std::nothrow) bool[static_cast<size_t>(count)]());
    if (!ready) return kExchangeFailed;

    SendDiscoveryRequest(context, sockets, count, mac);
    if (!timer.Arm(context->infoTimeoutMs)) return kExchangeFailed;

    // Every socket is watched, however many interfaces the host has.
    const size_t watched = static_cast<size_t>(count);
    for (;;) {
        const int readyCount = platform::WaitReadable(sockets, watched, context->requestPollMs, ready.get());
        if (readyCount < 0) return kExchangeFailed;
        for (size_t i = 0; readyCount > 0 && i < watched; ++i) {
            if (!ready[i]) continue;
            InitDeviceRecord(context->magic, record);
            if (ReceiveResponse(context, sockets[i], DiscoveryResponse, mac, record) == kExchangeOk) {
                RememberChallenge(context, *record);
                if (settleMs > 0 && watched > 1)
                    AwaitOtherAnswers(context, sockets, watched, i, mac, settleMs, ready.get());
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
    InterfaceSockets sockets(context);
    if (sockets.Count() <= 0) return kExchangeFailed;
    return AwaitQueryAnswer(context, sockets.Get(), sockets.Count(), mac, record);
}

int32_t QueryDeviceThrough(QuexContext* context, uint32_t localAddress, const uint8_t* mac,
                           QuexDeviceRecord* record) {
    if (context == nullptr || mac == nullptr || IsWildcard(mac) || record == nullptr) return kExchangeFailed;
    InterfaceSocket socket(context, localAddress);
    if (!socket.Valid()) return kExchangeFailed;
    return AwaitQueryAnswer(context, socket.Get(), 1, mac, record);
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

    SendToGroup(context, socket.Get(), 1, request, length);
    if (!timer.Arm(context->replyTimeoutMs)) return kExchangeFailed;

    for (;;) {
        bool ready[1] = {};
        const int readyCount = platform::WaitReadable(socket.Get(), 1, context->requestPollMs, ready);
        if (readyCount < 0) return kExchangeFailed;
        InitDeviceRecord(context->magic, record);
        if (readyCount > 0 && ready[0] &&
            ReceiveResponse(context, *socket.Get(), replyType, mac, record) == kExchangeOk)
            return kExchangeOk;
        // Checked on every pass, whether or not a datagram came.
        if (timer.Wait(0)) return TimedOut(context);
    }
}

int64_t FindDeviceInterface(QuexContext* context, const uint8_t* mac) {
    if (context == nullptr || mac == nullptr || IsWildcard(mac)) return kExchangeFailed;

    AddressList addresses;
    if (addresses.Get() == nullptr) return kExchangeFailed;
    const int32_t count = EnumerateLocalAddresses(addresses.Get(), context);
    if (count <= 0) return kExchangeFailed;
    if (count == 1) return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(ListGetAt(addresses.Get(), 0)));

    QuexDeviceRecord record;
    if (!InitDeviceRecord(context->magic, &record)) return kExchangeFailed;
    InterfaceSockets sockets(context);
    if (sockets.Count() <= 0) return kExchangeFailed;
    if (AwaitQueryAnswer(context, sockets.Get(), sockets.Count(), mac, &record, kOtherAnswersMs) !=
        kExchangeOk)
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
    RequestShape shape{RebootRequest, RebootResponse, {}, kMacSize};
    std::memcpy(shape.body, mac, kMacSize);
    return RunConfigurationRequest(context, mac, password, shape);
}

int32_t SetDeviceNetwork(QuexContext* context, const uint8_t* mac, uint32_t ipAddress, uint32_t subnetMask,
                         uint32_t gateway, const char* password) {
    if (mac == nullptr) return kExchangeFailed;
    // The three addresses are already in network order: copied as they are.
    RequestShape shape{SetNetworkRequest, SetNetworkResponse, {}, 12 + kMacSize};
    std::memcpy(shape.body, &ipAddress, 4);
    std::memcpy(shape.body + 4, &subnetMask, 4);
    std::memcpy(shape.body + 8, &gateway, 4);
    std::memcpy(shape.body + 12, mac, kMacSize);
    return RunConfigurationRequest(context, mac, password, shape);
}

int32_t SetDeviceDhcp(QuexContext* context, const uint8_t* mac, int32_t dhcp, const char* password) {
    if (mac == nullptr) return kExchangeFailed;
    RequestShape shape{SetDhcpRequest, SetDhcpResponse, {}, 1 + kMacSize};
    shape.body[0] = static_cast<uint8_t>(dhcp & 0xFF);
    std::memcpy(shape.body + 1, mac, kMacSize);
    return RunConfigurationRequest(context, mac, password, shape);
}

}  // namespace quex
