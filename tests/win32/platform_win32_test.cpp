// The Win32 backend under Wine: events, timers, threads and the mutex; the
// readiness wait with its wake object; the adapter list; window and event
// notification targets; the log file's sharing and truncation; input files;
// the FTP client's local rules; MD5 from the system.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/ftp.h"
#include "platform/md5.h"
#include "platform/ipv4_text.h"
#include "platform/net.h"
#include "platform/notify.h"
#include "platform/startup.h"
#include "platform/sync.h"
#include "tests/win32/wine_support.h"

namespace {

using namespace platform;

bool Signalled(Waitable native) {
    return WaitForSingleObject(reinterpret_cast<HANDLE>(native), 0) == WAIT_OBJECT_0;
}

// ---- synchronisation

TEST(EventWin32, AutoResetConsumesOneSignal) {
    Event event;
    ASSERT_TRUE(event.Valid());
    EXPECT_FALSE(event.Wait(0));
    event.Set();
    event.Set();  // not counted: still one signal
    EXPECT_TRUE(event.Wait(0));
    EXPECT_FALSE(event.Wait(0));
}

TEST(EventWin32, WaitEndsWhenAnotherThreadSets) {
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
    EXPECT_GE(MonotonicMs() - start, 30u);  // the tick count's grain is coarse
}

TEST(TimerWin32, FiresOnceAfterRelativeDueTime) {
    WaitableTimer timer;
    ASSERT_TRUE(timer.Valid());
    EXPECT_FALSE(timer.Wait(0));
    const uint64_t start = MonotonicMs();
    ASSERT_TRUE(timer.Arm(30));
    EXPECT_TRUE(timer.Wait(10000));
    EXPECT_GE(MonotonicMs() - start, 20u);
    EXPECT_FALSE(timer.Wait(0));  // consumed; no period
    ASSERT_TRUE(timer.Arm(0));    // due at once
    EXPECT_TRUE(timer.Wait(10000));
    ASSERT_TRUE(timer.Arm(kInfinite - 1));  // converted to 100-ns units without overflow: far off
    EXPECT_FALSE(timer.Wait(60));
    timer.Cancel();
}

TEST(TimerWin32, CancelAndReArmingDropAnUnconsumedFiring) {
    WaitableTimer timer;
    ASSERT_TRUE(timer.Arm(10));
    SleepMs(50);
    EXPECT_TRUE(Signalled(timer.Native()));  // the probe consumed it: fire again
    ASSERT_TRUE(timer.Arm(10));
    SleepMs(50);
    timer.Cancel();
    EXPECT_FALSE(timer.Wait(0));
    ASSERT_TRUE(timer.Arm(10));
    SleepMs(50);
    ASSERT_TRUE(timer.Arm(10000));  // 10 s replaces the fired 10 ms
    EXPECT_FALSE(timer.Wait(60));
    timer.Cancel();
}

TEST(TimerWin32, InfiniteDueTimeLeavesTheTimerAsItIs) {
    WaitableTimer timer;
    EXPECT_TRUE(timer.Arm(kInfinite));
    EXPECT_FALSE(timer.Wait(50));
    ASSERT_TRUE(timer.Arm(10));
    EXPECT_TRUE(timer.Arm(kInfinite));
    EXPECT_TRUE(timer.Wait(10000));
}

TEST(ThreadWin32, StartRunsOnceJoinsAndDestructorJoins) {
    std::atomic<int> runs{0};
    {
        Thread thread;
        EXPECT_FALSE(thread.Start(nullptr));
        ASSERT_TRUE(thread.Start([&] { ++runs; }));
        EXPECT_TRUE(thread.Joinable());
        EXPECT_FALSE(thread.Start([&] { ++runs; }));  // one thread per object
        thread.Join();
        EXPECT_FALSE(thread.Joinable());
        EXPECT_EQ(1, runs.load());
    }
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

TEST(ThreadWin32, KnowsWhenItIsTheCallingThread) {
    Thread thread;
    std::atomic<int> inside{-1};
    ASSERT_TRUE(thread.Start([&] { inside = thread.IsCurrent() ? 1 : 0; }));
    EXPECT_FALSE(thread.IsCurrent());
    thread.Join();
    EXPECT_EQ(1, inside.load());
    EXPECT_FALSE(thread.IsCurrent());
}

TEST(RecursiveMutexWin32, OwnerLocksTwiceOthersWait) {
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
    SleepMs(50);
    EXPECT_FALSE(got.load());  // still held once
    mutex.unlock();
    other.Join();
    EXPECT_TRUE(got.load());
}

TEST(StartupWin32, FrameworkStarts) { EXPECT_TRUE(StartApplicationFramework()); }

// ---- sockets

uint32_t Address(const char* text) {
    uint32_t address = 0;
    EXPECT_TRUE(ParseIPv4(text, &address)) << text;
    return address;
}

class SocketsWin32 : public testing::Test {
protected:
    void SetUp() override {
        KELVO_REQUIRE_PRIVATE_NETWORK();
        ASSERT_TRUE(NetStartup());
        started_ = true;
        for (SocketHandle& s : sockets_) {
            s = UdpSocketOpen();
            ASSERT_NE(kInvalidSocket, s);
            ASSERT_TRUE(SocketBind(s, Address("127.0.0.1"), 0));
            ASSERT_TRUE(SocketSetNonBlocking(s));
        }
        sockaddr_in in{};
        int size = sizeof in;
        ASSERT_EQ(0, getsockname(static_cast<SOCKET>(sockets_[1]), reinterpret_cast<sockaddr*>(&in), &size));
        port1_ = ntohs(in.sin_port);
    }
    void TearDown() override {
        for (SocketHandle s : sockets_) SocketClose(s);
        if (started_) NetCleanup();
    }
    bool SendToSecond(size_t length) {
        const std::vector<char> data(length, 'q');
        return SocketSendTo(sockets_[0], data.data(), data.size(), Address("127.0.0.1"), port1_) ==
               SendOutcome::Sent;
    }
    SocketHandle sockets_[2] = {kInvalidSocket, kInvalidSocket};
    uint16_t port1_ = 0;
    bool started_ = false;
};

TEST_F(SocketsWin32, WaitReportsTheReadableSocketAndReceiveTellsTheRealLength) {
    bool ready[2] = {true, true};
    EXPECT_EQ(0, WaitReadable(sockets_, 2, 50, ready));
    EXPECT_FALSE(ready[0] || ready[1]);
    ASSERT_TRUE(SendToSecond(1500));
    ASSERT_EQ(1, WaitReadable(sockets_, 2, 5000, ready));
    EXPECT_FALSE(ready[0]);
    EXPECT_TRUE(ready[1]);
    char buffer[100];
    std::memset(buffer, 0, sizeof buffer);
    size_t length = 0;
    EXPECT_EQ(ReceiveOutcome::Datagram, SocketReceive(sockets_[1], buffer, sizeof buffer, &length));
    EXPECT_EQ(1500u, length);  // longer than the buffer
    EXPECT_EQ('q', buffer[99]);
    EXPECT_EQ(ReceiveOutcome::NothingWaiting, SocketReceive(sockets_[1], buffer, sizeof buffer, &length));
    // A socket that is not open fails, and says why.
    EXPECT_EQ(ReceiveOutcome::Failed, SocketReceive(kInvalidSocket, buffer, sizeof buffer, &length));
    EXPECT_EQ(WSAENOTSOCK, WSAGetLastError());
    EXPECT_EQ(SendOutcome::Failed, SocketSendTo(kInvalidSocket, "q", 1, Address("127.0.0.1"), port1_));
    uint32_t local = 0;
    ASSERT_TRUE(SocketLocalAddress(sockets_[1], &local));
    EXPECT_EQ(Address("127.0.0.1"), local);
    EXPECT_GT(SocketSetReceiveBuffer(sockets_[1], 1 << 20), 0);
}

TEST_F(SocketsWin32, WakeObjectEndsTheWaitWithoutLosingItsSignal) {
    Event stop;
    bool ready[2];
    bool woken = true;
    EXPECT_EQ(0, WaitReadable(sockets_, 2, 50, ready, stop.Native(), &woken));
    EXPECT_FALSE(woken);

    Thread setter;
    ASSERT_TRUE(setter.Start([&] {
        SleepMs(50);
        stop.Set();
    }));
    const uint64_t start = MonotonicMs();
    EXPECT_EQ(0, WaitReadable(sockets_, 2, 20000, ready, stop.Native(), &woken));
    EXPECT_LT(MonotonicMs() - start, 10000u);  // ended by the wake, long before the time-out
    setter.Join();
    EXPECT_TRUE(woken);
    EXPECT_TRUE(stop.Wait(0));  // the signal is still there for its consumer

    // Data and wake together: both reported, the signal kept.
    ASSERT_TRUE(SendToSecond(10));
    SleepMs(20);
    stop.Set();
    EXPECT_EQ(1, WaitReadable(sockets_, 2, 5000, ready, stop.Native(), &woken));
    EXPECT_TRUE(ready[1]);
    EXPECT_TRUE(woken);
    EXPECT_TRUE(stop.Wait(0));

    // The wake object alone, no sockets.
    stop.Set();
    EXPECT_EQ(0, WaitReadable(nullptr, 0, 5000, nullptr, stop.Native(), &woken));
    EXPECT_TRUE(woken);
    EXPECT_TRUE(stop.Wait(0));
    EXPECT_EQ(-1, WaitReadable(nullptr, 0, 10, nullptr));
}

TEST_F(SocketsWin32, WaitWatchesFarMoreThanSixtyFourSockets) {
    // A host with many addresses: the 100th socket is read like the first.
    std::vector<SocketHandle> many(100, kInvalidSocket);
    for (SocketHandle& s : many) {
        s = UdpSocketOpen();
        ASSERT_NE(kInvalidSocket, s);
        ASSERT_TRUE(SocketBind(s, Address("127.0.0.1"), 0));
        ASSERT_TRUE(SocketSetNonBlocking(s));
    }
    sockaddr_in in{};
    int size = sizeof in;
    ASSERT_EQ(0, getsockname(static_cast<SOCKET>(many.back()), reinterpret_cast<sockaddr*>(&in), &size));
    ASSERT_EQ(SendOutcome::Sent,
              SocketSendTo(sockets_[0], "hello", 5, Address("127.0.0.1"), ntohs(in.sin_port)));
    std::unique_ptr<bool[]> ready(new bool[many.size()]());
    EXPECT_EQ(1, WaitReadable(many.data(), many.size(), 5000, ready.get()));
    EXPECT_TRUE(ready[99]);
    EXPECT_FALSE(ready[0]);
    Event stop;
    bool woken = true;
    EXPECT_EQ(1, WaitReadable(many.data(), many.size(), 5000, ready.get(), stop.Native(), &woken));
    EXPECT_TRUE(ready[99]);
    EXPECT_FALSE(woken);
    for (SocketHandle s : many) SocketClose(s);
}

// The lab's interfaces, in adapter order, without loopback, and their names
// (set by scripts/test-windows.sh, which knows the namespace it made).
TEST(LocalAddressesWin32, AdaptersThatAreUpWithoutLoopbackInOrder) {
    KELVO_REQUIRE_PRIVATE_NETWORK();
    const std::string expected = kelvotest::Environment("KELVO_WIN_EXPECT_ADDRESSES");
    if (expected.empty())
        GTEST_SKIP() << "KELVO_WIN_EXPECT_ADDRESSES not set (scripts/test-windows.sh sets it)";
    std::vector<LocalInterface> interfaces{{1, "stale"}};
    ASSERT_TRUE(ListLocalInterfaces(&interfaces));
    std::string got, names;
    for (const LocalInterface& entry : interfaces) {
        got += (got.empty() ? "" : " ") + FormatIPv4(entry.address);
        names += (names.empty() ? "" : " ") + entry.name;
    }
    EXPECT_EQ(expected, got);
    // The adapters' friendly names in UTF-8 (Wine names them after the lab's interfaces).
    EXPECT_EQ(kelvotest::Environment("KELVO_WIN_EXPECT_NAMES"), names);
    EXPECT_FALSE(ListLocalInterfaces(nullptr));
}

// ---- notification targets

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND MakeMessageWindow() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = PlainWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KelvoTestWindow";
    RegisterClassA(&windowClass);  // a second registration fails harmlessly
    return CreateWindowExA(0, "KelvoTestWindow", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

TEST(WindowWin32, PostsQueuedMessagesAndSkipsDestroyedWindows) {
    HWND window = MakeMessageWindow();
    ASSERT_NE(nullptr, window) << "CreateWindowEx failed with " << GetLastError();
    EXPECT_TRUE(WindowExists(window));
    EXPECT_FALSE(WindowExists(kNoWindow));
    EXPECT_FALSE(WindowExists(reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7654))));
    const NotifyWindow retained = WindowRetain(window);
    EXPECT_EQ(window, retained);
    ASSERT_TRUE(WindowPost(retained, WM_APP + 5, 0, 0x1122334455667788ull));
    MSG message;
    ASSERT_TRUE(PeekMessageA(&message, window, 0, 0, PM_REMOVE));  // posted: already queued
    EXPECT_EQ(static_cast<UINT>(WM_APP + 5), message.message);
    EXPECT_EQ(0u, message.wParam);
    EXPECT_EQ(static_cast<LPARAM>(0x1122334455667788ull), message.lParam);
    WindowRelease(retained);
    DestroyWindow(window);
    EXPECT_FALSE(WindowExists(window));
    EXPECT_FALSE(WindowPost(window, WM_APP + 5, 0, 1));
    EXPECT_EQ(kNoWindow, WindowRetain(window));
}

TEST(NotifyEventWin32, RetainedCopySignalsTheCallersEventAfterItClosedItsHandle) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, event);
    HANDLE observer = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &observer, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    EXPECT_TRUE(EventGiven(event));
    EXPECT_FALSE(EventGiven(kNoEvent));
    const NotifyEvent retained = EventRetain(event);
    ASSERT_NE(kNoEvent, retained);
    EXPECT_NE(event, retained);
    CloseHandle(event);  // the caller's handle is gone; the library's copy is not
    EXPECT_TRUE(EventSignal(retained));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(observer, 0));
    EventRelease(retained);
    CloseHandle(observer);
    EXPECT_EQ(kNoEvent, EventRetain(kNoEvent));
    EXPECT_FALSE(EventSignal(kNoEvent));
}

