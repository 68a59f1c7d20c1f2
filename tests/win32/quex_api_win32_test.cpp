// The public interface with Windows notification targets (window handles
// and event handles) and real searches under Wine: a small responder in the
// test namespace answers the discovery request as a device would.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include <quex/quex.h>
#include "tests/win32/wine_support.h"

namespace {

constexpr uint32_t kTelq = 0x54454C51;
const QuexGuid kGuid = {0xD4A17F3B, 0x2E8C, 0x4B61, {0x9F, 0x05, 0x6C, 0x3A, 0x8E, 0x1B, 0x72, 0xD4}};
const uint8_t kMac[6] = {0x02, 0xC0, 0xDE, 0x00, 0x00, 0x42};

// Joins the group on the lab's first tool-side address and answers every
// discovery request (type 1) with a reply (type 2) carrying a MAC and a model.
class Responder {
public:
    Responder() {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
        started_ = true;
        socket_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        if (socket_ == INVALID_SOCKET) return;
        const BOOL on = TRUE;
        setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_port = htons(2362);
        if (bind(socket_, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) return;
        ip_mreq group{};
        group.imr_multiaddr.s_addr = inet_addr("224.0.5.128");
        group.imr_interface.s_addr = inet_addr("10.77.0.1");
        if (setsockopt(socket_, IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char*>(&group),
                       sizeof group) != 0)
            return;
        worker_ = std::thread([this] { Serve(); });
        ready_ = true;
    }
    ~Responder() {
        stop_ = true;
        if (worker_.joinable()) worker_.join();
        if (socket_ != INVALID_SOCKET) closesocket(socket_);
        if (started_) WSACleanup();
    }
    bool ready() const { return ready_; }
    int answered() const { return answered_.load(); }

private:
    void Serve() {
        while (!stop_) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(socket_, &set);
            timeval wait = {0, 50000};
            if (select(0, &set, nullptr, nullptr, &wait) <= 0) continue;
            uint8_t request[1500];
            sockaddr_in from{};
            int fromLength = sizeof from;
            const int got = recvfrom(socket_, reinterpret_cast<char*>(request), sizeof request, 0,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (got < 8 || request[4] != 0 || request[5] != 1) continue;
            std::vector<uint8_t> reply(request, request + 4);  // the request's magic
            const char model[] = "Wine Test Meter";
            std::vector<uint8_t> payload = {1, 6};
            payload.insert(payload.end(), kMac, kMac + 6);
            payload.push_back(13);
            payload.push_back(sizeof model - 1);
            payload.insert(payload.end(), model, model + sizeof model - 1);
            reply.push_back(0);
            reply.push_back(2);
            reply.push_back(0);
            reply.push_back(static_cast<uint8_t>(payload.size()));
            reply.insert(reply.end(), payload.begin(), payload.end());
            if (sendto(socket_, reinterpret_cast<const char*>(reply.data()), static_cast<int>(reply.size()),
                       0, reinterpret_cast<sockaddr*>(&from), fromLength) == static_cast<int>(reply.size()))
                ++answered_;
        }
    }
    bool started_ = false;
    bool ready_ = false;
    SOCKET socket_ = INVALID_SOCKET;
    std::atomic<bool> stop_{false};
    std::atomic<int> answered_{0};
    std::thread worker_;
};

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND MakeMessageWindow() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = PlainWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KelvoApiTestWindow";
    RegisterClassA(&windowClass);
    return CreateWindowExA(0, "KelvoApiTestWindow", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

// Waits (pumping this thread's queue) for one message to the window; false after timeoutMs.
bool WaitForMessage(HWND window, UINT number, MSG* out, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (GetTickCount64() < end) {
        if (PeekMessageA(out, window, number, number, PM_REMOVE)) return true;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_POSTMESSAGE);
    }
    return false;
}

bool HoldsTheDevice(QuexHandle handle) {
    QuexDeviceInfo records[8];
    const int32_t count = QUEXGetSearchResults(handle, records, 8);
    for (int32_t i = 0; i < count; ++i)
        if (std::memcmp(records[i].macAddress, kMac, 6) == 0 &&
            std::strcmp(records[i].modelName, "Wine Test Meter") == 0)
            return true;
    return false;
}

TEST(QuexApiWin32, RefusesTargetsThatAreNoWindowOrNoEvent) {
    QuexHandle handle = QUEXOpen(kTelq, &kGuid);
    ASSERT_NE(nullptr, handle);
    EXPECT_EQ(-1, QUEXStartAsyncSearchMessage(handle, reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7654)),
                                              WM_APP, 1));
    EXPECT_EQ(-1, QUEXStartAsyncSearchMessage(handle, QUEX_NO_WINDOW, WM_APP, 1));
    HWND window = MakeMessageWindow();
    ASSERT_NE(nullptr, window);
    EXPECT_EQ(-1, QUEXStartAsyncSearchMessage(handle, window, 0, 1));  // message number 0
    EXPECT_EQ(-1, QUEXStartAsyncSearchEvent(handle, QUEX_NO_EVENT));
    EXPECT_EQ(0, QUEXClose(handle));
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    EXPECT_EQ(-1, QUEXStartAsyncSearchMessage(handle, window, WM_APP, 1));  // closed handle
    EXPECT_EQ(-1, QUEXStartAsyncSearchEvent(handle, event));
    CloseHandle(event);
    DestroyWindow(window);
}

