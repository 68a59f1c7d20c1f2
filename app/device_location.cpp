// The location of the target device of /set and /upload, by MAC or as the
// first device that answers a search, and the wait for its address.
#include "app/device_location.h"

#include <cstring>

#include "app/exit_status.h"
#include "app/interface_choice.h"
#include "app/run_messages.h"
#include "app/search_settings.h"

namespace kelvo {

namespace {

// Rounds of automatic search on one magic while the first record has an
// all-zero MAC; then the magic counts as having found nothing.
constexpr int kAutoSearchRounds = 3;

constexpr int kAddressWaitQueries = 10;
constexpr uint32_t kAddressWaitStepMs = 1000;

void IgnoreNotification(QuexHandle, uintptr_t) {}

// Automatic location searches the second magic from the start, beside the
// first magic's search: asynchronously, so that it can be stopped the moment
// the first magic finds the device. Its records are looked at only when the
// first magic found nothing, that is after a whole search time, and only its
// first record (the first answer) is ever taken.
class EarlySearch {
public:
    EarlySearch() = default;
    ~EarlySearch() {
        if (handle_ != nullptr) QUEXClose(handle_);  // also stops the search
    }
    EarlySearch(const EarlySearch&) = delete;
    EarlySearch& operator=(const EarlySearch&) = delete;

    // Opens the second magic's handle and starts its search, for automatic location with two magics.
    void Begin(const CommandLine& cmd) {
        if (!IsZeroMac(cmd.mac) || UsedMagics(cmd) < 2) return;
        wanted_ = true;
        handle_ = OpenLibraryHandle(cmd, cmd.magics[1]);
        started_ = QUEXStartAsyncSearchCallback(handle_, IgnoreNotification, 0) == QUEX_OK;
    }
    // The handle for the second magic, which the location takes over; or a new one.
    QuexHandle Take(const CommandLine& cmd) {
        if (!wanted_) return OpenLibraryHandle(cmd, cmd.magics[1]);
        wanted_ = false;
        QuexHandle taken = handle_;
        handle_ = nullptr;
        return taken;
    }
    // What the synchronous search would have returned: the number of records
    // (QUEX_FAILED when the search failed). False when it did not start: the
    // location then searches the usual way.
    bool Result(QuexHandle handle, int32_t* found) {
        if (!started_) return false;
        started_ = false;
        QUEXStopSearch(handle);
        *found =
            QUEXGetLastError(handle) == QUEX_ERROR_NETWORK ? QUEX_FAILED : QUEXGetSearchResultCount(handle);
        return true;
    }

private:
    bool wanted_ = false;
    bool started_ = false;
    QuexHandle handle_ = nullptr;
};

}  // namespace

int LocateDevice(QuexHandle& handle, QuexDeviceInfo& device, const CommandLine& cmd, RunMessages& messages) {
    int status = UsedMagics(cmd) == 0 ? kStatusNotFound : kStatusOk;  // no magic finds nothing
    EarlySearch early;
    for (uint32_t i = 0; i < UsedMagics(cmd); ++i) {
        if (handle != nullptr) QUEXClose(handle);
        handle = i == 1 ? early.Take(cmd) : OpenLibraryHandle(cmd, cmd.magics[i]);
        if (i == 0) early.Begin(cmd);
        status = kStatusOk;
        if (IsZeroMac(cmd.mac)) {
            // A first record with an all-zero MAC names no device: search again,
            // a bounded number of times.
            status = kStatusNotFound;
            for (int round = 0; round < kAutoSearchRounds; ++round) {
                messages.Line(kSearchingText);
                messages.Line("");
                messages.Progress("Locate device (auto): ");
                int32_t found = 0;
                if (i == 0 || !early.Result(handle, &found))
                    found = QUEXStartSyncSearchEx(handle, kSearchQuietMs, kSearchMaxMs);
                if (found == 0) break;  // nothing on this magic: not found
                // The search could not run at all: that is no "not found".
                if (found == QUEX_FAILED && QUEXGetLastError(handle) == QUEX_ERROR_NETWORK) {
                    status = kStatusQueryFailed;
                    break;
                }
                if (QUEXGetSearchResults(handle, &device, 1) == QUEX_FAILED) {
                    status = kStatusQueryFailed;
                    break;
                }
                if (!IsZeroMac(device.macAddress)) return kStatusOk;
            }
            if (status == kStatusQueryFailed) break;  // no further magic is tried
        } else {
            messages.Progress("Locate device " + FormatMac(cmd.mac) + ": ");
            if (QUEXGetDeviceInfo(handle, cmd.mac, &device) == QUEX_OK) return kStatusOk;
            status = kStatusQueryFailed;
        }
    }
    if (status != kStatusOk) {
        messages.Line("FAILED");
        messages.Error(status == kStatusNotFound ? "Device not found."
                                                 : "Failed to get device information. E1");
        // No socket could be opened: say why on the next line.
        if (status == kStatusQueryFailed && QUEXGetLastError(handle) == QUEX_ERROR_NETWORK) {
            char reason[256] = {};
            QUEXGetLastErrorMessage(handle, reason, sizeof reason);
            messages.Error(reason);
        }
    }
    return status;
}

int EnsureDeviceAddress(QuexHandle handle, QuexDeviceInfo& device, CommandLine& cmd, RunMessages& messages) {
    if (device.ipAddress == 0 && device.dhcpEnabled == 1 && cmd.ip == 0) {
        // The device may be waiting for its lease: ask ten times, a second apart.
        uint8_t mac[6];
        std::memcpy(mac, device.macAddress, sizeof mac);
        for (int i = 0; i < kAddressWaitQueries; ++i) {
            if (QUEXGetDeviceInfo(handle, mac, &device) != QUEX_OK) {
                messages.Line("FAILED");
                messages.Error("Failed to get device information. E3");
                return kStatusQueryFailed;
            }
            cmd.ip = device.ipAddress;
            messages.Pause(kAddressWaitStepMs);
        }
        if (cmd.ip == 0) {
            messages.Line("FAILED");
            messages.Error("Device does not have an IP address.  Assign network settings");
            messages.ErrorMore("through the serial port or configure a DHCP server on your network.");
            return kStatusNoAddress;
        }
        return kStatusOk;
    }
    if (cmd.ip != 0) return kStatusOk;
    if (device.ipAddress == 0) {
        messages.Line("FAILED");
        messages.Error("Device does not have an IP address.");
        return kStatusNoAddress;
    }
    cmd.ip = device.ipAddress;
    return kStatusOk;
}

}  // namespace kelvo
