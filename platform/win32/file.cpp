// The result log file on Windows: shared for reading and writing with other
// processes, created when missing and truncated when present.
#include <winsock2.h>
#include <windows.h>

#include "platform/file.h"
#include "platform/win32/system_error.h"

namespace platform {

FileHandle LogFileOpen(const char* path) {
    if (path == nullptr) return kInvalidFile;
    const HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return kInvalidFile;
    // Opened at its first byte; cutting it there leaves exactly this run's
    // bytes, never the tail of an earlier, longer run.
    if (!SetEndOfFile(file)) {
        CloseHandle(file);
        return kInvalidFile;
    }
    return reinterpret_cast<FileHandle>(file);
}

long LogFileWrite(FileHandle file, const void* data, size_t length) {
    if (file == kInvalidFile || (data == nullptr && length > 0)) return -1;
    if (length > 0x7FFFFFFFu) return -1;  // one call writes at most a DWORD's worth; never cut silently
    DWORD written = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(file), data, static_cast<DWORD>(length), &written, nullptr))
        return -1;
    return static_cast<long>(written);
}

void LogFileClose(FileHandle file) {
    if (file != kInvalidFile) CloseHandle(reinterpret_cast<HANDLE>(file));
}

bool ReadWholeFile(const char* path, std::string& contents, std::string& reason) {
    contents.clear();
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        reason = SystemErrorReason(GetLastError());
        return false;
    }
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
            reason = SystemErrorReason(GetLastError());
            CloseHandle(file);
            return false;
        }
        if (got == 0) break;
        contents.append(buffer, got);
    }
    CloseHandle(file);
    return true;
}

}  // namespace platform
