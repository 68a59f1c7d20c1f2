// CSV rows for the machine-readable output.
#include "app/csv_row.h"

#include <nlohmann/json.hpp>

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

std::string ValidUtf8(const std::string& text) {
    // The JSON writer's own replacement, read back: the same rule for both formats.
    using Json = nlohmann::json;
    return Json::parse(Json(text).dump(-1, ' ', false, Json::error_handler_t::replace)).get<std::string>();
}

std::string CsvTextCell(const std::string& deviceText) {
    std::string cell = ValidUtf8(deviceText);
    if (!cell.empty() && std::string("=+-@\t\r").find(cell.front()) != std::string::npos)
        cell.insert(0, 1, '\'');
    return cell;
}

}  // namespace kelvo
