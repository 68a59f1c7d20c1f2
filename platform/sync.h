// Threads, locks, events and timers with the semantics the library was
// designed around (recursive mutexes, auto-reset events, relative waitable
// timers). Every time here is in milliseconds. One backend per operating
// system.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace platform {

// Wait without limit; as a timer's due time, never (the timer is not armed).
constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// A native object that a socket wait can watch beside its sockets
// (a descriptor on POSIX, a HANDLE on Windows); kNoWaitable when none.
using Waitable = intptr_t;
constexpr Waitable kNoWaitable = -1;

// Mutex that the owning thread may take again (nested lock/unlock pairs).
// Lower-case lock/unlock make it a standard lockable: hold it for a scope
// with std::lock_guard.
class RecursiveMutex {
public:
    RecursiveMutex();
    ~RecursiveMutex();
    RecursiveMutex(const RecursiveMutex&) = delete;
    RecursiveMutex& operator=(const RecursiveMutex&) = delete;
    bool Valid() const;
    void lock();
    void unlock();

private:
    void* impl_;
};

// Auto-reset event, created not signalled. A successful wait consumes the
// signal.
class Event {
public:
    Event();
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    bool Valid() const;
    void Set();
    // Waits up to timeoutMs (0: test only, kInfinite: no limit); true when
    // the event was signalled (and is now consumed).
    bool Wait(uint32_t timeoutMs);
    Waitable Native() const;

private:
    intptr_t handle_;
};

// Synchronisation (auto-reset) waitable timer, created disarmed.
class WaitableTimer {
public:
    WaitableTimer();
    ~WaitableTimer();
    WaitableTimer(const WaitableTimer&) = delete;
    WaitableTimer& operator=(const WaitableTimer&) = delete;
    bool Valid() const;
    // Arms the timer once, due dueMs from now (0: at once); every arming
    // replaces the previous one. kInfinite leaves the timer as it is.
    bool Arm(uint32_t dueMs);
    void Cancel();
    // Waits up to timeoutMs (0: test only, kInfinite: no limit); true when
    // the timer fired (and the firing is now consumed).
    bool Wait(uint32_t timeoutMs);
    Waitable Native() const;

private:
    intptr_t handle_;
};

// One thread running a function; Join waits for it without limit.
class Thread {
public:
    Thread() = default;
    ~Thread();  // joins a thread that was started and not joined
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    bool Start(std::function<void()> body);  // false when no thread could be made
    void Join();
    bool Joinable() const;
    // True when called from this object's thread while its body runs: code
    // the thread calls back into must not wait for the thread itself.
    bool IsCurrent() const;

private:
    void* impl_ = nullptr;
    std::atomic<uint64_t> runningId_{0};  // set by the thread itself, 0 when none runs
};

void SleepMs(uint32_t ms);
// Milliseconds from an arbitrary fixed point, never going back.
uint64_t MonotonicMs();

}  // namespace platform
