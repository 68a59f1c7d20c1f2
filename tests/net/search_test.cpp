// Device search against simulated devices in the lab: timing of the
// synchronous search, de-duplication, malformed answers, one search per
// handle, and the three asynchronous notifications with their exact
// arguments. Every case runs in its own private network namespace with two
// interfaces (h0 10.77.0.1 and h1 10.78.0.1; the devices sit behind d0 / d1).
#include <arpa/inet.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/net.h"
#include "quex/context.h"
#include <quex/quex.h>
#include "quex/sockets.h"
#include "tests/support/netns_guard.h"
#include "tests/support/socket_fault.h"
#include "tests/support/simulator.h"

namespace {

using Clock = std::chrono::steady_clock;

// {D4A17F3B-2E8C-4B61-9F05-6C3A8E1B72D4}: the front end's default vendor.
constexpr QuexGuid kVendor = {0xD4A17F3B, 0x2E8C, 0x4B61, {0x9F, 0x05, 0x6C, 0x3A, 0x8E, 0x1B, 0x72, 0xD4}};
constexpr uint32_t kTelq = 0x54454C51;
const uint32_t kH0 = htonl(0x0A4D0001);  // 10.77.0.1
const uint32_t kH1 = htonl(0x0A4E0001);  // 10.78.0.1

long MsSince(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Waits up to limitMs for pred; true when it came true.
template <typename Pred>
bool WaitFor(Pred pred, int limitMs) {
    const auto start = Clock::now();
    while (!pred()) {
        if (MsSince(start) > limitMs) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// One simulated device: MAC, answer delay, the simulator address it answers
// on ("" = both), extra JSON members.
std::string Device(const std::string& mac, unsigned delayMs, const std::string& on = "10.77.0.2",
                   const std::string& extra = "") {
    static int host = 50;
    std::string text = "{\"mac\": \"" + mac + "\", \"ip\": \"10.77.0." + std::to_string(host++) +
                       "\", \"delay_ms\": " + std::to_string(delayMs);
    if (!on.empty()) text += ", \"interfaces\": [\"" + on + "\"]";
    if (!extra.empty()) text += ", " + extra;
    return text + "}";
}

std::string DeviceFile(const std::vector<std::string>& devices) {
    std::string text = "{\"devices\": [";
    for (size_t i = 0; i < devices.size(); ++i) text += (i ? ", " : "") + devices[i];
    return text + "]}";
}

std::string MacOf(const QuexDeviceInfo& info) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", info.macAddress[0], info.macAddress[1],
                  info.macAddress[2], info.macAddress[3], info.macAddress[4], info.macAddress[5]);
    return text;
}

std::vector<QuexDeviceInfo> TakeAll(QuexHandle handle) {
    std::vector<QuexDeviceInfo> out(64);
    const int32_t got = QUEXGetSearchResults(handle, out.data(), static_cast<uint32_t>(out.size()));
    out.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return out;
}

std::string LastErrorText(QuexHandle handle) {
    char text[256] = {};
    QUEXGetLastErrorMessage(handle, text, sizeof text);
    return text;
}

// A synchronous search that cannot run ends within withinMs (not at its 5 s
// maximum) with a network error and this reason.
void ExpectSearchFailsAtOnce(QuexHandle handle, long withinMs, const std::string& reason) {
    const auto start = Clock::now();
    EXPECT_EQ(QUEXStartSyncSearchEx(handle, 300, 5000), -1);
    EXPECT_LT(MsSince(start), withinMs);
    EXPECT_EQ(QUEXGetLastError(handle), QUEX_ERROR_NETWORK);
    EXPECT_EQ(LastErrorText(handle), reason);
}

// Reads what a notification descriptor holds right now (non-blocking).
bool Readable(int fd, int waitMs) {
    pollfd entry{fd, POLLIN, 0};
    return poll(&entry, 1, waitMs) > 0 && (entry.revents & POLLIN) != 0;
}

class SearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        KELVO_REQUIRE_PRIVATE_NETWORK();
        // A write to a closed peer must never end the process.
        signal(SIGPIPE, SIG_DFL);
        handle_ = QUEXOpen(kTelq, &kVendor);
        ASSERT_NE(handle_, nullptr);
    }
    void TearDown() override {
        if (handle_ != nullptr) QUEXClose(handle_);
        StopDevices();
    }
    void StartDevices(const std::vector<std::string>& devices) {
        sim_ = std::make_unique<kelvotest::Simulator>(DeviceFile(devices));
        ASSERT_TRUE(sim_->ready()) << sim_->error();
    }
    void StopDevices() {
        if (sim_) sim_->Stop();
    }

