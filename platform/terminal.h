// Whether a stream is a terminal (live displays are drawn only there).
#pragma once

namespace platform {

bool StandardErrorIsTerminal();

}  // namespace platform
