// One CSV row (RFC 4180): fields joined by commas, a field quoted when it
// holds a comma, a quote, a line end or a space at either end, its quotes
// doubled. No line end is added.
#pragma once

#include <string>
#include <vector>

namespace kelvo {

std::string CsvRow(const std::vector<std::string>& fields);

}  // namespace kelvo
