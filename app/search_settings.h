// The settings of a search that /discover's table and the location of a
// target device share: its times, its progress line and the magics it is
// run for.
#pragma once

#include <cstdint>

#include "app/command_line.h"

namespace kelvo {

// A search ends this long after the last answer, and never lasts longer than the maximum.
constexpr uint32_t kSearchQuietMs = 3000;
constexpr uint32_t kSearchMaxMs = 10000;

constexpr char kSearchingText[] = "Searching for devices. Please wait...";

// The magics of the command line that are used: at most the two it holds.
inline uint32_t UsedMagics(const CommandLine& cmd) { return cmd.magicCount < 2 ? cmd.magicCount : 2; }

}  // namespace kelvo
