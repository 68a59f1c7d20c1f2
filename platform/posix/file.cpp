// The result log file on POSIX: no share modes here, every process may open
// the file as the permissions allow.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "platform/file.h"

namespace platform {

FileHandle LogFileOpen(const char* path) {
    if (path == nullptr) return kInvalidFile;
    int fd;
    do {
        fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? kInvalidFile : fd;
}

long LogFileWrite(FileHandle file, const void* data, size_t length) {
    if (file == kInvalidFile) return -1;
    ssize_t written;
    do {
        written = ::write(file, data, length);
    } while (written < 0 && errno == EINTR);
    return static_cast<long>(written);
}

void LogFileClose(FileHandle file) {
    if (file != kInvalidFile) ::close(file);
}

bool ReadWholeFile(const char* path, std::string& contents, std::string& reason) {
    contents.clear();
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            reason = std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (got == 0) break;
        contents.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    return true;
}

}  // namespace platform
