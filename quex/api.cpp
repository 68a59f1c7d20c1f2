// The exported entry points. Each one checks its handle, then its
// arguments, then (where it starts work) resets the last error, then hands
// over to the search or request layer. Each body runs inside Guarded, so no
// exception leaves this file.
#include <cstring>
#include <type_traits>

#include "platform/notify.h"
#include "quex/context.h"
#include "quex/device_record.h"
#include "quex/exchange_result.h"
#include "quex/guarded_list.h"
#include <quex/quex.h>
#include "quex/requests.h"
#include "quex/result_index.h"
#include "quex/search.h"
#include "quex/sockets.h"

namespace {

using quex::LookupContext;

// {3C6E2A90-7B14-4D5F-A2C8-91E0F4B7D36A}: the one vendor that speaks "MORV".
constexpr QuexGuid kMorvVendorGuid = {
    0x3C6E2A90, 0x7B14, 0x4D5F, {0xA2, 0xC8, 0x91, 0xE0, 0xF4, 0xB7, 0xD3, 0x6A}};

constexpr uint32_t kDefaultQuietMs = 5000;
constexpr uint32_t kDefaultMaxMs = 60000;

void ResetLastError(QuexContext* context) { quex::SetContextError(context, 0, quex::kMessageSucceeded); }

// A call from the handle's own search worker (its callback): stopping or
// closing would wait for the very thread that makes the call, and a new
// search would start beside the running worker.
bool OnOwnWorker(const QuexContext* context) {
    return context->searchThread != nullptr && context->searchThread->IsCurrent();
}

// The checks shared by the three configuration requests.
QuexContext* RequestContext(QuexHandle handle, const uint8_t* mac, const char* password) {
    QuexContext* context = LookupContext(handle);
    if (context == nullptr || mac == nullptr || password == nullptr) return nullptr;
    ResetLastError(context);
    return context;
}

// The checks shared by the three asynchronous starts, after their own argument check.
QuexContext* AsyncStartContext(QuexContext* context) {
    if (context == nullptr || OnOwnWorker(context) || context->searchRunning) return nullptr;
    ResetLastError(context);
    context->searchAsync = 1;
    return context;
}

// Runs an entry point's body. An exception that escapes it (none should:
// the library allocates with nothrow) ends the call with the entry point's
// failure value instead of crossing into the caller's C code.
template <typename Result, typename Body>
Result Guarded(Result onException, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return onException;
    }
}

// The public notification types are the platform's own.
static_assert(std::is_same<QuexWindow, platform::NotifyWindow>::value, "QuexWindow");
static_assert(std::is_same<QuexEvent, platform::NotifyEvent>::value, "QuexEvent");

}  // namespace

