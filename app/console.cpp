// Console output: every write is flushed at once and standard output is
// flushed before standard error is written, so both streams keep program
// order on one console or one pipe.
#include "app/console.h"

#include <quex/quex.h>

#include <cstdio>

#include "platform/terminal.h"

namespace kelvo {

namespace {

// Where the texts meant for standard output go: standard error once a
// machine-readable document has claimed standard output.
std::FILE* g_texts = nullptr;

std::FILE* Texts() { return g_texts != nullptr ? g_texts : stdout; }

void ToError(const char* text) {
    std::fflush(stdout);
    std::fputs(text, stderr);
    std::fflush(stderr);
}

}  // namespace

void ReserveStandardOutput() {
    g_texts = stderr;
    platform::StandardOutputAsBytes();
}

void Document(const std::string& text) {
    std::fflush(stderr);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void Out(const char* text) {
    std::fputs(text, Texts());
    std::fflush(Texts());  // progress texts without a line end show at once too
}

void OutLine(const char* text) {
    std::fputs(text, Texts());
    std::fputc('\n', Texts());
    std::fflush(Texts());
}

void OutFormat(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(Texts(), format, args);
    va_end(args);
    std::fflush(Texts());
}

void Err(const char* text) { ToError(text); }

void ErrLine(const char* text) {
    std::fflush(stdout);
    std::fputs(text, stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

void ErrFormat(const char* format, ...) {
    std::fflush(stdout);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fflush(stderr);
}

void LiveLine(const std::string& text) {
    std::fflush(stdout);
    std::fflush(stderr);
    platform::EraseTerminalLine();
    ToError(text.c_str());
}

std::string ConsoleSafe(const std::string& deviceText) {
    std::string safe(deviceText);
    for (char& c : safe) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) c = '?';
    }
    return safe;
}

void PrintBanner() {
    OutLine("");
    OutLine("Kelvo Programmer");
    OutFormat("Version %d.%d.%d.0\n", QUEX_VERSION_MAJOR, QUEX_VERSION_MINOR, QUEX_VERSION_PATCH);
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
