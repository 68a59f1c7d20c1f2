// Win32 backend of the synchronisation layer: a critical section for the
// recursive mutex, an auto-reset event, a synchronisation waitable timer
// (its due times converted here from milliseconds), CreateThread for threads.
#include <winsock2.h>
#include <windows.h>

#include <functional>
#include <memory>
#include <new>

#include "platform/sync.h"

namespace platform {
namespace {

HANDLE AsHandle(intptr_t value) { return reinterpret_cast<HANDLE>(value); }
intptr_t FromHandle(HANDLE handle) {
    // Creation functions report failure with NULL; the invalid value is -1 here.
    return handle == nullptr ? -1 : reinterpret_cast<intptr_t>(handle);
}

bool WaitSignalled(intptr_t handle, uint32_t timeoutMs) {
    if (handle == -1) return false;
    return WaitForSingleObject(AsHandle(handle), timeoutMs) == WAIT_OBJECT_0;
}

void CloseIfValid(intptr_t handle) {
    if (handle != -1) CloseHandle(AsHandle(handle));
}

}  // namespace

// ---- RecursiveMutex
// A critical section rather than a kernel mutex: both may be taken again by
// their owner, but a kernel mutex costs a trip to the kernel (a server round
// trip under Wine) for every lock, and the result lists lock per datagram.

RecursiveMutex::RecursiveMutex() : impl_(nullptr) {
    auto* section = new (std::nothrow) CRITICAL_SECTION;
    if (section == nullptr) return;
    InitializeCriticalSection(section);
    impl_ = section;
}

RecursiveMutex::~RecursiveMutex() {
    auto* section = static_cast<CRITICAL_SECTION*>(impl_);
    if (section == nullptr) return;
    DeleteCriticalSection(section);
    delete section;
}

bool RecursiveMutex::Valid() const { return impl_ != nullptr; }

void RecursiveMutex::lock() {
    if (impl_) EnterCriticalSection(static_cast<CRITICAL_SECTION*>(impl_));
}

void RecursiveMutex::unlock() {
    if (impl_) LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(impl_));
}

// ---- Event

Event::Event() : handle_(FromHandle(CreateEventA(nullptr, FALSE, FALSE, nullptr))) {}

Event::~Event() { CloseIfValid(handle_); }

bool Event::Valid() const { return handle_ != -1; }

void Event::Set() {
    if (handle_ != -1) SetEvent(AsHandle(handle_));
}

bool Event::Wait(uint32_t timeoutMs) { return WaitSignalled(handle_, timeoutMs); }

Waitable Event::Native() const { return handle_; }

// ---- WaitableTimer

WaitableTimer::WaitableTimer() : handle_(FromHandle(CreateWaitableTimerA(nullptr, FALSE, nullptr))) {}

WaitableTimer::~WaitableTimer() { CloseIfValid(handle_); }

bool WaitableTimer::Valid() const { return handle_ != -1; }

bool WaitableTimer::Arm(uint32_t dueMs) {
    if (handle_ == -1) return false;
    if (dueMs == kInfinite) return true;  // never due: the timer stays as it is
    // Re-arming also clears a firing nobody consumed yet, as on every system
    // this library runs on.
    WaitForSingleObject(AsHandle(handle_), 0);
    LARGE_INTEGER due;
    // Windows takes a relative due time as a negative count of 100-ns units.
    // 0 ms gives 0, the absolute time 0, long past: it fires at once, which
    // is what a due time of 0 means.
    due.QuadPart = -static_cast<LONGLONG>(dueMs) * 10000;
    return SetWaitableTimer(AsHandle(handle_), &due, 0, nullptr, nullptr, FALSE) != 0;
}

void WaitableTimer::Cancel() {
    if (handle_ == -1) return;
    CancelWaitableTimer(AsHandle(handle_));
    // CancelWaitableTimer leaves a firing in place; drop it so it cannot end
    // a later wait.
    WaitForSingleObject(AsHandle(handle_), 0);
}

bool WaitableTimer::Wait(uint32_t timeoutMs) { return WaitSignalled(handle_, timeoutMs); }

Waitable WaitableTimer::Native() const { return handle_; }

// ---- Thread

namespace {

struct ThreadState {
    HANDLE handle = nullptr;
    DWORD id = 0;
};

DWORD WINAPI RunBody(LPVOID parameter) {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(parameter));
    (*body)();
    return 0;
}

}  // namespace

Thread::~Thread() { Join(); }

bool Thread::Start(std::function<void()> body) {
    if (impl_ != nullptr || !body) return false;
    auto* state = new (std::nothrow) ThreadState;
    auto* owned = new (std::nothrow) std::function<void()>([this, run = std::move(body)] {
        runningId_ = GetCurrentThreadId();
        run();
    });
    if (state == nullptr || owned == nullptr) {
        delete state;
        delete owned;
        return false;
    }
    state->handle = CreateThread(nullptr, 0, RunBody, owned, 0, &state->id);
    if (state->handle == nullptr) {
        delete owned;  // the thread never ran, so it is still ours
        delete state;
        return false;
    }
    impl_ = state;
    return true;
}

void Thread::Join() {
    auto* state = static_cast<ThreadState*>(impl_);
    if (state == nullptr) return;
    // Joining itself would never end; let the thread run on instead.
    if (state->id != GetCurrentThreadId()) WaitForSingleObject(state->handle, INFINITE);
    CloseHandle(state->handle);
    delete state;
    impl_ = nullptr;
    runningId_ = 0;
}

bool Thread::Joinable() const { return impl_ != nullptr; }

bool Thread::IsCurrent() const {
    const uint64_t running = runningId_;
    return running != 0 && running == GetCurrentThreadId();
}

// ---- Time

void SleepMs(uint32_t ms) { Sleep(ms); }

uint64_t MonotonicMs() { return GetTickCount64(); }

}  // namespace platform
