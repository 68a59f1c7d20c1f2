// Contexts, the handle registry and the per-handle last error.
#include "quex/context.h"

#include <cstring>
#include <mutex>
#include <new>

#include "platform/ipv4_text.h"
#include "platform/net.h"
#include "platform/notify.h"
#include "quex/challenge_memory.h"
#include "quex/codec.h"
#include "quex/device_record.h"
#include "quex/guarded_list.h"
#include "quex/result_index.h"

namespace quex {

const char kMessageSucceeded[] = "Operation succeeded";
const char kMessageTimedOut[] = "Operation timed out";
const char kMessageChallengeWithdrawn[] = "Device withdrew its challenge; request not sent";

namespace {

// Constant-initialised, so it exists before any caller's static constructors;
// its mutex is made on first use and it is never destroyed.
GuardedList gHandleRegistry{nullptr, nullptr, nullptr, 0};

constexpr char kMulticastGroup[] = "224.0.5.128";
constexpr uint16_t kQuexPort = 2362;
constexpr int32_t kMulticastTtl = 64;
constexpr uint32_t kPollMs = 200;
constexpr uint32_t kReplyTimeoutMs = 30000;
constexpr uint32_t kInfoTimeoutMs = kDefaultDeviceInfoTimeoutMs;
constexpr uint32_t kDefaultQuietMs = 5000;

}  // namespace

GuardedList* HandleRegistry() { return &gHandleRegistry; }

WireIdentity IdentityOf(const QuexContext& context) { return {context.magic, context.vendorGuid}; }

QuexContext* CreateContext(uint32_t magic, const QuexGuid* vendorGuid) {
    if (vendorGuid == nullptr) return nullptr;
    if (!platform::NetStartup()) return nullptr;
    auto* context = new (std::nothrow) QuexContext{};
    if (context == nullptr) {
        platform::NetCleanup();
        return nullptr;
    }
    context->magic = magic;
    std::memcpy(&context->vendorGuid, vendorGuid, sizeof context->vendorGuid);
    if (!context->errorLock.Valid()) {
        delete context;
        platform::NetCleanup();
        return nullptr;
    }
    SetContextError(context, 0, kMessageSucceeded);

    context->multicastTtl = kMulticastTtl;
    uint32_t group = 0;
    platform::ParseIPv4(kMulticastGroup, &group);
    context->multicastGroup = group;
    context->port = kQuexPort;
    context->requestPollMs = kPollMs;
    context->replyTimeoutMs = kReplyTimeoutMs;
    context->infoTimeoutMs = kInfoTimeoutMs;
    context->deviceInfoTimeoutMs = kDefaultDeviceInfoTimeoutMs;
    context->searchPollMs = kPollMs;
    context->quietTimeMs = kDefaultQuietMs;
    // Descriptor 0 is a real descriptor: "none" is -1.
    context->notifyWindow = QUEX_NO_WINDOW;
    context->notifyEvent = QUEX_NO_EVENT;

    context->stopEvent = new (std::nothrow) platform::Event;
    if (context->stopEvent != nullptr && context->stopEvent->Valid()) {
        context->searchTimer = new (std::nothrow) platform::WaitableTimer;
        if (context->searchTimer != nullptr && context->searchTimer->Valid()) {
            context->resultIndex = CreateResultIndex();
            context->challenges = CreateChallengeMemory();
            if (context->resultIndex != nullptr && context->challenges != nullptr)
                context->results = ListCreate();
        }
    }
    if (context->results == nullptr || ListAdd(&gHandleRegistry, context) < 0) {
        DestroyContext(context);
        return nullptr;
    }
    return context;
}

void DestroyContext(QuexContext* context) {
    if (context == nullptr) return;
    ListRemove(&gHandleRegistry, context);
    // A worker that ended on its own (its search failed) and was never joined.
    if (context->searchThread != nullptr) {
        context->searchThread->Join();
        delete context->searchThread;
        context->searchThread = nullptr;
    }
    delete context->stopEvent;
    context->stopEvent = nullptr;
    delete context->searchTimer;
    context->searchTimer = nullptr;
    if (context->results != nullptr) {
        while (QuexDeviceRecord* record = TakeResult(context)) DeleteDeviceRecord(record);
        ListDestroy(context->results);
        context->results = nullptr;
    }
    DestroyResultIndex(context->resultIndex);
    context->resultIndex = nullptr;
    DestroyChallengeMemory(context->challenges);
    context->challenges = nullptr;
    // A notification target the search still holds a reference to.
    if (context->notifyWindow != QUEX_NO_WINDOW) platform::WindowRelease(context->notifyWindow);
    if (context->notifyEvent != QUEX_NO_EVENT) platform::EventRelease(context->notifyEvent);
    platform::NetCleanup();
    delete context;
}

QuexContext* LookupContext(QuexHandle handle) {
    if (handle == nullptr) return nullptr;
    // The value is compared, never followed, until the registry vouches for it.
    return ListContains(&gHandleRegistry, handle) ? handle : nullptr;
}

void SetContextError(QuexContext* context, int32_t code, const char* message) {
    if (context == nullptr || message == nullptr || code == -1) return;
    const std::lock_guard guard(context->errorLock);
    context->lastErrorCode = code;
    const size_t capacity = sizeof context->lastErrorMessage;
    size_t length = 0;
    while (length < capacity - 1 && message[length] != '\0') ++length;
    // memmove: the message may be the context's own text.
    std::memmove(context->lastErrorMessage, message, length);
    std::memset(context->lastErrorMessage + length, 0, capacity - length);
}

int32_t ContextErrorCode(QuexContext* context) {
    const std::lock_guard guard(context->errorLock);
    return context->lastErrorCode;
}

void CopyContextErrorMessage(QuexContext* context, char* buffer, size_t size) {
    if (size == 0) return;
    const std::lock_guard guard(context->errorLock);
    // NUL-padded to size; a longer message arrives cut at size - 1.
    std::strncpy(buffer, context->lastErrorMessage, size);
    buffer[size - 1] = '\0';
}

}  // namespace quex
