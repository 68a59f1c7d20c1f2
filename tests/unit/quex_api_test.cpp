// The library's public face: handles, argument checks, the last error and
// the hand-out of search results. No test here starts real search or
// request work: every call that could reach the network is refused by a
// check that comes first.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "quex/context.h"
#include "quex/device_record.h"
#include "quex/guarded_list.h"
#include "quex/result_index.h"
#include <quex/quex.h>

namespace {

using namespace quex;

constexpr QuexGuid kMorvGuid = {0x3C6E2A90, 0x7B14, 0x4D5F, {0xA2, 0xC8, 0x91, 0xE0, 0xF4, 0xB7, 0xD3, 0x6A}};
constexpr QuexGuid kTelqGuid = {0xD4A17F3B, 0x2E8C, 0x4B61, {0x9F, 0x05, 0x6C, 0x3A, 0x8E, 0x1B, 0x72, 0xD4}};
const uint8_t kMac[6] = {0x02, 0xC0, 0xDE, 0x25, 0x40, 0x74};

void Notify(QuexHandle, uintptr_t) {}

std::string LastMessage(QuexHandle handle, uint32_t size = 256) {
    std::string buffer(size, 'x');
    if (QUEXGetLastErrorMessage(handle, &buffer[0], size) != 0) return "<failed>";
    return std::string(buffer.c_str());
}

// Caller-side notification targets that are valid, so that only the handle
// can make a call fail.
struct Targets {
    int window[2] = {-1, -1};
    int event = -1;
    Targets() {
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, window), 0);
        event = eventfd(0, EFD_CLOEXEC);
        EXPECT_GE(event, 0);
    }
    ~Targets() {
        for (int fd : {window[0], window[1], event})
            if (fd >= 0) close(fd);
    }
};

// Every entry point with a handle that is not open: the fixed results and
// no effect (a stale value must never be followed: ASan would see it).
void ExpectAllRefuse(QuexHandle handle) {
    Targets targets;
    char message[64] = "untouched";
    QuexDeviceInfo info[2];
    std::memset(info, 0x5A, sizeof info);
    EXPECT_EQ(QUEXClose(handle), 0);
    EXPECT_EQ(QUEXGetLastError(handle), -1);
    EXPECT_EQ(QUEXGetLastErrorMessage(handle, message, sizeof message), -1);
    EXPECT_STREQ(message, "untouched");
    EXPECT_EQ(QUEXStartSyncSearch(handle), -1);
    EXPECT_EQ(QUEXStartSyncSearchEx(handle, 3000, 10000), -1);
    EXPECT_EQ(QUEXStartAsyncSearchCallback(handle, Notify, 7), -1);
    EXPECT_EQ(QUEXStartAsyncSearchMessage(handle, targets.window[0], 0x400, 7), -1);
    EXPECT_EQ(QUEXStartAsyncSearchEvent(handle, targets.event), -1);
    EXPECT_EQ(QUEXGetSearchResultCount(handle), -1);
    EXPECT_EQ(QUEXGetSearchResults(handle, info, 2), -1);
    QUEXStopSearch(handle);
    EXPECT_EQ(QUEXGetDeviceInfo(handle, kMac, info), -1);
    EXPECT_EQ(QUEXRebootDevice(handle, kMac, "secret"), -1);
    EXPECT_EQ(QUEXSetNetwork(handle, kMac, 0x0101A8C0, 0x00FFFFFF, 0, "secret"), -1);
    EXPECT_EQ(QUEXSetDHCP(handle, kMac, 1, "secret"), -1);
    EXPECT_EQ(QUEXSetDeviceInfoTimeout(handle, 1000), -1);
    const QuexDeviceInfo* bytes = info;
    for (size_t i = 0; i < sizeof info; ++i)
        ASSERT_EQ(reinterpret_cast<const uint8_t*>(bytes)[i], 0x5A) << "byte " << i;
}

