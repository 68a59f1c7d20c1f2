// The result log file on Windows: shared for reading and writing with other
// processes, created when missing and truncated when present. Input files
// opened for overlapped reads, so that no pipe holds the open or a read.
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

FileHandle InputFileOpen(const char* path, uint64_t& size, InputFileError& error) {
    error = InputFileError();
    // FILE_FLAG_OVERLAPPED: opening a pipe never waits.
    const HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error.fault = InputFileFault::CannotOpen;
        error.code = GetLastError();
        error.reason = SystemErrorReason(error.code);
        return kInvalidFile;
    }
    LARGE_INTEGER bytes{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &bytes)) {
        // A pipe, a console, a device such as NUL: nothing a reader may wait on.
        error.fault = InputFileFault::NotRegularFile;
        CloseHandle(file);
        return kInvalidFile;
    }
    size = static_cast<uint64_t>(bytes.QuadPart);
    return reinterpret_cast<FileHandle>(file);
}

void InputFileClose(FileHandle file) {
    if (file != kInvalidFile) CloseHandle(reinterpret_cast<HANDLE>(file));
}

bool ReadInputFile(const char* path, uint64_t maxBytes, std::string& contents, InputFileError& error) {
    contents.clear();
    uint64_t size = 0;
    const FileHandle opened = InputFileOpen(path, size, error);
    if (opened == kInvalidFile) return false;
    const HANDLE file = reinterpret_cast<HANDLE>(opened);
    if (size > maxBytes) {
        error.fault = InputFileFault::TooLarge;
        CloseHandle(file);
        return false;
    }
    char buffer[65536];
    for (;;) {
        // Overlapped handle: every read names its offset and is waited for.
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(contents.size());
        at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(contents.size()) >> 32);
        DWORD got = 0;
        bool read = ReadFile(file, buffer, sizeof buffer, nullptr, &at) || GetLastError() == ERROR_IO_PENDING;
        if (read) read = GetOverlappedResult(file, &at, &got, TRUE);
        if (!read && GetLastError() == ERROR_HANDLE_EOF) break;
        if (!read) {
            error.fault = InputFileFault::CannotRead;
            error.code = GetLastError();
            error.reason = SystemErrorReason(error.code);
            break;
        }
        if (got == 0) break;
        if (contents.size() + got > maxBytes) {
            error.fault = InputFileFault::TooLarge;  // it grew since the open
            break;
        }
        contents.append(buffer, got);
    }
    CloseHandle(file);
    if (error.fault == InputFileFault::None) return true;
    contents.clear();
    return false;
}

}  // namespace platform
