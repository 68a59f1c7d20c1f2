// The result log file on POSIX: no share modes here, every process may open
// the file as the permissions allow. Input files opened without blocking.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
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

FileHandle InputFileOpen(const char* path, uint64_t& size, InputFileError& error) {
    error = InputFileError();
    int fd;
    do {
        // O_NONBLOCK: a FIFO without a writer would otherwise hold the open forever.
        fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error.fault = InputFileFault::CannotOpen;
        error.code = static_cast<uint32_t>(errno);
        error.reason = std::strerror(errno);
        return kInvalidFile;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        error.fault = InputFileFault::CannotOpen;
        error.code = static_cast<uint32_t>(errno);
        error.reason = std::strerror(errno);
        ::close(fd);
        return kInvalidFile;
    }
    if (!S_ISREG(info.st_mode)) {
        error.fault = InputFileFault::NotRegularFile;
        ::close(fd);
        return kInvalidFile;
    }
    size = static_cast<uint64_t>(info.st_size);
    return fd;
}

void InputFileClose(FileHandle file) {
    if (file != kInvalidFile) ::close(file);
}

bool ReadInputFile(const char* path, uint64_t maxBytes, std::string& contents, InputFileError& error) {
    contents.clear();
    uint64_t size = 0;
    const int fd = InputFileOpen(path, size, error);
    if (fd == kInvalidFile) return false;
    if (size > maxBytes) {
        error.fault = InputFileFault::TooLarge;
        ::close(fd);
        return false;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error.fault = InputFileFault::CannotRead;
            error.code = static_cast<uint32_t>(errno);
            error.reason = std::strerror(errno);
            break;
        }
        if (got == 0) break;
        if (contents.size() + static_cast<uint64_t>(got) > maxBytes) {
            error.fault = InputFileFault::TooLarge;  // it grew, or told no size (/proc)
            break;
        }
        contents.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    if (error.fault == InputFileFault::None) return true;
    contents.clear();
    return false;
}

}  // namespace platform
