// FTP upload through WinInet: active mode (no passive flag) on port 21, one
// binary store. Failure codes are the system's (GetLastError), their texts
// the system's own (SystemErrorText: WinInet's from wininet.dll).
// Every wait is bounded, so a server that stalls ends the upload as a failure:
// WinInet's own time-outs where it honours them, and in any case the store's
// own bound (a transfer that moves nothing for 60 s is given up).
#include <winsock2.h>
#include <windows.h>
#include <wininet.h>

#include <new>
#include <vector>

#include "platform/file.h"
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

constexpr DWORD kChunkBytes = 64 * 1024;
constexpr ULONGLONG kStallMs = 60000;  // a store that moves nothing this long has stalled
constexpr DWORD kCancelWaitMs = 2000;  // after its handle is closed, the writer gets this long to return

// Closes a kernel handle on every path.
struct KernelHandle {
    HANDLE handle = nullptr;
    KernelHandle() = default;
    KernelHandle(const KernelHandle&) = delete;
    KernelHandle& operator=(const KernelHandle&) = delete;
    ~KernelHandle() {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
};

// Only a regular file on disk is offered (opened as every input file is):
// a pipe or device could hold the transfer forever, and a bad local path
// must not leave an empty file on the server. The system's code when it
// cannot be opened.
DWORD OpenLocalFile(const char* localPath, KernelHandle& file) {
    uint64_t size = 0;
    InputFileError error;
    const FileHandle opened = InputFileOpen(localPath, size, error);
    if (opened == kInvalidFile)
        return error.fault == InputFileFault::CannotOpen ? error.code : ERROR_NOT_SUPPORTED;
    file.handle = reinterpret_cast<HANDLE>(opened);
    return ERROR_SUCCESS;
}

// One store, shared by the thread that writes it and the caller that watches
// it; the last of the two to let go frees it. A writer caught in a send that
// closing its handle does not end (WinInet under Wine sends with a plain
// blocking send) is left behind rather than waited for.
struct Store {
    LONG owners = 2;
    HINTERNET connection = nullptr;  // the session's; used only to open the file
    KernelHandle local;              // the local file (overlapped)
    std::string remoteName;
    HINTERNET remote = nullptr;      // the remote file; closed by whoever takes it first
    volatile LONG64 progressMs = 0;  // when the store last moved
    volatile LONG abandoned = 0;     // the caller gave up: the writer touches no handle any more
    DWORD error = ERROR_SUCCESS;     // the writer's, read once it has ended
};

void Release(Store* store) {
    if (InterlockedDecrement(&store->owners) == 0) delete store;
}

void Moved(Store* store) { InterlockedExchange64(&store->progressMs, static_cast<LONG64>(GetTickCount64())); }

bool Abandoned(Store* store) { return InterlockedCompareExchange(&store->abandoned, 0, 0) != 0; }

void CloseRemote(Store* store) {
    const HINTERNET remote = InterlockedExchangePointer(&store->remote, nullptr);
    if (remote != nullptr) InternetCloseHandle(remote);
}

// Reads up to size bytes at offset; the count read, 0 at the end, -1 on failure.
long ReadLocal(HANDLE file, ULONGLONG offset, char* buffer, DWORD size, DWORD& error) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    if (!ReadFile(file, buffer, size, nullptr, &at) && GetLastError() != ERROR_IO_PENDING) {
        error = GetLastError();
        return error == ERROR_HANDLE_EOF ? 0 : -1;
    }
    if (!GetOverlappedResult(file, &at, &got, TRUE)) {
        error = GetLastError();
        return error == ERROR_HANDLE_EOF ? 0 : -1;
    }
    return static_cast<long>(got);
}

// Closing the remote file reads the server's verdict on the transfer, which
// stays as this thread's last response: a 4xx or 5xx reply means the file
// was not kept (the test FtpPutFile makes).
bool ServerKeptFile() {
    DWORD code = 0;
    char text[512];
    DWORD length = sizeof text;
    if (!InternetGetLastResponseInfoA(&code, text, &length) || length == 0) return true;
    return text[0] != '4' && text[0] != '5';
}

