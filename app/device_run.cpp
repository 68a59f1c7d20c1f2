// One device through /set or /upload, from location to result.
#include "app/device_run.h"

#include <cstring>

#include "app/device_location.h"
#include "app/exit_status.h"
#include "app/firmware_upload.h"
#include "app/network_settings.h"

namespace kelvo {

namespace {

int Run(QuexHandle& handle, QuexDeviceInfo& device, CommandLine& cmd, RunMessages& messages) {
    int status = LocateDevice(handle, device, cmd, messages);
    if (status != kStatusOk) return status;
    status = EnsureDeviceAddress(handle, device, cmd, messages);
    if (status != kStatusOk) return status;
    messages.Line("SUCCESS");

    if (cmd.command == CommandSet) {
        if (cmd.useDhcp)
            return SetDhcpMode(handle, device, cmd, true, messages) ? kStatusOk : kStatusDhcpFailed;
        return SetStaticNetwork(handle, device, cmd, cmd.ip, cmd.gateway, cmd.subnet, messages)
                   ? kStatusOk
                   : kStatusSettingsFailed;
    }
    if (messages.StopIfInterrupted()) return kStatusInterrupted;
    messages.Line("Uploading firmware...");
    return UploadFirmware(cmd, messages);
}

}  // namespace

DeviceRun RunDevice(const CommandLine& command, RunMessages& messages) {
    CommandLine cmd = command;
    DeviceRun run;
    std::memset(&run.device, 0, sizeof run.device);
    QuexHandle handle = nullptr;
    run.status = Run(handle, run.device, cmd, messages);
    run.ip = cmd.ip;
    if (handle != nullptr) QUEXClose(handle);
    return run;
}

}  // namespace kelvo