    QuexHandle handle_ = nullptr;
    std::unique_ptr<kelvotest::Simulator> sim_;
};

// ---- synchronous search: timing

TEST_F(SearchTest, NobodyAnswersWaitsTheWholeMaximumTimeWithTheFrontEndTimes) {
    const auto start = Clock::now();
    EXPECT_EQ(QUEXStartSyncSearchEx(handle_, 3000, 10000), 0);
    const long elapsed = MsSince(start);
    EXPECT_GE(elapsed, 10000);
    EXPECT_LT(elapsed, 12000);
    EXPECT_EQ(QUEXGetSearchResultCount(handle_), 0);
}

TEST_F(SearchTest, EndsOneQuietTimeAfterTheLastAnswer) {
    // Gaps below the quiet time keep the search going; the fourth device
    // answers after a gap longer than the quiet time and is never heard.
    StartDevices({Device("02:c0:de:00:00:01", 0), Device("02:c0:de:00:00:02", 300),
                  Device("02:c0:de:00:00:03", 600), Device("02:c0:de:00:00:04", 1800)});
    const auto start = Clock::now();
    EXPECT_EQ(QUEXStartSyncSearchEx(handle_, 500, 5000), 3);
    const long elapsed = MsSince(start);
    EXPECT_GE(elapsed, 600 + 500);  // the last answer leaves 600 ms after the request
    EXPECT_LT(elapsed, 600 + 500 + 1000);
    std::set<std::string> macs;
    for (const QuexDeviceInfo& info : TakeAll(handle_)) {
        macs.insert(MacOf(info));
        EXPECT_EQ(info.interfaceAddress, kH0);
        EXPECT_EQ(info.size, 852u);
    }
    EXPECT_EQ(macs, (std::set<std::string>{"02:c0:de:00:00:01", "02:c0:de:00:00:02", "02:c0:de:00:00:03"}));
    // One request per interface, addressed to every device, never repeated.
    const std::vector<kelvotest::JournalDatagram> requests = sim_->Received(1);
    ASSERT_EQ(requests.size(), 2u);
    std::set<std::string> senders;
    for (const kelvotest::JournalDatagram& request : requests) {
        senders.insert(request.peer);
        ASSERT_EQ(request.bytes.size(), 36u);
        EXPECT_EQ(kelvotest::ToHex(kelvotest::Bytes(request.bytes.begin(), request.bytes.begin() + 14)),
                  "54454c510001001cffffffffffff");
    }
    EXPECT_EQ(senders, (std::set<std::string>{"10.77.0.1", "10.78.0.1"}));
}

TEST_F(SearchTest, InfiniteQuietTimeAlwaysLastsTheMaximum) {
    StartDevices({Device("02:c0:de:00:00:01", 0)});
    const auto start = Clock::now();
    EXPECT_EQ(QUEXStartSyncSearchEx(handle_, 0xFFFFFFFFu, 1500), 1);
    const long elapsed = MsSince(start);
    EXPECT_GE(elapsed, 1500);
    EXPECT_LT(elapsed, 3000);
}

TEST_F(SearchTest, ASecondSearchStartsAfreshAndIsNotCutShort) {
    StartDevices({Device("02:c0:de:00:00:01", 0), Device("02:c0:de:00:00:02", 100)});
    EXPECT_EQ(QUEXStartSyncSearchEx(handle_, 300, 3000), 2);
    StopDevices();
    // No device left: the old records are gone and the full maximum passes.
    const auto start = Clock::now();
    EXPECT_EQ(QUEXStartSyncSearchEx(handle_, 300, 1500), 0);
    const long elapsed = MsSince(start);
    EXPECT_GE(elapsed, 1500);
    EXPECT_LT(elapsed, 3000);
    EXPECT_EQ(QUEXGetSearchResultCount(handle_), 0);
}

TEST_F(SearchTest, InvalidTimesAreRefusedAfterTheLastErrorIsReset) {
    struct Times {
        uint32_t quiet, max;
    };
    for (const Times t : {Times{0, 1000}, Times{1000, 0}, Times{0, 0}, Times{0xFFFFFFFFu, 0xFFFFFFFFu}}) {
        quex::SetContextError(quex::LookupContext(handle_), 7, "left over");
        const auto start = Clock::now();
        EXPECT_EQ(QUEXStartSyncSearchEx(handle_, t.quiet, t.max), -1) << t.quiet << "/" << t.max;
        EXPECT_LT(MsSince(start), 500);
        EXPECT_EQ(QUEXGetLastError(handle_), 0);
        EXPECT_EQ(LastErrorText(handle_), "Operation succeeded");
    }
    // The refusals left no search behind.
    const int event = eventfd(0, EFD_CLOEXEC);
    ASSERT_GE(event, 0);
    EXPECT_EQ(QUEXStartAsyncSearchEvent(handle_, event), 0);
    QUEXStopSearch(handle_);
    close(event);
}

