// The result log file: opened for writing, shared for reading and writing,
// created when missing and truncated, written with one system call per write.
// And input files read whole (a plan).
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

// The whole file into contents; false with the system's reason otherwise.
bool ReadWholeFile(const char* path, std::string& contents, std::string& reason);

}  // namespace platform
