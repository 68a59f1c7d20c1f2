// kelvoprog: runs one command given on the command line and turns its outcome
// into the result log and the exit status.
#include <cstring>
#include <vector>

#include "app/command_line.h"
#include "app/console.h"
#include "app/device_run.h"
#include "app/discover_table.h"
#include "app/exit_status.h"
#include "app/input_file.h"
#include "app/plan_file.h"
#include "app/plan_run.h"
#include "app/result_log.h"
#include "app/run_messages.h"
#include "app/run_result.h"
#include "platform/interrupt.h"
#include "platform/startup.h"

using namespace kelvo;

int main(int argc, char** argv) {
    SetProcessArguments(argc, argv);
    if (!platform::StartApplicationFramework()) {
        ErrLine("ERROR: MFC initialization failed");
        return kStatusRejected;
    }

    CommandLine cmd;
    std::memset(&cmd, 0, sizeof cmd);
    if (!ParseCommandLine(cmd)) return kStatusRejected;
    if (cmd.format != OutputFormat::Table) ReserveStandardOutput();
    // A plan is checked whole before anything is sent or logged.
    const bool planned = cmd.planPath[0] != '\0';
    std::vector<PlanRow> plan;
    if (planned && !ReadPlan(cmd, plan)) return kStatusRejected;
    // Every device of an upload plan would fail on a firmware that cannot be sent.
    if (planned && cmd.command == CommandUpload && !CheckFirmwareFile(cmd.firmwarePath))
        return kStatusRejected;

    PrintBanner();
    OutLine("");

    int status = kStatusOk;
    ConsoleMessages messages;
    DeviceRun run{};

    LogFile log = CreateLogFile();
    if (log == kInvalidLog) {
        status = kStatusLogFailed;
        messages.NoteFailure("Failed to create log file.");
    } else if (cmd.command == CommandDiscover) {
        // /discover writes no log entry, whatever its status.
        const int listed = DiscoverDevices(cmd);
        CloseLogFile(log);
        return listed;
    } else if (planned) {
        platform::CatchInterrupts();       // Ctrl-C stops the plan in order
        status = RunPlan(cmd, plan, log);  // logs every device itself
        CloseLogFile(log);
        return status;
    } else {
        run = RunDevice(cmd, messages);
        status = run.status;
        if (status == kStatusOk && !WriteLogEntry(log, kStatusOk, run.device.macAddress)) {
            status = kStatusLogFailed;
            messages.NoteFailure("Failed to write to log file.");
        }
    }

    if (status != kStatusOk) {
        // Their own failures are reported where they happen and change nothing.
        // The MAC is the device's as it last answered, all zero when none did.
        WriteLogMarker(log);
        WriteLogEntry(log, status, run.device.macAddress);
    }
    CloseLogFile(log);

    if (cmd.command != CommandDiscover && !planned && cmd.format != OutputFormat::Table) {
        run.status = status;
        const RunResult result = MakeRunResult(cmd, run, messages);
        if (cmd.format == OutputFormat::Json)
            Document(ResultJsonLine(result) + "\n");
        else
            Document(ResultCsvHeader() + "\r\n" + ResultCsvRow(result) + "\r\n");
    }
    return status;
}
