// The result log "kelvoprog.log" in the working directory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/file.h"

namespace kelvo {

using LogFile = platform::FileHandle;
constexpr LogFile kInvalidLog = platform::kInvalidFile;

LogFile CreateLogFile();
bool WriteLogData(LogFile log, const void* data, size_t length);
bool WriteLogEntry(LogFile log, int status, const uint8_t mac[6]);
// The marker that stands before a failed device's entry, on the same line.
bool WriteLogMarker(LogFile log);
void CloseLogFile(LogFile log);

}  // namespace kelvo
