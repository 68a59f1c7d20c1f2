// Nothing needs starting on POSIX systems.
#include "platform/startup.h"

namespace platform {

bool StartApplicationFramework() { return true; }

}  // namespace platform
