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
#include "app/discover_columns.h"
#include "app/input_file.h"
#include "app/text_gate.h"
#include "platform/ipv4_text.h"

namespace kelvo {

namespace {

enum class Column { Mac, Ip, Subnet, Gateway, Dhcp, Magic, Unused };

// A column of the header: what it holds, and its name as the gate names it.
struct HeaderColumn {
    Column column;
    std::string name;  // lower case, trimmed
};

// A cell or a column name is at most as long as a credential on the command line.
constexpr size_t kMaxCellLength = 255;
// An unused column holds a device's own text as /discover wrote it: up to
// 255 bytes, each of which may have become a 3-byte U+FFFD, and aux_data's
// 255 bytes in hexadecimal.
constexpr size_t kMaxUnusedCellLength = 1024;

// What a row's "dhcp" cell says.
enum class DhcpCell { Absent, On, Off };

// The subject a cell's refusal names: the option word whose value a column
// holds, else the column's own name.
std::string CellSubject(const HeaderColumn& column) {
    switch (column.column) {
    case Column::Mac:
        return "/mac value";
    case Column::Ip:
        return "/ip value";
    case Column::Subnet:
        return "/subnet value";
    case Column::Gateway:
        return "/gateway value";
    default:
        return column.name + " value";
    }
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

// The columns the command takes: /set mac, ip, subnet, gateway, dhcp and
// magic; /upload mac, ip and magic, its other columns unused; both the rest
// of /discover's columns unused.
bool ColumnFor(const std::string& name, int32_t command, HeaderColumn& column) {
    static const std::map<std::string, Column> kColumns = {
        {"mac", Column::Mac},         {"ip", Column::Ip},     {"subnet", Column::Subnet},
        {"gateway", Column::Gateway}, {"dhcp", Column::Dhcp}, {"magic", Column::Magic}};
    column.name = Lowered(Trimmed(name));
    const auto found = kColumns.find(column.name);
    if (found != kColumns.end()) {
        const bool setOnly = found->second == Column::Subnet || found->second == Column::Gateway ||
                             found->second == Column::Dhcp;
        column.column = command != CommandSet && setOnly ? Column::Unused : found->second;
        return true;
    }
    // A discovery file is a plan: its other columns are read and not used.
    column.column = Column::Unused;
    return IsDiscoverColumn(column.name);
}

// A magic as /discover writes it: its four characters, or 0x and eight
// hexadecimal digits. A leading "'" that guarded it from a spreadsheet is
// taken off again.
bool ParseMagicCell(std::string text, uint32_t& magic) {
    if (text.size() == 5 && text[0] == '\'' && std::strchr("=+-@", text[1]) != nullptr) text.erase(0, 1);
    if (text.size() == 4) {
        magic = 0;
        for (char c : text) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte < 0x20 || byte > 0x7E) return false;
            magic = magic << 8 | byte;
        }
        return true;
    }
    return text.size() == 10 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') &&
           ParseHexValue(text.c_str(), text.size(), &magic) && magic != 0;
}

// One value into row (and the dhcp cell's word into dhcp); the command
// line's own rejection text otherwise.
bool TakeValue(Column column, const std::string& value, int32_t command, PlanRow& row, DhcpCell& dhcp,
               const char*& problem) {
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
    case Column::Dhcp:
        problem = "The dhcp value is not true or false.";
        if (value.empty()) return true;
        if (EqualsIgnoreCase(value, "true"))
            dhcp = DhcpCell::On;
        else if (EqualsIgnoreCase(value, "false"))
            dhcp = DhcpCell::Off;
        else
            return false;
        return true;
    case Column::Magic:
        problem = "The magic value is not a packet magic such as TELQ or 0x54454C51.";
        if (value.empty()) return true;
        if (!ParseMagicCell(value, row.magics[0])) return false;
        row.magicCount = 1;
        return true;
    case Column::Unused:
        return true;
    }
    return false;
}

