// The seventeen exported entry points. Each one checks its handle, then its
// arguments, then (where it starts work) resets the last error, then hands
// over to the search or request layer. No exception leaves this file.
#include <cstring>

#include "platform/notify.h"
#include "quex/context.h"
#include "quex/device_record.h"
#include "quex/guarded_list.h"
#include "quex/quex.h"
#include "quex/requests.h"
#include "quex/result_index.h"
#include "quex/search.h"

namespace {

using quex::LookupContext;

// {3C6E2A90-7B14-4D5F-A2C8-91E0F4B7D36A}: the one vendor that speaks "MORV".
constexpr QuexGuid kMorvVendorGuid = {0x3C6E2A90, 0x7B14, 0x4D5F,
                                      {0xA2, 0xC8, 0x91, 0xE0, 0xF4, 0xB7, 0xD3, 0x6A}};

constexpr uint32_t kDefaultQuietMs = 5000;
constexpr uint32_t kDefaultMaxMs = 60000;

void ResetLastError(QuexContext* context) {
    quex::SetContextError(context, 0, quex::kMessageSucceeded);
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
    if (context == nullptr || context->searchRunning) return nullptr;
    ResetLastError(context);
    context->searchAsync = 1;
    return context;
}

}  // namespace

extern "C" {

QUEX_API QuexHandle QUEXOpen(uint32_t magic, const QuexGuid* vendorGuid) {
    try {
        if (magic == 0 || vendorGuid == nullptr) return nullptr;
        return quex::CreateContext(magic, vendorGuid);
    } catch (...) {
        return nullptr;
    }
}

QUEX_API QuexHandle QUEXOpenByGuid(const QuexGuid* vendorGuid) {
    try {
        if (vendorGuid == nullptr) return nullptr;
        if (std::memcmp(vendorGuid, &kMorvVendorGuid, sizeof kMorvVendorGuid) == 0)
            return quex::CreateContext(quex::kMagicMorv, vendorGuid);
        QuexContext* context = quex::CreateContext(quex::kMagicTelq, vendorGuid);
        if (context == nullptr) context = quex::CreateContext(quex::kMagicHapf, vendorGuid);
        return context;
    } catch (...) {
        return nullptr;
    }
}

QUEX_API int32_t QUEXClose(QuexHandle handle) {
    try {
        QuexContext* context = LookupContext(handle);
        if (context == nullptr) return 0;
        QUEXStopSearch(handle);
        quex::DestroyContext(context);
        return 0;
    } catch (...) {
        return -1;
    }
}

QUEX_API int32_t QUEXGetLastError(QuexHandle handle) {
    try {
        QuexContext* context = LookupContext(handle);
        return context == nullptr ? -1 : context->lastErrorCode;
    } catch (...) {
        return -1;
    }
}

QUEX_API int32_t QUEXGetLastErrorMessage(QuexHandle handle, char* buffer, uint32_t size) {
    try {
        QuexContext* context = LookupContext(handle);
        if (context == nullptr || size == 0 || buffer == nullptr) return -1;
        // NUL-padded to size; a longer message arrives cut at size - 1.
        std::strncpy(buffer, context->lastErrorMessage, size);
        buffer[size - 1] = '\0';
        return 0;
    } catch (...) {
        return -1;
    }
}

QUEX_API int32_t QUEXStartSyncSearch(QuexHandle handle) {
    return QUEXStartSyncSearchEx(handle, kDefaultQuietMs, kDefaultMaxMs);
}

QUEX_API int32_t QUEXStartSyncSearchEx(QuexHandle handle, uint32_t quietMs, uint32_t maxMs) {
    try {
        QuexContext* context = LookupContext(handle);
        if (context == nullptr || context->searchRunning) return -1;
        ResetLastError(context);
        context->searchAsync = 0;
        return quex::RunSyncSearch(context, quietMs, maxMs);  // checks the two times
    } catch (...) {
        return -1;
    }
}

QUEX_API int32_t QUEXStartAsyncSearchCallback(QuexHandle handle, QuexNotifyCallback callback,
                                              uintptr_t userData) {
    try {
        QuexContext* context = LookupContext(handle);
        if (context == nullptr || callback == nullptr) return -1;
        if (AsyncStartContext(context) == nullptr) return -1;
        quex::SetNotification(context, callback, QUEX_NO_WINDOW, 0, QUEX_NO_EVENT, userData);
        return quex::StartSearchWorker(context);
    } catch (...) {
        return -1;
    }
}

QUEX_API int32_t QUEXStartAsyncSearchMessage(QuexHandle handle, QuexWindow window, uint32_t message,
                                             uintptr_t userData) {
    try {
        QuexContext* context = LookupContext(handle);
        if (context == nullptr || !platform::WindowExists(window) || message == 0) return -1;
        if (AsyncStartContext(context) == nullptr) return -1;
        quex::SetNotification(context, nullptr, window, message, QUEX_NO_EVENT, userData);
        return quex::StartSearchWorker(context);
    } catch (...) {
        return -1;
    }
}

QUEX_API int32_t QUEXStartAsyncSearchEvent(QuexHandle handle, QuexEvent event) {
    try {
        QuexContext* context = LookupContext(handle);
        if (context == nullptr || !platform::EventGiven(event)) return -1;
        if (AsyncStartContext(context) == nullptr) return -1;
        quex::SetNotification(context, nullptr, QUEX_NO_WINDOW, 0, event, 0);
        return quex::StartSearchWorker(context);
    } catch (...) {
        return -1;
    }
}

QUEX_API int32_t QUEXGetSearchResultCount(QuexHandle handle) {
    try {
        QuexContext* context = LookupContext(handle);
        return context == nullptr ? -1 : quex::ListCount(context->results);
    } catch (...) {
        return -1;
    }
}

QUEX_API int32_t QUEXGetSearchResults(QuexHandle handle, QuexDeviceInfo* results, uint32_t capacity) {
    try {
        QuexContext* context = LookupContext(handle);
        if (context == nullptr || capacity == 0 || results == nullptr) return -1;
        uint32_t moved = 0;
        while (moved < capacity) {
            quex::QuexDeviceRecord* record = quex::TakeResult(context);
            if (record == nullptr) break;
            std::memcpy(&results[moved], &record->info, sizeof results[moved]);
            quex::DeleteDeviceRecord(record);
            ++moved;
        }
        return static_cast<int32_t>(moved);
    } catch (...) {
        return -1;
    }
}

QUEX_API void QUEXStopSearch(QuexHandle handle) {
    try {
        QuexContext* context = LookupContext(handle);
        if (context == nullptr) return;
        // A synchronous search is never stopped from here.
        if (context->searchRunning && context->searchAsync) quex::StopSearchWorker(context);
    } catch (...) {
    }
}

QUEX_API int32_t QUEXGetDeviceInfo(QuexHandle handle, const uint8_t* mac, QuexDeviceInfo* info) {
    try {
        QuexContext* context = LookupContext(handle);
        if (context == nullptr || mac == nullptr || info == nullptr) return -1;
        ResetLastError(context);
        quex::QuexDeviceRecord record;
        quex::InitDeviceRecord(context, &record);
        const int32_t result = quex::QueryDevice(context, mac, &record);
        if (result == 0) std::memcpy(info, &record.info, sizeof *info);
        return result;
    } catch (...) {
        return -1;
    }
}

QUEX_API int32_t QUEXRebootDevice(QuexHandle handle, const uint8_t* mac, const char* password) {
    try {
        QuexContext* context = RequestContext(handle, mac, password);
        return context == nullptr ? -1 : quex::RebootDevice(context, mac, password);
    } catch (...) {
        return -1;
    }
}

QUEX_API int32_t QUEXSetNetwork(QuexHandle handle, const uint8_t* mac, uint32_t ipAddress,
                                uint32_t subnetMask, uint32_t gateway, const char* password) {
    try {
        QuexContext* context = RequestContext(handle, mac, password);
        if (context == nullptr) return -1;
        return quex::SetDeviceNetwork(context, mac, ipAddress, subnetMask, gateway, password);
    } catch (...) {
        return -1;
    }
}

QUEX_API int32_t QUEXSetDHCP(QuexHandle handle, const uint8_t* mac, int32_t dhcp, const char* password) {
    try {
        QuexContext* context = RequestContext(handle, mac, password);
        return context == nullptr ? -1 : quex::SetDeviceDhcp(context, mac, dhcp, password);
    } catch (...) {
        return -1;
    }
}

}  // extern "C"
