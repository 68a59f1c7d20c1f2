// The console streams on POSIX: terminals take escape sequences, and
// standard output never changes bytes.
#include "platform/terminal.h"

#include <cerrno>
#include <unistd.h>

namespace platform {

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void EraseTerminalLine() {
    if (!StandardErrorIsTerminal()) return;
    static const char kEraseLine[] = "\r\033[K";  // to the line's start, then erase to its end
    ssize_t written;
    do {
        written = write(STDERR_FILENO, kEraseLine, sizeof kEraseLine - 1);
    } while (written < 0 && errno == EINTR);
}

void StandardOutputAsBytes() {}

}  // namespace platform
