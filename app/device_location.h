// The device table of /discover and the location of the target device.
#pragma once

#include "app/command_line.h"
#include "quex/quex.h"

namespace kelvo {

// Prints the table of every device that answers each magic; always 0.
int DiscoverDevices(const CommandLine& cmd);
// 0: located (handle open, device filled); 2: not found; 4: query failed.
// The slot keeps the handle of the last magic tried, whatever the status.
int LocateDevice(QuexHandle& handle, QuexDeviceInfo& device, const CommandLine& cmd);

}  // namespace kelvo
