// CSV rows for the machine-readable output.
#include "app/csv_row.h"

namespace kelvo {

namespace {

bool NeedsQuotes(const std::string& field) {
    if (field.find_first_of(",\"\r\n") != std::string::npos) return true;
    return !field.empty() && (field.front() == ' ' || field.back() == ' ');
}

}  // namespace

std::string CsvRow(const std::vector<std::string>& fields) {
    std::string row;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) row += ',';
        const std::string& field = fields[i];
        if (!NeedsQuotes(field)) {
            row += field;
            continue;
        }
        row += '"';
        for (char c : field) {
            if (c == '"') row += '"';
            row += c;
        }
        row += '"';
    }
    return row;
}

}  // namespace kelvo
