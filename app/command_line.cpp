// Command-line parsing: argument forms, option lookup, value conversion and
// every rejection message.
#include "app/command_line.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/console.h"
#include "app/interface_choice.h"
#include "app/text_gate.h"
#include "platform/ipv4_text.h"
#include "platform/net.h"

namespace kelvo {

namespace {

int g_argc = 0;
char** g_argv = nullptr;

// Appended to every one-line rejection; the second line of two-line ones.
const char kSeeHelp[] = "Type \"kelvoprog /?\" for details.";
const char kParallelRejection[] = "The /parallel value is not a number from 1 to 64.";

const char* const kOptionWords[] = {
    "/?",      "/help",    "/discover", "/set",      "/upload", "/mac",  "/username", "/password",  "/ip",
    "/subnet", "/gateway", "/vendorid", "/firmware", "/format", "/plan", "/parallel", "/interface", "/wait",
};

constexpr QuexGuid kVendorGuid = {
    0xD4A17F3B, 0x2E8C, 0x4B61, {0x9F, 0x05, 0x6C, 0x3A, 0x8E, 0x1B, 0x72, 0xD4}};

bool IsOptionWord(const std::string& name) {
    for (const char* word : kOptionWords)
        if (name == word) return true;
    return false;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool HasHexPrefix(const char* text, size_t length) {
    return length >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

// "ERROR: <text> Type "kelvoprog /?" for details." on one line.
bool RejectOneLine(const char* text) {
    ErrFormat("ERROR: %s %s\n", text, kSeeHelp);
    return false;
}

bool RejectTwoLines(const char* text) {
    ErrFormat("ERROR: %s\n", text);
    ErrLine(kSeeHelp);
    return false;
}

// Dotted-quad conversion of an option's value into *address; false (after
// the rejection line) when the text is no address.
bool ConvertAddress(const std::string& value, uint32_t* address, const char* rejection) {
    if (value.empty()) {
        *address = 0;  // "0.0.0.0"
        return true;
    }
    if (!platform::ParseIPv4(value.c_str(), address)) return RejectOneLine(rejection);
    return true;
}

// A whole number from low to high, in decimal digits only.
bool ParseNumber(const std::string& text, uint32_t low, uint32_t high, uint32_t* number) {
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9' || value > high) return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (text.empty() || value < low || value > high) return false;
    *number = value;
    return true;
}

// A control character (CR LF in a password, say) would travel into FTP
// commands and log lines as it stands: refused, naming where the value came from.
bool RejectControlCharacter(const std::string& source, const char* value) {
    std::string refusal;
    if (AdmitText(source + " value", value, refusal) == TextVerdict::Admitted) return true;
    ErrFormat("ERROR: %s\n", refusal.c_str());
    return false;
}

bool CopyText(const std::string& value, const char* fallback, char* field, size_t capacity,
              const char* rejection) {
    const std::string& text = value.empty() ? std::string(fallback) : value;
    if (text.size() >= capacity) return RejectOneLine(rejection);
    std::memcpy(field, text.c_str(), text.size() + 1);
    return true;
}

}  // namespace

const char kMacValueRejection[] = "The /mac value is not \"auto\" or a MAC address such as 02C0DE123456.";
const char kIpValueRejection[] = "The /ip value is not a valid IP address.";
const char kSubnetValueRejection[] = "The /subnet value is not a valid subnet mask.";
const char kGatewayValueRejection[] = "The /gateway value is not a valid IP address.";
const char kDhcpOnlyWithSetRejection[] = "dhcp parameter is valid only with the /set command.";

bool EqualsIgnoreCase(const std::string& text, const char* word) {
    if (text.size() != std::strlen(word)) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        char a = text[i], b = word[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

void SetProcessArguments(int argc, char** argv) {
    g_argc = argc;
    g_argv = argv;
}

int ProcessArgumentCount() { return g_argc; }

char** ProcessArguments() { return g_argv; }

bool IsCommandWord(const char* text) {
    if (text == nullptr || std::strlen(text) < 2 || text[0] != '/') return false;
    if (std::strchr(text, '=') != nullptr) return false;
    return !(text[1] >= '0' && text[1] <= '9');
}

bool IsParameterWord(const char* text) {
    if (text == nullptr || std::strlen(text) < 2 || text[0] != '/') return false;
    return std::strchr(text, '=') != nullptr;
}

ArgumentList MakeArgumentList(int count, char** args) {
    ArgumentList list{count, args, 0, false};
    for (int32_t i = 1; i < count; ++i) {
        if (IsCommandWord(args[i]))
            ++list.commandCount;
        else if (!IsParameterWord(args[i]))
            list.malformed = true;
    }
    return list;
}

std::string GetName(const ArgumentList& list, int32_t index) {
    if (index < 1 || index >= list.count || list.args[index] == nullptr) return std::string();
    const char* text = list.args[index];
    const char* equals = std::strchr(text, '=');
    if (equals == nullptr || equals == text) return std::string(text);
    return std::string(text, static_cast<size_t>(equals - text));
}

int32_t FindCommand(const ArgumentList& list, const char* word) {
    for (int32_t i = list.count - 1; i >= 1; --i)
        if (IsCommandWord(list.args[i]) && GetName(list, i) == word) return i;
    return -1;
}

int32_t FindParameter(const ArgumentList& list, const char* word) {
    for (int32_t i = list.count - 1; i >= 1; --i)
        if (IsParameterWord(list.args[i]) && GetName(list, i) == word) return i;
    return -1;
}

std::string GetValue(const ArgumentList& list, const char* word) {
    int32_t index = FindParameter(list, word);
    if (index < 0) return std::string();
    return std::string(std::strchr(list.args[index], '=') + 1);
}

std::string GetCommandAt(const ArgumentList& list, int32_t index) {
    if (index < 1 || index >= list.count || !IsCommandWord(list.args[index])) return std::string();
    return std::string(list.args[index]);
}

bool ParseMacAddress(const char* text, size_t length, uint8_t mac[6]) {
    if (text == nullptr || length == 0) return false;
    if (HasHexPrefix(text, length)) {
        text += 2;
        length -= 2;
    }
    if (length < 1 || length > 17) return false;
    uint8_t bytes[6] = {};
    size_t pos = 0;
    size_t count = 0;
    while (pos < length) {
        if (count == 6) return false;  // a seventh pair has no room
        if (length - pos < 2) return false;
        int high = HexDigit(text[pos]);
        int low = HexDigit(text[pos + 1]);
        if (high < 0 || low < 0) return false;
        bytes[count++] = static_cast<uint8_t>(high << 4 | low);
        pos += 2;
        if (pos < length && text[pos] == ':') ++pos;
    }
    std::memcpy(mac, bytes, sizeof bytes);
    return true;
}

bool ParseHexValue(const char* text, size_t length, uint32_t* value) {
    if (text == nullptr || length == 0) return false;
    if (HasHexPrefix(text, length)) {
        text += 2;
        length -= 2;
    }
    if (length < 1 || length > 8) return false;
    uint32_t result = 0;
    for (size_t i = 0; i < length; ++i) {
        int digit = HexDigit(text[i]);
        if (digit < 0) return false;
        result = result * 16 + static_cast<uint32_t>(digit);
    }
    *value = result;
    return true;
}

namespace {

// The command word, after the form and name checks: false after a
// rejection or the usage.
bool ParseCommand(const ArgumentList& list, CommandLine& cmd) {
    if (list.commandCount < 1) return RejectTwoLines("The first command line parameter must be a command.");

    if (FindCommand(list, "/?") >= 0 || FindCommand(list, "/help") >= 0) {
        cmd.command = CommandHelp;
        PrintUsage();
        return false;
    }

    const std::string first = GetCommandAt(list, 1);
    if (first.empty()) return RejectTwoLines("The first command line parameter must be a command.");
    if (first == "/set")
        cmd.command = CommandSet;
    else if (first == "/discover")
        cmd.command = CommandDiscover;
    else if (first == "/upload")
        cmd.command = CommandUpload;
    else
        return RejectOneLine("Invalid command.");
    return true;
}

// Every value, in argument order, through the gate: a control character (CR
// LF in a password, say) would travel into FTP commands and log lines as it stands.
bool RejectControlCharacters(const ArgumentList& list) {
    for (int32_t i = 1; i < list.count; ++i) {
        if (IsParameterWord(list.args[i]) &&
            !RejectControlCharacter(GetName(list, i), std::strchr(list.args[i], '=') + 1))
            return false;
    }
    return true;
}

// The value of word on the command line, else of its variable when that is
// set and not empty (refused for a control character, as the command line's
// values are); source names where it came from. False after a refusal.
bool ValueOrVariable(const ArgumentList& list, const char* word, const char* variable, std::string* value,
                     std::string* source) {
    *value = GetValue(list, word);
    *source = word;
    if (!value->empty()) return true;
    *source = variable;
    const char* text = std::getenv(variable);
    if (text == nullptr || text[0] == '\0') return true;
    if (!RejectControlCharacter(variable, text)) return false;
    *value = text;
    return true;
}

// /mac: the target device of /set and /upload.
bool ParseTarget(const ArgumentList& list, CommandLine& cmd) {
    if (cmd.command == CommandDiscover) return true;
    const std::string mac = GetValue(list, "/mac");
    if (EqualsIgnoreCase(mac, "auto")) {
        std::memset(cmd.mac, 0, sizeof cmd.mac);
    } else if (!mac.empty() && !ParseMacAddress(mac.c_str(), mac.size(), cmd.mac)) {
        // Taking the first device found instead would reconfigure the wrong one.
        return RejectOneLine(kMacValueRejection);
    } else if (!mac.empty() && IsZeroMac(cmd.mac)) {
        // An all-zero MAC would quietly mean "the first device found" too.
        return RejectOneLine("The /mac value names no device; use /mac=auto for the first device found.");
    }
    return true;
}

// /ip, /subnet and /gateway, and the check that /set and /upload name a device.
bool ParseAddresses(const ArgumentList& list, CommandLine& cmd) {
    const std::string mac = GetValue(list, "/mac");
    const std::string ip = GetValue(list, "/ip");
    if (!ip.empty()) {
        if (!mac.empty() && cmd.command != CommandSet)
            return RejectTwoLines("Please specify either mac address or ip address, but not both.");
        if (EqualsIgnoreCase(ip, "dhcp")) {
            if (cmd.command != CommandSet) return RejectTwoLines(kDhcpOnlyWithSetRejection);
            cmd.useDhcp = 1;
            cmd.ip = 0;
        } else {
            cmd.useDhcp = 0;
            if (!ConvertAddress(ip, &cmd.ip, kIpValueRejection)) return false;
        }
    } else {
        cmd.ip = 0;
        const bool planned = !GetValue(list, "/plan").empty();  // the plan names the devices
        if (!(FindParameter(list, "/mac") >= 0 && !mac.empty()) && cmd.command != CommandDiscover && !planned)
            return RejectOneLine("Please specify a mac or ip address.");
    }

    return ConvertAddress(GetValue(list, "/subnet"), &cmd.subnet, kSubnetValueRejection) &&
           ConvertAddress(GetValue(list, "/gateway"), &cmd.gateway, kGatewayValueRejection);
}

// A credential: the command line's value, else the environment's, else the
// default. An empty value counts as absent in both places.
bool ParseCredential(const ArgumentList& list, const char* word, const char* variable, const char* fallback,
                     char* field, size_t capacity) {
    std::string value, source;
    if (!ValueOrVariable(list, word, variable, &value, &source)) return false;
    const std::string tooLong =
        "The " + source + " value is longer than " + std::to_string(capacity - 1) + " characters.";
    return CopyText(value, fallback, field, capacity, tooLong.c_str());
}

// /password and /username (or KELVOPROG_PASSWORD and KELVOPROG_USERNAME), with their defaults.
bool ParseCredentials(const ArgumentList& list, CommandLine& cmd) {
    return ParseCredential(list, "/password", "KELVOPROG_PASSWORD", "Brackwater", cmd.password,
                           sizeof cmd.password) &&
           ParseCredential(list, "/username", "KELVOPROG_USERNAME", "root", cmd.username,
                           sizeof cmd.username);
}

// /plan and /parallel: many devices from a file, so many at once.
bool ParsePlan(const ArgumentList& list, CommandLine& cmd) {
    const std::string parallel = GetValue(list, "/parallel");
    cmd.parallel = kDefaultParallel;
    if (!parallel.empty() && !ParseNumber(parallel, 1, kMaxParallel, &cmd.parallel))
        return RejectOneLine(kParallelRejection);
    const std::string plan = GetValue(list, "/plan");
    if (plan.empty()) return true;
    if (cmd.command == CommandDiscover) return RejectOneLine("/plan cannot be used with /discover.");
    if (FindParameter(list, "/mac") >= 0 || FindParameter(list, "/ip") >= 0)
        return RejectOneLine("/plan cannot be used with /mac or /ip.");
    if (cmd.command == CommandUpload && GetValue(list, "/firmware").empty())
        return RejectOneLine("/plan with /upload needs /firmware.");
    return CopyText(plan, "", cmd.planPath, sizeof cmd.planPath,
                    "The /plan path is longer than 4095 characters.");
}

// /vendorid: one packet magic instead of the two defaults.
bool ParseMagic(const ArgumentList& list, CommandLine& cmd) {
    const std::string vendor = GetValue(list, "/vendorid");
    if (vendor.empty()) {
        cmd.magics[0] = QUEX_MAGIC_TELQ;
        cmd.magics[1] = QUEX_MAGIC_HAPF;
        cmd.magicCount = 2;
        return true;
    }
    uint32_t magic = 0;
    // Magic 0 would open no usable handle.
    if (!ParseHexValue(vendor.c_str(), vendor.size(), &magic) || magic == 0)
        return RejectOneLine("The /vendorid value is not a nonzero hexadecimal packet magic.");
    cmd.magics[0] = magic;
    cmd.magicCount = 1;
    return true;
}

// /format: what standard output carries.
bool ParseFormat(const ArgumentList& list, CommandLine& cmd) {
    const std::string format = GetValue(list, "/format");
    if (format.empty() || EqualsIgnoreCase(format, "table"))
        cmd.format = OutputFormat::Table;
    else if (EqualsIgnoreCase(format, "json"))
        cmd.format = OutputFormat::Json;
    else if (EqualsIgnoreCase(format, "csv"))
        cmd.format = OutputFormat::Csv;
    else
        return RejectOneLine("The /format value is not table, json or csv.");
    return true;
}

// /interface (or KELVOPROG_INTERFACE): the local interfaces to work through.
bool ParseInterfaces(const ArgumentList& list, CommandLine& cmd) {
    std::string value, source;
    if (!ValueOrVariable(list, "/interface", "KELVOPROG_INTERFACE", &value, &source)) return false;
    cmd.interfaceCount = 0;
    if (value.empty()) return true;  // every interface
    std::vector<platform::LocalInterface> local;
    std::vector<uint32_t> chosen;
    const InterfaceChoice choice = platform::ListLocalInterfaces(&local)
                                       ? ChooseInterfaces(value, local, &chosen)
                                       : InterfaceChoice::NotLocal;
    if (choice == InterfaceChoice::TooMany) {
        ErrFormat("ERROR: The %s value names more than %u addresses.\n", source.c_str(),
                  kMaxChosenInterfaces);
        return false;
    }
    if (choice != InterfaceChoice::Chosen) {
        ErrFormat("ERROR: The %s value is not a local IPv4 address or interface name.\n", source.c_str());
        return false;
    }
    std::copy(chosen.begin(), chosen.end(), cmd.interfaces);
    cmd.interfaceCount = static_cast<uint32_t>(chosen.size());
    return true;
}

// /wait (or KELVOPROG_WAIT): after a reboot, a fixed pause or until the device is ready.
bool ParseWait(const ArgumentList& list, CommandLine& cmd) {
    std::string value, source;
    if (!ValueOrVariable(list, "/wait", "KELVOPROG_WAIT", &value, &source)) return false;
    cmd.rebootWait = RebootWait::Fixed;
    cmd.waitSeconds = kDefaultWaitSeconds;
    if (value.empty()) return true;
    if (EqualsIgnoreCase(value, "ready")) {
        cmd.rebootWait = RebootWait::Ready;
        return true;
    }
    if (ParseNumber(value, 1, kMaxWaitSeconds, &cmd.waitSeconds)) return true;
    const std::string rejection =
        "The " + source + " value is not ready or a number of seconds from 1 to 600.";
    return RejectOneLine(rejection.c_str());
}

}  // namespace

bool IsZeroMac(const uint8_t mac[6]) {
    static const uint8_t zero[6] = {};
    return std::memcmp(mac, zero, sizeof zero) == 0;
}

std::string FormatMac(const uint8_t mac[6]) {
    char text[18];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3], mac[4],
                  mac[5]);
    return text;
}

bool ParseCommandLine(CommandLine& cmd) {
    const ArgumentList list = MakeArgumentList(g_argc, g_argv);

    if (list.malformed) return RejectOneLine("Command line parameters contain errors.");
    for (int32_t i = 1; i < list.count; ++i) {
        std::string name = GetName(list, i);
        if (!IsOptionWord(name)) {
            ErrFormat("ERROR: %s is not a valid parameter. %s\n", ConsoleSafe(name).c_str(), kSeeHelp);
            return false;
        }
    }

    // The groups in this order: the first rejection is the one reported.
    if (!ParseCommand(list, cmd) || !RejectControlCharacters(list) || !ParsePlan(list, cmd) ||
        !ParseTarget(list, cmd))
        return false;
    if (!CopyText(GetValue(list, "/firmware"), "", cmd.firmwarePath, sizeof cmd.firmwarePath,
                  "The /firmware path is longer than 4095 characters."))
        return false;
    if (!ParseAddresses(list, cmd) || !ParseCredentials(list, cmd) || !ParseMagic(list, cmd) ||
        !ParseFormat(list, cmd) || !ParseInterfaces(list, cmd) || !ParseWait(list, cmd))
        return false;

    cmd.vendorGuid = kVendorGuid;
    return true;
}

}  // namespace kelvo
