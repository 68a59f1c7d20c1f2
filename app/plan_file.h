// A plan: the devices of one /set or /upload run, read from a CSV file with
// a header row, each row checked as the command line checks its values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/command_line.h"

namespace kelvo {

struct PlanRow {
    int line;          // in the file, from 1 (the header's line)
    uint8_t mac[6];    // never all zero
    uint8_t useDhcp;   // /set: "dhcp"
    uint32_t ip;       // network order; 0: the device's own (/set) or its answer (/upload)
    uint32_t subnet;   // network order; 0: the device's own
    uint32_t gateway;  // network order; 0: the device's own
};

// Reads and checks cmd's plan file into rows; false after printing the one
// "ERROR: ..." line that names the first fault.
bool ReadPlan(const CommandLine& cmd, std::vector<PlanRow>& rows);

// Reads and checks plan text (the file's contents); false with the first
// fault's text ("FILE:LINE: ..." or "FILE: ...") in problem.
bool ParsePlanText(const std::string& fileName, const std::string& text, int32_t command,
                   std::vector<PlanRow>& rows, std::string& problem);

}  // namespace kelvo
