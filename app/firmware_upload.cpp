// The /upload command: one binary FTP transfer of the firmware file.
#include "app/firmware_upload.h"

#include <string>

#include "app/exit_status.h"
#include "platform/ftp.h"
#include "platform/ipv4_text.h"

namespace kelvo {

int UploadFirmware(const CommandLine& cmd, RunMessages& messages) {
    int result = kStatusOk;
    const char* failure = "";
    platform::FtpSession ftp;
    if (!ftp.Initialize()) {
        result = kStatusUploadFailed;
        failure = "Failed to initialize FTP session.";
    } else if (!ftp.Connect(platform::FormatIPv4(cmd.ip).c_str(), cmd.username, cmd.password)) {
        result = kStatusUploadFailed;
        failure = "Failed to open FTP session";
    } else {
        const std::string remoteName = platform::RemoteFileName(cmd.firmwarePath);
        if (!ftp.PutFile(cmd.firmwarePath, remoteName.c_str())) {
            result = kStatusUploadFailed;
            failure = "FtpPutFile failed";
        }
    }

    if (result == kStatusOk) {
        messages.Result("SUCCESS: Firmware image uploaded to device.");
    } else {
        // The code goes to standard error, its text to standard output,
        // completing the same console line.
        const uint32_t code = ftp.LastError();
        const std::string text = ftp.ErrorText(code);
        messages.SplitError(std::string(failure) + " with error " + std::to_string(code),
                            text.empty() ? std::string() : ": " + text);
    }
    return result;  // the session closes its handles on the way out
}

}  // namespace kelvo
