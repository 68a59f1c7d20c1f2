// Windows error codes as text: one rule for every caller of the backend.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The system's text for a Windows error code, without its line end. WinINet's
// codes (12000-12999) are looked up in wininet.dll, where their texts live,
// then in the system's table; every other code in the system's table. Empty
// when neither has a text (an FTP failure line then ends after its code).
std::string SystemErrorText(uint32_t code);
// SystemErrorText, or "system error N" where a reason must be given.
std::string SystemErrorReason(uint32_t code);

}  // namespace platform
