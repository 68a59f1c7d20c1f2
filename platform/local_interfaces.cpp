#include "platform/local_interfaces.h"

#include <algorithm>
#include <utility>

namespace platform {

void AddLocalInterface(std::vector<LocalInterface>* interfaces, uint32_t address, std::string name) {
    if (address == 0) return;
    const auto listed = [address](const LocalInterface& entry) { return entry.address == address; };
    if (std::any_of(interfaces->begin(), interfaces->end(), listed)) return;
    if (name.size() > kMaxInterfaceName) {
        size_t cut = kMaxInterfaceName;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;  // not inside a character
        name.resize(cut);
    }
    interfaces->push_back(LocalInterface{address, std::move(name)});
}

}  // namespace platform
