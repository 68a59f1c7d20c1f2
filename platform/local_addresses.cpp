#include "platform/local_addresses.h"

#include <algorithm>

namespace platform {

void AddLocalAddress(std::vector<uint32_t>* addresses, uint32_t address) {
    if (address == 0) return;
    if (std::find(addresses->begin(), addresses->end(), address) != addresses->end()) return;
    addresses->push_back(address);
}

}  // namespace platform
