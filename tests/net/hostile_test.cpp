// The library under hostile input and load: quexsim floods the tool's socket
// with malformed and foreign datagrams (wrong magic or type, truncated
// fields, lying lengths, up to 65507 bytes, random bytes) from the moment it
// sees a request; the real devices are still found, a directed query still
// answers or times out on time, and nothing crashes. A burst of thousands of
// answers in one instant is received whole.
#include <arpa/inet.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <quex/quex.h>
#include "quex/sockets.h"
#include "tests/support/netns_guard.h"
#include "tests/support/simulator.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr QuexGuid kVendor = {0xD4A17F3B, 0x2E8C, 0x4B61, {0x9F, 0x05, 0x6C, 0x3A, 0x8E, 0x1B, 0x72, 0xD4}};
constexpr uint32_t kTelq = 0x54454C51;

long MsSince(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

double CpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec * 1000.0 + usage.ru_utime.tv_usec / 1000.0 + usage.ru_stime.tv_sec * 1000.0 +
           usage.ru_stime.tv_usec / 1000.0;
}

std::string MacText(const uint8_t* mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4],
                  mac[5]);
    return text;
}

std::set<std::string> TakeMacs(QuexHandle handle) {
    std::set<std::string> macs;
    std::vector<QuexDeviceInfo> chunk(256);
    for (;;) {
        const int32_t got = QUEXGetSearchResults(handle, chunk.data(), static_cast<uint32_t>(chunk.size()));
        if (got <= 0) break;
        for (int32_t i = 0; i < got; ++i) macs.insert(MacText(chunk[i].macAddress));
    }
    return macs;
}

// Ten devices on the first network; flood of rate datagrams per second.
std::string FloodPlant(unsigned rate, const std::string& extraDevice = "") {
    std::string text =
        "{\"flood\": {\"rate\": " + std::to_string(rate) + ", \"duration_ms\": 8000}, \"devices\": [";
    for (int i = 1; i <= 10; ++i) {
        char device[160];
        std::snprintf(
            device, sizeof device,
            "%s{\"mac\": \"02:c0:de:00:01:%02x\", \"ip\": \"10.77.0.%d\", \"interfaces\": [\"10.77.0.2\"]}",
            i > 1 ? ", " : "", i, 100 + i);
        text += device;
    }
    if (!extraDevice.empty()) text += ", " + extraDevice;
    return text + "]}";
}

std::set<std::string> PlantMacs() {
    std::set<std::string> macs;
    for (int i = 1; i <= 10; ++i) {
        char mac[18];
        std::snprintf(mac, sizeof mac, "02:c0:de:00:01:%02x", i);
        macs.insert(mac);
    }
    return macs;
}

// Datagrams the simulator flooded the tool with (journaled when each flood ends).
uint64_t FloodedDatagrams(kelvotest::Simulator& sim) {
    uint64_t sent = 0;
    for (const auto& event : sim.Events("flood")) sent += event.value("sent", uint64_t{0});
    return sent;
}

class HostileTest : public ::testing::Test {
protected:
    void SetUp() override {
        KELVO_REQUIRE_PRIVATE_NETWORK();
        handle_ = QUEXOpen(kTelq, &kVendor);
        ASSERT_NE(handle_, nullptr);
    }
    void TearDown() override {
        if (handle_ != nullptr) QUEXClose(handle_);
        if (sim_) sim_->Stop();
    }
    void Start(const std::string& plant) {
        sim_ = std::make_unique<kelvotest::Simulator>(plant);
        ASSERT_TRUE(sim_->ready()) << sim_->error();
    }

    QuexHandle handle_ = nullptr;
    std::unique_ptr<kelvotest::Simulator> sim_;
};

TEST_F(HostileTest, SearchFindsEveryRealDeviceAndNothingElseUnderAFlood) {
    Start(FloodPlant(20000));
    const double cpuBefore = CpuMs();
    const auto start = Clock::now();
    // The flood keeps traffic coming, so the search runs to its maximum.
    const int32_t found = QUEXStartSyncSearchEx(handle_, 1000, 3000);
    const long elapsed = MsSince(start);
    const double cpu = CpuMs() - cpuBefore;
    EXPECT_EQ(found, 10);
    EXPECT_EQ(TakeMacs(handle_), PlantMacs());
    EXPECT_GE(elapsed, 1000);
    EXPECT_LT(elapsed, 5000);
    sim_->Stop();
    // The flood did reach the tool's sockets (both interfaces sent the request).
    EXPECT_GT(FloodedDatagrams(*sim_), 20000u);
    RecordProperty("search_cpu_cores_x1000", static_cast<int>(cpu * 1000 / elapsed));
}

TEST_F(HostileTest, SearchRestartsCleanlyAfterAFloodedSearch) {
    Start(FloodPlant(20000));
    EXPECT_EQ(QUEXStartSyncSearchEx(handle_, 500, 1500), 10);
    // The second search opens new sockets; the flood aimed at the old ones finds no one.
    EXPECT_EQ(QUEXStartSyncSearchEx(handle_, 500, 1500), 10);
    EXPECT_EQ(TakeMacs(handle_), PlantMacs());
}

TEST_F(HostileTest, AsynchronousSearchUnderAFloodListsOnlyRealDevices) {
    Start(FloodPlant(20000));
    ASSERT_EQ(QUEXStartAsyncSearchCallback(
                  handle_, [](QuexHandle, uintptr_t) {}, 0),
              0);
    std::set<std::string> macs;
    const auto start = Clock::now();
    while (MsSince(start) < 2000) {
        for (const std::string& mac : TakeMacs(handle_)) macs.insert(mac);
        usleep(20000);
    }
    QUEXStopSearch(handle_);
    for (const std::string& mac : TakeMacs(handle_)) macs.insert(mac);
    EXPECT_EQ(macs, PlantMacs());
}

