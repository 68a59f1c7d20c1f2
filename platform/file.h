// The result log file: opened for writing, shared for reading and writing,
// created when missing and truncated, written with one system call per write.
// And input files (a plan, a firmware image), opened one way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

#ifdef _WIN32
using FileHandle = intptr_t;
#else
using FileHandle = int;
#endif
constexpr FileHandle kInvalidFile = -1;

FileHandle LogFileOpen(const char* path);  // kInvalidFile on failure
// One write at the current position; the number of bytes written, -1 on failure.
long LogFileWrite(FileHandle file, const void* data, size_t length);
void LogFileClose(FileHandle file);  // kInvalidFile is ignored

// An input file is opened without blocking (a FIFO, a pipe or a device
// never holds the open or a read) and taken only when it is a regular file.
enum class InputFileFault {
    None,
    CannotOpen,      // the system refused the open: code and reason say why
    NotRegularFile,  // a FIFO, a pipe, a device, a directory
    TooLarge,        // more bytes than the reader allows
    CannotRead,      // a read failed: code and reason say why
};

struct InputFileError {
    InputFileFault fault = InputFileFault::None;
    uint32_t code = 0;   // the system's error code (errno, GetLastError()) where it gave one
    std::string reason;  // the system's text for it
};

// Opens path for reading; kInvalidFile with the error when it cannot be
// opened or is no regular file. size is its size at the open. On Windows
// the handle is opened for overlapped reads.
FileHandle InputFileOpen(const char* path, uint64_t& size, InputFileError& error);
void InputFileClose(FileHandle file);  // kInvalidFile is ignored
// The whole of the regular file path into contents; false with the error
// when it cannot be opened, is no regular file, holds more than maxBytes
// (checked before anything is read and again while reading, for a file that
// grows or tells no size) or a read fails.
bool ReadInputFile(const char* path, uint64_t maxBytes, std::string& contents, InputFileError& error);

}  // namespace platform
