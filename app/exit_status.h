// The process exit statuses: what one run of the tool comes to. Scripts
// across whole plants read them, so the values never change.
#pragma once

namespace kelvo {

enum ExitStatus : int {
    kStatusOk = 0,
    kStatusRejected = -1,       // start-up failed, command line rejected, or usage shown
    kStatusNotFound = 2,        // the target device was not found
    kStatusNoAddress = 3,       // the device has no IP address ...
    kStatusSettingsFailed = 3,  // ... or applying static network settings failed
    kStatusQueryFailed = 4,     // a device information query failed
    kStatusLogFailed = 5,       // the log file cannot be created or written
    kStatusUploadFailed = 9,    // the firmware upload failed
    kStatusDhcpFailed = 11,     // switching the device to DHCP failed
    kStatusInterrupted = 130,   // a plan stopped by Ctrl-C (or SIGTERM) before every device was done
};

}  // namespace kelvo
