// Plan files through libcsv: each line that is not empty or a comment is
// handed to the parser as one record, so every fault names its line.
#include "app/plan_file.h"

#include <csv.h>

#include <cstring>
#include <map>

#include "app/console.h"
#include "platform/file.h"
#include "platform/ipv4_text.h"

namespace kelvo {

namespace {

const char kByteOrderMark[] = "\xEF\xBB\xBF";

enum class Column { Mac, Ip, Subnet, Gateway };

std::string Lowered(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// One record's fields as libcsv completes them.
struct Record {
    std::vector<std::string> fields;
};

void OnField(void* data, size_t length, void* record) {
    Record* target = static_cast<Record*>(record);
    if (data == nullptr)
        target->fields.emplace_back();
    else
        target->fields.emplace_back(static_cast<const char*>(data), length);
}

void OnRecordEnd(int, void*) {}

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

class Parser {
public:
    Parser() { ready_ = csv_init(&parser_, CSV_STRICT | CSV_STRICT_FINI) == 0; }
    ~Parser() { csv_free(&parser_); }
    Parser(const Parser&) = delete;
    Parser& operator=(const Parser&) = delete;

    // One line as one record; false with libcsv's reason.
    bool Record(const std::string& line, Record& record, std::string& reason) {
        record.fields.clear();
        if (!ready_) {
            reason = "the CSV parser cannot be started";
            return false;
        }
        if (csv_parse(&parser_, line.data(), line.size(), OnField, OnRecordEnd, &record) != line.size() ||
            csv_fini(&parser_, OnField, OnRecordEnd, &record) != 0) {
            reason = csv_strerror(csv_error(&parser_));
            csv_fini(&parser_, nullptr, nullptr, nullptr);  // ready for the next line
            return false;
        }
        return true;
    }

private:
    csv_parser parser_{};
    bool ready_ = false;
};

std::string At(const std::string& fileName, int line) { return fileName + ":" + std::to_string(line) + ": "; }

}  // namespace

bool ParsePlanText(const std::string& fileName, const std::string& text, int32_t command,
                   std::vector<PlanRow>& rows, std::string& problem) {
    rows.clear();
    Parser parser;
    Record record;
    std::vector<Column> columns;
    bool haveHeader = false;
    std::map<std::string, int> macLines, addressLines;

    size_t start = text.compare(0, 3, kByteOrderMark) == 0 ? 3 : 0;
    for (int line = 1; start < text.size(); ++line) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string content = text.substr(start, end - start);
        start = end + 1;
        if (!content.empty() && content.back() == '\r') content.pop_back();
        if (Trimmed(content).empty() || content[0] == '#') continue;

        std::string reason;
        if (!parser.Record(content, record, reason)) {
            problem = At(fileName, line) + "Not a CSV line: " + reason + ".";
            return false;
        }
        if (!haveHeader) {
            haveHeader = true;
            bool hasMac = false;
            for (const std::string& name : record.fields) {
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

        if (record.fields.size() != columns.size()) {
            problem = At(fileName, line) + "The row has " + std::to_string(record.fields.size()) +
                      " values; the header names " + std::to_string(columns.size()) + " columns.";
            return false;
        }
        PlanRow row;
        std::memset(&row, 0, sizeof row);
        row.line = line;
        for (size_t i = 0; i < columns.size(); ++i) {
            const char* rejection = "";
            if (!TakeValue(columns[i], Trimmed(record.fields[i]), command, row, rejection)) {
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

bool ReadPlan(const CommandLine& cmd, std::vector<PlanRow>& rows) {
    std::string text, reason, problem;
    if (!platform::ReadWholeFile(cmd.planPath, text, reason)) {
        ErrFormat("ERROR: %s: cannot be read: %s\n", cmd.planPath, reason.c_str());
        return false;
    }
    if (!ParsePlanText(cmd.planPath, text, cmd.command, rows, problem)) {
        ErrFormat("ERROR: %s\n", problem.c_str());
        return false;
    }
    return true;
}

}  // namespace kelvo
