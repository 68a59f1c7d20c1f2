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

void PrintBanner();
void PrintUsage();

}  // namespace kelvo