// Must stay the first test of this binary: the closed handle's address has
// not been handed to a new context yet.
TEST(QuexHandleTest, ClosedAndDoublyClosedHandlesAreRefusedEverywhere) {
    QuexHandle handle = QUEXOpen(QUEX_MAGIC_TELQ, &kTelqGuid);
    ASSERT_NE(handle, nullptr);
    const int32_t openCount = ListCount(HandleRegistry());
    EXPECT_EQ(QUEXClose(handle), 0);
    EXPECT_EQ(ListCount(HandleRegistry()), openCount - 1);
    ExpectAllRefuse(handle);  // calls QUEXClose a second time too
    EXPECT_EQ(QUEXClose(handle), 0);
    EXPECT_EQ(ListCount(HandleRegistry()), openCount - 1);
}

TEST(QuexHandleTest, NullAndForgedHandlesAreRefusedEverywhere) {
    ExpectAllRefuse(nullptr);
    // An address that was never a context; only compared, never read.
    alignas(QuexContext) static unsigned char forged[sizeof(QuexContext)];
    ExpectAllRefuse(reinterpret_cast<QuexHandle>(forged));
    ExpectAllRefuse(reinterpret_cast<QuexHandle>(uintptr_t{1}));
}

TEST(QuexHandleTest, OpenRefusesZeroMagicAndNullGuid) {
    EXPECT_EQ(QUEXOpen(0, &kTelqGuid), nullptr);
    EXPECT_EQ(QUEXOpen(QUEX_MAGIC_TELQ, nullptr), nullptr);
    EXPECT_EQ(QUEXOpenByGuid(nullptr), nullptr);
}

TEST(QuexHandleTest, FreshHandleHasDefaults) {
    const QuexGuid guid = {0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}};
    QuexHandle handle = QUEXOpen(0x41424344u /* "ABCD" */, &guid);
    ASSERT_NE(handle, nullptr);
    QuexContext* context = LookupContext(handle);
    ASSERT_EQ(context, handle);
    EXPECT_EQ(context->magic, 0x41424344u);
    EXPECT_EQ(std::memcmp(&context->vendorGuid, &guid, sizeof guid), 0);
    EXPECT_EQ(QUEXGetLastError(handle), 0);
    EXPECT_EQ(LastMessage(handle), "Operation succeeded");
    EXPECT_EQ(context->multicastTtl, 64);
    const uint8_t group[4] = {224, 0, 5, 128};  // network order in memory
    EXPECT_EQ(std::memcmp(&context->multicastGroup, group, 4), 0);
    EXPECT_EQ(context->port, 2362);
    EXPECT_EQ(context->requestPollMs, 200u);
    EXPECT_EQ(context->searchPollMs, 200u);
    EXPECT_EQ(context->replyTimeoutMs, 30000u);
    EXPECT_EQ(context->infoTimeoutMs, 5000u);
    EXPECT_EQ(context->deviceInfoTimeoutMs, 5000u);
    EXPECT_EQ(context->quietTimeMs, 5000u);
    EXPECT_EQ(context->searchRunning, 0);
    EXPECT_EQ(context->searchAsync, 0);
    EXPECT_EQ(context->searchThread, nullptr);
    EXPECT_EQ(context->notifyCallback, nullptr);
    EXPECT_EQ(context->notifyWindow, QUEX_NO_WINDOW);
    EXPECT_EQ(context->notifyEvent, QUEX_NO_EVENT);
    ASSERT_NE(context->stopEvent, nullptr);
    EXPECT_FALSE(context->stopEvent->Wait(0));  // created not signalled
    ASSERT_NE(context->searchTimer, nullptr);
    EXPECT_EQ(QUEXGetSearchResultCount(handle), 0);
    EXPECT_EQ(QUEXClose(handle), 0);
    EXPECT_EQ(LookupContext(handle), nullptr);
}

