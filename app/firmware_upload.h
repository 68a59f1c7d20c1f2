// The /upload command's FTP transfer.
#pragma once

#include "app/command_line.h"

namespace kelvo {

// 0 when the file was stored on the device, 9 on any failure (reported).
int UploadFirmware(const CommandLine& cmd);

}  // namespace kelvo
