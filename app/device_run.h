// One device through /set or /upload: locate it, make sure of its address,
// then apply the network settings or upload the firmware.
#pragma once

#include <cstdint>

#include <quex/quex.h>

#include "app/command_line.h"
#include "app/run_messages.h"

namespace kelvo {

struct DeviceRun {
    int status;             // an ExitStatus
    QuexDeviceInfo device;  // the device as it last answered; all zero when none did
    uint32_t ip;            // the address worked with: the requested one, or the device's own
};

// Runs cmd's command (set or upload) on its one device, printing through
// messages. Opens and closes its own library handle.
DeviceRun RunDevice(const CommandLine& cmd, RunMessages& messages);

}  // namespace kelvo
