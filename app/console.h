// Console conventions: every completed line is flushed at once; standard
// output is flushed before anything is written to standard error.
#pragma once

#include <cstdarg>
#include <string>

namespace kelvo {

// From now on the texts meant for standard output (banner, progress, tables)
// go to standard error: standard output carries one machine-readable document.
void ReserveStandardOutput();
// The machine-readable document (or a part of it), to standard output.
void Document(const std::string& text);

void Out(const char* text);      // standard output, no line end
void OutLine(const char* text);  // standard output, line end
void OutFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Err(const char* text);      // standard error, no line end
void ErrLine(const char* text);  // standard error, line end
void ErrFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A live line on a terminal's standard error (a countdown, a plan's progress):
// each call draws text over the one before; "" erases it.
void LiveLine(const std::string& text);

void PrintBanner();
void PrintUsage();

// Device text made safe for a terminal: every byte below 0x20 and the byte
// 0x7F becomes "?", so a device cannot move the cursor, retitle the window or
// forge lines; nothing else changes (no padding, no cut). For the console
// only: other outputs (JSON, CSV) escape the text their own way.
std::string ConsoleSafe(const std::string& deviceText);

}  // namespace kelvo