TEST(QuexHandleTest, OpenByGuidChoosesMagic) {
    const QuexGuid other = {0x11111111, 0x2222, 0x3333, {4, 4, 4, 4, 4, 4, 4, 4}};
    QuexGuid almostMorv = kMorvGuid;
    almostMorv.data4[7] ^= 1;  // one byte off is another vendor
    struct Case {
        const QuexGuid* guid;
        uint32_t magic;
    } cases[] = {
        {&kMorvGuid, 0x4D4F5256}, {&kTelqGuid, 0x54454C51}, {&other, 0x54454C51}, {&almostMorv, 0x54454C51}};
    for (const Case& c : cases) {
        QuexHandle handle = QUEXOpenByGuid(c.guid);
        ASSERT_NE(handle, nullptr);
        QuexContext* context = LookupContext(handle);
        ASSERT_NE(context, nullptr);
        EXPECT_EQ(context->magic, c.magic);
        EXPECT_EQ(std::memcmp(&context->vendorGuid, c.guid, sizeof(QuexGuid)), 0);
        QUEXClose(handle);
    }
}

TEST(QuexHandleTest, HandlesAreIndependent) {
    QuexHandle a = QUEXOpen(QUEX_MAGIC_TELQ, &kTelqGuid);
    QuexHandle b = QUEXOpen(QUEX_MAGIC_HAPF, &kTelqGuid);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    SetContextError(LookupContext(a), 17, "bad password");
    EXPECT_EQ(QUEXGetLastError(a), 17);
    EXPECT_EQ(QUEXGetLastError(b), 0);
    QUEXClose(a);
    EXPECT_EQ(QUEXGetLastError(b), 0);
    EXPECT_EQ(LastMessage(b), "Operation succeeded");
    QUEXClose(b);
}

TEST(QuexHandleTest, CloseReleasesAHeldNotificationTarget) {
    QuexHandle handle = QUEXOpen(QUEX_MAGIC_TELQ, &kTelqGuid);
    ASSERT_NE(handle, nullptr);
    Targets targets;
    QuexContext* context = LookupContext(handle);
    // As a search leaves them: the library's own duplicates.
    context->notifyWindow = fcntl(targets.window[0], F_DUPFD_CLOEXEC, 0);
    context->notifyEvent = fcntl(targets.event, F_DUPFD_CLOEXEC, 0);
    const int window = context->notifyWindow, event = context->notifyEvent;
    ASSERT_GE(window, 0);
    ASSERT_GE(event, 0);
    EXPECT_EQ(QUEXClose(handle), 0);
    EXPECT_EQ(fcntl(window, F_GETFD), -1);
    EXPECT_EQ(fcntl(event, F_GETFD), -1);
    // The caller's own descriptors stay open.
    EXPECT_NE(fcntl(targets.window[0], F_GETFD), -1);
    EXPECT_NE(fcntl(targets.event, F_GETFD), -1);
}

class LastErrorTest : public ::testing::Test {
protected:
    void SetUp() override {
        handle_ = QUEXOpen(QUEX_MAGIC_TELQ, &kTelqGuid);
        ASSERT_NE(handle_, nullptr);
        context_ = LookupContext(handle_);
    }
    void TearDown() override {
        context_->searchRunning = 0;
        QUEXClose(handle_);
    }
    void ExpectUntouched() {
        EXPECT_EQ(QUEXGetLastError(handle_), 42);
        EXPECT_EQ(LastMessage(handle_), "device refused");
    }
    void ExpectReset() {
        EXPECT_EQ(QUEXGetLastError(handle_), 0);
        EXPECT_EQ(LastMessage(handle_), "Operation succeeded");
    }
    QuexHandle handle_ = nullptr;
    QuexContext* context_ = nullptr;
};