TEST_F(SearchTest, SearchThatCannotOpenItsSocketsFailsAtOnceWithTheReason) {
    StartDevices({Device("02:c0:de:00:00:01", 300), Device("02:c0:de:00:00:02", 600)});
    quex::InjectSocketFault(quex::SocketFault::Setup, 1);
    auto start = Clock::now();
    EXPECT_EQ(QUEXStartSyncSearchEx(handle_, 300, 1500), -1);
    EXPECT_LT(MsSince(start), 500);
    EXPECT_EQ(QUEXGetLastError(handle_), QUEX_ERROR_NETWORK);
    EXPECT_EQ(LastErrorText(handle_), "Cannot open a socket on 10.77.0.1: injected failure");
    // An asynchronous start fails the same way, before any worker runs.
    quex::InjectSocketFault(quex::SocketFault::Setup, 2);
    const int event = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    ASSERT_GE(event, 0);
    EXPECT_EQ(QUEXStartAsyncSearchEvent(handle_, event), -1);
    EXPECT_EQ(LastErrorText(handle_), "Cannot open a socket on 10.78.0.1: injected failure");
    close(event);
    // Nothing of the failed starts is left to cut the next search short.
    start = Clock::now();
    EXPECT_EQ(QUEXStartSyncSearchEx(handle_, 500, 5000), 2);
    EXPECT_GE(MsSince(start), 600 + 500);
    // A host without any address: searches and queries say so.
    ASSERT_EQ(std::system("ip addr flush dev h0 && ip addr flush dev h1"), 0);
    EXPECT_EQ(QUEXStartSyncSearchEx(handle_, 300, 1500), -1);
    EXPECT_EQ(LastErrorText(handle_), "No usable IPv4 interface");
    const uint8_t mac[6] = {0x02, 0xC0, 0xDE, 0x00, 0x00, 0x01};
    QuexDeviceInfo info;
    EXPECT_EQ(QUEXGetDeviceInfo(handle_, mac, &info), -1);
    EXPECT_EQ(QUEXGetLastError(handle_), QUEX_ERROR_NETWORK);
}

TEST_F(SearchTest, FailedSendsEndTheSearchOnlyWhenTheRequestLeftNowhere) {
    // The request cannot leave through h0: the device that both reach answers through h1.
    StartDevices({Device("02:c0:de:00:00:01", 0, "")});
    quex::InjectSocketFault(quex::SocketFault::Send, 1);
    EXPECT_EQ(QUEXStartSyncSearchEx(handle_, 300, 3000), 1);
    const std::vector<QuexDeviceInfo> found = TakeAll(handle_);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].interfaceAddress, kH1);
    EXPECT_EQ(QUEXGetLastError(handle_), 0);
    // Through no interface at all: nothing to wait for.
    ASSERT_EQ(std::system("ip link set h1 down"), 0);
    quex::InjectSocketFault(quex::SocketFault::Send, 1);
    ExpectSearchFailsAtOnce(handle_, 500, "Cannot send through 10.77.0.1: injected failure");
}

TEST_F(SearchTest, FailedWaitEndsTheSearchAtOnceWithTheReason) {
    quex::InjectSocketFault(quex::SocketFault::Wait, 1);
    ExpectSearchFailsAtOnce(handle_, 1000, "Cannot wait for answers: injected failure");

    // An asynchronous search ends the same way, no longer counts as running,
    // and a new one starts without a stop.
    const int event = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    ASSERT_GE(event, 0);
    QUEXStartSyncSearchEx(handle_, 0, 10);  // refused, after the reset of the last error
    quex::InjectSocketFault(quex::SocketFault::Wait, 1);
    ASSERT_EQ(QUEXStartAsyncSearchEvent(handle_, event), 0);
    EXPECT_TRUE(WaitFor([&] { return QUEXGetLastError(handle_) == QUEX_ERROR_NETWORK; }, 3000));
    EXPECT_EQ(LastErrorText(handle_), "Cannot wait for answers: injected failure");
    StartDevices({Device("02:c0:de:00:00:01", 0)});
    EXPECT_TRUE(WaitFor([&] { return QUEXStartAsyncSearchEvent(handle_, event) == 0; }, 3000));
    EXPECT_TRUE(Readable(event, 3000));
    EXPECT_EQ(QUEXGetSearchResultCount(handle_), 1);
    QUEXStopSearch(handle_);

    // An ended worker is joined however the handle ends, even by a close after
    // a refused synchronous start, when there is no asynchronous search left
    // to stop (AddressSanitizer reports the worker otherwise).
    quex::InjectSocketFault(quex::SocketFault::Wait, 1);
    ASSERT_EQ(QUEXStartAsyncSearchEvent(handle_, event), 0);
    const QuexContext* context = quex::LookupContext(handle_);
    EXPECT_TRUE(WaitFor([&] { return context->searchRunning == 0; }, 3000));
    EXPECT_EQ(QUEXStartSyncSearchEx(handle_, 0, 10), -1);
    EXPECT_EQ(QUEXClose(handle_), 0);
    handle_ = nullptr;
    close(event);
}

