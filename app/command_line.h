// The parsed command line and its parser.
#pragma once

#include <cstdint>

#include "quex/quex.h"

namespace kelvo {

enum Command : int32_t {
    CommandUpload = 0,
    CommandSet = 2,
    CommandDiscover = 3,
    CommandHelp = 4,
};

constexpr uint32_t kMaxUserName = 255;
constexpr uint32_t kMaxPassword = 255;

struct CommandLine {
    int32_t command;
    uint8_t mac[6];          // all zero: the first device found is the target
    uint32_t magics[2];      // first letter in the most significant byte
    uint32_t magicCount;
    QuexGuid vendorGuid;
    uint8_t useDhcp;
    uint32_t ip;             // network order
    uint32_t subnet;         // network order
    uint32_t gateway;        // network order
    char username[kMaxUserName + 1];
    char password[kMaxPassword + 1];
    char firmwarePath[4096 + 1];  // as long as the platform allows (PATH_MAX on Linux)
};

// The process arguments, recorded once by main (entry 0 is the program name).
void SetProcessArguments(int argc, char** argv);
int ProcessArgumentCount();
char** ProcessArguments();

// Fills cmd from the process arguments; false after printing a rejection or
// the usage.
bool ParseCommandLine(CommandLine& cmd);

bool ParseMacAddress(const char* text, size_t length, uint8_t mac[6]);
bool ParseHexValue(const char* text, size_t length, uint32_t* value);

}  // namespace kelvo
