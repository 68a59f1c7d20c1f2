// kelvoprog: runs one command given on the command line and turns its outcome
// into the result log and the exit status.
#include <quex/quex.h>

#include <cstring>

#include "app/command_line.h"
#include "app/console.h"
#include "app/device_listing.h"
#include "app/device_location.h"
#include "app/exit_status.h"
#include "app/firmware_upload.h"
#include "app/network_settings.h"
#include "app/result_log.h"
#include "platform/startup.h"

namespace {

using namespace kelvo;

const char kFailureMarker[] = "\n\nERROR CONFIGURING DEVICE ";

int RunDeviceCommand(QuexHandle& handle, QuexDeviceInfo& device, CommandLine& cmd) {
    int status = LocateDevice(handle, device, cmd);
    if (status != kStatusOk) return status;
    status = EnsureDeviceAddress(handle, device, cmd);
    if (status != kStatusOk) return status;
    OutLine("SUCCESS");

    if (cmd.command == CommandSet) {
        if (cmd.useDhcp) return SetDhcpMode(handle, device, cmd, true) ? kStatusOk : kStatusDhcpFailed;
        return SetStaticNetwork(handle, device, cmd, cmd.ip, cmd.gateway, cmd.subnet) ? kStatusOk
                                                                                      : kStatusSettingsFailed;
    }
    OutLine("Uploading firmware...");
    return UploadFirmware(cmd);
}

}  // namespace

int main(int argc, char** argv) {
    SetProcessArguments(argc, argv);
    if (!platform::StartApplicationFramework()) {
        ErrLine("ERROR: MFC initialization failed");
        return kStatusRejected;
    }

    CommandLine cmd;
    std::memset(&cmd, 0, sizeof cmd);
    if (!ParseCommandLine(cmd)) return kStatusRejected;

    PrintBanner();
    OutLine("");

    QuexHandle handle = nullptr;
    QuexDeviceInfo device;
    std::memset(&device, 0, sizeof device);
    int status = kStatusOk;

    LogFile log = CreateLogFile();
    if (log == kInvalidLog) {
        status = kStatusLogFailed;
    } else if (cmd.command == CommandDiscover) {
        DiscoverDevices(cmd);  // no log entry for the listing
    } else {
        status = RunDeviceCommand(handle, device, cmd);
        if (status == kStatusOk && !WriteLogEntry(log, kStatusOk, device.macAddress))
            status = kStatusLogFailed;
    }

    if (status != kStatusOk) {
        // Their own failures are reported where they happen and change nothing.
        WriteLogData(log, kFailureMarker, sizeof kFailureMarker - 1);
        WriteLogEntry(log, status, device.macAddress);
    }

    CloseLogFile(log);
    if (handle != nullptr) QUEXClose(handle);
    return status;
}