// The dhcp cell over the ip cell: "true" asks for DHCP (the address beside it
// is only what the device reported), "false" for the static address.
bool TakeDhcpCell(DhcpCell dhcp, int32_t command, PlanRow& row, const char*& problem) {
    if (command != CommandSet || dhcp == DhcpCell::Absent) return true;
    if (dhcp == DhcpCell::Off && row.useDhcp) {
        problem = "The ip value \"dhcp\" and the dhcp value \"false\" contradict each other.";
        return false;
    }
    if (dhcp == DhcpCell::On) {
        row.useDhcp = 1;
        row.ip = 0;
    }
    return true;
}

// Two rows of one device that ask for the same settings.
bool AskTheSame(const PlanRow& a, const PlanRow& b) {
    if (a.useDhcp != b.useDhcp) return false;
    return a.useDhcp || (a.ip == b.ip && a.subnet == b.subnet && a.gateway == b.gateway);
}

// The kept row of a device locates it by the magics of both rows (no
// magic on either: the command line's); false past two magics.
bool JoinMagics(PlanRow& kept, const PlanRow& row) {
    if (kept.magicCount == 0) return true;
    if (row.magicCount == 0) {
        kept.magicCount = 0;
        return true;
    }
    for (uint32_t i = 0; i < kept.magicCount; ++i)
        if (kept.magics[i] == row.magics[0]) return true;
    if (kept.magicCount == 2) return false;
    kept.magics[kept.magicCount++] = row.magics[0];
    return true;
}

std::string At(const std::string& fileName, int line) { return fileName + ":" + std::to_string(line) + ": "; }

// The lines of a plan into rows; false with the first fault in problem.
bool ParseLines(const std::string& fileName, io::LineReader& reader, int32_t command,
                std::vector<PlanRow>& rows, std::string& problem) {
    std::vector<HeaderColumn> columns;
    bool haveHeader = false;
    std::map<std::string, size_t> macRows;  // the row kept for each MAC
    std::map<std::string, int> addressLines;

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
                HeaderColumn column;
                if (!ColumnFor(name, command, column)) {
                    problem = At(fileName, line) + "Unknown column \"" + Trimmed(name) + "\".";
                    return false;
                }
                for (const HeaderColumn& seen : columns)
                    if (seen.name == column.name) {
                        problem = At(fileName, line) + "Column \"" + Trimmed(name) + "\" is named twice.";
                        return false;
                    }
                hasMac = hasMac || column.column == Column::Mac;
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
            // Every cell passes the gate, the unused ones too.
            const size_t maxLength =
                columns[i].column == Column::Unused ? kMaxUnusedCellLength : kMaxCellLength;
            if (AdmitText(CellSubject(columns[i]), fields[i], refusal, maxLength) != TextVerdict::Admitted) {
                problem = At(fileName, line) + refusal;
                return false;
            }
        }
        PlanRow row;
        std::memset(&row, 0, sizeof row);
        row.line = line;
        DhcpCell dhcp = DhcpCell::Absent;
        const char* rejection = "";
        for (size_t i = 0; i < columns.size(); ++i) {
            // A magic's letters are kept as they are, spaces too.
            const std::string value = columns[i].column == Column::Magic ? fields[i] : Trimmed(fields[i]);
            if (!TakeValue(columns[i].column, value, command, row, dhcp, rejection)) {
                problem = At(fileName, line) + rejection;
                return false;
            }
        }
        if (!TakeDhcpCell(dhcp, command, row, rejection)) {
            problem = At(fileName, line) + rejection;
            return false;
        }
        // A device that answered both magics stands in a discovery file twice.
        const std::string mac = FormatMac(row.mac);
        const auto macSeen = macRows.emplace(mac, rows.size());
        if (!macSeen.second) {
            PlanRow& kept = rows[macSeen.first->second];
            if (!AskTheSame(kept, row)) {
                problem = At(fileName, line) + "MAC " + mac + " is planned twice (line " +
                          std::to_string(kept.line) + ").";
                return false;
            }
            if (!JoinMagics(kept, row)) {
                problem = At(fileName, line) + "MAC " + mac + " is planned with more than two magics (line " +
                          std::to_string(kept.line) + ").";
                return false;
            }
            continue;
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
