// /discover's devices as one machine-readable document: JSON
// ("kelvoprog-discover/1") or CSV with a header line. Devices stand in the
// order of the table; device texts are kept as received (JSON escapes them).
#pragma once

#include <string>
#include <vector>

#include <quex/quex.h>

#include "platform/net.h"

namespace kelvo {

// interfaces: the host's, for the name of the interface that received each answer.
std::string DiscoverJson(const std::vector<QuexDeviceInfo>& devices,
                         const std::vector<platform::LocalInterface>& interfaces);
std::string DiscoverCsv(const std::vector<QuexDeviceInfo>& devices,
                        const std::vector<platform::LocalInterface>& interfaces);

}  // namespace kelvo
