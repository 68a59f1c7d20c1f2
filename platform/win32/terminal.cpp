// The console streams on Windows. A console answers GetConsoleMode; a live
// line is erased through the console's own functions, which every console
// takes (one that does not process escape sequences would print them).
#include "platform/terminal.h"

#include <windows.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>

namespace platform {

bool StandardErrorIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void EraseTerminalLine() {
    const HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(console, &info)) return;
    const COORD start = {0, info.dwCursorPosition.Y};
    const DWORD width = static_cast<DWORD>(info.dwSize.X > 0 ? info.dwSize.X : 0);
    DWORD done = 0;
    FillConsoleOutputCharacterA(console, ' ', width, start, &done);
    FillConsoleOutputAttribute(console, info.wAttributes, width, start, &done);
    SetConsoleCursorPosition(console, start);
}

void StandardOutputAsBytes() {
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
}

}  // namespace platform
