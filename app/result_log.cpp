// The result log: the command-line echo, the column header and one entry per
// device command.
#include "app/result_log.h"

#include <cstring>
#include <string>

#include "app/command_line.h"
#include "app/console.h"

namespace kelvo {

namespace {

const char kLogName[] = "kelvoprog.log";
const char kColumnHeader[] = "\n\nMAC\t\t\tSTATUS\n";
const char kFailureMarker[] = "\n\nERROR CONFIGURING DEVICE ";
// The log is readable by others: a password is never echoed, nor its length.
const char kPasswordOption[] = "/password=";
const char kPasswordEcho[] = "/password=********";

}  // namespace

LogFile CreateLogFile() {
    // Truncated on open: the file holds exactly this run's bytes, never the
    // tail of an earlier, longer run.
    LogFile log = platform::LogFileOpen(kLogName);
    if (log == kInvalidLog) {
        ErrLine("ERROR: Failed to create log file.");
        return kInvalidLog;
    }
    // Written whole, however long the command line is.
    std::string echo;
    char** args = ProcessArguments();
    for (int i = 1; i < ProcessArgumentCount(); ++i) {
        const bool password = std::strncmp(args[i], kPasswordOption, sizeof kPasswordOption - 1) == 0;
        echo += password ? kPasswordEcho : args[i];
        echo += ' ';
    }
    if (WriteLogData(log, echo.data(), echo.size()))
        WriteLogData(log, kColumnHeader, sizeof kColumnHeader - 1);
    return log;
}

bool WriteLogData(LogFile log, const void* data, size_t length) {
    const long written = platform::LogFileWrite(log, data, length);
    if (written < 0 || static_cast<size_t>(written) != length) {
        ErrLine("ERROR: Failed to write to log file.");
        return false;
    }
    return true;
}

bool WriteLogEntry(LogFile log, int status, const uint8_t mac[6]) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string entry;
    for (int i = 0; i < 6; ++i) {
        entry += kHex[mac[i] >> 4];
        entry += kHex[mac[i] & 0x0F];
    }
    entry += status == 0 ? "\tOK\n" : "\tERROR\n";
    return WriteLogData(log, entry.data(), entry.size());
}

bool WriteLogMarker(LogFile log) { return WriteLogData(log, kFailureMarker, sizeof kFailureMarker - 1); }

void CloseLogFile(LogFile log) { platform::LogFileClose(log); }

}  // namespace kelvo
