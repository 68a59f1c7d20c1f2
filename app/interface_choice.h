// The local interfaces a run works through (/interface, KELVOPROG_INTERFACE):
// the choice itself, the library handles limited to it, and interface names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <quex/quex.h>

#include "app/command_line.h"
#include "platform/net.h"

namespace kelvo {

// What a list of local addresses and interface names came to.
enum class InterfaceChoice {
    Chosen,    // every item names a local IPv4 interface
    NotLocal,  // an item (or an empty one) names none
    TooMany,   // more than kMaxChosenInterfaces addresses
};

// value: local IPv4 addresses or interface names, comma-separated; the whole
// value naming an interface comes first (an adapter's name may hold a comma).
// local: the host's interfaces. A name chooses every address of its interface.
// chosen gets each address once, in the host's order.
InterfaceChoice ChooseInterfaces(const std::string& value, const std::vector<platform::LocalInterface>& local,
                                 std::vector<uint32_t>* chosen);

// A library handle for magic, limited to cmd's interfaces when it names
// some; nullptr when it cannot be opened or limited (never one that would
// use every interface instead).
QuexHandle OpenLibraryHandle(const CommandLine& cmd, uint32_t magic);

// The name of the local interface that holds address; "" when none does.
std::string InterfaceName(const std::vector<platform::LocalInterface>& local, uint32_t address);

}  // namespace kelvo