// ---- the log file

class LogFileWin32 : public testing::Test {
protected:
    void SetUp() override {
        char base[MAX_PATH];
        ASSERT_NE(0u, GetTempPathA(sizeof base, base));
        path_ = std::string(base) + "kelvo-log-" + std::to_string(GetCurrentProcessId()) + ".log";
        DeleteFileA(path_.c_str());
    }
    void TearDown() override { DeleteFileA(path_.c_str()); }
    std::string Read() const {
        // Opened while the writer may still hold it: the writer shares it.
        std::ifstream in(path_, std::ios::binary);
        std::stringstream data;
        data << in.rdbuf();
        return data.str();
    }
    std::string path_;
};

TEST_F(LogFileWin32, CreatesTruncatesAndSharesForReadingAndWriting) {
    {
        std::ofstream old(path_, std::ios::binary);
        old << "an earlier, much longer run of the tool\n";
    }
    const FileHandle log = LogFileOpen(path_.c_str());
    ASSERT_NE(kInvalidFile, log);
    EXPECT_EQ(6, LogFileWrite(log, "short\n", 6));
    EXPECT_EQ("short\n", Read());  // truncated, written without a carriage return
    // Another writer may open it too while it is held.
    const HANDLE other = CreateFileA(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, other);
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
    EXPECT_EQ(0, LogFileWrite(log, "", 0));
    LogFileClose(log);
    EXPECT_EQ(-1, LogFileWrite(kInvalidFile, "x", 1));
    LogFileClose(kInvalidFile);  // ignored
}

