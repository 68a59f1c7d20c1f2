// The console streams: whether standard error is a terminal (live displays
// are drawn only there), erasing a live line there, and standard output as
// plain bytes for a machine-readable document.
#pragma once

namespace platform {

bool StandardErrorIsTerminal();
// Clears the line the cursor is on in standard error's terminal and puts the
// cursor at its start; flush standard error first. Nothing when it is not a
// terminal.
void EraseTerminalLine();
// From now on standard output passes bytes as they are written (Windows
// would turn each LF into CRLF): a document is the same on every system.
void StandardOutputAsBytes();

}  // namespace platform
