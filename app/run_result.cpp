// One device run's result in the machine-readable forms.
#include "app/run_result.h"

#include <cstring>

#include <nlohmann/json.hpp>

#include "app/csv_row.h"
#include "app/exit_status.h"
#include "platform/ipv4_text.h"

namespace kelvo {

namespace {

const char kResultFormat[] = "kelvoprog-result/1";

bool Known(const uint8_t mac[6]) { return !IsZeroMac(mac); }

std::string AddressText(uint32_t ip) { return ip == 0 ? std::string() : platform::FormatIPv4(ip); }

}  // namespace

RunResult MakeRunResult(const CommandLine& cmd, const DeviceRun& run, const RunMessages& messages) {
    RunResult result;
    result.command = cmd.command == CommandSet ? "set" : "upload";
    const bool answered = Known(run.device.macAddress);
    std::memcpy(result.mac, answered ? run.device.macAddress : cmd.mac, sizeof result.mac);
    if (cmd.command == CommandSet)
        result.ip = answered ? run.device.ipAddress : 0;
    else
        result.ip = run.ip;
    result.status = run.status;
    result.message = messages.Message();
    return result;
}

std::string ResultJsonLine(const RunResult& result) {
    nlohmann::ordered_json line;
    line["format"] = kResultFormat;
    line["command"] = result.command;
    line["mac"] = Known(result.mac) ? nlohmann::ordered_json(FormatMac(result.mac)) : nullptr;
    line["ip"] = result.ip != 0 ? nlohmann::ordered_json(platform::FormatIPv4(result.ip)) : nullptr;
    line["status"] = result.status;
    line["ok"] = result.status == kStatusOk;
    line["message"] = result.message;
    // Device texts may hold any byte: invalid UTF-8 is replaced, never thrown over.
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string ResultCsvHeader() {
    return CsvRow({"format", "command", "mac", "ip", "status", "ok", "message"});
}

std::string ResultCsvRow(const RunResult& result) {
    return CsvRow({kResultFormat, result.command, Known(result.mac) ? FormatMac(result.mac) : std::string(),
                   AddressText(result.ip), std::to_string(result.status),
                   result.status == kStatusOk ? "true" : "false", CsvTextCell(result.message)});
}

}  // namespace kelvo