TEST_F(LogFileWin32, ADirectoryInItsPlaceIsRefused) {
    ASSERT_TRUE(CreateDirectoryA(path_.c_str(), nullptr));
    EXPECT_EQ(kInvalidFile, LogFileOpen(path_.c_str()));
    RemoveDirectoryA(path_.c_str());
    EXPECT_EQ(kInvalidFile, LogFileOpen(nullptr));
}

// ---- input files: a regular file only, never waited on, of bounded size

TEST_F(LogFileWin32, InputFilesAreRegularFilesOfBoundedSize) {
    {
        std::ofstream file(path_, std::ios::binary);
        file << "mac,ip\r\n02c0de000101,10.77.0.81\r\n";
    }
    std::string contents;
    InputFileError error;
    ASSERT_TRUE(ReadInputFile(path_.c_str(), 1024, contents, error));
    EXPECT_EQ("mac,ip\r\n02c0de000101,10.77.0.81\r\n", contents);  // byte for byte
    EXPECT_FALSE(ReadInputFile(path_.c_str(), 10, contents, error));
    EXPECT_EQ(InputFileFault::TooLarge, error.fault);
    EXPECT_TRUE(contents.empty());
    EXPECT_FALSE(ReadInputFile((path_ + ".missing").c_str(), 1024, contents, error));
    EXPECT_EQ(InputFileFault::CannotOpen, error.fault);
    EXPECT_EQ(static_cast<uint32_t>(ERROR_FILE_NOT_FOUND), error.code);
    EXPECT_FALSE(error.reason.empty());
    // A device and a pipe without a writer: refused at once, never read.
    EXPECT_FALSE(ReadInputFile("NUL", 1024, contents, error));
    EXPECT_EQ(InputFileFault::NotRegularFile, error.fault);
    const std::string pipeName = "\\\\.\\pipe\\kelvo-input-" + std::to_string(GetCurrentProcessId());
    const HANDLE pipe = CreateNamedPipeA(pipeName.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT,
                                         1, 4096, 4096, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, pipe);
    uint64_t size = 0;
    EXPECT_EQ(kInvalidFile, InputFileOpen(pipeName.c_str(), size, error));
    EXPECT_EQ(InputFileFault::NotRegularFile, error.fault);
    CloseHandle(pipe);
}

