// /discover's device table and the location of the target device of /set
// and /upload.
#include "app/device_location.h"

#include <cstdio>
#include <cstring>

#include "app/console.h"

namespace kelvo {

namespace {

constexpr uint32_t kQuietMs = 3000;
constexpr uint32_t kSearchMaxMs = 10000;
// Rounds of automatic search on one magic while the first record has an
// all-zero MAC; then the magic counts as having found nothing.
constexpr int kAutoSearchRounds = 3;

const char kSearching[] = "Searching for devices. Please wait...";
const char kTableRule[] = "-----------------+-------------------+------------------------------";

bool IsZeroMac(const uint8_t mac[6]) {
    static const uint8_t zero[6] = {};
    return std::memcmp(mac, zero, sizeof zero) == 0;
}

uint32_t UsedMagics(const CommandLine& cmd) { return cmd.magicCount < 2 ? cmd.magicCount : 2; }

void PrintRow(const QuexDeviceInfo& device) {
    uint8_t ip[4];
    std::memcpy(ip, &device.ipAddress, sizeof ip);
    char address[16];
    std::snprintf(address, sizeof address, "%d.%d.%d.%d", ip[0], ip[1], ip[2], ip[3]);
    const uint8_t* m = device.macAddress;
    char mac[18];
    std::snprintf(mac, sizeof mac, "%02X:%02X:%02X:%02X:%02X:%02X", m[0], m[1], m[2], m[3], m[4], m[5]);
    const int modelLength = static_cast<int>(strnlen(device.modelName, sizeof device.modelName));
    OutFormat(" %15s | %17s | %.*s\n", address, mac, modelLength, device.modelName);
}

}  // namespace

int DiscoverDevices(const CommandLine& cmd) {
    int32_t total = 0;
    bool headerPrinted = false;
    for (uint32_t i = 0; i < UsedMagics(cmd); ++i) {
        QuexDeviceInfo device;
        std::memset(&device, 0, sizeof device);
        QuexHandle handle = QUEXOpen(cmd.magics[i], &cmd.vendorGuid);
        if (i == 0) {
            OutLine(kSearching);
            OutLine("");
        }
        const int32_t found = QUEXStartSyncSearchEx(handle, kQuietMs, kSearchMaxMs);
        if (found != 0) {
            if (!headerPrinted) {
                OutLine(" IP Address      | MAC Address       | Model");
                OutLine(kTableRule);
                headerPrinted = true;
            }
            for (int32_t n = 0; n < found; ++n)
                if (QUEXGetSearchResults(handle, &device, 1) != -1) PrintRow(device);
            if (found > 0) total += found;
        }
        QUEXClose(handle);
    }
    if (headerPrinted) OutLine(kTableRule);
    OutFormat("%d device%sfound.\n", total, total == 1 ? " " : "s ");
    return 0;
}

int LocateDevice(QuexHandle& handle, QuexDeviceInfo& device, const CommandLine& cmd) {
    int status = UsedMagics(cmd) == 0 ? 2 : 0;  // no magic finds nothing
    for (uint32_t i = 0; i < UsedMagics(cmd); ++i) {
        if (handle != nullptr) QUEXClose(handle);
        handle = QUEXOpen(cmd.magics[i], &cmd.vendorGuid);
        status = 0;
        if (IsZeroMac(cmd.mac)) {
            // A first record with an all-zero MAC names no device: search again,
            // a bounded number of times.
            status = 2;
            for (int round = 0; round < kAutoSearchRounds; ++round) {
                OutLine(kSearching);
                OutLine("");
                Out("Locate device (auto): ");
                const int32_t found = QUEXStartSyncSearchEx(handle, kQuietMs, kSearchMaxMs);
                if (found == 0) break;  // nothing on this magic: status 2
                if (QUEXGetSearchResults(handle, &device, 1) == -1) {
                    status = 4;
                    break;
                }
                if (!IsZeroMac(device.macAddress)) return 0;
            }
            if (status == 4) break;  // no further magic is tried
        } else {
            const uint8_t* m = cmd.mac;
            OutFormat("Locate device %02X:%02X:%02X:%02X:%02X:%02X: ", m[0], m[1], m[2], m[3], m[4], m[5]);
            if (QUEXGetDeviceInfo(handle, cmd.mac, &device) == 0) return 0;
            status = 4;
        }
    }
    if (status != 0) {
        OutLine("FAILED");
        ErrLine(status == 2 ? "ERROR: Device not found." : "ERROR: Failed to get device information. E1");
    }
    return status;
}

}  // namespace kelvo
