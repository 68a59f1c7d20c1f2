// The /set command's two operations.
#pragma once

#include <cstdint>

#include "app/command_line.h"
#include "app/run_messages.h"
#include <quex/quex.h>

namespace kelvo {

// After a reboot each operation waits as cmd's rebootWait says: a fixed
// pause and one query, or a query once a second until the device shows what
// was asked (at most 120 s).
bool SetDhcpMode(QuexHandle handle, QuexDeviceInfo& device, const CommandLine& cmd, bool reboot,
                 RunMessages& messages);
bool SetStaticNetwork(QuexHandle handle, QuexDeviceInfo& device, const CommandLine& cmd, uint32_t ip,
                      uint32_t gateway, uint32_t subnet, RunMessages& messages);

}  // namespace kelvo