TEST_F(SearchTest, DeviceBehindTheSeventyFirstAddressIsFound) {
    // 70 addresses ahead of the one on the device's network, which then
    // stands 71st in the list: every socket is watched, not the first 64.
    ASSERT_EQ(std::system("ip link set h1 down && ip addr del 10.77.0.1/24 dev h0 && "
                          "for i in $(seq 1 70); do ip addr add 10.79.0.$i/32 dev h0 || exit 1; done && "
                          "ip addr add 10.77.0.1/24 dev h0"),
              0);
    std::vector<platform::LocalInterface> interfaces;
    ASSERT_TRUE(platform::ListLocalInterfaces(&interfaces));
    ASSERT_EQ(interfaces.size(), 71u);
    ASSERT_EQ(interfaces.back().address, kH0);
    StartDevices({Device("02:c0:de:00:00:71", 0)});
    EXPECT_EQ(QUEXStartSyncSearchEx(handle_, 300, 3000), 1);
    const uint8_t mac[6] = {0x02, 0xC0, 0xDE, 0x00, 0x00, 0x71};
    QuexDeviceInfo info;
    EXPECT_EQ(QUEXGetDeviceInfo(handle_, mac, &info), 0);
    EXPECT_EQ(info.interfaceAddress, kH0);
}

// ---- synchronous search: what is counted

TEST_F(SearchTest, DeviceOnTwoInterfacesCountsOnceInASynchronousSearch) {
    StartDevices({Device("02:c0:de:00:00:0a", 0, ""),
                  Device("02:c0:de:00:00:0b", 0, "10.78.0.2", "\"answer_twice\": true")});
    EXPECT_EQ(QUEXStartSyncSearchEx(handle_, 400, 3000), 2);
    std::vector<QuexDeviceInfo> found = TakeAll(handle_);
    ASSERT_EQ(found.size(), 2u);
    std::set<std::string> macs{MacOf(found[0]), MacOf(found[1])};
    EXPECT_EQ(macs, (std::set<std::string>{"02:c0:de:00:00:0a", "02:c0:de:00:00:0b"}));
}

TEST_F(SearchTest, MalformedAnswersDoNotStopTheSearch) {
    // Bad answers first on the same socket; the good ones queue behind them.
    StartDevices(
        {Device("02:c0:de:00:00:e1", 0, "10.77.0.2", "\"malformed\": [{\"field\": 1, \"length\": 5}]"),
         Device("02:c0:de:00:00:e2", 0, "10.77.0.2", "\"malformed\": [{\"magic\": \"XXXX\"}]"),
         Device("02:c0:de:00:00:e3", 0, "10.77.0.2", "\"malformed\": [{\"type\": 4}]"),
         Device("02:c0:de:00:00:01", 40), Device("02:c0:de:00:00:02", 40)});
    EXPECT_EQ(QUEXStartSyncSearchEx(handle_, 400, 3000), 2);
    std::set<std::string> macs;
    for (const QuexDeviceInfo& info : TakeAll(handle_)) macs.insert(MacOf(info));
    EXPECT_EQ(macs, (std::set<std::string>{"02:c0:de:00:00:01", "02:c0:de:00:00:02"}));
}

