// The name a firmware file is stored under on the device, the same on every
// system.
#include <string>

#include "platform/ftp.h"

namespace platform {

std::string RemoteFileName(const char* path) {
    if (path == nullptr) return std::string();
    const std::string whole(path);
    const size_t separator = whole.find_last_of("/\\");
    return separator == std::string::npos ? whole : whole.substr(separator + 1);
}

}  // namespace platform
