// The parsed command line and its parser.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <quex/quex.h>

namespace kelvo {

enum Command : int32_t {
    CommandUpload = 0,
    CommandSet = 2,
    CommandDiscover = 3,
    CommandHelp = 4,
};

// What standard output carries: the tables and texts of a run, or one
// machine-readable result (the other texts then go to standard error).
enum class OutputFormat : int32_t {
    Table = 0,
    Json = 1,
    Csv = 2,
};

constexpr uint32_t kMaxUserName = 255;
constexpr uint32_t kMaxPassword = 255;
constexpr uint32_t kMaxFirmwarePath = 4095;  // PATH_MAX on Linux, less its NUL
constexpr uint32_t kMaxPlanPath = 4095;
constexpr uint32_t kDefaultParallel = 8;
constexpr uint32_t kMaxParallel = 64;
constexpr uint32_t kMaxChosenInterfaces = 256;
constexpr uint32_t kDefaultWaitSeconds = 40;
constexpr uint32_t kMaxWaitSeconds = 600;

// /wait: what follows a reboot of the device.
enum class RebootWait : int32_t {
    Fixed = 0,  // a pause of waitSeconds, then one query
    Ready = 1,  // a query once a second until the device shows what was asked
};

struct CommandLine {
    int32_t command;
    uint8_t mac[6];      // all zero: the first device found is the target
    uint32_t magics[2];  // first letter in the most significant byte
    uint32_t magicCount;
    QuexGuid vendorGuid;
    uint8_t useDhcp;
    uint32_t ip;       // network order
    uint32_t subnet;   // network order
    uint32_t gateway;  // network order
    char username[kMaxUserName + 1];
    char password[kMaxPassword + 1];
    char firmwarePath[kMaxFirmwarePath + 1];  // as long as the platform allows
    OutputFormat format;                      // /format; table by default
    char planPath[kMaxPlanPath + 1];          // empty: one device, named by /mac or /ip
    uint32_t parallel;                        // devices of a plan worked on at once
    // /interface: the local addresses (network order) to work through; none: every interface.
    uint32_t interfaces[kMaxChosenInterfaces];
    uint32_t interfaceCount;
    RebootWait rebootWait;                    // /wait (or KELVOPROG_WAIT); fixed by default
    uint32_t waitSeconds;                     // the fixed pause; 40 by default
};

// The process arguments, recorded once by main (entry 0 is the program name).
void SetProcessArguments(int argc, char** argv);
int ProcessArgumentCount();
char** ProcessArguments();

// Fills cmd from the process arguments; false after printing a rejection or
// the usage.
bool ParseCommandLine(CommandLine& cmd);

// The parser's view of the arguments (entry 0, the program name, is never
// examined). The texts are borrowed, not copied.
struct ArgumentList {
    int32_t count;
    char** args;
    int32_t commandCount;  // command words among entries 1..count-1
    bool malformed;        // some entry is neither a command nor a parameter word
};

ArgumentList MakeArgumentList(int count, char** args);
// "/name" without "=" whose second character is not a digit.
bool IsCommandWord(const char* text);
// "/name=value".
bool IsParameterWord(const char* text);
// The text before the first "=" (when it is not the first character), else
// the whole argument.
std::string GetName(const ArgumentList& list, int32_t index);
// Index of the last command word / parameter word whose name is exactly
// word, or -1. Names are matched whole, so a value can never stand in for
// another option (a path such as /srv/ip/fw.bin is no /ip).
int32_t FindCommand(const ArgumentList& list, const char* word);
int32_t FindParameter(const ArgumentList& list, const char* word);
// The value of the last parameter word named word; "" when there is none.
std::string GetValue(const ArgumentList& list, const char* word);
// The argument at index when it is a command word; "" otherwise.
std::string GetCommandAt(const ArgumentList& list, int32_t index);

// MAC text: optional 0x, up to six hexadecimal pairs, each optionally followed
// by ":"; missing trailing bytes are zero. More than six pairs fail.
bool ParseMacAddress(const char* text, size_t length, uint8_t mac[6]);
// True for the MAC 00:00:00:00:00:00 (in a CommandLine: the first device found).
bool IsZeroMac(const uint8_t mac[6]);
// "02:C0:DE:25:40:74": upper-case pairs joined by colons, as every output shows a MAC.
std::string FormatMac(const uint8_t mac[6]);
// The rejection texts of the device values, which a plan file's rows share.
extern const char kMacValueRejection[];
extern const char kIpValueRejection[];
extern const char kSubnetValueRejection[];
extern const char kGatewayValueRejection[];
extern const char kDhcpOnlyWithSetRejection[];

// "auto" in any letter case ("dhcp" likewise).
bool EqualsIgnoreCase(const std::string& text, const char* word);
// text without the spaces and tabs at either end.
std::string Trimmed(const std::string& text);

// Optional 0x, then one to eight hexadecimal digits.
bool ParseHexValue(const char* text, size_t length, uint32_t* value);

}  // namespace kelvo
