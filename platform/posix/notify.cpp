// POSIX notification targets: the "window" is a socket descriptor that
// receives NotifyWindowMessage records, the event is an eventfd. The library
// works on duplicates so that a descriptor number the caller closes (and the
// system hands out again) is never written to.
#include "platform/notify.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace platform {
namespace {

int Duplicate(int fd) {
    if (fd < 0) return -1;
    return fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

void CloseDescriptor(int fd) {
    if (fd >= 0) close(fd);
}

}  // namespace

bool WindowExists(NotifyWindow window) {
    if (window < 0) return false;
    int type = 0;
    socklen_t length = sizeof type;
    return getsockopt(window, SOL_SOCKET, SO_TYPE, &type, &length) == 0;
}

NotifyWindow WindowRetain(NotifyWindow window) {
    if (!WindowExists(window)) return kNoWindow;
    const int copy = Duplicate(window);
    return copy < 0 ? kNoWindow : copy;
}

void WindowRelease(NotifyWindow window) { CloseDescriptor(window); }

bool WindowPost(NotifyWindow window, uint32_t message, uint64_t wParam, uint64_t lParam) {
    if (window < 0) return false;
    PostedMessage record{};
    record.message = message;
    record.wParam = wParam;
    record.lParam = lParam;
    for (;;) {
        // Never blocks and never raises SIGPIPE: a reader that is gone
        // (EPIPE, ECONNREFUSED, ENOTCONN) or a full queue (EAGAIN) skips it.
        const ssize_t sent = send(window, &record, sizeof record, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent == static_cast<ssize_t>(sizeof record)) return true;
        if (sent < 0 && errno == EINTR) continue;
        return false;
    }
}

bool EventGiven(NotifyEvent event) {
    if (event < 0) return false;
    const std::string link = "/proc/self/fd/" + std::to_string(event);
    char target[64];
    const ssize_t length = readlink(link.c_str(), target, sizeof target);
    if (length >= 0) return std::string(target, static_cast<size_t>(length)) == "anon_inode:[eventfd]";
    // No /proc: at least an anonymous inode (no file type), never a file, pipe or socket.
    struct stat info {};
    return fstat(event, &info) == 0 && (info.st_mode & S_IFMT) == 0;
}

NotifyEvent EventRetain(NotifyEvent event) {
    const int copy = Duplicate(event);
    return copy < 0 ? kNoEvent : copy;
}

void EventRelease(NotifyEvent event) { CloseDescriptor(event); }

bool EventSignal(NotifyEvent event) {
    if (event < 0) return false;
    const uint64_t one = 1;
    for (;;) {
        const ssize_t written = write(event, &one, sizeof one);
        if (written == static_cast<ssize_t>(sizeof one)) return true;
        if (written < 0 && errno == EINTR) continue;
        return false;
    }
}

}  // namespace platform
