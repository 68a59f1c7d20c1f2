// The /upload command's FTP transfer.
#pragma once

#include "app/command_line.h"
#include "app/run_messages.h"

namespace kelvo {

// kStatusOk when the file was stored on the device, kStatusUploadFailed on any
// failure (reported).
int UploadFirmware(const CommandLine& cmd, RunMessages& messages);

}  // namespace kelvo
