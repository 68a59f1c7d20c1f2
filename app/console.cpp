// Console output: every write is flushed at once and standard output is
// flushed before standard error is written, so both streams keep program
// order on one console or one pipe.
#include "app/console.h"

#include <cstdio>
#include <cstring>

#include "platform/terminal.h"

namespace kelvo {

namespace {

// Where the texts meant for standard output go: standard error once a
// machine-readable document has claimed standard output.
std::FILE* g_texts = nullptr;
std::string* g_capture = nullptr;

std::FILE* Texts() { return g_texts != nullptr ? g_texts : stdout; }

// Every write of the console: flushed at once, and standard output flushed
// before standard error is written.
void Write(std::FILE* stream, const char* data, size_t length) {
    if (g_capture != nullptr) {
        g_capture->append(data, length);
        return;
    }
    if (stream == stderr) std::fflush(stdout);
    if (stream == stdout) std::fflush(stderr);
    std::fwrite(data, 1, length, stream);
    std::fflush(stream);
}

void Write(std::FILE* stream, const std::string& text) { Write(stream, text.data(), text.size()); }

std::string Formatted(const char* format, va_list args) {
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, again);
    va_end(again);
    if (length <= 0) return std::string();
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(&text[0], text.size(), format, args);
    text.resize(static_cast<size_t>(length));
    return text;
}

}  // namespace

void CaptureConsole(std::string* capture) { g_capture = capture; }

void ReserveStandardOutput() {
    g_texts = stderr;
    platform::StandardOutputAsBytes();
}

void Document(const std::string& text) { Write(stdout, text); }

void Out(const char* text) { Write(Texts(), text, std::strlen(text)); }

void OutLine(const char* text) { Write(Texts(), std::string(text) + "\n"); }

void OutFormat(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = Formatted(format, args);
    va_end(args);
    Write(Texts(), text);
}

void Err(const char* text) { Write(stderr, text, std::strlen(text)); }

void ErrLine(const char* text) { Write(stderr, std::string(text) + "\n"); }

void ErrFormat(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = Formatted(format, args);
    va_end(args);
    Write(stderr, text);
}

void LiveLine(const std::string& text) {
    if (g_capture != nullptr) return;  // a terminal's display, never captured
    std::fflush(stdout);
    std::fflush(stderr);
    platform::EraseTerminalLine();
    Write(stderr, text);
}

std::string ConsoleSafe(const std::string& outsideText) {
    std::string safe;
    safe.reserve(outsideText.size());
    for (size_t i = 0; i < outsideText.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(outsideText[i]);
        if (byte < 0x20 || byte == 0x7F) {
            safe += '?';
        } else if (byte == 0xC2 && i + 1 < outsideText.size() &&
                   static_cast<unsigned char>(outsideText[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(outsideText[i + 1]) <= 0x9F) {
            safe += '?';  // U+0080 to U+009F
            ++i;
        } else {
            safe += outsideText[i];
        }
    }
    return safe;
}

void PrintBanner() {
    OutLine("");
    OutLine("Kelvo Programmer");
    // The program's own version text: it stays as it is when the library's version moves.
    OutLine("Version 1.3.13.0");
    OutLine("Copyright (C) Kelvo. All rights reserved.");
}

void PrintUsage() {
    static const char* const kUsage[] = {
        "Usage:",
        "    kelvoprog [Option][Parameters]",
        "",
        "Options:",
        "    /?, /help   Display usage information.",
        "    /discover   Discover devices on the network.",
        "    /set        Set device parameters.",
        "    /upload     Upload firmware image to device.",
        "",
        "Parameters:",
        "    /mac        MAC address of the target device.",
        "                    Example: /mac=auto (target is the first device found)",
        "                             /mac=02C0DE123456 (target is individual device)",
        "    /username   Username to login to the device (default: root).",
        "                    Example: /username=admin",
        "    /password   Password to login to the device (default: Brackwater).",
        "                    Example: /password=Brackwater",
        "    /ip         Used with either /firmware or /set command:",
        "                   with /firmware: IP address of the target device.",
        "                   with /set:      new ip address for the target device.",
        "                    Example: /ip=192.168.1.2 (specific ip address)",
        "                             /ip=dhcp (obtain ip address using DHCP) ",
        "                                NOTE: dhcp is valid only with /set command",
        "    /subnet     Used only with /set command: new subnet mask to set for device",
        "                    Example: /subnet=255.255.255.0",
        "    /gateway    Used only with /set command: new gateway to set for device",
        "                    Example: /gateway=192.168.1.1",
        "    /firmware   File name of firmware to flash the device with.",
        "                    Example: /firmware=c:\\myfirmware.bin",
        "",
        "Examples:",
        "    kelvoprog /discover",
        "    kelvoprog /set /mac=02c0de254074 /ip=192.168.1.1 /subnet=255.255.255.0",
        "         Assigns a static IP address to the device.",
        "    kelvoprog /upload /firmware=C:\\myfirmware.bin /ip=192.168.1.2",
        "        (default used for /username and /password)",
        "    kelvoprog /upload /firmware=C:\\myfirmware.bin /mac=auto",
        "        (first device discovered will get firmware uploaded)",
    };
    static_assert(sizeof kUsage / sizeof kUsage[0] == 38, "the usage text has 38 lines");
    // What came after those 38 lines, kept apart so that they stand unchanged.
    static const char* const kMoreUsage[] = {
        "",
        "Output and credentials:",
        "    /format     Output format: table (default), json or csv. With json or",
        "                csv, standard output holds only the result.",
        "                    Example: /format=json",
        "    KELVOPROG_USERNAME, KELVOPROG_PASSWORD",
        "                Environment variables used when /username or /password",
        "                is not given on the command line.",
        "",
        "Many devices (with /set or /upload):",
        "    /plan       CSV file with a header row and one device per row: column",
        "                mac, and ip, subnet, gateway (ip only, with /upload).",
        "                    Example: /plan=line3.csv",
        "    /parallel   Devices of a plan worked on at once, 1 to 64 (default: 8).",
        "                    Example: /parallel=16",
        "",
        "Network:",
        "    /interface  Local IPv4 interfaces to work through, by name or address,",
        "                comma-separated (default: every interface). The variable",
        "                KELVOPROG_INTERFACE is used when /interface is not given.",
        "                    Example: /interface=eth1",
        "                             /interface=10.77.0.1,10.78.0.1",
        "",
        "Waiting after a reboot (with /set):",
        "    /wait       ready: go on as soon as the device answers with the asked",
        "                settings (at most 120 s); or a number of seconds, 1 to 600",
        "                (default: 40). KELVOPROG_WAIT is used when it is not given.",
        "                    Example: /wait=ready",
    };
    PrintBanner();
    OutLine("");
    for (const char* line : kUsage) OutLine(line);
    for (const char* line : kMoreUsage) OutLine(line);
}

}  // namespace kelvo
