// The /set command's two operations.
#pragma once

#include <cstdint>

#include "app/command_line.h"
#include "app/run_messages.h"
#include <quex/quex.h>

namespace kelvo {

// Pause between a reboot request and the query that checks the result:
// 40000. The tool never changes it; in-process tests may lower it and put it
// back (the end-to-end tests time the real wait).
extern uint32_t RebootWaitMs;

bool SetDhcpMode(QuexHandle handle, QuexDeviceInfo& device, const CommandLine& cmd, bool reboot,
                 RunMessages& messages);
bool SetStaticNetwork(QuexHandle handle, QuexDeviceInfo& device, const CommandLine& cmd, uint32_t ip,
                      uint32_t gateway, uint32_t subnet, RunMessages& messages);

}  // namespace kelvo
