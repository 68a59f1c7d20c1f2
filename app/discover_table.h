// The device table of /discover.
#pragma once

#include "app/command_line.h"

namespace kelvo {

// Prints the table of every device that answers each magic. kStatusOk, or
// kStatusQueryFailed when no search of the run could run at all.
int DiscoverDevices(const CommandLine& cmd);

}  // namespace kelvo