class SearchWin32 : public testing::Test {
protected:
    void SetUp() override {
        KELVO_REQUIRE_PRIVATE_NETWORK();
        // Made only now: joining the group sends a membership report.
        responder_.reset(new Responder);
        ASSERT_TRUE(responder_->ready()) << "responder could not join the group on 10.77.0.1";
        handle_ = QUEXOpen(kTelq, &kGuid);
        ASSERT_NE(nullptr, handle_);
    }
    void TearDown() override {
        if (handle_ != nullptr) QUEXClose(handle_);
        responder_.reset();
    }
    std::unique_ptr<Responder> responder_;
    QuexHandle handle_ = nullptr;
};

TEST_F(SearchWin32, MessageSearchPostsMessageZeroAndUserValue) {
    HWND window = MakeMessageWindow();
    ASSERT_NE(nullptr, window);
    ASSERT_EQ(0, QUEXStartAsyncSearchMessage(handle_, window, WM_APP + 7, 0xABCDEF));
    EXPECT_EQ(-1, QUEXStartAsyncSearchEvent(handle_, window));  // one search at a time
    MSG message;
    ASSERT_TRUE(WaitForMessage(window, WM_APP + 7, &message, 10000)) << "no message within 10 s";
    EXPECT_EQ(0u, message.wParam);
    EXPECT_EQ(static_cast<LPARAM>(0xABCDEF), message.lParam);
    QUEXStopSearch(handle_);
    EXPECT_TRUE(HoldsTheDevice(handle_));
    EXPECT_GE(responder_->answered(), 1);
    DestroyWindow(window);
}

TEST_F(SearchWin32, EventSearchSignalsTheCallersEvent) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(nullptr, event);
    ASSERT_EQ(0, QUEXStartAsyncSearchEvent(handle_, event));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 10000));
    EXPECT_GE(QUEXGetSearchResultCount(handle_), 1);
    QUEXStopSearch(handle_);
    EXPECT_TRUE(HoldsTheDevice(handle_));
    CloseHandle(event);
}

TEST_F(SearchWin32, DestroyedWindowIsSkippedAndTheSearchGoesOn) {
    HWND window = MakeMessageWindow();
    ASSERT_NE(nullptr, window);
    ASSERT_EQ(0, QUEXStartAsyncSearchMessage(handle_, window, WM_APP + 8, 1));
    DestroyWindow(window);
    const ULONGLONG end = GetTickCount64() + 10000;
    while (QUEXGetSearchResultCount(handle_) < 1 && GetTickCount64() < end) Sleep(50);
    QUEXStopSearch(handle_);
    EXPECT_TRUE(HoldsTheDevice(handle_));
}

// The synchronous search ends one quiet time after the answer, on the
// waitable timer, with the device counted once.
TEST_F(SearchWin32, SyncSearchEndsAfterTheQuietTime) {
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(1, QUEXStartSyncSearchEx(handle_, 500, 20000));
    const ULONGLONG took = GetTickCount64() - start;
    EXPECT_GE(took, 450u);
    EXPECT_LT(took, 15000u);  // ended by the quiet time, not the maximum
    EXPECT_TRUE(HoldsTheDevice(handle_));
}

}  // namespace
