// /discover: one search per magic and the table of every device that
// answered (with /format=json or csv, their document instead).
#pragma once

#include "app/command_line.h"

namespace kelvo {

// Searches for each magic and prints what answered. kStatusOk, or
// kStatusQueryFailed when no search of the run could run at all.
int DiscoverDevices(const CommandLine& cmd);

}  // namespace kelvo
