// /discover's devices as one machine-readable document: JSON
// ("kelvoprog-discover/1") or CSV with a header line. Devices stand in the
// order of the table; device texts are kept as received (JSON escapes them).
#pragma once

#include <string>
#include <vector>

#include <quex/quex.h>

namespace kelvo {

std::string DiscoverJson(const std::vector<QuexDeviceInfo>& devices);
std::string DiscoverCsv(const std::vector<QuexDeviceInfo>& devices);

}  // namespace kelvo
