// The result of one device run: what the machine-readable formats and a
// plan's lines carry.
#pragma once

#include <cstdint>
#include <string>

#include "app/command_line.h"
#include "app/device_run.h"
#include "app/run_messages.h"

namespace kelvo {

struct RunResult {
    std::string command;  // "set" or "upload"
    uint8_t mac[6];       // the device as it last answered, else the MAC asked for; all zero: unknown
    uint32_t ip;          // network order; 0: unknown (see MakeRunResult)
    int status;           // the exit status a single run would give
    std::string message;  // the run's result text, one line, without "ERROR: "
};

// The result of cmd's run: for /set the address the device last reported
// (the new one after a change), for /upload the address the firmware went to.
RunResult MakeRunResult(const CommandLine& cmd, const DeviceRun& run, const RunMessages& messages);

// {"format": "kelvoprog-result/1", "command": ..., "mac": ..., "ip": ...,
// "status": N, "ok": true|false, "message": ...} on one line, no line end;
// an unknown MAC or address is null.
std::string ResultJsonLine(const RunResult& result);
// The same fields as CSV (RFC 4180): the header line and one row, no line ends.
std::string ResultCsvHeader();
std::string ResultCsvRow(const RunResult& result);

}  // namespace kelvo