TEST_F(LastErrorTest, MessageIsCutToBufferSize) {
    char buffer[10];
    std::memset(buffer, 'x', sizeof buffer);
    ASSERT_EQ(QUEXGetLastErrorMessage(handle_, buffer, 10), 0);
    EXPECT_EQ(std::string(buffer, 10), std::string("Operation\0", 10));
    char padded[32];
    std::memset(padded, 'x', sizeof padded);
    ASSERT_EQ(QUEXGetLastErrorMessage(handle_, padded, 32), 0);
    EXPECT_STREQ(padded, "Operation succeeded");
    for (size_t i = 19; i < sizeof padded; ++i) EXPECT_EQ(padded[i], '\0') << "byte " << i;
    char one = 'x';
    EXPECT_EQ(QUEXGetLastErrorMessage(handle_, &one, 1), 0);
    EXPECT_EQ(one, '\0');
    char untouched = 'x';
    EXPECT_EQ(QUEXGetLastErrorMessage(handle_, &untouched, 0), -1);
    EXPECT_EQ(untouched, 'x');
    EXPECT_EQ(QUEXGetLastErrorMessage(handle_, nullptr, 10), -1);
}

TEST_F(LastErrorTest, SetContextErrorCutsAt255AndNeverStoresMinusOne) {
    const std::string longText(300, 'e');
    SetContextError(context_, 200, longText.c_str());
    EXPECT_EQ(QUEXGetLastError(handle_), 200);
    EXPECT_EQ(LastMessage(handle_), std::string(255, 'e'));
    EXPECT_EQ(context_->lastErrorMessage[255], '\0');
    SetContextError(context_, 42, std::string(255, 'f').c_str());
    EXPECT_EQ(LastMessage(handle_), std::string(255, 'f'));
    // A shorter message leaves nothing of the longer one behind.
    SetContextError(context_, 42, "device refused");
    ExpectUntouched();
    for (size_t i = 14; i < sizeof context_->lastErrorMessage; ++i)
        ASSERT_EQ(context_->lastErrorMessage[i], '\0') << "byte " << i;
    SetContextError(context_, -1, "internal failure");
    ExpectUntouched();
    SetContextError(context_, 5, nullptr);
    ExpectUntouched();
    SetContextError(nullptr, 5, "ignored");
    // The context's own text as the message.
    SetContextError(context_, 42, context_->lastErrorMessage);
    ExpectUntouched();
    SetContextError(context_, -2, kMessageTimedOut);
    EXPECT_EQ(QUEXGetLastError(handle_), -2);
    EXPECT_EQ(LastMessage(handle_), "Operation timed out");
}

