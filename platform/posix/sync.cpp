// POSIX backend of the synchronisation layer: std::recursive_mutex for the
// mutex, an eventfd for the auto-reset event, a timerfd for the waitable
// timer, std::thread for threads.
#include "platform/sync.h"

#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace platform {
namespace {

// Waits until fd is readable or timeoutMs passes; true when readable.
bool PollReadable(int fd, uint32_t timeoutMs) {
    const uint64_t start = MonotonicMs();
    for (;;) {
        int slice = -1;
        if (timeoutMs != kInfinite) {
            const uint64_t elapsed = MonotonicMs() - start;
            const uint64_t left = elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
            slice = left > INT_MAX ? INT_MAX : static_cast<int>(left);
        }
        pollfd entry{fd, POLLIN, 0};
        const int ready = poll(&entry, 1, slice);
        if (ready > 0) return (entry.revents & POLLIN) != 0;
        if (ready < 0 && errno != EINTR) return false;
        if (ready == 0 && slice == 0) return false;
        // EINTR, or a slice of a long wait ended: go round with the time left.
    }
}

// Reads the 8-byte counter of an eventfd or timerfd; true when it was
// non-zero (the read resets it, which is what makes both auto-reset).
bool ConsumeCounter(int fd) {
    uint64_t value = 0;
    for (;;) {
        const ssize_t got = read(fd, &value, sizeof value);
        if (got == static_cast<ssize_t>(sizeof value)) return value != 0;
        if (got < 0 && errno == EINTR) continue;
        return false;  // EAGAIN: another waiter took the signal first
    }
}

// Waits for a counter descriptor and consumes one signal, within timeoutMs.
bool WaitAndConsume(int fd, uint32_t timeoutMs) {
    if (fd < 0) return false;
    const uint64_t start = MonotonicMs();
    for (;;) {
        uint32_t left = timeoutMs;
        if (timeoutMs != kInfinite) {
            const uint64_t elapsed = MonotonicMs() - start;
            left = elapsed >= timeoutMs ? 0 : static_cast<uint32_t>(timeoutMs - elapsed);
        }
        if (!PollReadable(fd, left)) return false;
        if (ConsumeCounter(fd)) return true;
        if (left == 0) return false;
    }
}

uint64_t CurrentThreadId() { return static_cast<uint64_t>(pthread_self()); }

}  // namespace

// ---- RecursiveMutex

RecursiveMutex::RecursiveMutex() : impl_(new (std::nothrow) std::recursive_mutex) {}

RecursiveMutex::~RecursiveMutex() { delete static_cast<std::recursive_mutex*>(impl_); }

bool RecursiveMutex::Valid() const { return impl_ != nullptr; }

void RecursiveMutex::lock() {
    if (impl_) static_cast<std::recursive_mutex*>(impl_)->lock();
}

void RecursiveMutex::unlock() {
    if (impl_) static_cast<std::recursive_mutex*>(impl_)->unlock();
}

// ---- Event

Event::Event() : handle_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

Event::~Event() {
    if (handle_ >= 0) close(static_cast<int>(handle_));
}

bool Event::Valid() const { return handle_ >= 0; }

void Event::Set() {
    if (handle_ < 0) return;
    const uint64_t one = 1;
    // A full counter (EAGAIN) is still signalled, so a failed write loses nothing.
    while (write(static_cast<int>(handle_), &one, sizeof one) < 0 && errno == EINTR) {}
}

bool Event::Wait(uint32_t timeoutMs) { return WaitAndConsume(static_cast<int>(handle_), timeoutMs); }

Waitable Event::Native() const { return handle_; }

// ---- WaitableTimer

WaitableTimer::WaitableTimer() : handle_(timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK)) {}

WaitableTimer::~WaitableTimer() {
    if (handle_ >= 0) close(static_cast<int>(handle_));
}

bool WaitableTimer::Valid() const { return handle_ >= 0; }

bool WaitableTimer::Arm(uint32_t dueMs) {
    if (handle_ < 0) return false;
    if (dueMs == kInfinite) return true;  // never due: the timer stays as it is
    itimerspec spec{};
    spec.it_value.tv_sec = static_cast<time_t>(dueMs / 1000u);
    spec.it_value.tv_nsec = static_cast<long>(dueMs % 1000u) * 1000000L;
    // A zero it_value would disarm: a due time of 0 fires at once instead.
    if (spec.it_value.tv_sec == 0 && spec.it_value.tv_nsec == 0) spec.it_value.tv_nsec = 1;
    // Re-arming also clears a firing nobody consumed yet.
    return timerfd_settime(static_cast<int>(handle_), 0, &spec, nullptr) == 0;
}

void WaitableTimer::Cancel() {
    if (handle_ < 0) return;
    const itimerspec disarm{};
    // Disarming drops an unconsumed firing too, so it cannot end a later wait.
    timerfd_settime(static_cast<int>(handle_), 0, &disarm, nullptr);
}

bool WaitableTimer::Wait(uint32_t timeoutMs) { return WaitAndConsume(static_cast<int>(handle_), timeoutMs); }

Waitable WaitableTimer::Native() const { return handle_; }

// ---- Thread

Thread::~Thread() { Join(); }

bool Thread::Start(std::function<void()> body) {
    if (impl_ != nullptr || !body) return false;
    try {
        impl_ = new std::thread([this, run = std::move(body)] {
            runningId_ = CurrentThreadId();
            run();
        });
        return true;
    } catch (...) {  // std::system_error or std::bad_alloc
        impl_ = nullptr;
        return false;
    }
}

void Thread::Join() {
    auto* thread = static_cast<std::thread*>(impl_);
    if (thread == nullptr) return;
    if (thread->joinable()) {
        try {
            thread->join();
        } catch (const std::system_error&) {
            // Joining itself (a deadlock) is refused; let the thread run on.
            thread->detach();
        }
    }
    delete thread;
    impl_ = nullptr;
    runningId_ = 0;
}

bool Thread::Joinable() const {
    const auto* thread = static_cast<const std::thread*>(impl_);
    return thread != nullptr && thread->joinable();
}

bool Thread::IsCurrent() const {
    const uint64_t running = runningId_;
    return running != 0 && running == CurrentThreadId();
}

// ---- Time

void SleepMs(uint32_t ms) {
    timespec left{static_cast<time_t>(ms / 1000u), static_cast<long>(ms % 1000u) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {}
}

uint64_t MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

}  // namespace platform
