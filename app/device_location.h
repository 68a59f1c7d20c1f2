// The location of the target device of /set and /upload, and the wait for
// its address.
#pragma once

#include <quex/quex.h>

#include "app/command_line.h"
#include "app/run_messages.h"

namespace kelvo {

// kStatusOk: located (handle open, device filled); kStatusNotFound;
// kStatusQueryFailed. The slot keeps the handle of the last magic tried,
// whatever the status.
int LocateDevice(QuexHandle& handle, QuexDeviceInfo& device, const CommandLine& cmd, RunMessages& messages);

// Makes sure the located device has an address and puts the one to use in
// cmd.ip: the requested one, or the device's own (waiting up to ten seconds
// for a DHCP lease where that can help). kStatusOk, or kStatusQueryFailed /
// kStatusNoAddress after printing "FAILED" and the reason.
int EnsureDeviceAddress(QuexHandle handle, QuexDeviceInfo& device, CommandLine& cmd, RunMessages& messages);

}  // namespace kelvo