TEST_F(LastErrorTest, RefusedArgumentsLeaveLastErrorAlone) {
    Targets targets;
    QuexDeviceInfo info;
    SetContextError(context_, 42, "device refused");
    EXPECT_EQ(QUEXStartAsyncSearchCallback(handle_, nullptr, 1), -1);
    EXPECT_EQ(QUEXStartAsyncSearchMessage(handle_, targets.event, 0x400, 1), -1);  // not a socket
    EXPECT_EQ(QUEXStartAsyncSearchMessage(handle_, QUEX_NO_WINDOW, 0x400, 1), -1);
    EXPECT_EQ(QUEXStartAsyncSearchMessage(handle_, targets.window[0], 0, 1), -1);
    EXPECT_EQ(QUEXStartAsyncSearchEvent(handle_, QUEX_NO_EVENT), -1);
    // Descriptors that are not an eventfd would receive the counter's bytes.
    EXPECT_EQ(QUEXStartAsyncSearchEvent(handle_, STDOUT_FILENO), -1);
    EXPECT_EQ(QUEXStartAsyncSearchEvent(handle_, targets.window[0]), -1);
    EXPECT_EQ(QUEXGetSearchResults(handle_, &info, 0), -1);
    EXPECT_EQ(QUEXGetSearchResults(handle_, nullptr, 1), -1);
    EXPECT_EQ(QUEXGetDeviceInfo(handle_, nullptr, &info), -1);
    EXPECT_EQ(QUEXGetDeviceInfo(handle_, kMac, nullptr), -1);
    EXPECT_EQ(QUEXRebootDevice(handle_, nullptr, "pw"), -1);
    EXPECT_EQ(QUEXRebootDevice(handle_, kMac, nullptr), -1);
    EXPECT_EQ(QUEXSetNetwork(handle_, nullptr, 1, 2, 3, "pw"), -1);
    EXPECT_EQ(QUEXSetNetwork(handle_, kMac, 1, 2, 3, nullptr), -1);
    EXPECT_EQ(QUEXSetDHCP(handle_, nullptr, 1, "pw"), -1);
    EXPECT_EQ(QUEXSetDHCP(handle_, kMac, 1, nullptr), -1);
    ASSERT_EQ(QUEXSetDeviceInfoTimeout(handle_, 1), 0);
    EXPECT_EQ(QUEXSetDeviceInfoTimeout(handle_, 60001), -1);
    EXPECT_EQ(QUEXSetDeviceInfoTimeout(handle_, 0xFFFFFFFFu), -1);
    EXPECT_EQ(context_->deviceInfoTimeoutMs, 1u);  // refused: nothing changed
    ASSERT_EQ(QUEXSetDeviceInfoTimeout(handle_, 60000), 0);
    EXPECT_EQ(context_->deviceInfoTimeoutMs, 60000u);
    ASSERT_EQ(QUEXSetDeviceInfoTimeout(handle_, 0), 0);
    EXPECT_EQ(context_->deviceInfoTimeoutMs, 5000u);  // 0: the default of open
    EXPECT_EQ(context_->infoTimeoutMs, 5000u);        // the requests' queries keep theirs
    ExpectUntouched();
    EXPECT_EQ(context_->searchAsync, 0);
}

TEST_F(LastErrorTest, RunningSearchRefusesStartsBeforeTheReset) {
    Targets targets;
    SetContextError(context_, 42, "device refused");
    context_->searchRunning = 1;
    EXPECT_EQ(QUEXStartSyncSearch(handle_), -1);
    EXPECT_EQ(QUEXStartSyncSearchEx(handle_, 3000, 10000), -1);
    EXPECT_EQ(QUEXStartAsyncSearchCallback(handle_, Notify, 1), -1);
    EXPECT_EQ(QUEXStartAsyncSearchMessage(handle_, targets.window[0], 0x400, 1), -1);
    EXPECT_EQ(QUEXStartAsyncSearchEvent(handle_, targets.event), -1);
    EXPECT_EQ(QUEXSetDeviceInfoTimeout(handle_, 1000), -1);
    EXPECT_EQ(context_->deviceInfoTimeoutMs, 5000u);
    ExpectUntouched();
    EXPECT_EQ(context_->searchAsync, 0);
    // A running synchronous search is not the caller's to stop.
    QUEXStopSearch(handle_);
    EXPECT_EQ(context_->searchRunning, 1);
}

TEST_F(LastErrorTest, BadSearchTimesAreRefusedAfterTheReset) {
    const uint32_t badTimes[][2] = {{0, 10000}, {3000, 0}, {0xFFFFFFFFu, 0xFFFFFFFFu}};
    for (const auto& times : badTimes) {
        SetContextError(context_, 42, "device refused");
        EXPECT_EQ(QUEXStartSyncSearchEx(handle_, times[0], times[1]), -1);
        ExpectReset();
        EXPECT_EQ(context_->searchRunning, 0);
    }
}

TEST_F(LastErrorTest, ReadersDoNotReset) {
    QuexDeviceInfo info;
    SetContextError(context_, 42, "device refused");
    EXPECT_EQ(QUEXGetLastError(handle_), 42);
    EXPECT_EQ(QUEXGetSearchResultCount(handle_), 0);
    EXPECT_EQ(QUEXGetSearchResults(handle_, &info, 1), 0);
    QUEXStopSearch(handle_);
    ExpectUntouched();
}

