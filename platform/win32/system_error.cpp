// Windows error codes as text through FormatMessageA.
#include "platform/win32/system_error.h"

#include <winsock2.h>
#include <windows.h>

namespace platform {

namespace {

constexpr uint32_t kWinInetFirstCode = 12000;
constexpr uint32_t kWinInetLastCode = 12999;

}  // namespace

std::string SystemErrorText(uint32_t code) {
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
    HMODULE source = nullptr;
    if (code >= kWinInetFirstCode && code <= kWinInetLastCode) {
        // Loaded whenever one of its calls can have failed; not loaded here for a text.
        source = GetModuleHandleA("wininet.dll");
        if (source != nullptr) flags |= FORMAT_MESSAGE_FROM_HMODULE;
    }
    char* text = nullptr;
    const DWORD length = FormatMessageA(flags, source, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                        reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string result = length != 0 && text != nullptr ? std::string(text, length) : std::string();
    if (text != nullptr) LocalFree(text);
    // The system's texts end with their own line end; callers add theirs.
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
        result.pop_back();
    return result;
}

std::string SystemErrorReason(uint32_t code) {
    std::string text = SystemErrorText(code);
    return text.empty() ? "system error " + std::to_string(code) : text;
}

}  // namespace platform