TEST_F(SearchTest, StopFromAnotherThreadLeavesASynchronousSearchAlone) {
    StartDevices({Device("02:c0:de:00:00:01", 100), Device("02:c0:de:00:00:02", 500),
                  Device("02:c0:de:00:00:03", 900), Device("02:c0:de:00:00:04", 1300)});
    QUEXStopSearch(handle_);  // idle: nothing happens
    std::atomic<int32_t> result{-100};
    const auto start = Clock::now();
    std::thread searcher([&] { result = QUEXStartSyncSearchEx(handle_, 600, 5000); });
    // Once the first record is in, the search is certainly running.
    const bool running = WaitFor([&] { return QUEXGetSearchResultCount(handle_) > 0; }, 3000);
    const auto beforeStop = Clock::now();
    QUEXStopSearch(handle_);
    const long stopMs = MsSince(beforeStop);
    QUEXGetSearchResultCount(handle_);  // orders the stop before the worker's next answer
    searcher.join();
    const long elapsed = MsSince(start);
    EXPECT_TRUE(running);
    EXPECT_LT(stopMs, 100);
    EXPECT_EQ(result.load(), 4);
    EXPECT_GE(elapsed, 1300 + 600);
    EXPECT_LT(elapsed, 1300 + 600 + 1500);
}

// What the callback got back when it called into its own handle.
struct OwnHandleCalls {
    std::atomic<int> callbacks{0};
    std::atomic<int32_t> close{-100}, asyncStart{-100}, syncStart{-100};
};

void CallIntoOwnHandle(QuexHandle handle, uintptr_t userData) {
    OwnHandleCalls* calls = reinterpret_cast<OwnHandleCalls*>(userData);
    if (calls->callbacks++ > 0) return;
    calls->close = QUEXClose(handle);
    QUEXStopSearch(handle);
    calls->asyncStart = QUEXStartAsyncSearchCallback(handle, CallIntoOwnHandle, userData);
    calls->syncStart = QUEXStartSyncSearchEx(handle, 100, 200);
}

TEST_F(SearchTest, CallsFromTheSearchsOwnCallbackAreRefusedAndChangeNothing) {
    // Two answers, half a second apart: two poll cycles with traffic.
    StartDevices({Device("02:c0:de:00:00:01", 0), Device("02:c0:de:00:00:02", 500)});
    OwnHandleCalls calls;
    ASSERT_EQ(QUEXStartAsyncSearchCallback(handle_, CallIntoOwnHandle, reinterpret_cast<uintptr_t>(&calls)),
              0);
    // The second callback: the worker ran on, its handle open (ASan sees any use after free).
    EXPECT_TRUE(WaitFor([&] { return calls.callbacks >= 2; }, 3000));
    EXPECT_EQ(calls.close.load(), -1);
    EXPECT_EQ(calls.asyncStart.load(), -1);
    EXPECT_EQ(calls.syncStart.load(), -1);
    EXPECT_EQ(QUEXGetSearchResultCount(handle_), 2);
    // Still the caller's to stop, and a new search starts only after that.
    EXPECT_EQ(QUEXStartSyncSearchEx(handle_, 100, 200), -1);
    QUEXStopSearch(handle_);
    EXPECT_EQ(QUEXStartSyncSearchEx(handle_, 800, 3000), 2);
}

TEST_F(SearchTest, LastErrorIsReadWholeWhileAnotherThreadSetsIt) {
    // One thread keeps setting the last error, as requests and search starts
    // do; another reads it. Every read is one whole message (ThreadSanitizer
    // also sees any unguarded access).
    QuexContext* context = quex::LookupContext(handle_);
    ASSERT_NE(context, nullptr);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) {
            quex::SetContextError(context, 7, "Locked by the plant's own controller");
            QUEXStartSyncSearchEx(handle_, 0, 10);  // refused after the reset to "Operation succeeded"
        }
        done = true;
    });
    int torn = 0, reads = 0;
    while (!done) {
        char text[256];
        QUEXGetLastErrorMessage(handle_, text, sizeof text);
        QUEXGetLastError(handle_);
        const std::string message(text);
        if (message != "Operation succeeded" && message != "Locked by the plant's own controller") ++torn;
        ++reads;
    }
    writer.join();
    EXPECT_GT(reads, 0);
    EXPECT_EQ(torn, 0);
}

// ---- asynchronous search

struct CallbackLog {
    std::mutex lock;
    std::vector<QuexHandle> handles;
    std::vector<uintptr_t> values;
    std::vector<int32_t> counts;
    std::vector<long> times;
    Clock::time_point start;
    bool take = false;
    int32_t taken = 0;

    size_t Calls() {
        std::lock_guard<std::mutex> guard(lock);
        return handles.size();
    }
};

void LogCallback(QuexHandle handle, uintptr_t userData) {
    CallbackLog* log = reinterpret_cast<CallbackLog*>(userData ^ 0x5A5A);
    std::lock_guard<std::mutex> guard(log->lock);
    log->handles.push_back(handle);
    log->values.push_back(userData);
    log->counts.push_back(QUEXGetSearchResultCount(handle));
    log->times.push_back(MsSince(log->start));
    if (log->take) log->taken += static_cast<int32_t>(TakeAll(handle).size());
}