// The writer: opens the remote file, sends the local one in chunks, and
// closes the remote file (which waits for the server's verdict).
DWORD WINAPI WriteStore(void* argument) {
    Store* store = static_cast<Store*>(argument);
    std::vector<char> chunk(kChunkBytes);
    DWORD error = ERROR_SUCCESS;
    const HINTERNET remote = FtpOpenFileA(store->connection, store->remoteName.c_str(), GENERIC_WRITE,
                                          FTP_TRANSFER_TYPE_BINARY, 0);
    if (remote == nullptr) {
        error = GetLastError();
    } else {
        InterlockedExchangePointer(&store->remote, remote);
        Moved(store);
        for (ULONGLONG offset = 0; error == ERROR_SUCCESS;) {
            const long got = ReadLocal(store->local.handle, offset, chunk.data(), kChunkBytes, error);
            if (got <= 0) {
                if (got == 0) error = ERROR_SUCCESS;
                break;
            }
            // A handle the caller closed may already name another object.
            if (Abandoned(store)) break;
            for (DWORD sent = 0; sent < static_cast<DWORD>(got);) {
                DWORD written = 0;
                if (!InternetWriteFile(remote, chunk.data() + sent, static_cast<DWORD>(got) - sent,
                                       &written)) {
                    error = GetLastError();
                    break;
                }
                if (written == 0) {
                    error = ERROR_INTERNET_CONNECTION_ABORTED;
                    break;
                }
                sent += written;
                Moved(store);
                if (Abandoned(store)) break;
            }
            offset += static_cast<ULONGLONG>(got);
        }
        // Unless the caller took it first, the handle is still this thread's own.
        const HINTERNET taken = InterlockedExchangePointer(&store->remote, nullptr);
        if (taken != nullptr && !InternetCloseHandle(taken) && error == ERROR_SUCCESS) error = GetLastError();
        if (taken != nullptr && error == ERROR_SUCCESS && !ServerKeptFile())
            error = ERROR_INTERNET_EXTENDED_ERROR;
    }
    store->error = error;
    Release(store);
    return 0;
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
    Store* store = new (std::nothrow) Store;
    if (store == nullptr) {
        lastError_ = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    const DWORD opened = OpenLocalFile(localPath, store->local);
    if (opened != ERROR_SUCCESS) {
        lastError_ = opened;
        delete store;
        return false;
    }
    store->connection = handles->connection;
    store->remoteName = remoteName;
    Moved(store);
    KernelHandle writer;
    writer.handle = CreateThread(nullptr, 0, WriteStore, store, 0, nullptr);
    if (writer.handle == nullptr) {
        lastError_ = GetLastError();
        delete store;
        return false;
    }

    // Watch the store: done, or nothing moved for kStallMs.
    bool done = false;
    for (;;) {
        const ULONGLONG last = static_cast<ULONGLONG>(InterlockedCompareExchange64(&store->progressMs, 0, 0));
        const ULONGLONG idle = GetTickCount64() - last;
        if (idle >= kStallMs) break;
        if (WaitForSingleObject(writer.handle, static_cast<DWORD>(kStallMs - idle)) == WAIT_OBJECT_0) {
            done = true;
            break;
        }
    }
    if (done) {
        lastError_ = store->error;
        Release(store);
        return lastError_ == ERROR_SUCCESS;
    }

    // Stalled: give up, and close what the writer waits on (which ends the
    // wait where WinInet honours it); the writer is not waited for long.
    InterlockedExchange(&store->abandoned, 1);
    const bool opening = InterlockedCompareExchangePointer(&store->remote, nullptr, nullptr) == nullptr;
    CloseRemote(store);
    if (opening) {
        InternetCloseHandle(handles->connection);  // the writer is still opening the remote file
        handles->connection = nullptr;
    }
    WaitForSingleObject(writer.handle, kCancelWaitMs);
    Release(store);
    lastError_ = ERROR_INTERNET_TIMEOUT;
    return false;
}

uint32_t FtpSession::LastError() const { return lastError_; }

std::string FtpSession::ErrorText(uint32_t code) const { return SystemErrorText(code); }

}  // namespace platform