// ---- FTP client: error texts (the remote name's rule: ftp_client_test)

TEST(FtpSessionWin32, ErrorTextsComeFromTheSystemAndWinInetWithoutLineEnds) {
    FtpSession ftp;
    EXPECT_FALSE(ftp.Connect("10.0.0.1", "root", "pw"));  // before Initialize
    EXPECT_EQ(static_cast<uint32_t>(ERROR_INVALID_HANDLE), ftp.LastError());
    EXPECT_FALSE(ftp.PutFile("fw.bin", "fw.bin"));
    ASSERT_TRUE(ftp.Initialize());
    // A system code, and one of WinInet's (cannot connect), whose text only
    // wininet.dll holds.
    for (const uint32_t code : {static_cast<uint32_t>(ERROR_FILE_NOT_FOUND), 12029u}) {
        const std::string text = ftp.ErrorText(code);
        EXPECT_FALSE(text.empty()) << code;
        EXPECT_EQ(std::string::npos, text.find_first_of("\r\n")) << code << ": " << text;
        EXPECT_NE(0u, text.rfind("system error", 0)) << code << ": " << text;
    }
    // A code that neither has a text for: nothing, the line ends after the code.
    EXPECT_EQ("", ftp.ErrorText(12999));
}

// ---- MD5

std::string Hex(const uint8_t digest[16]) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (int i = 0; i < 16; ++i) {
        out += kHex[digest[i] >> 4];
        out += kHex[digest[i] & 15];
    }
    return out;
}

TEST(Md5Win32, Rfc1321VectorsOverSplitRanges) {
    uint8_t digest[16];
    ASSERT_TRUE(Md5(nullptr, 0, digest));
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", Hex(digest));
    const ByteRange abc[] = {{"a", 1}, {"", 0}, {"bc", 2}};
    ASSERT_TRUE(Md5(abc, 3, digest));
    EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", Hex(digest));
    const char* digits = "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
    const ByteRange split[] = {{digits, 33}, {digits + 33, 47}};
    ASSERT_TRUE(Md5(split, 2, digest));
    EXPECT_EQ("57edf4a22be3c955ac49da2e2107b67a", Hex(digest));
    const ByteRange missing[] = {{nullptr, 3}};
    EXPECT_FALSE(Md5(missing, 1, digest));
    EXPECT_FALSE(Md5(abc, 3, nullptr));
}

}  // namespace
