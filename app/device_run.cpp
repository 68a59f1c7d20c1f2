// One device through /set or /upload, from location to result.
#include "app/device_run.h"

#include <cstring>

#include "app/device_location.h"
#include "app/exit_status.h"
#include "app/firmware_upload.h"
#include "app/network_settings.h"

namespace kelvo {

namespace {

int Run(QuexHandle& handle, QuexDeviceInfo& device, CommandLine& cmd, Report& report) {
    int status = LocateDevice(handle, device, cmd, report);
    if (status != kStatusOk) return status;
    status = EnsureDeviceAddress(handle, device, cmd, report);
    if (status != kStatusOk) return status;
    report.Line("SUCCESS");

    if (cmd.command == CommandSet) {
        if (cmd.useDhcp)
            return SetDhcpMode(handle, device, cmd, true, report) ? kStatusOk : kStatusDhcpFailed;
        return SetStaticNetwork(handle, device, cmd, cmd.ip, cmd.gateway, cmd.subnet, report)
                   ? kStatusOk
                   : kStatusSettingsFailed;
    }
    if (report.StopIfInterrupted()) return kStatusInterrupted;
    report.Line("Uploading firmware...");
    return UploadFirmware(cmd, report);
}

}  // namespace

DeviceRun RunDevice(const CommandLine& command, Report& report) {
    CommandLine cmd = command;
    DeviceRun run;
    std::memset(&run.device, 0, sizeof run.device);
    QuexHandle handle = nullptr;
    run.status = Run(handle, run.device, cmd, report);
    run.ip = cmd.ip;
    if (handle != nullptr) QUEXClose(handle);
    return run;
}

}  // namespace kelvo
