// The location of the target device of /set and /upload, by MAC or as the
// first device that answers a search, and the wait for its address.
#include "app/device_location.h"

#include <cstring>

#include "app/exit_status.h"
#include "app/run_messages.h"
#include "app/search_settings.h"

namespace kelvo {

namespace {

// Rounds of automatic search on one magic while the first record has an
// all-zero MAC; then the magic counts as having found nothing.
constexpr int kAutoSearchRounds = 3;

constexpr int kAddressWaitQueries = 10;
constexpr uint32_t kAddressWaitStepMs = 1000;

}  // namespace

int LocateDevice(QuexHandle& handle, QuexDeviceInfo& device, const CommandLine& cmd, RunMessages& messages) {
    int status = UsedMagics(cmd) == 0 ? kStatusNotFound : kStatusOk;  // no magic finds nothing
    for (uint32_t i = 0; i < UsedMagics(cmd); ++i) {
        if (handle != nullptr) QUEXClose(handle);
        handle = QUEXOpen(cmd.magics[i], &cmd.vendorGuid);
        status = kStatusOk;
        if (IsZeroMac(cmd.mac)) {
            // A first record with an all-zero MAC names no device: search again,
            // a bounded number of times.
            status = kStatusNotFound;
            for (int round = 0; round < kAutoSearchRounds; ++round) {
                messages.Line(kSearchingText);
                messages.Line("");
                messages.Progress("Locate device (auto): ");
                const int32_t found = QUEXStartSyncSearchEx(handle, kSearchQuietMs, kSearchMaxMs);
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
