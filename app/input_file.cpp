// Input files of the front end, and the one line that refuses them.
#include "app/input_file.h"

#include "app/console.h"
#include "platform/file.h"

namespace kelvo {

namespace {

bool Refuse(const char* path, const platform::InputFileError& error) {
    std::string reason = error.reason;
    if (error.fault == platform::InputFileFault::NotRegularFile)
        reason = "Not a regular file";
    else if (error.fault == platform::InputFileFault::TooLarge)
        reason = "Larger than " + std::to_string(kMaxPlanBytes >> 20) + " MiB (" + std::to_string(kMaxPlanBytes) +
                 " bytes), the most a plan may hold";
    ErrFormat("ERROR: %s: cannot be read: %s\n", ConsoleSafe(path).c_str(), ConsoleSafe(reason).c_str());
    return false;
}

}  // namespace

bool ReadPlanBytes(const char* path, std::string& bytes) {
    platform::InputFileError error;
    return platform::ReadInputFile(path, kMaxPlanBytes, bytes, error) || Refuse(path, error);
}

bool CheckFirmwareFile(const char* path) {
    uint64_t size = 0;
    platform::InputFileError error;
    const platform::FileHandle file = platform::InputFileOpen(path, size, error);
    if (file == platform::kInvalidFile) return Refuse(path, error);
    platform::InputFileClose(file);
    return true;
}

}  // namespace kelvo