TEST_F(SearchTest, DeviceOnTwoInterfacesIsListedTwiceInAnAsynchronousSearch) {
    StartDevices({Device("02:c0:de:00:00:0a", 0, "")});
    CallbackLog log;
    log.start = Clock::now();
    const uintptr_t value = reinterpret_cast<uintptr_t>(&log) ^ 0x5A5A;
    ASSERT_EQ(QUEXStartAsyncSearchCallback(handle_, LogCallback, value), 0);
    EXPECT_TRUE(WaitFor([&] { return QUEXGetSearchResultCount(handle_) >= 2; }, 3000));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    QUEXStopSearch(handle_);
    std::vector<QuexDeviceInfo> found = TakeAll(handle_);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(MacOf(found[0]), "02:c0:de:00:00:0a");
    EXPECT_EQ(MacOf(found[1]), "02:c0:de:00:00:0a");
    EXPECT_EQ((std::set<uint32_t>{found[0].interfaceAddress, found[1].interfaceAddress}),
              (std::set<uint32_t>{kH0, kH1}));
}

TEST_F(SearchTest, OneSearchPerHandleAndARestartDropsTheOldRecords) {
    StartDevices({Device("02:c0:de:00:00:01", 0), Device("02:c0:de:00:00:02", 0)});
    const int event = eventfd(0, EFD_CLOEXEC);
    ASSERT_GE(event, 0);
    CallbackLog log;
    const uintptr_t value = reinterpret_cast<uintptr_t>(&log) ^ 0x5A5A;
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM, 0, pair), 0);

    ASSERT_EQ(QUEXStartAsyncSearchEvent(handle_, event), 0);
    EXPECT_EQ(QUEXStartAsyncSearchEvent(handle_, event), -1);
    EXPECT_EQ(QUEXStartAsyncSearchCallback(handle_, LogCallback, value), -1);
    EXPECT_EQ(QUEXStartAsyncSearchMessage(handle_, pair[0], 0x400, 1), -1);
    EXPECT_EQ(QUEXStartSyncSearchEx(handle_, 300, 1000), -1);
    // The refused starts changed nothing: the running search still collects.
    EXPECT_TRUE(WaitFor([&] { return QUEXGetSearchResultCount(handle_) == 2; }, 3000));
    EXPECT_EQ(log.Calls(), 0u);
    EXPECT_FALSE(Readable(pair[1], 0));
    QUEXStopSearch(handle_);
    EXPECT_EQ(QUEXGetSearchResultCount(handle_), 2);  // kept until taken or a new search

    StopDevices();
    ASSERT_EQ(QUEXStartAsyncSearchEvent(handle_, event), 0);
    EXPECT_EQ(QUEXGetSearchResultCount(handle_), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(QUEXGetSearchResultCount(handle_), 0);
    QUEXStopSearch(handle_);
    close(event);
    close(pair[0]);
    close(pair[1]);
}

TEST_F(SearchTest, CallbackAfterEveryPollCycleWithTrafficWhileRecordsWait) {
    // Answers 400 ms apart, each in a poll cycle of its own; the last one is
    // not a valid answer, but it is traffic while records wait.
    StartDevices({Device("02:c0:de:00:00:01", 300), Device("02:c0:de:00:00:02", 700),
                  Device("02:c0:de:00:00:03", 1100),
                  Device("02:c0:de:00:00:e1", 1500, "10.77.0.2", "\"malformed\": [{\"truncate\": 7}]"),
                  Device("02:c0:de:00:00:04", 2600)});
    CallbackLog log;
    log.start = Clock::now();
    const uintptr_t value = reinterpret_cast<uintptr_t>(&log) ^ 0x5A5A;
    ASSERT_EQ(QUEXStartAsyncSearchCallback(handle_, LogCallback, value), 0);
    EXPECT_TRUE(WaitFor([&] { return log.Calls() >= 4; }, 3000));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    QUEXStopSearch(handle_);
    const size_t callsAtStop = log.Calls();
    // Device 4 answers after the stop: nothing more may arrive.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    ASSERT_EQ(log.Calls(), callsAtStop);

    ASSERT_EQ(log.handles.size(), 4u);
    for (size_t i = 0; i < log.handles.size(); ++i) {
        EXPECT_EQ(log.handles[i], handle_);
        EXPECT_EQ(log.values[i], value);
    }
    EXPECT_EQ(log.counts, (std::vector<int32_t>{1, 2, 3, 3}));  // never falls when nothing is taken
    EXPECT_GE(log.times[0], 300);                               // nothing before the first record
    EXPECT_EQ(QUEXGetSearchResultCount(handle_), 3);
}

