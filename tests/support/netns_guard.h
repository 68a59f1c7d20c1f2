// Network tests run only inside a private network namespace made for them
// (scripts/netns-run); anywhere else they skip, so no test can send a packet
// to a real network.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace kelvotest {

// True when this process's network namespace is not the one of process 1.
// /proc/1/ns/net may be unreadable even to root (seen here); the per-namespace
// inode of /proc/PID/net/dev then tells the namespaces apart.
inline bool InPrivateNetworkNamespace() {
    struct stat mine {
    }, init{};
    if (stat("/proc/self/ns/net", &mine) == 0 && stat("/proc/1/ns/net", &init) == 0)
        return mine.st_ino != init.st_ino || mine.st_dev != init.st_dev;
    if (stat("/proc/self/net/dev", &mine) == 0 && stat("/proc/1/net/dev", &init) == 0)
        return mine.st_ino != init.st_ino || mine.st_dev != init.st_dev;
    return false;
}

}  // namespace kelvotest

#define KELVO_REQUIRE_PRIVATE_NETWORK()                                                    \
    do {                                                                                   \
        if (!::kelvotest::InPrivateNetworkNamespace())                                     \
            GTEST_SKIP() << "not inside a private network namespace: run through "         \
                            "scripts/netns-run (ctest does); skipped so no packet leaves"; \
    } while (0)
