// One synchronous search (or a directed query) through the library, measured
// from inside the process: devices found, wall time, CPU time of the whole
// process (the search worker included) and peak memory. Run it inside the
// lab (scripts/lab); bench/discovery_scale drives it.
//
//   search_probe [--quiet MS] [--max MS] [--expect N] [--mac-base MAC]
//                [--repeat K] [--query MAC]
//
// Prints one line of key=value pairs per search (or query); with --expect
// every MAC must be one of mac-base + 0 .. N-1, each once, and the exit
// status is 1 when a device is missing or a foreign one was listed.
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/net.h"
#include "quex/context.h"
#include <quex/quex.h>
#include "quex/sockets.h"

namespace {

const QuexGuid kGuid = {0xD4A17F3B, 0x2E8C, 0x4B61, {0x9F, 0x05, 0x6C, 0x3A, 0x8E, 0x1B, 0x72, 0xD4}};

using Clock = std::chrono::steady_clock;

double CpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

long PeakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

bool ParseMac(const char* text, uint8_t* mac) {
    unsigned b[6];
    if (std::sscanf(text, "%2x:%2x:%2x:%2x:%2x:%2x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) != 6 &&
        std::sscanf(text, "%2x%2x%2x%2x%2x%2x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) != 6)
        return false;
    for (int i = 0; i < 6; ++i) mac[i] = static_cast<uint8_t>(b[i]);
    return true;
}

uint64_t MacNumber(const uint8_t* mac) {
    uint64_t n = 0;
    for (int i = 0; i < 6; ++i) n = (n << 8) | mac[i];
    return n;
}

// The receive buffer of the library's own interface sockets, as the kernel
// reports it (Linux: double the granted request).
int LibraryReceiveBuffer(QuexHandle handle) {
    quex::LocalInterfaces interfaces;
    if (!quex::EnumerateLocalInterfaces(&interfaces, handle)) return 0;
    platform::SocketHandle* sockets = nullptr;
    const int32_t count = quex::OpenAllInterfaceSockets(handle, interfaces, &sockets);
    if (count <= 0) return 0;
    int size = 0;
    socklen_t length = sizeof size;
    if (getsockopt(sockets[0], SOL_SOCKET, SO_RCVBUF, &size, &length) != 0) size = 0;
    quex::CloseInterfaceSockets(sockets, count);
    return size;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: search_probe [--quiet MS] [--max MS] [--expect N] [--mac-base MAC] [--repeat K]\n"
                 "                    [--query MAC]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    uint32_t quietMs = 3000, maxMs = 10000;
    long expect = -1;
    int repeat = 1;
    uint8_t macBase[6] = {0x02, 0xB0, 0, 0, 0, 0};
    uint8_t queryMac[6];
    bool query = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return Usage();
        const char* value = argv[++i];
        if (arg == "--quiet")
            quietMs = static_cast<uint32_t>(std::strtoul(value, nullptr, 10));
        else if (arg == "--max")
            maxMs = static_cast<uint32_t>(std::strtoul(value, nullptr, 10));
        else if (arg == "--expect")
            expect = std::strtol(value, nullptr, 10);
        else if (arg == "--repeat")
            repeat = std::max(1, std::atoi(value));
        else if (arg == "--mac-base") {
            if (!ParseMac(value, macBase)) return Usage();
        } else if (arg == "--query") {
            if (!ParseMac(value, queryMac)) return Usage();
            query = true;
        } else
            return Usage();
    }

    QuexHandle handle = QUEXOpen(QUEX_MAGIC_TELQ, &kGuid);
    if (handle == nullptr) {
        std::fprintf(stderr, "search_probe: QUEXOpen failed\n");
        return 3;
    }
    const int granted = LibraryReceiveBuffer(handle);
    int status = 0;
    std::vector<double> beyond;
    for (int run = 0; run < repeat; ++run) {
        const double cpuBefore = CpuMs();
        const auto start = Clock::now();
        if (query) {
            QuexDeviceInfo info;
            const int32_t result = QUEXGetDeviceInfo(handle, queryMac, &info);
            const double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            std::printf("query_result=%d wall_ms=%.1f cpu_ms=%.1f cpu_cores=%.3f maxrss_kib=%ld\n", result,
                        wallMs, CpuMs() - cpuBefore, (CpuMs() - cpuBefore) / wallMs, PeakKiB());
            continue;
        }
        const int32_t found = QUEXStartSyncSearchEx(handle, quietMs, maxMs);
        const double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        const double cpuMs = CpuMs() - cpuBefore;

        // Take every record, in chunks, and check it against the plant.
        std::vector<QuexDeviceInfo> chunk(512);
        std::vector<bool> seen(expect > 0 ? static_cast<size_t>(expect) : 0, false);
        long taken = 0, foreign = 0, repeated = 0;
        for (;;) {
            const int32_t n = QUEXGetSearchResults(handle, chunk.data(), static_cast<uint32_t>(chunk.size()));
            if (n <= 0) break;
            taken += n;
            for (int32_t k = 0; k < n && expect >= 0; ++k) {
                const uint64_t offset = MacNumber(chunk[k].macAddress) - MacNumber(macBase);
                if (offset >= static_cast<uint64_t>(expect))
                    ++foreign;
                else if (seen[offset])
                    ++repeated;
                else
                    seen[offset] = true;
            }
        }
        const long missing = expect >= 0 ? static_cast<long>(std::count(seen.begin(), seen.end(), false)) : 0;
        beyond.push_back(wallMs - quietMs);
        std::printf(
            "found=%d taken=%ld expected=%ld missing=%ld foreign=%ld repeated=%ld wall_ms=%.1f "
            "quiet_ms=%u beyond_quiet_ms=%.1f cpu_ms=%.1f maxrss_kib=%ld rcvbuf_granted=%d\n",
            found, taken, expect, missing, foreign, repeated, wallMs, quietMs, wallMs - quietMs, cpuMs,
            PeakKiB(), granted);
        std::fflush(stdout);
        if (found < 0 || (expect >= 0 && (missing != 0 || foreign != 0 || repeated != 0))) status = 1;
    }
    if (beyond.size() > 1) {
        std::sort(beyond.begin(), beyond.end());
        std::printf("runs=%zu beyond_quiet_ms min=%.1f median=%.1f max=%.1f\n", beyond.size(), beyond.front(),
                    beyond[beyond.size() / 2], beyond.back());
    }
    QUEXClose(handle);
    return status;
}
