// The MAC index beside a handle's result list: it must count exactly the
// records the list holds after every store, take, clear and close, or a
// synchronous search would drop a device it has not listed (stale entry) or
// list one twice (missing entry).
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <thread>
#include <vector>

#include "quex/context.h"
#include "quex/device_record.h"
#include <quex/quex.h>
#include "quex/result_index.h"
#include "quex/search.h"

namespace {

constexpr QuexGuid kVendor = {0xD4A17F3B, 0x2E8C, 0x4B61, {0x9F, 0x05, 0x6C, 0x3A, 0x8E, 0x1B, 0x72, 0xD4}};

void MacOf(uint32_t i, uint8_t* mac) {
    const uint8_t bytes[6] = {
        0x02, 0xB0, 0, static_cast<uint8_t>(i >> 16), static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
    std::memcpy(mac, bytes, 6);
}

class ResultIndexTest : public ::testing::Test {
protected:
    void SetUp() override {
        handle_ = QUEXOpen(QUEX_MAGIC_TELQ, &kVendor);
        ASSERT_NE(handle_, nullptr);
        ASSERT_NE(handle_->resultIndex, nullptr);
    }
    void TearDown() override { QUEXClose(handle_); }

    bool Store(uint32_t i, bool unique) {
        quex::QuexDeviceRecord* record = quex::NewDeviceRecord(handle_->magic);
        if (record == nullptr) return false;
        MacOf(i, record->info.macAddress);
        return quex::StoreResult(handle_, record, unique);
    }
    int32_t Indexed(uint32_t i) {
        uint8_t mac[6];
        MacOf(i, mac);
        return quex::IndexedCount(handle_, mac);
    }
    std::vector<QuexDeviceInfo> Take(uint32_t count) {
        std::vector<QuexDeviceInfo> out(count);
        const int32_t got = QUEXGetSearchResults(handle_, out.data(), count);
        out.resize(got > 0 ? static_cast<size_t>(got) : 0);
        return out;
    }

    QuexHandle handle_ = nullptr;
};

// Waiting records are kept packed: every byte must come back, whatever the
// mix of zero runs (short, long, at either end) and other bytes.
TEST_F(ResultIndexTest, WaitingRecordsComeBackByteForByte) {
    std::vector<std::vector<uint8_t>> images;
    const size_t size = sizeof(quex::QuexDeviceRecord);
    images.emplace_back(size, 0x00);
    images.emplace_back(size, 0xFF);
    std::vector<uint8_t> runs(size);
    uint32_t seed = 12345;
    for (size_t at = 0; at < size;) {  // alternating runs of 1 to 9 bytes, zeros or noise
        seed = seed * 1103515245u + 12345u;
        const size_t length = 1 + (seed >> 16) % 9;
        for (size_t i = at; i < at + length && i < size; ++i)
            runs[i] = (seed >> 8) % 2 ? 0 : static_cast<uint8_t>(1 + (seed >> 20) % 255);
        at += length;
    }
    runs[0] = 0;
    runs[size - 1] = 7;
    images.push_back(runs);
    runs[size - 1] = 0;
    runs[size - 2] = 0;
    images.push_back(runs);
    for (uint32_t i = 0; i < images.size(); ++i) {
        MacOf(i, images[i].data() + offsetof(QuexDeviceInfo, macAddress));
        auto* record = quex::NewDeviceRecord(handle_->magic);
        ASSERT_NE(record, nullptr);
        std::memcpy(static_cast<void*>(record), images[i].data(), size);
        ASSERT_TRUE(quex::StoreResult(handle_, record, true)) << i;
    }
    for (uint32_t i = 0; i < images.size(); ++i) {
        quex::QuexDeviceRecord* record = quex::TakeResult(handle_);
        ASSERT_NE(record, nullptr) << i;
        EXPECT_EQ(0, std::memcmp(record, images[i].data(), size)) << i;
        quex::DeleteDeviceRecord(record);
    }
    EXPECT_EQ(nullptr, quex::TakeResult(handle_));
}

TEST_F(ResultIndexTest, SynchronousStoreKeepsTheFirstAnswerOfEachDevice) {
    for (uint32_t i = 0; i < 100; ++i) EXPECT_TRUE(Store(i, true));
    for (uint32_t i = 0; i < 100; i += 7) EXPECT_FALSE(Store(i, true)) << i;
    EXPECT_EQ(QUEXGetSearchResultCount(handle_), 100);
    EXPECT_EQ(Indexed(0), 1);
    EXPECT_EQ(Indexed(100), 0);
    EXPECT_TRUE(quex::ResultIndexMatchesList(handle_));
}

TEST_F(ResultIndexTest, TakenDevicesAreForgottenAndCountAgainWhenTheyAnswerAgain) {
    for (uint32_t i = 0; i < 50; ++i) ASSERT_TRUE(Store(i, true));
    const std::vector<QuexDeviceInfo> taken = Take(20);
    ASSERT_EQ(taken.size(), 20u);
    EXPECT_TRUE(quex::ResultIndexMatchesList(handle_));
    // The oldest twenty went: the index no longer lists them ...
    for (uint32_t i = 0; i < 20; ++i) EXPECT_EQ(Indexed(i), 0) << i;
    for (uint32_t i = 20; i < 50; ++i) EXPECT_EQ(Indexed(i), 1) << i;
    // ... so a taken device that answers again is listed again, a waiting one is not.
    EXPECT_TRUE(Store(3, true));
    EXPECT_FALSE(Store(30, true));
    EXPECT_EQ(QUEXGetSearchResultCount(handle_), 31);
    EXPECT_TRUE(quex::ResultIndexMatchesList(handle_));
    EXPECT_EQ(Take(100).size(), 31u);
    EXPECT_EQ(Indexed(3), 0);
    EXPECT_TRUE(quex::ResultIndexMatchesList(handle_));
}

TEST_F(ResultIndexTest, AsynchronousStoreCountsEveryAnswerOfADevice) {
    ASSERT_TRUE(Store(5, false));
    ASSERT_TRUE(Store(5, false));
    ASSERT_TRUE(Store(6, false));
    EXPECT_EQ(Indexed(5), 2);
    EXPECT_TRUE(quex::ResultIndexMatchesList(handle_));
    ASSERT_EQ(Take(1).size(), 1u);  // one of the two answers of device 5
    EXPECT_EQ(Indexed(5), 1);
    EXPECT_TRUE(quex::ResultIndexMatchesList(handle_));
    // A synchronous store now still sees the remaining answer.
    EXPECT_FALSE(Store(5, true));
}

TEST_F(ResultIndexTest, ClearResultsEmptiesTheIndexToo) {
    for (uint32_t i = 0; i < 30; ++i) ASSERT_TRUE(Store(i, true));
    quex::ClearResults(handle_);
    EXPECT_EQ(QUEXGetSearchResultCount(handle_), 0);
    for (uint32_t i = 0; i < 30; ++i) EXPECT_EQ(Indexed(i), 0) << i;
    EXPECT_TRUE(quex::ResultIndexMatchesList(handle_));
    // The same devices found by the next search are all listed.
    for (uint32_t i = 0; i < 30; ++i) EXPECT_TRUE(Store(i, true)) << i;
    EXPECT_TRUE(quex::ResultIndexMatchesList(handle_));
}

TEST_F(ResultIndexTest, ClosingAHandleWithWaitingRecordsFreesThemAndItsIndex) {
    // Under the sanitizers a record or index left behind is reported as a leak.
    QuexHandle other = QUEXOpen(QUEX_MAGIC_TELQ, &kVendor);
    ASSERT_NE(other, nullptr);
    for (uint32_t i = 0; i < 10; ++i) {
        quex::QuexDeviceRecord* record = quex::NewDeviceRecord(other->magic);
        ASSERT_NE(record, nullptr);
        MacOf(i, record->info.macAddress);
        ASSERT_TRUE(quex::StoreResult(other, record, true));
    }
    EXPECT_EQ(QUEXClose(other), 0);
    EXPECT_EQ(QUEXGetSearchResultCount(other), -1);
}

TEST_F(ResultIndexTest, StoresAndTakesFromTwoThreadsLeaveListAndIndexAgreeing) {
    // The worker stores while the caller takes, as in an asynchronous search.
    std::atomic<bool> done{false};
    std::thread taker([&] {
        std::vector<QuexDeviceInfo> out(16);
        while (!done.load()) QUEXGetSearchResults(handle_, out.data(), static_cast<uint32_t>(out.size()));
    });
    for (uint32_t round = 0; round < 20; ++round)
        for (uint32_t i = 0; i < 200; ++i) Store(i, round % 2 == 0);
    done.store(true);
    taker.join();
    EXPECT_TRUE(quex::ResultIndexMatchesList(handle_));
    Take(100000);
    for (uint32_t i = 0; i < 200; ++i) EXPECT_EQ(Indexed(i), 0) << i;
}

TEST_F(ResultIndexTest, MatchCheckNoticesADisagreement) {
    // The check itself must be able to fail: a record slipped into the list
    // behind the index's back is seen.
    ASSERT_TRUE(Store(1, true));
    quex::QuexDeviceRecord* stray = quex::NewDeviceRecord(handle_->magic);
    ASSERT_NE(stray, nullptr);
    MacOf(2, stray->info.macAddress);
    ASSERT_GE(quex::ListAdd(handle_->results, stray), 0);
    EXPECT_FALSE(quex::ResultIndexMatchesList(handle_));
    quex::ListRemove(handle_->results, stray);
    quex::DeleteDeviceRecord(stray);
    EXPECT_TRUE(quex::ResultIndexMatchesList(handle_));
}

}  // namespace
