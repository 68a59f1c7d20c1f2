// Arbitrary command lines through the parser, the KELVOPROG_* variables
// among them: the input's NUL-separated pieces are the arguments, and a
// piece "KELVOPROG_PASSWORD=..." (or USERNAME, INTERFACE, WAIT) sets that
// variable instead. After each: an accepted line is a whole command whose
// every text passes the gate, and nothing was printed; a rejection printed
// its "ERROR: " line (and the help line), or the usage, with no control
// byte but the line ends. Run by libFuzzer (KELVO_FUZZ), and over the saved
// corpus by corpus_replay.cpp in every build with tests.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/console.h"
#include "app/text_gate.h"
#include "fuzz/parse_arguments.h"

namespace {

constexpr size_t kMaxArguments = 32;
const char* const kVariables[] = {"KELVOPROG_USERNAME", "KELVOPROG_PASSWORD", "KELVOPROG_INTERFACE",
                                  "KELVOPROG_WAIT"};
constexpr size_t kVariableCount = sizeof kVariables / sizeof kVariables[0];
const char kSeeHelp[] = "Type \"kelvoprog /?\" for details.";

void Require(bool condition) {
    if (!condition) std::abort();
}

void SetVariable(const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());  // an empty value removes it
#else
    if (value.empty())
        unsetenv(name);
    else
        setenv(name, value.c_str(), 1);
#endif
}

// A text field of the record: ended within its room, and through the gate.
void RequireGatedText(const char* field, size_t room) {
    Require(std::memchr(field, '\0', room) != nullptr);
    std::string refusal;
    Require(kelvo::AdmitText("text", field, refusal) == kelvo::TextVerdict::Admitted);
}

// Only line ends below 0x20, no DEL, no C1 control in UTF-8.
void RequireNoControlByte(const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(text[i]);
        Require((byte >= 0x20 && byte != 0x7F) || byte == '\n');
        if (byte == 0xC2 && i + 1 < text.size())
            Require(!(static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                      static_cast<unsigned char>(text[i + 1]) <= 0x9F));
    }
}

void CheckAccepted(const kelvo::CommandLine& cmd) {
    Require(cmd.command == kelvo::CommandSet || cmd.command == kelvo::CommandUpload ||
            cmd.command == kelvo::CommandDiscover);
    RequireGatedText(cmd.username, sizeof cmd.username);
    RequireGatedText(cmd.password, sizeof cmd.password);
    RequireGatedText(cmd.firmwarePath, sizeof cmd.firmwarePath);
    RequireGatedText(cmd.planPath, sizeof cmd.planPath);
    Require(cmd.username[0] != '\0' && cmd.password[0] != '\0');  // a default at least
    Require(cmd.magicCount == 2 || (cmd.magicCount == 1 && cmd.magics[0] != 0));
    Require(cmd.parallel >= 1 && cmd.parallel <= kelvo::kMaxParallel);
    Require(cmd.format == kelvo::OutputFormat::Table || cmd.format == kelvo::OutputFormat::Json ||
            cmd.format == kelvo::OutputFormat::Csv);
    Require(cmd.interfaceCount <= kelvo::kMaxChosenInterfaces);
    Require(cmd.rebootWait == kelvo::RebootWait::Ready ||
            (cmd.waitSeconds >= 1 && cmd.waitSeconds <= kelvo::kMaxWaitSeconds));
    if (cmd.useDhcp) Require(cmd.command == kelvo::CommandSet && cmd.ip == 0);
    if (cmd.planPath[0] != '\0') {
        Require(cmd.command != kelvo::CommandDiscover && kelvo::IsZeroMac(cmd.mac) && cmd.ip == 0);
        if (cmd.command == kelvo::CommandUpload) Require(cmd.firmwarePath[0] != '\0');
    }
}

void CheckRejected(const kelvo::CommandLine& cmd, const std::string& printed) {
    Require(!printed.empty() && printed.back() == '\n');
    if (cmd.command == kelvo::CommandHelp) {
        Require(printed.find("\nUsage:\n") != std::string::npos);
        return;
    }
    // One "ERROR: " line, and at most the help line after it.
    size_t lines = 0;
    for (size_t start = 0; start < printed.size(); ++lines) {
        const size_t end = printed.find('\n', start);
        const std::string line = printed.substr(start, end - start);
        Require(line.rfind("ERROR: ", 0) == 0 || (lines == 1 && line == kSeeHelp));
        start = end + 1;
    }
    Require(lines == 1 || lines == 2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> arguments = {"kelvoprog"};
    std::string variables[kVariableCount];
    const std::string input(reinterpret_cast<const char*>(data), size);
    for (size_t start = 0; start <= input.size() && arguments.size() < kMaxArguments;) {
        size_t end = input.find('\0', start);
        if (end == std::string::npos) end = input.size();
        const std::string piece = input.substr(start, end - start);
        bool variable = false;
        for (size_t i = 0; i < kVariableCount; ++i) {
            const std::string prefix = std::string(kVariables[i]) + "=";
            if (piece.rfind(prefix, 0) == 0) {
                variables[i] = piece.substr(prefix.size());
                variable = true;
            }
        }
        if (!variable && (end < input.size() || !piece.empty())) arguments.push_back(piece);
        start = end + 1;
    }
    for (size_t i = 0; i < kVariableCount; ++i) SetVariable(kVariables[i], variables[i]);
    kelvo::CommandLine cmd;
    std::string printed;
    const bool accepted = ParseArguments(arguments, cmd, printed);

    RequireNoControlByte(printed);
    if (accepted) {
        Require(printed.empty());
        CheckAccepted(cmd);
    } else {
        CheckRejected(cmd, printed);
    }
    return 0;
}
