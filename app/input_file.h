// Input files as the front end takes them: a plan's bytes, and the firmware
// of an /upload plan checked before anything starts. Each is opened the one
// safe way (platform/file.h: without blocking, a regular file only, a plan
// of bounded size); a refusal is one line "ERROR: FILE: cannot be read: REASON".
#pragma once

#include <cstdint>
#include <string>

namespace kelvo {

// The largest plan file: 65,536 rows of 1,024 bytes. A discovery file fed
// back as a plan has rows of 200 to 300 bytes with usual device texts; a
// row of the plan's own columns is under 100.
constexpr uint64_t kMaxPlanBytes = 64 * 1024 * 1024;

// The bytes of the plan file at path; false after printing the refusal.
bool ReadPlanBytes(const char* path, std::string& bytes);
// True when the firmware file at path opens as a regular file (nothing is
// read); false after printing the refusal.
bool CheckFirmwareFile(const char* path);

}  // namespace kelvo
