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

// The one way outside text reaches the console: a device's texts, a plan's
// text, file names. Every control character becomes "?": each byte below
// 0x20 (NUL included) and 0x7F, and each C1 control written in UTF-8 (C2 80
// to C2 9F, which some terminals obey as escape sequences), so a device or a
// file cannot move the cursor, retitle the window or forge lines. Nothing
// else changes (no padding, no cut). For the console only: the documents
// (JSON, CSV) escape text their own way.
std::string ConsoleSafe(const std::string& outsideText);

// For tests and fuzz targets: while capture is not null, everything the
// console would write (both streams, in program order) is appended to it
// instead; nullptr writes to the process's streams again.
void CaptureConsole(std::string* capture);

}  // namespace kelvo
