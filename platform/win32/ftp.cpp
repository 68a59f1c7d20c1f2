// FTP upload through WinInet: active mode (no passive flag) on port 21, one
// binary store. Failure codes are the system's (GetLastError), their texts
// the system's own (SystemErrorText: WinInet's from wininet.dll).
// Every wait is bounded, so a server that stalls ends the upload as a failure.
#include <winsock2.h>
#include <windows.h>
#include <wininet.h>

#include <new>

#include "platform/ftp.h"
#include "platform/win32/system_error.h"

namespace platform {

namespace {

struct Handles {
    HINTERNET internet = nullptr;
    HINTERNET connection = nullptr;
};

Handles* Of(void* impl) { return static_cast<Handles*>(impl); }

constexpr DWORD kConnectTimeoutMs = 30000;
constexpr DWORD kExchangeTimeoutMs = 60000;  // each reply, each send and receive, on both connections

// Set on the session handle: the connection and its transfers inherit them.
bool SetTimeouts(HINTERNET internet) {
    const struct {
        DWORD option;
        DWORD value;
    } timeouts[] = {
        {INTERNET_OPTION_CONNECT_TIMEOUT, kConnectTimeoutMs},
        {INTERNET_OPTION_SEND_TIMEOUT, kExchangeTimeoutMs},
        {INTERNET_OPTION_RECEIVE_TIMEOUT, kExchangeTimeoutMs},
        {INTERNET_OPTION_DATA_SEND_TIMEOUT, kExchangeTimeoutMs},
        {INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, kExchangeTimeoutMs},
    };
    for (const auto& timeout : timeouts) {
        DWORD value = timeout.value;
        if (!InternetSetOptionA(internet, timeout.option, &value, sizeof value)) return false;
    }
    return true;
}

// Only a regular file on disk is offered: a pipe or device could hold the
// transfer forever, and a bad local path must not leave an empty file on the
// server. The system's code when it cannot be opened.
DWORD CheckLocalFile(const char* localPath) {
    // FILE_FLAG_OVERLAPPED: opening a pipe never waits.
    const HANDLE file = CreateFileA(localPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError();
    const DWORD type = GetFileType(file);
    CloseHandle(file);
    return type == FILE_TYPE_DISK ? ERROR_SUCCESS : ERROR_NOT_SUPPORTED;
}

}  // namespace

FtpSession::FtpSession() = default;

FtpSession::~FtpSession() {
    Handles* handles = Of(impl_);
    if (handles == nullptr) return;
    // The connection first, then the session it belongs to.
    if (handles->connection != nullptr) InternetCloseHandle(handles->connection);
    if (handles->internet != nullptr) InternetCloseHandle(handles->internet);
    delete handles;
}

bool FtpSession::Initialize() {
    if (impl_ == nullptr) impl_ = new (std::nothrow) Handles;
    Handles* handles = Of(impl_);
    if (handles == nullptr) {
        lastError_ = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    if (handles->internet == nullptr)
        handles->internet =
            InternetOpenA("ZerEdu Utility", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (handles->internet == nullptr || !SetTimeouts(handles->internet)) {
        lastError_ = GetLastError();
        return false;
    }
    return true;
}

bool FtpSession::Connect(const char* host, const char* user, const char* password) {
    Handles* handles = Of(impl_);
    if (handles == nullptr || handles->internet == nullptr) {
        lastError_ = ERROR_INVALID_HANDLE;
        return false;
    }
    if (host == nullptr || user == nullptr || password == nullptr) {
        lastError_ = ERROR_INVALID_PARAMETER;
        return false;
    }
    host_ = host;
    if (handles->connection != nullptr) {
        InternetCloseHandle(handles->connection);
        handles->connection = nullptr;
    }
    // Flags 0: passive mode is not asked for.
    handles->connection = InternetConnectA(handles->internet, host, INTERNET_DEFAULT_FTP_PORT, user, password,
                                           INTERNET_SERVICE_FTP, 0, 0);
    if (handles->connection == nullptr) {
        lastError_ = GetLastError();
        return false;
    }
    return true;
}

bool FtpSession::PutFile(const char* localPath, const char* remoteName) {
    Handles* handles = Of(impl_);
    if (handles == nullptr || handles->connection == nullptr) {
        lastError_ = ERROR_INVALID_HANDLE;
        return false;
    }
    if (localPath == nullptr || remoteName == nullptr) {
        lastError_ = ERROR_INVALID_PARAMETER;
        return false;
    }
    const DWORD local = CheckLocalFile(localPath);
    if (local != ERROR_SUCCESS) {
        lastError_ = local;
        return false;
    }
    if (!FtpPutFileA(handles->connection, localPath, remoteName, FTP_TRANSFER_TYPE_BINARY, 0)) {
        lastError_ = GetLastError();
        return false;
    }
    return true;
}

uint32_t FtpSession::LastError() const { return lastError_; }

std::string FtpSession::ErrorText(uint32_t code) const { return SystemErrorText(code); }

}  // namespace platform