TEST_F(SearchTest, NoCallbackForTrafficWhenNoRecordWaits) {
    StartDevices({Device("02:c0:de:00:00:01", 300),
                  Device("02:c0:de:00:00:e1", 800, "10.77.0.2", "\"malformed\": [{\"omit_field\": 1}]")});
    CallbackLog log;
    log.start = Clock::now();
    log.take = true;  // the callback takes every record at once
    const uintptr_t value = reinterpret_cast<uintptr_t>(&log) ^ 0x5A5A;
    ASSERT_EQ(QUEXStartAsyncSearchCallback(handle_, LogCallback, value), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1400));
    QUEXStopSearch(handle_);
    ASSERT_EQ(log.handles.size(), 1u);
    EXPECT_EQ(log.counts[0], 1);
    EXPECT_EQ(log.taken, 1);
    EXPECT_EQ(QUEXGetSearchResultCount(handle_), 0);
}

TEST_F(SearchTest, EventIsSignalledOncePerPollCycleWithTraffic) {
    StartDevices({Device("02:c0:de:00:00:01", 400), Device("02:c0:de:00:00:02", 800),
                  Device("02:c0:de:00:00:03", 2200)});
    const int event = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    ASSERT_GE(event, 0);
    ASSERT_EQ(QUEXStartAsyncSearchEvent(handle_, event), 0);
    EXPECT_FALSE(Readable(event, 300));  // nothing before the first record
    std::this_thread::sleep_for(std::chrono::milliseconds(900));
    QUEXStopSearch(handle_);
    uint64_t signals = 0;
    ASSERT_EQ(read(event, &signals, sizeof signals), static_cast<ssize_t>(sizeof signals));
    EXPECT_EQ(signals, 2u);
    EXPECT_EQ(QUEXGetSearchResultCount(handle_), 2);
    // Device 3 answers after the stop.
    EXPECT_FALSE(Readable(event, 1500));
    close(event);
}

TEST_F(SearchTest, MessagesCarryTheNumberZeroAndTheUserValue) {
    StartDevices({Device("02:c0:de:00:00:01", 400), Device("02:c0:de:00:00:02", 800),
                  Device("02:c0:de:00:00:03", 2200)});
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
    ASSERT_EQ(
        QUEXStartAsyncSearchMessage(handle_, pair[0], 0x8001, static_cast<uintptr_t>(0x1122334455667788ull)),
        0);
    // The library holds its own reference: closing ours changes nothing.
    close(pair[0]);
    EXPECT_FALSE(Readable(pair[1], 300));  // nothing before the first record
    std::this_thread::sleep_for(std::chrono::milliseconds(900));
    QUEXStopSearch(handle_);

    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "expected bytes are little-endian");
    const uint8_t expected[24] = {0x01, 0x80, 0x00, 0x00, 0,    0,    0,    0,    0,    0,    0,    0,
                                  0,    0,    0,    0,    0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11};
    int messages = 0;
    for (;;) {
        uint8_t got[64] = {};
        const ssize_t size = recv(pair[1], got, sizeof got, MSG_DONTWAIT);
        if (size <= 0) break;  // all read, or the end once the stop released the library's end
        ASSERT_EQ(size, 24);
        EXPECT_EQ(std::memcmp(got, expected, sizeof expected), 0) << "message " << messages;
        ++messages;
    }
    EXPECT_EQ(messages, 2);
    // The stop released the library's reference: the peer sees the end of
    // the stream, and device 3, answering after the stop, sends nothing.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    uint8_t probe[24];
    EXPECT_EQ(recv(pair[1], probe, sizeof probe, MSG_DONTWAIT), 0);
    close(pair[1]);
}

TEST_F(SearchTest, ClosedMessagePeerSkipsTheMessagesAndTheSearchGoesOn) {
    StartDevices({Device("02:c0:de:00:00:01", 300), Device("02:c0:de:00:00:02", 600),
                  Device("02:c0:de:00:00:03", 900)});
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
    ASSERT_EQ(QUEXStartAsyncSearchMessage(handle_, pair[0], 0x400, 9), 0);
    close(pair[1]);  // the reader is gone: a write would raise SIGPIPE
    close(pair[0]);
    EXPECT_TRUE(WaitFor([&] { return QUEXGetSearchResultCount(handle_) == 3; }, 3000));
    QUEXStopSearch(handle_);
    EXPECT_EQ(TakeAll(handle_).size(), 3u);
}

