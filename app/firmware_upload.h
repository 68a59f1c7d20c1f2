// The /upload command's FTP transfer.
#pragma once

#include "app/command_line.h"
#include "app/report.h"

namespace kelvo {

// kStatusOk when the file was stored on the device, kStatusUploadFailed on any
// failure (reported).
int UploadFirmware(const CommandLine& cmd, Report& report);

}  // namespace kelvo