TEST_F(HostileTest, QueryOfASilentDeviceTimesOutOnTimeUnderAFlood) {
    Start(FloodPlant(20000, "{\"mac\": \"02:c0:de:00:02:01\", \"ip\": \"10.77.0.200\", \"silent\": true}"));
    const uint8_t mac[6] = {0x02, 0xC0, 0xDE, 0x00, 0x02, 0x01};
    QuexDeviceInfo info;
    const auto start = Clock::now();
    EXPECT_EQ(QUEXGetDeviceInfo(handle_, mac, &info), -2);
    const long elapsed = MsSince(start);
    EXPECT_GE(elapsed, 5000);
    EXPECT_LT(elapsed, 6500);
    EXPECT_EQ(QUEXGetLastError(handle_), -2);
    sim_->Stop();
    // The silent device's query set off the flood: the tool was under fire all along.
    EXPECT_GT(FloodedDatagrams(*sim_), 50000u);
}

TEST_F(HostileTest, QueryFindsItsDeviceWhenTheFloodComesFirst) {
    // The answer leaves 300 ms after the request; the flood starts at once.
    Start(FloodPlant(20000, "{\"mac\": \"02:c0:de:00:02:02\", \"ip\": \"10.77.0.201\", \"delay_ms\": 300}"));
    const uint8_t mac[6] = {0x02, 0xC0, 0xDE, 0x00, 0x02, 0x02};
    QuexDeviceInfo info;
    std::memset(&info, 0, sizeof info);
    const auto start = Clock::now();
    ASSERT_EQ(QUEXGetDeviceInfo(handle_, mac, &info), 0);
    EXPECT_LT(MsSince(start), 3000);
    EXPECT_EQ(MacText(info.macAddress), "02:c0:de:00:02:02");
    EXPECT_EQ(info.ipAddress, htonl(0x0A4D00C9));  // 10.77.0.201
}

TEST_F(HostileTest, AsynchronousSearchHoldsAtMostTheCapOfWaitingRecordsUnderForgedDevices) {
    // One host answers with a new MAC in every datagram, on both networks.
    Start(R"({"devices": [], "flood": {"rate": 50000, "duration_ms": 30000, "forged_macs": true}})");
    ASSERT_EQ(QUEXStartAsyncSearchCallback(
                  handle_, [](QuexHandle, uintptr_t) {}, 0),
              0);
    const auto waitForFull = [&] {
        const auto start = Clock::now();
        while (QUEXGetSearchResultCount(handle_) < QUEX_MAX_SEARCH_RESULTS && MsSince(start) < 15000)
            usleep(20000);
        return QUEXGetSearchResultCount(handle_);
    };
    ASSERT_EQ(waitForFull(), QUEX_MAX_SEARCH_RESULTS);
    usleep(500000);  // the flood goes on; nothing more is kept
    EXPECT_EQ(QUEXGetSearchResultCount(handle_), QUEX_MAX_SEARCH_RESULTS);
    // Taking records makes room again.
    std::vector<QuexDeviceInfo> taken(1000);
    ASSERT_EQ(QUEXGetSearchResults(handle_, taken.data(), 1000), 1000);
    EXPECT_EQ(waitForFull(), QUEX_MAX_SEARCH_RESULTS);
    QUEXStopSearch(handle_);
    EXPECT_EQ(QUEXGetSearchResultCount(handle_), QUEX_MAX_SEARCH_RESULTS);
}

// ---- bursts

TEST(BurstTest, InterfaceSocketsAskForALargeReceiveBuffer) {
    KELVO_REQUIRE_PRIVATE_NETWORK();
    QuexHandle handle = QUEXOpen(kTelq, &kVendor);
    ASSERT_NE(handle, nullptr);
    quex::LocalInterfaces interfaces;
    ASSERT_TRUE(quex::EnumerateLocalInterfaces(&interfaces, handle));
    platform::SocketHandle* sockets = nullptr;
    const int32_t count = quex::OpenAllInterfaceSockets(handle, interfaces, &sockets);
    ASSERT_GT(count, 0);
    for (int32_t i = 0; i < count; ++i) {
        int size = 0;
        socklen_t length = sizeof size;
        ASSERT_EQ(getsockopt(sockets[i], SOL_SOCKET, SO_RCVBUF, &size, &length), 0);
        // Far above the 212,992-byte default, whatever cap the host sets.
        EXPECT_GE(size, 1 << 20) << "socket " << i;
    }
    quex::CloseInterfaceSockets(sockets, count);
    QUEXClose(handle);
}

TEST(BurstTest, FiveThousandDevicesAnsweringAtOnceAreAllFound) {
    KELVO_REQUIRE_PRIVATE_NETWORK();
    kelvotest::Simulator sim(std::string(R"({"burst": {"count": 5000}})"));
    ASSERT_TRUE(sim.ready()) << sim.error();
    QuexHandle handle = QUEXOpen(kTelq, &kVendor);
    ASSERT_NE(handle, nullptr);
    // Every device answers on both networks: 10,000 datagrams in one instant.
    EXPECT_EQ(QUEXStartSyncSearchEx(handle, 1000, 20000), 5000);
    const std::set<std::string> macs = TakeMacs(handle);
    EXPECT_EQ(macs.size(), 5000u);
    EXPECT_EQ(macs.count("02:b0:00:00:00:00"), 1u);
    EXPECT_EQ(macs.count("02:b0:00:00:13:87"), 1u);  // the 5000th
    QUEXClose(handle);
}

}  // namespace
