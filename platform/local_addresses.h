// Shared by the backends' interface enumeration.
#pragma once

#include <cstdint>
#include <vector>

namespace platform {

// Appends an interface address unless it is 0.0.0.0 or already listed, so the
// first occurrence keeps its place.
void AddLocalAddress(std::vector<uint32_t>* addresses, uint32_t address);

}  // namespace platform
