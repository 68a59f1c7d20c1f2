// Shared by the backends' interface enumeration.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/net.h"

namespace platform {

// Longest interface name kept, in bytes; a longer one is cut at a character
// boundary (Linux names are 15 bytes at most, Windows adapter names are free text).
constexpr size_t kMaxInterfaceName = 255;

// Appends an interface address with its interface's name (UTF-8) unless the
// address is 0.0.0.0 or already listed, so the first occurrence keeps its place.
void AddLocalInterface(std::vector<LocalInterface>* interfaces, uint32_t address, std::string name);

}  // namespace platform
