// Helpers for tests of the Windows build, which run under Wine inside a
// private network namespace (scripts/test-windows.sh).
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace kelvotest {

// The file index (inode under Wine) of a file seen through the Z: drive,
// which Wine maps to the Unix root; 0 when it cannot be opened.
inline unsigned long long UnixFileIndex(const char* unixPath) {
    std::string path = std::string("Z:") + unixPath;
    for (char& c : path)
        if (c == '/') c = '\\';
    const HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    BY_HANDLE_FILE_INFORMATION info;
    const BOOL got = GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    if (!got) return 0;
    return (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

// True when this (Wine) process's network namespace is not the one of
// process 1. Fails closed: anything unreadable means "not private".
inline bool InPrivateNetworkNamespace() {
    const unsigned long long mine = UnixFileIndex("/proc/self/ns/net");
    const unsigned long long init = UnixFileIndex("/proc/1/ns/net");
    if (mine != 0 && init != 0) return mine != init;
    const unsigned long long mineDev = UnixFileIndex("/proc/self/net/dev");
    const unsigned long long initDev = UnixFileIndex("/proc/1/net/dev");
    return mineDev != 0 && initDev != 0 && mineDev != initDev;
}

inline std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace kelvotest

#define KELVO_REQUIRE_PRIVATE_NETWORK()                                             \
    do {                                                                            \
        if (!::kelvotest::InPrivateNetworkNamespace())                              \
            GTEST_SKIP() << "not inside a private network namespace: run through "  \
                            "scripts/test-windows.sh; skipped so no packet leaves"; \
    } while (0)
