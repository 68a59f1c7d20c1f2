// Start-up of the application framework, once per process before anything
// else runs. Where no framework needs starting, it always succeeds.
#pragma once

namespace platform {

// false when the framework could not be started (the program then ends).
bool StartApplicationFramework();

}  // namespace platform
