// The device table of /discover.
#pragma once

#include "app/command_line.h"

namespace kelvo {

// Prints the table of every device that answers each magic; always kStatusOk.
int DiscoverDevices(const CommandLine& cmd);

}  // namespace kelvo
