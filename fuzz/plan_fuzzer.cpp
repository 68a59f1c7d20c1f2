// Arbitrary plan texts through the plan reader (bytes to rows), for /set
// and for /upload (the input's first byte chooses). After each: a rejection
// names the file and a line of the text (or the file alone, for the two
// faults of the whole file), holds no control byte, and when it is for a
// control character names a line that holds one; an accepted plan's rows
// come from lines without control bytes (but TABs and the line end), and
// every row's values, given to the single run's command line, are accepted
// as the same values. Run by libFuzzer (KELVO_FUZZ), and over the saved
// corpus by corpus_replay.cpp in every build with tests.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/console.h"
#include "app/plan_file.h"
#include "fuzz/parse_arguments.h"
#include "platform/ipv4_text.h"

namespace {

const char kFile[] = "p.csv";

void Require(bool condition) {
    if (!condition) std::abort();
}

// The text's lines as the parser numbers them (from 1; LF ends a line).
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    lines.push_back(text.substr(start));
    return lines;
}

bool IsControl(char c) {
    const unsigned char byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

void CheckRejected(const std::string& problem, const std::vector<std::string>& lines) {
    for (char c : problem) Require(!IsControl(c));
    const std::string prefix = std::string(kFile) + ":";
    Require(problem.rfind(prefix, 0) == 0);
    if (problem == prefix + " No header row." || problem == prefix + " No device is planned.") return;
    size_t at = prefix.size();
    size_t line = 0;
    while (at < problem.size() && problem[at] >= '0' && problem[at] <= '9' && line <= lines.size())
        line = line * 10 + static_cast<size_t>(problem[at++] - '0');
    Require(line >= 1 && line <= lines.size() && problem.compare(at, 2, ": ") == 0);
    const std::string control = " contains a control character.";
    if (problem.compare(at + 2, 4, "The ") == 0 && problem.size() > control.size() &&
        problem.compare(problem.size() - control.size(), control.size(), control) == 0) {
        bool control = false;
        for (char c : lines[line - 1]) control = control || IsControl(c);
        Require(control);
    }
}

// The single run's command line, given the row's values, takes them as they are.
void RequireSingleRunAccepts(std::vector<std::string> arguments, const kelvo::PlanRow& row) {
    arguments.insert(arguments.begin(), "kelvoprog");
    kelvo::CommandLine cmd;
    std::string printed;
    const bool accepted = ParseArguments(arguments, cmd, printed);
    Require(accepted && printed.empty());
    if (arguments[2].rfind("/mac=", 0) == 0) Require(std::memcmp(cmd.mac, row.mac, sizeof cmd.mac) == 0);
    if (arguments.back().rfind("/vendorid=", 0) == 0)
        Require(cmd.magicCount == 1 && cmd.magics[0] == row.magics[0]);
    if (cmd.command == kelvo::CommandSet)
        Require(cmd.useDhcp == row.useDhcp && cmd.ip == row.ip && cmd.subnet == row.subnet &&
                cmd.gateway == row.gateway);
    else if (arguments[2].rfind("/ip=", 0) == 0)
        Require(cmd.ip == row.ip);
}

void CheckRow(const kelvo::PlanRow& row, int32_t command, const std::vector<std::string>& lines) {
    Require(row.line >= 1 && static_cast<size_t>(row.line) <= lines.size());
    const std::string& line = lines[static_cast<size_t>(row.line) - 1];
    for (size_t i = 0; i < line.size(); ++i)
        Require(!IsControl(line[i]) || line[i] == '\t' || (line[i] == '\r' && i + 1 == line.size()));
    Require(!kelvo::IsZeroMac(row.mac));
    Require(row.magicCount <= 2);
    for (uint32_t i = 0; i < row.magicCount; ++i) Require(row.magics[i] != 0);
    const std::string mac = "/mac=" + kelvo::FormatMac(row.mac);
    // One magic of its own: the single run's /vendorid.
    std::vector<std::string> magic;
    if (row.magicCount == 1) {
        char hex[9];
        std::snprintf(hex, sizeof hex, "%08X", row.magics[0]);
        magic.push_back(std::string("/vendorid=") + hex);
    }
    if (command == kelvo::CommandSet) {
        std::vector<std::string> arguments = {"/set", mac};
        if (row.useDhcp)
            arguments.push_back("/ip=dhcp");
        else if (row.ip != 0)
            arguments.push_back("/ip=" + platform::FormatIPv4(row.ip));
        if (row.subnet != 0) arguments.push_back("/subnet=" + platform::FormatIPv4(row.subnet));
        if (row.gateway != 0) arguments.push_back("/gateway=" + platform::FormatIPv4(row.gateway));
        arguments.insert(arguments.end(), magic.begin(), magic.end());
        RequireSingleRunAccepts(arguments, row);
        return;
    }
    Require(!row.useDhcp && row.subnet == 0 && row.gateway == 0);
    // A single upload takes /mac or /ip, never both.
    std::vector<std::string> byMac = {"/upload", mac};
    byMac.insert(byMac.end(), magic.begin(), magic.end());
    RequireSingleRunAccepts(byMac, row);
    if (row.ip != 0) RequireSingleRunAccepts({"/upload", "/ip=" + platform::FormatIPv4(row.ip)}, row);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const int32_t command = (data[0] & 1) != 0 ? kelvo::CommandUpload : kelvo::CommandSet;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::vector<std::string> lines = Lines(text);
    std::vector<kelvo::PlanRow> rows;
    std::string problem;
    if (!kelvo::ParsePlanText(kFile, text, command, rows, problem)) {
        Require(rows.empty());
        CheckRejected(problem, lines);
        return 0;
    }
    Require(!rows.empty() && problem.empty());
    int previous = 0;
    for (const kelvo::PlanRow& row : rows) {
        Require(row.line > previous);  // in file order
        previous = row.line;
        CheckRow(row, command, lines);
    }
    return 0;
}
