// /discover's devices as one machine-readable document: JSON
// ("kelvoprog-discover/1") or CSV with a header line. It is made piece by
// piece as the devices are taken from the search results, each piece
// written at once, so memory does not grow with the number of devices; the
// pieces together are the bytes of the whole document. Devices stand in the
// order of the table. Device texts are kept as received, but for invalid
// UTF-8, replaced alike in both formats (as the JSON writer replaces it),
// and for a CSV text cell that a spreadsheet would take for a formula,
// which gets a leading "'".
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <quex/quex.h>

#include "app/command_line.h"
#include "platform/net.h"

namespace kelvo {

struct DiscoverDocument {
    OutputFormat format;  // Json or Csv
    size_t devices;       // pieces of devices made so far
    // The host's, for the name of the interface that received each answer.
    std::vector<platform::LocalInterface> interfaces;
};

DiscoverDocument StartDiscoverDocument(OutputFormat format, std::vector<platform::LocalInterface> interfaces);
// The next piece: one more device (the document's opening comes with the first).
std::string DiscoverDocumentDevice(DiscoverDocument& document, const QuexDeviceInfo& device);
// The last piece: the document's end (and its opening, when no device came).
std::string DiscoverDocumentEnd(const DiscoverDocument& document);

}  // namespace kelvo