extern "C" {

QUEX_API QuexHandle QUEXOpen(uint32_t magic, const QuexGuid* vendorGuid) {
    return Guarded<QuexHandle>(nullptr, [&]() -> QuexHandle {
        if (magic == 0 || vendorGuid == nullptr) return nullptr;
        return quex::CreateContext(magic, vendorGuid);
    });
}

QUEX_API QuexHandle QUEXOpenByGuid(const QuexGuid* vendorGuid) {
    return Guarded<QuexHandle>(nullptr, [&]() -> QuexHandle {
        if (vendorGuid == nullptr) return nullptr;
        if (std::memcmp(vendorGuid, &kMorvVendorGuid, sizeof kMorvVendorGuid) == 0)
            return quex::CreateContext(QUEX_MAGIC_MORV, vendorGuid);
        QuexContext* context = quex::CreateContext(QUEX_MAGIC_TELQ, vendorGuid);
        if (context == nullptr) context = quex::CreateContext(QUEX_MAGIC_HAPF, vendorGuid);
        return context;
    });
}

QUEX_API int32_t QUEXClose(QuexHandle handle) {
    return Guarded<int32_t>(QUEX_FAILED, [&]() -> int32_t {
        QuexContext* context = LookupContext(handle);
        if (context == nullptr) return QUEX_OK;
        if (OnOwnWorker(context)) return QUEX_FAILED;
        QUEXStopSearch(handle);
        quex::DestroyContext(context);
        return QUEX_OK;
    });
}

QUEX_API int32_t QUEXGetLastError(QuexHandle handle) {
    return Guarded<int32_t>(QUEX_FAILED, [&]() -> int32_t {
        QuexContext* context = LookupContext(handle);
        return context == nullptr ? QUEX_FAILED : quex::ContextErrorCode(context);
    });
}

QUEX_API int32_t QUEXGetLastErrorMessage(QuexHandle handle, char* buffer, uint32_t size) {
    return Guarded<int32_t>(QUEX_FAILED, [&]() -> int32_t {
        QuexContext* context = LookupContext(handle);
        if (context == nullptr || size == 0 || buffer == nullptr) return QUEX_FAILED;
        quex::CopyContextErrorMessage(context, buffer, size);
        return QUEX_OK;
    });
}

QUEX_API int32_t QUEXStartSyncSearch(QuexHandle handle) {
    return QUEXStartSyncSearchEx(handle, kDefaultQuietMs, kDefaultMaxMs);
}

QUEX_API int32_t QUEXStartSyncSearchEx(QuexHandle handle, uint32_t quietMs, uint32_t maxMs) {
    return Guarded<int32_t>(QUEX_FAILED, [&]() -> int32_t {
        QuexContext* context = LookupContext(handle);
        if (context == nullptr || OnOwnWorker(context) || context->searchRunning) return QUEX_FAILED;
        ResetLastError(context);
        context->searchAsync = 0;
        return quex::RunSyncSearch(context, quietMs, maxMs);  // checks the two times
    });
}

QUEX_API int32_t QUEXStartAsyncSearchCallback(QuexHandle handle, QuexNotifyCallback callback,
                                              uintptr_t userData) {
    return Guarded<int32_t>(QUEX_FAILED, [&]() -> int32_t {
        QuexContext* context = LookupContext(handle);
        if (context == nullptr || callback == nullptr) return QUEX_FAILED;
        if (AsyncStartContext(context) == nullptr) return QUEX_FAILED;
        quex::SetNotification(context, callback, QUEX_NO_WINDOW, 0, QUEX_NO_EVENT, userData);
        return quex::StartSearchWorker(context);
    });
}

QUEX_API int32_t QUEXStartAsyncSearchMessage(QuexHandle handle, QuexWindow window, uint32_t message,
                                             uintptr_t userData) {
    return Guarded<int32_t>(QUEX_FAILED, [&]() -> int32_t {
        QuexContext* context = LookupContext(handle);
        if (context == nullptr || !platform::WindowExists(window) || message == 0) return QUEX_FAILED;
        if (AsyncStartContext(context) == nullptr) return QUEX_FAILED;
        quex::SetNotification(context, nullptr, window, message, QUEX_NO_EVENT, userData);
        return quex::StartSearchWorker(context);
    });
}

QUEX_API int32_t QUEXStartAsyncSearchEvent(QuexHandle handle, QuexEvent event) {
    return Guarded<int32_t>(QUEX_FAILED, [&]() -> int32_t {
        QuexContext* context = LookupContext(handle);
        if (context == nullptr || !platform::EventGiven(event)) return QUEX_FAILED;
        if (AsyncStartContext(context) == nullptr) return QUEX_FAILED;
        quex::SetNotification(context, nullptr, QUEX_NO_WINDOW, 0, event, 0);
        return quex::StartSearchWorker(context);
    });
}

QUEX_API int32_t QUEXGetSearchResultCount(QuexHandle handle) {
    return Guarded<int32_t>(QUEX_FAILED, [&]() -> int32_t {
        QuexContext* context = LookupContext(handle);
        return context == nullptr ? QUEX_FAILED : quex::ListCount(context->results);
    });
}

QUEX_API int32_t QUEXGetSearchResults(QuexHandle handle, QuexDeviceInfo* results, uint32_t capacity) {
    return Guarded<int32_t>(QUEX_FAILED, [&]() -> int32_t {
        QuexContext* context = LookupContext(handle);
        if (context == nullptr || capacity == 0 || results == nullptr) return QUEX_FAILED;
        uint32_t moved = 0;
        while (moved < capacity) {
            quex::QuexDeviceRecord* record = quex::TakeResult(context);
            if (record == nullptr) break;
            std::memcpy(&results[moved], &record->info, sizeof results[moved]);
            quex::DeleteDeviceRecord(record);
            ++moved;
        }
        return static_cast<int32_t>(moved);
    });
}

QUEX_API void QUEXStopSearch(QuexHandle handle) {
    Guarded<int32_t>(QUEX_FAILED, [&]() -> int32_t {
        QuexContext* context = LookupContext(handle);
        // A synchronous search is never stopped from here, nor a search from its own worker. A search
        // that failed has ended, but its worker still waits to be joined.
        if (context != nullptr && context->searchAsync &&
            (context->searchRunning || context->searchThread != nullptr) && !OnOwnWorker(context))
            quex::StopSearchWorker(context);
        return QUEX_OK;
    });
}

QUEX_API int32_t QUEXGetDeviceInfo(QuexHandle handle, const uint8_t* mac, QuexDeviceInfo* info) {
    return Guarded<int32_t>(QUEX_FAILED, [&]() -> int32_t {
        QuexContext* context = LookupContext(handle);
        if (context == nullptr || mac == nullptr || info == nullptr) return QUEX_FAILED;
        ResetLastError(context);
        quex::QuexDeviceRecord record;
        quex::InitDeviceRecord(context->magic, &record);
        const int32_t result = quex::QueryDevice(context, mac, &record);
        if (result == quex::kExchangeOk) std::memcpy(info, &record.info, sizeof *info);
        return result;
    });
}

QUEX_API int32_t QUEXRebootDevice(QuexHandle handle, const uint8_t* mac, const char* password) {
    return Guarded<int32_t>(QUEX_FAILED, [&]() -> int32_t {
        QuexContext* context = RequestContext(handle, mac, password);
        return context == nullptr ? QUEX_FAILED : quex::RebootDevice(context, mac, password);
    });
}

QUEX_API int32_t QUEXSetNetwork(QuexHandle handle, const uint8_t* mac, uint32_t ipAddress,
                                uint32_t subnetMask, uint32_t gateway, const char* password) {
    return Guarded<int32_t>(QUEX_FAILED, [&]() -> int32_t {
        QuexContext* context = RequestContext(handle, mac, password);
        if (context == nullptr) return QUEX_FAILED;
        return quex::SetDeviceNetwork(context, mac, ipAddress, subnetMask, gateway, password);
    });
}

QUEX_API int32_t QUEXSetDHCP(QuexHandle handle, const uint8_t* mac, int32_t dhcp, const char* password) {
    return Guarded<int32_t>(QUEX_FAILED, [&]() -> int32_t {
        QuexContext* context = RequestContext(handle, mac, password);
        return context == nullptr ? QUEX_FAILED : quex::SetDeviceDhcp(context, mac, dhcp, password);
    });
}

QUEX_API int32_t QUEXSetInterfaces(QuexHandle handle, const uint32_t* addresses, int32_t count) {
    return Guarded<int32_t>(QUEX_FAILED, [&]() -> int32_t {
        QuexContext* context = LookupContext(handle);
        if (context == nullptr || count < 0 || (count > 0 && addresses == nullptr)) return QUEX_FAILED;
        // The search's sockets were opened for the interfaces of its start.
        if (OnOwnWorker(context) || context->searchRunning) return QUEX_FAILED;
        return quex::ChooseInterfaces(context, addresses, static_cast<size_t>(count)) ? QUEX_OK : QUEX_FAILED;
    });
}

QUEX_API int32_t QUEXSetDeviceInfoTimeout(QuexHandle handle, uint32_t milliseconds) {
    return Guarded<int32_t>(QUEX_FAILED, [&]() -> int32_t {
        QuexContext* context = LookupContext(handle);
        if (context == nullptr || milliseconds > quex::kMaxDeviceInfoTimeoutMs) return QUEX_FAILED;
        // As QUEXSetInterfaces: a handle's settings change only while it is idle.
        if (OnOwnWorker(context) || context->searchRunning) return QUEX_FAILED;
        context->deviceInfoTimeoutMs = milliseconds == 0 ? quex::kDefaultDeviceInfoTimeoutMs : milliseconds;
        return QUEX_OK;
    });
}

}  // extern "C"
