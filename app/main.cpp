// kelvoprog: runs one command given on the command line and turns its outcome
// into the result log and the exit status.
#include <cstring>

#include "app/command_line.h"
#include "app/console.h"
#include "app/device_location.h"
#include "app/firmware_upload.h"
#include "app/network_settings.h"
#include "app/result_log.h"
#include "platform/startup.h"
#include "platform/sync.h"
#include "quex/quex.h"

namespace {

using namespace kelvo;

constexpr int kAddressWaitQueries = 10;
constexpr uint32_t kAddressWaitStepMs = 1000;
const char kFailureMarker[] = "\n\nERROR CONFIGURING DEVICE ";

// Makes sure the located device has an address and puts the one to use in
// cmd.ip. 0, or the failure status after printing its messages.
int EnsureDeviceAddress(QuexHandle handle, QuexDeviceInfo& device, CommandLine& cmd) {
    if (device.ipAddress == 0 && device.dhcpEnabled == 1 && cmd.ip == 0) {
        // The device may be waiting for its lease: ask ten times, a second apart.
        uint8_t mac[6];
        std::memcpy(mac, device.macAddress, sizeof mac);
        for (int i = 0; i < kAddressWaitQueries; ++i) {
            if (QUEXGetDeviceInfo(handle, mac, &device) != 0) {
                OutLine("FAILED");
                ErrLine("ERROR: Failed to get device information. E3");
                return 4;
            }
            cmd.ip = device.ipAddress;
            platform::SleepMs(kAddressWaitStepMs);
        }
        if (cmd.ip == 0) {
            OutLine("FAILED");
            ErrLine("ERROR: Device does not have an IP address.  Assign network settings");
            ErrLine("through the serial port or configure a DHCP server on your network.");
            return 3;
        }
        return 0;
    }
    if (cmd.ip != 0) return 0;
    if (device.ipAddress == 0) {
        OutLine("FAILED");
        ErrLine("ERROR: Device does not have an IP address.");
        return 3;
    }
    cmd.ip = device.ipAddress;
    return 0;
}

int RunDeviceCommand(QuexHandle& handle, QuexDeviceInfo& device, CommandLine& cmd) {
    int status = LocateDevice(handle, device, cmd);
    if (status != 0) return status;
    status = EnsureDeviceAddress(handle, device, cmd);
    if (status != 0) return status;
    OutLine("SUCCESS");

    if (cmd.command == CommandSet) {
        if (cmd.useDhcp) return SetDhcpMode(handle, device, cmd, true) ? 0 : 11;
        return SetStaticNetwork(handle, device, cmd, cmd.ip, cmd.gateway, cmd.subnet) ? 0 : 3;
    }
    OutLine("Uploading firmware...");
    return UploadFirmware(cmd);
}

}  // namespace

int main(int argc, char** argv) {
    SetProcessArguments(argc, argv);
    if (!platform::StartApplicationFramework()) {
        ErrLine("ERROR: MFC initialization failed");
        return -1;
    }

    CommandLine cmd;
    std::memset(&cmd, 0, sizeof cmd);
    if (!ParseCommandLine(cmd)) return -1;

    PrintBanner();
    OutLine("");

    QuexHandle handle = nullptr;
    QuexDeviceInfo device;
    std::memset(&device, 0, sizeof device);
    int status = 0;

    LogFile log = CreateLogFile();
    if (log == kInvalidLog) {
        status = 5;
    } else if (cmd.command == CommandDiscover) {
        DiscoverDevices(cmd);  // no log entry for the listing
    } else {
        status = RunDeviceCommand(handle, device, cmd);
        if (status == 0 && !WriteLogEntry(log, 0, device.macAddress)) status = 5;
    }

    if (status != 0) {
        // Their own failures are reported where they happen and change nothing.
        WriteLogData(log, kFailureMarker, sizeof kFailureMarker - 1);
        WriteLogEntry(log, status, device.macAddress);
    }

    CloseLogFile(log);
    if (handle != nullptr) QUEXClose(handle);
    return status;
}
