// Plan files through the fast C++ CSV parser (header-only, BSD): its line
// reader numbers the lines (byte-order mark, CRLF and a missing last line end
// handled there), its comment policy skips empty and "#" lines, and its quote
// and trim policies cut, trim and unquote the cells of a line. The header row
// names a varying set of columns, so the cells are taken line by line rather
// than through its fixed-width row reader.
#include "app/plan_file.h"

#include <limits>  // used by the parser's header, which does not include it itself

#define CSV_IO_NO_THREAD  // the text is already in memory: no reader thread
// Its error records cut file names to 255 bytes on purpose (a warning of
// GCC's; clang has no such warning, and the fuzz targets build with clang).
#pragma GCC diagnostic push
#ifndef __clang__
#pragma GCC diagnostic ignored "-Wstringop-truncation"
#endif
#include <libfccp/csv.h>
#pragma GCC diagnostic pop

#include <algorithm>
#include <cstring>
#include <map>
#include <new>

#include "app/console.h"
#include "app/input_file.h"
#include "app/text_gate.h"
#include "platform/ipv4_text.h"

namespace kelvo {

namespace {

enum class Column { Mac, Ip, Subnet, Gateway };

// A cell or a column name is at most as long as a credential on the command line.
constexpr size_t kMaxCellLength = 255;

// The option word whose value a column holds, as the gate names it.
const char* OptionWord(Column column) {
    switch (column) {
    case Column::Mac:
        return "/mac";
    case Column::Ip:
        return "/ip";
    case Column::Subnet:
        return "/subnet";
    case Column::Gateway:
        return "/gateway";
    }
    return "";
}

std::string Lowered(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

using CellQuotes = io::double_quote_escape<',', '"'>;
using CellTrim = io::trim_chars<' ', '\t'>;
using SkippedLines = io::single_and_empty_line_comment<'#'>;

// A line's cells, cut at the commas outside quotes, trimmed and unquoted by
// the parser's own policies; throws the parser's error for an open quote.
std::vector<std::string> Cells(char* line) {
    std::vector<std::string> cells;
    while (line != nullptr) {
        char* begin = nullptr;
        char* end = nullptr;
        io::detail::chop_next_column<CellQuotes>(line, begin, end);
        CellTrim::trim(begin, end);
        CellQuotes::unescape(begin, end);
        cells.emplace_back(begin, end);
    }
    return cells;
}

// The columns the command takes: /set all four, /upload mac and ip.
bool ColumnFor(const std::string& name, int32_t command, Column& column) {
    static const std::map<std::string, Column> kColumns = {
        {"mac", Column::Mac}, {"ip", Column::Ip}, {"subnet", Column::Subnet}, {"gateway", Column::Gateway}};
    const auto found = kColumns.find(Lowered(Trimmed(name)));
    if (found == kColumns.end()) return false;
    if (command != CommandSet && (found->second == Column::Subnet || found->second == Column::Gateway))
        return false;
    column = found->second;
    return true;
}

// One value into row; the command line's own rejection text otherwise.
bool TakeValue(Column column, const std::string& value, int32_t command, PlanRow& row, const char*& problem) {
    switch (column) {
    case Column::Mac:
        if (!ParseMacAddress(value.c_str(), value.size(), row.mac)) {
            problem = EqualsIgnoreCase(value, "auto") || value.empty()
                          ? "The mac value must name one device, such as 02C0DE123456."
                          : kMacValueRejection;
            return false;
        }
        if (IsZeroMac(row.mac)) {
            problem = "The mac value must name one device, such as 02C0DE123456.";
            return false;
        }
        return true;
    case Column::Ip:
        if (EqualsIgnoreCase(value, "dhcp")) {
            if (command != CommandSet) {
                problem = kDhcpOnlyWithSetRejection;
                return false;
            }
            row.useDhcp = 1;
            return true;
        }
        problem = kIpValueRejection;
        return value.empty() || platform::ParseIPv4(value.c_str(), &row.ip);
    case Column::Subnet:
        problem = kSubnetValueRejection;
        return value.empty() || platform::ParseIPv4(value.c_str(), &row.subnet);
    case Column::Gateway:
        problem = kGatewayValueRejection;
        return value.empty() || platform::ParseIPv4(value.c_str(), &row.gateway);
    }
    return false;
}

std::string At(const std::string& fileName, int line) { return fileName + ":" + std::to_string(line) + ": "; }

// The lines of a plan into rows; false with the first fault in problem.
bool ParseLines(const std::string& fileName, io::LineReader& reader, int32_t command,
                std::vector<PlanRow>& rows, std::string& problem) {
    std::vector<Column> columns;
    bool haveHeader = false;
    std::map<std::string, int> macLines, addressLines;

    while (char* text = reader.next_line()) {
        if (SkippedLines::is_comment(text)) continue;
        const int line = static_cast<int>(reader.get_file_line());
        std::vector<std::string> fields;
        try {
            fields = Cells(text);
        } catch (const io::error::escaped_string_not_closed&) {
            problem = At(fileName, line) + "Not a CSV line: a quoted value is not closed.";
            return false;
        }
        if (!haveHeader) {
            haveHeader = true;
            bool hasMac = false;
            for (const std::string& name : fields) {
                std::string refusal;
                if (AdmitText("column name", name, refusal, kMaxCellLength) != TextVerdict::Admitted) {
                    problem = At(fileName, line) + refusal;
                    return false;
                }
                Column column;
                if (!ColumnFor(name, command, column)) {
                    problem = At(fileName, line) + "Unknown column \"" + Trimmed(name) + "\".";
                    return false;
                }
                for (Column seen : columns)
                    if (seen == column) {
                        problem = At(fileName, line) + "Column \"" + Trimmed(name) + "\" is named twice.";
                        return false;
                    }
                hasMac = hasMac || column == Column::Mac;
                columns.push_back(column);
            }
            if (!hasMac) {
                problem = At(fileName, line) + "No \"mac\" column.";
                return false;
            }
            continue;
        }

        if (fields.size() != columns.size()) {
            problem = At(fileName, line) + "The row has " + std::to_string(fields.size()) +
                      " values; the header names " + std::to_string(columns.size()) + " columns.";
            return false;
        }
        for (size_t i = 0; i < columns.size(); ++i) {
            std::string refusal;
            if (AdmitText(std::string(OptionWord(columns[i])) + " value", fields[i], refusal,
                          kMaxCellLength) != TextVerdict::Admitted) {
                problem = At(fileName, line) + refusal;
                return false;
            }
        }
        PlanRow row;
        std::memset(&row, 0, sizeof row);
        row.line = line;
        for (size_t i = 0; i < columns.size(); ++i) {
            const char* rejection = "";
            if (!TakeValue(columns[i], Trimmed(fields[i]), command, row, rejection)) {
                problem = At(fileName, line) + rejection;
                return false;
            }
        }
        const std::string mac = FormatMac(row.mac);
        const auto macSeen = macLines.emplace(mac, line);
        if (!macSeen.second) {
            problem = At(fileName, line) + "MAC " + mac + " is planned twice (line " +
                      std::to_string(macSeen.first->second) + ").";
            return false;
        }
        if (command == CommandSet && !row.useDhcp && row.ip != 0) {
            const std::string address = platform::FormatIPv4(row.ip);
            const auto addressSeen = addressLines.emplace(address, line);
            if (!addressSeen.second) {
                problem = At(fileName, line) + "Address " + address + " is planned twice (line " +
                          std::to_string(addressSeen.first->second) + ").";
                return false;
            }
        }
        rows.push_back(row);
    }
    if (!haveHeader) {
        problem = fileName + ": No header row.";
        return false;
    }
    if (rows.empty()) {
        problem = fileName + ": No device is planned.";
        return false;
    }
    return true;
}

}  // namespace

bool ParsePlanText(const std::string& fileName, const std::string& text, int32_t command,
                   std::vector<PlanRow>& rows, std::string& problem) {
    rows.clear();
    // The parser reads C strings, where a NUL would cut a value short unseen:
    // it becomes another control character, which the gate refuses in its
    // cell, on its line.
    std::string withoutNul;
    const std::string* bytes = &text;
    if (text.find('\0') != std::string::npos) {
        withoutNul = text;
        std::replace(withoutNul.begin(), withoutNul.end(), '\0', '\x01');
        bytes = &withoutNul;
    }
    try {
        io::LineReader reader(fileName, bytes->data(), bytes->data() + bytes->size());  // copies the bytes
        if (ParseLines(fileName, reader, command, rows, problem)) return true;
    } catch (const io::error::line_length_limit_exceeded& error) {
        problem = At(fileName, error.file_line) + "Not a CSV line: the line is too long.";
    } catch (const std::bad_alloc&) {
        problem = fileName + ": Not enough memory to read the plan.";
    }
    rows.clear();
    return false;
}

bool ReadPlan(const CommandLine& cmd, std::vector<PlanRow>& rows) {
    std::string text, problem;
    if (!ReadPlanBytes(cmd.planPath, text)) return false;
    if (!ParsePlanText(cmd.planPath, text, cmd.command, rows, problem)) {
        ErrFormat("ERROR: %s\n", ConsoleSafe(problem).c_str());  // the plan's own text is in it
        return false;
    }
    return true;
}

}  // namespace kelvo
