// One CSV row (RFC 4180): fields joined by commas, a field quoted when it
// holds a comma, a quote, a line end or a space at either end, its quotes
// doubled. No line end is added. And a device's text made fit for a cell.
#pragma once

#include <string>
#include <vector>

namespace kelvo {

std::string CsvRow(const std::vector<std::string>& fields);

// text with each invalid UTF-8 sequence replaced by U+FFFD, exactly as the
// JSON documents replace it, so that both formats carry the same text.
std::string ValidUtf8(const std::string& text);
// A device's text (a model, a message) as a CSV cell: ValidUtf8, and a
// leading "'" when it begins with "=", "+", "-", "@", a TAB or a CR, which a
// spreadsheet would take for a formula. Never for numbers, addresses or MACs.
std::string CsvTextCell(const std::string& deviceText);

}  // namespace kelvo