class SearchResultsTest : public LastErrorTest {
protected:
    // Stands in for the search worker: records as it would leave them.
    void AddRecords(int count) {
        for (int i = 0; i < count; ++i) {
            QuexDeviceRecord* record = NewDeviceRecord(context_->magic);
            ASSERT_NE(record, nullptr);
            std::memcpy(record->info.macAddress, kMac, 6);
            record->info.macAddress[5] = static_cast<uint8_t>(next_);
            record->info.auxNumber = static_cast<uint16_t>(1000 + next_);
            std::snprintf(record->info.modelName, sizeof record->info.modelName, "model-%d", next_);
            record->resultCode = 0xEE;  // never copied out
            ++next_;
            ASSERT_TRUE(StoreResult(context_, record, false));
        }
    }
    int next_ = 0;
};

TEST_F(SearchResultsTest, CapacityAndArrivalOrder) {
    AddRecords(5);
    EXPECT_EQ(QUEXGetSearchResultCount(handle_), 5);
    QuexDeviceInfo out[5];
    std::memset(out, 0x77, sizeof out);
    ASSERT_EQ(QUEXGetSearchResults(handle_, out, 3), 3);
    EXPECT_EQ(QUEXGetSearchResultCount(handle_), 2);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(out[i].size, 852u);
        EXPECT_EQ(out[i].magic, QUEX_MAGIC_TELQ);
        EXPECT_EQ(out[i].macAddress[5], i);
        EXPECT_EQ(out[i].auxNumber, 1000 + i);
        EXPECT_STREQ(out[i].modelName, ("model-" + std::to_string(i)).c_str());
    }
    for (size_t i = 0; i < sizeof(QuexDeviceInfo) * 2; ++i)
        ASSERT_EQ(reinterpret_cast<const uint8_t*>(&out[3])[i], 0x77) << "beyond capacity, byte " << i;

    std::memset(out, 0x77, sizeof out);
    ASSERT_EQ(QUEXGetSearchResults(handle_, out, 5), 2);
    EXPECT_EQ(out[0].macAddress[5], 3);
    EXPECT_EQ(out[1].macAddress[5], 4);
    for (size_t i = 0; i < sizeof(QuexDeviceInfo) * 3; ++i)
        ASSERT_EQ(reinterpret_cast<const uint8_t*>(&out[2])[i], 0x77) << "beyond the results, byte " << i;
    EXPECT_EQ(QUEXGetSearchResultCount(handle_), 0);
    EXPECT_EQ(QUEXGetSearchResults(handle_, out, 5), 0);
}

TEST_F(SearchResultsTest, CopyIsTheRecordImageByteForByte) {
    QuexDeviceRecord* record = NewDeviceRecord(context_->magic);
    ASSERT_NE(record, nullptr);
    std::memcpy(record->info.macAddress, kMac, 6);
    for (size_t i = 100; i < 200; ++i) reinterpret_cast<uint8_t*>(&record->info)[i] = uint8_t(i);
    QuexDeviceInfo expected;
    std::memcpy(&expected, &record->info, sizeof expected);
    ASSERT_TRUE(StoreResult(context_, record, false));
    QuexDeviceInfo out;
    ASSERT_EQ(QUEXGetSearchResults(handle_, &out, 1), 1);
    EXPECT_EQ(std::memcmp(&out, &expected, sizeof out), 0);
}

TEST_F(SearchResultsTest, CloseFreesWaitingRecords) {
    // Under AddressSanitizer a record left behind shows up as a leak.
    AddRecords(4);
    QuexHandle handle = handle_;
    EXPECT_EQ(QUEXClose(handle), 0);
    EXPECT_EQ(QUEXGetSearchResultCount(handle), -1);
    handle_ = QUEXOpen(QUEX_MAGIC_TELQ, &kTelqGuid);  // for TearDown
    ASSERT_NE(handle_, nullptr);
    context_ = LookupContext(handle_);
}

}  // namespace
