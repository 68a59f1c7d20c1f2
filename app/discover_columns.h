// The columns of /discover's CSV document, in order: also the columns a plan
// accepts, since a discovery file may be fed back as one.
#pragma once

#include <algorithm>
#include <iterator>
#include <string>

namespace kelvo {

// The fields after "version" stand only where the device's reply held them.
inline constexpr const char* kDiscoverColumns[] = {
    "ip",         "mac",         "model",          "subnet",  "gateway",     "dhcp",
    "magic",      "interface",   "interface_name", "version", "vendor_guid", "aux_text",
    "aux_number", "aux_address", "aux_byte",       "aux_data"};

inline bool IsDiscoverColumn(const std::string& name) {
    return std::find(std::begin(kDiscoverColumns), std::end(kDiscoverColumns), name) !=
           std::end(kDiscoverColumns);
}

}  // namespace kelvo