// ---- chosen interfaces (QUEXSetInterfaces)

void IgnoreNotification(QuexHandle, uintptr_t) {}

std::vector<uint32_t> ListedFor(QuexHandle handle) {
    quex::LocalInterfaces listed;
    std::vector<uint32_t> addresses;
    if (quex::EnumerateLocalInterfaces(&listed, quex::LookupContext(handle)))
        for (const platform::LocalInterface& entry : listed) addresses.push_back(entry.address);
    return addresses;
}

TEST_F(SearchTest, ChosenInterfacesAloneAreUsedAndStayFixedWhileASearchRuns) {
    StartDevices({Device("02:c0:de:00:00:01", 0, "10.77.0.2"), Device("02:c0:de:00:00:02", 0, "10.78.0.2")});
    const uint32_t chosen[] = {kH1, kH1};  // a repeated address counts once
    ASSERT_EQ(QUEXSetInterfaces(handle_, chosen, 2), 0);
    EXPECT_EQ(QUEXStartSyncSearchEx(handle_, 400, 3000), 1);
    const std::vector<QuexDeviceInfo> found = TakeAll(handle_);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(MacOf(found[0]), "02:c0:de:00:00:02");
    QuexDeviceInfo info;
    const uint8_t nearMac[6] = {0x02, 0xc0, 0xde, 0x00, 0x00, 0x01};
    EXPECT_EQ(QUEXGetDeviceInfo(handle_, nearMac, &info), QUEX_TIMED_OUT);
    // Nothing went out of the other network: not the search, not the query.
    for (const kelvotest::JournalDatagram& request : sim_->Received())
        EXPECT_EQ(request.local, "10.78.0.2") << "from " << request.peer;
    EXPECT_EQ(sim_->Received(1).size(), 2u);

    // Refused, and the choice unchanged: not a local address, bad arguments.
    const uint32_t foreign = htonl(0x0A630001);  // 10.99.0.1
    const uint32_t mixed[] = {kH0, foreign};
    EXPECT_EQ(QUEXSetInterfaces(handle_, mixed, 2), -1);
    EXPECT_EQ(QUEXSetInterfaces(handle_, nullptr, 1), -1);
    EXPECT_EQ(QUEXSetInterfaces(handle_, chosen, -1), -1);
    EXPECT_EQ(QUEXSetInterfaces(nullptr, nullptr, 0), -1);
    EXPECT_EQ(ListedFor(handle_), std::vector<uint32_t>{kH1});

    // Not while a search runs; 0 is every interface again.
    ASSERT_EQ(QUEXStartAsyncSearchCallback(handle_, IgnoreNotification, 0), 0);
    EXPECT_EQ(QUEXSetInterfaces(handle_, nullptr, 0), -1);
    QUEXStopSearch(handle_);
    EXPECT_EQ(QUEXSetInterfaces(handle_, nullptr, 0), 0);
    EXPECT_EQ(ListedFor(handle_), (std::vector<uint32_t>{kH0, kH1}));

    // A chosen interface that has gone since: nothing is sent through the others.
    ASSERT_EQ(QUEXSetInterfaces(handle_, &kH1, 1), 0);
    ASSERT_EQ(0, std::system("ip link set h1 down"));
    EXPECT_EQ(QUEXGetDeviceInfo(handle_, nearMac, &info), -1);
    EXPECT_EQ(QUEXGetLastError(handle_), QUEX_ERROR_NETWORK);
    EXPECT_EQ(LastErrorText(handle_), "No usable IPv4 interface among the chosen ones");
}

TEST_F(SearchTest, TwoHandlesSearchAtOnceFromTwoThreads) {
    StartDevices(
        {Device("02:c0:de:00:00:01", 0), Device("02:c0:de:00:00:02", 200, "", "\"magics\": [\"HAPF\"]")});
    QuexHandle hapf = QUEXOpen(0x48415046, &kVendor);
    ASSERT_NE(hapf, nullptr);
    std::atomic<int32_t> hapfFound{-5};
    std::thread beside([&] { hapfFound = QUEXStartSyncSearchEx(hapf, 400, 3000); });
    EXPECT_EQ(QUEXStartSyncSearchEx(handle_, 400, 3000), 1);
    beside.join();
    EXPECT_EQ(hapfFound.load(), 1);
    ASSERT_EQ(TakeAll(handle_).size(), 1u);
    const std::vector<QuexDeviceInfo> second = TakeAll(hapf);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(MacOf(second[0]), "02:c0:de:00:00:02");
    EXPECT_EQ(second[0].magic, 0x48415046u);
    QUEXClose(hapf);
}

}  // namespace
