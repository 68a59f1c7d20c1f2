// A plan: the devices of one /set or /upload run, read from a CSV file with
// a header row, each row checked as the command line checks its values. A
// file written by /discover /format=csv is a plan too: its other columns are
// read (and gated) but not used, and a device that answered both magics,
// listed twice, is one device.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/command_line.h"

namespace kelvo {

struct PlanRow {
    int line;             // in the file, from 1 (the header's line)
    uint8_t mac[6];       // never all zero
    uint8_t useDhcp;      // /set: "dhcp"
    uint32_t ip;          // network order; 0: the device's own (/set) or its answer (/upload)
    uint32_t subnet;      // network order; 0: the device's own
    uint32_t gateway;     // network order; 0: the device's own
    uint32_t magics[2];   // the magics that locate the device (the "magic" column)
    uint32_t magicCount;  // 0: the command line's magics
};

// Reads and checks cmd's plan file into rows; false after printing the one
// "ERROR: ..." line that names the first fault.
bool ReadPlan(const CommandLine& cmd, std::vector<PlanRow>& rows);

// Reads and checks plan text (the file's contents); false with the first
// fault's text ("FILE:LINE: ..." or "FILE: ...") in problem.
bool ParsePlanText(const std::string& fileName, const std::string& text, int32_t command,
                   std::vector<PlanRow>& rows, std::string& problem);

}  // namespace kelvo
