// The /set command's two operations.
#pragma once

#include <cstdint>

#include "app/command_line.h"
#include "quex/quex.h"

namespace kelvo {

// Pause between a reboot request and the query that checks the result.
extern uint32_t RebootWaitMs;  // 40000

bool SetDhcpMode(QuexHandle handle, QuexDeviceInfo& device, const CommandLine& cmd, bool reboot);
bool SetStaticNetwork(QuexHandle handle, QuexDeviceInfo& device, const CommandLine& cmd,
                      uint32_t ip, uint32_t gateway, uint32_t subnet);

}  // namespace kelvo
