// The POSIX synchronisation objects and notification targets.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

#include "platform/notify.h"
#include "platform/sync.h"

namespace {

using namespace platform;

bool Readable(Waitable native) {
    pollfd entry{static_cast<int>(native), POLLIN, 0};
    return poll(&entry, 1, 0) == 1;
}

TEST(EventTest, AutoResetConsumesOneSignal) {
    Event event;
    ASSERT_TRUE(event.Valid());
    EXPECT_FALSE(event.Wait(0));
    event.Set();
    event.Set();  // not counted: still one signal
    EXPECT_TRUE(Readable(event.Native()));
    EXPECT_TRUE(event.Wait(0));
    EXPECT_FALSE(event.Wait(0));
    EXPECT_FALSE(Readable(event.Native()));
}

TEST(EventTest, WaitEndsWhenAnotherThreadSets) {
    Event event;
    Thread setter;
    ASSERT_TRUE(setter.Start([&] {
        SleepMs(30);
        event.Set();
    }));
    EXPECT_TRUE(event.Wait(10000));
    setter.Join();
    const uint64_t start = MonotonicMs();
    EXPECT_FALSE(event.Wait(40));
    EXPECT_GE(MonotonicMs() - start, 40u);
}

TEST(TimerTest, FiresOnceAfterRelativeDueTime) {
    WaitableTimer timer;
    ASSERT_TRUE(timer.Valid());
    EXPECT_FALSE(timer.Wait(0));
    const uint64_t start = MonotonicMs();
    ASSERT_TRUE(timer.Arm(30));
    EXPECT_TRUE(timer.Wait(10000));
    EXPECT_GE(MonotonicMs() - start, 30u);
    EXPECT_FALSE(timer.Wait(0));  // the firing was consumed; no period
    ASSERT_TRUE(timer.Arm(0));    // due at once
    EXPECT_TRUE(timer.Wait(10000));
}

TEST(TimerTest, CancelDisarmsAndDropsAnUnconsumedFiring) {
    WaitableTimer timer;
    ASSERT_TRUE(timer.Arm(10));
    SleepMs(30);
    EXPECT_TRUE(Readable(timer.Native()));
    timer.Cancel();
    EXPECT_FALSE(timer.Wait(0));
    ASSERT_TRUE(timer.Arm(20));
    timer.Cancel();
    EXPECT_FALSE(timer.Wait(60));
}

TEST(TimerTest, ReArmingReplacesThePreviousDueTime) {
    WaitableTimer timer;
    ASSERT_TRUE(timer.Arm(10));     // 10 ms ...
    ASSERT_TRUE(timer.Arm(10000));  // ... replaced by 10 s
    EXPECT_FALSE(timer.Wait(60));
    ASSERT_TRUE(timer.Arm(kInfinite - 1));  // the longest due time is far off too
    EXPECT_FALSE(timer.Wait(60));
    ASSERT_TRUE(timer.Arm(10));
    EXPECT_TRUE(timer.Wait(10000));
}

TEST(TimerTest, InfiniteDueTimeLeavesTheTimerAsItIs) {
    WaitableTimer timer;
    EXPECT_TRUE(timer.Arm(kInfinite));
    EXPECT_FALSE(timer.Wait(50));
    ASSERT_TRUE(timer.Arm(10));
    EXPECT_TRUE(timer.Arm(kInfinite));
    EXPECT_TRUE(timer.Wait(10000));
}

TEST(ThreadTest, StartRunsOnceAndJoins) {
    std::atomic<int> runs{0};
    Thread thread;
    EXPECT_FALSE(thread.Joinable());
    EXPECT_FALSE(thread.Start(nullptr));
    ASSERT_TRUE(thread.Start([&] { ++runs; }));
    EXPECT_TRUE(thread.Joinable());
    EXPECT_FALSE(thread.Start([&] { ++runs; }));  // one thread per object
    thread.Join();
    EXPECT_FALSE(thread.Joinable());
    EXPECT_EQ(runs.load(), 1);
    thread.Join();  // harmless
}

TEST(ThreadTest, DestructorJoins) {
    std::atomic<bool> done{false};
    {
        Thread thread;
        ASSERT_TRUE(thread.Start([&] {
            SleepMs(20);
            done = true;
        }));
    }
    EXPECT_TRUE(done.load());
}

TEST(RecursiveMutexTest, OwnerLocksTwice) {
    RecursiveMutex mutex;
    ASSERT_TRUE(mutex.Valid());
    mutex.lock();
    mutex.lock();
    mutex.unlock();
    std::atomic<bool> got{false};
    Thread other;
    ASSERT_TRUE(other.Start([&] {
        mutex.lock();
        got = true;
        mutex.unlock();
    }));
    SleepMs(30);
    EXPECT_FALSE(got.load());  // still held once
    mutex.unlock();
    other.Join();
    EXPECT_TRUE(got.load());
}

class Pair {
public:
    explicit Pair(int type) { EXPECT_EQ(socketpair(AF_UNIX, type | SOCK_CLOEXEC, 0, fds_), 0); }
    ~Pair() {
        CloseWindow();
        CloseReader();
    }
    int window() const { return fds_[0]; }
    int reader() const { return fds_[1]; }
    void CloseReader() { CloseFd(&fds_[1]); }
    void CloseWindow() { CloseFd(&fds_[0]); }

private:
    static void CloseFd(int* fd) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
    int fds_[2] = {-1, -1};
};

TEST(WindowTest, ExistsOnlyForOpenSockets) {
    Pair pair(SOCK_DGRAM);
    EXPECT_TRUE(WindowExists(pair.window()));
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    EXPECT_FALSE(WindowExists(pipeFds[0]));
    close(pipeFds[0]);
    close(pipeFds[1]);
    const int event = eventfd(0, EFD_CLOEXEC);
    EXPECT_FALSE(WindowExists(event));
    close(event);
    EXPECT_FALSE(WindowExists(kNoWindow));
    const int closed = pair.window();
    pair.CloseWindow();
    EXPECT_FALSE(WindowExists(closed));
}

TEST(WindowTest, RetainedCopyPostsOneRecordAfterTheCallerClosedItsNumber) {
    Pair pair(SOCK_DGRAM);
    const NotifyWindow retained = WindowRetain(pair.window());
    ASSERT_NE(retained, kNoWindow);
    EXPECT_NE(retained, pair.window());
    EXPECT_NE(fcntl(retained, F_GETFD) & FD_CLOEXEC, 0);
    pair.CloseWindow();
    ASSERT_TRUE(WindowPost(retained, 0x8001, 0, 0x1122334455667788ull));
    PostedMessage record;
    ASSERT_EQ(recv(pair.reader(), &record, sizeof record + 8, MSG_DONTWAIT), ssize_t(sizeof record));
    EXPECT_EQ(record.message, 0x8001u);
    EXPECT_EQ(record.reserved, 0u);
    EXPECT_EQ(record.wParam, 0u);
    EXPECT_EQ(record.lParam, 0x1122334455667788ull);
    WindowRelease(retained);
    EXPECT_EQ(WindowRetain(kNoWindow), kNoWindow);
}

// A gone reader must be skipped quietly: SIGPIPE would end this process.
TEST(WindowTest, GoneReaderIsSkippedWithoutSignal) {
    for (int type : {SOCK_DGRAM, SOCK_SEQPACKET, SOCK_STREAM}) {
        Pair pair(type);
        pair.CloseReader();
        EXPECT_FALSE(WindowPost(pair.window(), 1, 0, 2)) << "socket type " << type;
    }
}

TEST(WindowTest, FullQueueNeverBlocks) {
    Pair pair(SOCK_DGRAM);
    int posted = 0;
    while (posted < 100000 && WindowPost(pair.window(), 1, 0, posted)) ++posted;
    EXPECT_LT(posted, 100000);  // stopped at a full queue instead of blocking
    PostedMessage record;
    ASSERT_EQ(recv(pair.reader(), &record, sizeof record, 0), ssize_t(sizeof record));
    EXPECT_EQ(record.lParam, 0u);  // queued in order
    EXPECT_TRUE(WindowPost(pair.window(), 1, 0, 7));
}

TEST(NotifyEventTest, RetainedCopySignalsTheCallersEventfd) {
    const int event = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    ASSERT_GE(event, 0);
    const NotifyEvent retained = EventRetain(event);
    ASSERT_NE(retained, kNoEvent);
    EXPECT_NE(retained, event);
    EXPECT_TRUE(EventSignal(retained));
    EXPECT_TRUE(EventSignal(retained));
    uint64_t value = 0;
    ASSERT_EQ(read(event, &value, sizeof value), ssize_t(sizeof value));
    EXPECT_EQ(value, 2u);  // one added per notification
    EventRelease(retained);
    close(event);
    EXPECT_EQ(EventRetain(kNoEvent), kNoEvent);
    EXPECT_FALSE(EventSignal(kNoEvent));
}

}  // namespace
