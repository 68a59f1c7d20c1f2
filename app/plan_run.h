// A plan's run: its devices, so many at once, each through the steps of a
// single run; one line and one log entry per device as it finishes.
#pragma once

#include <vector>

#include "app/command_line.h"
#include "app/plan_file.h"
#include "app/result_log.h"

namespace kelvo {

// The command line of one row's run: cmd with the row's device and values.
CommandLine RowCommandLine(const CommandLine& cmd, const PlanRow& row);

// Runs every row (cmd.parallel at once), prints and logs each device's
// outcome, then the summary. The exit status: 0 when every device
// succeeded, kStatusInterrupted after Ctrl-C, else the status of the first
// failed row in file order (kStatusLogFailed instead of 0 when a log write failed).
int RunPlan(const CommandLine& cmd, const std::vector<PlanRow>& rows, LogFile log);

}  // namespace kelvo
