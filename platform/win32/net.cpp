// Windows Sockets 2, the adapter list and the readiness wait.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <mswsock.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "platform/net.h"
#include "platform/local_interfaces.h"
#include "platform/win32/system_error.h"

namespace platform {

namespace {

SOCKET AsSocket(SocketHandle socket) { return static_cast<SOCKET>(socket); }

sockaddr_in MakeAddress(uint32_t address, uint16_t port) {
    sockaddr_in in;
    std::memset(&in, 0, sizeof in);
    in.sin_family = AF_INET;
    in.sin_port = htons(port);
    in.sin_addr.s_addr = address;
    return in;
}

// Largest UDP payload over IPv4: a shorter buffer would lose a datagram's length.
constexpr size_t kLargestDatagram = 65536;

// UTF-16 text as UTF-8 ("" for none or text that does not convert).
std::string Utf8(const wchar_t* text) {
    if (text == nullptr || *text == L'\0') return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return std::string();
    std::string converted(static_cast<size_t>(size), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, text, -1, &converted[0], size, nullptr, nullptr) != size)
        return std::string();
    converted.resize(static_cast<size_t>(size) - 1);  // the terminator
    return converted;
}

}  // namespace

bool NetStartup() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void NetCleanup() { WSACleanup(); }

// The rule: walk GetAdaptersAddresses (IPv4) once, in adapter order, and take
// each IPv4 unicast address of an adapter that is up (IfOperStatusUp) and is
// not the software loopback; an address already taken (the same address on a
// second adapter) is skipped, and 0.0.0.0 is never taken. The host name is
// not consulted: with several interfaces its resolution comes back in no
// reliable order, and it may name no usable interface at all. The name is
// the adapter's friendly name, the one users see ("Ethernet 2").
bool ListLocalInterfaces(std::vector<LocalInterface>* interfaces) {
    if (interfaces == nullptr) return false;
    interfaces->clear();
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    ULONG size = 16 * 1024;
    std::unique_ptr<unsigned char[]> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    // The list may grow between the size query and the call: try a few times.
    for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.reset(new (std::nothrow) unsigned char[size]);
        if (!buffer) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
        result = GetAdaptersAddresses(AF_INET, flags, nullptr,
                                      reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()), &size);
    }
    if (result == ERROR_NO_DATA) return true;  // no adapter at all
    if (result != NO_ERROR) {
        SetLastError(result);  // for SocketErrorText
        return false;
    }
    try {
        for (const IP_ADAPTER_ADDRESSES* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get());
             adapter != nullptr; adapter = adapter->Next) {
            if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK)
                continue;
            const std::string name = Utf8(adapter->FriendlyName);
            for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
                 unicast = unicast->Next) {
                const sockaddr* raw = unicast->Address.lpSockaddr;
                if (raw == nullptr || raw->sa_family != AF_INET ||
                    unicast->Address.iSockaddrLength < static_cast<INT>(sizeof(sockaddr_in)))
                    continue;
                sockaddr_in in;
                std::memcpy(&in, raw, sizeof in);
                AddLocalInterface(interfaces, in.sin_addr.s_addr, name);
            }
        }
    } catch (const std::bad_alloc&) {
        interfaces->clear();
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    return true;
}

std::string SocketErrorText() {
    // Winsock's error is the thread's last error (WSAGetLastError reads it).
    std::string text = SystemErrorReason(GetLastError());
    // It stands inside a longer message: no full stop of its own.
    while (!text.empty() && (text.back() == '.' || text.back() == ' ')) text.pop_back();
    return text;
}

SocketHandle UdpSocketOpen() {
    // Not inherited: a program embedding the library must not leak these into children.
    SOCKET socket = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0,
                               WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET) {
        // Systems without the no-inherit flag: clear inheritance afterwards.
        socket = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_OVERLAPPED);
        if (socket == INVALID_SOCKET) return kInvalidSocket;
        SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
    }
    // Without this, an ICMP "port unreachable" for an earlier send makes the
    // next receive fail with WSAECONNRESET; such reports mean nothing here.
    BOOL reportReset = FALSE;
    DWORD returned = 0;
    WSAIoctl(socket, SIO_UDP_CONNRESET, &reportReset, sizeof reportReset, nullptr, 0, &returned, nullptr,
             nullptr);
    return static_cast<SocketHandle>(socket);
}

void SocketClose(SocketHandle socket) {
    if (socket != kInvalidSocket) closesocket(AsSocket(socket));
}

bool SocketBind(SocketHandle socket, uint32_t address, uint16_t port) {
    const sockaddr_in in = MakeAddress(address, port);
    return bind(AsSocket(socket), reinterpret_cast<const sockaddr*>(&in), sizeof in) == 0;
}

bool SocketSetMulticastInterface(SocketHandle socket, uint32_t address) {
    in_addr in;
    in.s_addr = address;
    return setsockopt(AsSocket(socket), IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char*>(&in),
                      sizeof in) == 0;
}

bool SocketSetMulticastTtl(SocketHandle socket, int ttl) {
    const DWORD value = static_cast<DWORD>(ttl);
    return setsockopt(AsSocket(socket), IPPROTO_IP, IP_MULTICAST_TTL, reinterpret_cast<const char*>(&value),
                      sizeof value) == 0;
}

bool SocketSetNonBlocking(SocketHandle socket) {
    u_long on = 1;
    return ioctlsocket(AsSocket(socket), FIONBIO, &on) == 0;
}

int SocketSetReceiveBuffer(SocketHandle socket, int bytes) {
    if (setsockopt(AsSocket(socket), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes),
                   sizeof bytes) != 0)
        return 0;
    int granted = 0;
    int size = sizeof granted;
    if (getsockopt(AsSocket(socket), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&granted), &size) != 0)
        return 0;
    return granted;
}

bool SocketLocalAddress(SocketHandle socket, uint32_t* address) {
    if (address == nullptr) return false;
    sockaddr_storage storage;
    int size = sizeof storage;
    if (getsockname(AsSocket(socket), reinterpret_cast<sockaddr*>(&storage), &size) != 0) return false;
    if (storage.ss_family != AF_INET || size < static_cast<int>(sizeof(sockaddr_in))) return false;
    sockaddr_in in;
    std::memcpy(&in, &storage, sizeof in);
    *address = in.sin_addr.s_addr;
    return true;
}

SendOutcome SocketSendTo(SocketHandle socket, const void* data, size_t length, uint32_t address,
                         uint16_t port) {
    if (data == nullptr || length > static_cast<size_t>(INT_MAX)) {
        SetLastError(WSAEINVAL);
        return SendOutcome::Failed;
    }
    const sockaddr_in in = MakeAddress(address, port);
    const int sent = sendto(AsSocket(socket), static_cast<const char*>(data), static_cast<int>(length), 0,
                            reinterpret_cast<const sockaddr*>(&in), sizeof in);
    if (sent == SOCKET_ERROR) return SendOutcome::Failed;
    if (static_cast<size_t>(sent) != length) {
        SetLastError(WSAEMSGSIZE);  // a datagram goes whole or not at all
        return SendOutcome::Failed;
    }
    return SendOutcome::Sent;
}

namespace {

// The outcome of a recv that returned SOCKET_ERROR.
ReceiveOutcome ReceiveError() {
    return WSAGetLastError() == WSAEWOULDBLOCK ? ReceiveOutcome::NothingWaiting : ReceiveOutcome::Failed;
}

}  // namespace

ReceiveOutcome SocketReceive(SocketHandle socket, void* buffer, size_t capacity, size_t* length) {
    if (buffer == nullptr || length == nullptr) {
        SetLastError(WSAEINVAL);
        return ReceiveOutcome::Failed;
    }
    // Winsock cuts a datagram longer than the buffer and only says so
    // (WSAEMSGSIZE), so a short buffer is filled through a whole-datagram one
    // to learn the real length.
    if (capacity >= kLargestDatagram) {
        const int received = recv(AsSocket(socket), static_cast<char*>(buffer),
                                  INT_MAX < capacity ? INT_MAX : static_cast<int>(capacity), 0);
        if (received == SOCKET_ERROR) return ReceiveError();
        *length = static_cast<size_t>(received);
        return ReceiveOutcome::Datagram;
    }
    std::unique_ptr<char[]> whole(new (std::nothrow) char[kLargestDatagram]);
    if (!whole) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return ReceiveOutcome::Failed;
    }
    const int received = recv(AsSocket(socket), whole.get(), static_cast<int>(kLargestDatagram), 0);
    if (received == SOCKET_ERROR) return ReceiveError();
    std::memcpy(buffer, whole.get(), std::min(static_cast<size_t>(received), capacity));
    *length = static_cast<size_t>(received);
    return ReceiveOutcome::Datagram;
}

namespace {

// An fd_set that holds every socket of a wait. Winsock reads fd_count entries,
// however many that is, so a set allocated to fit has no FD_SETSIZE bound
// (the default of 64 would hide every interface after the 64th).
class SocketSet {
public:
    SocketSet(const SocketHandle* sockets, size_t count)
        : storage_(
              new (std::nothrow) unsigned char[offsetof(fd_set, fd_array) + (count + 1) * sizeof(SOCKET)]) {
        if (!storage_) return;
        fd_set* set = Get();
        set->fd_count = static_cast<u_int>(count);
        SOCKET* entries = reinterpret_cast<SOCKET*>(storage_.get() + offsetof(fd_set, fd_array));
        for (size_t i = 0; i < count; ++i) entries[i] = AsSocket(sockets[i]);
    }
    bool Valid() const { return storage_ != nullptr; }
    fd_set* Get() { return reinterpret_cast<fd_set*>(storage_.get()); }

private:
    std::unique_ptr<unsigned char[]> storage_;
};

// Which sockets have data (or a pending error) right now; -1 when select fails.
int ReadyNow(const SocketHandle* sockets, size_t count, bool* ready, timeval* timeout) {
    SocketSet set(sockets, count);
    if (!set.Valid()) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return -1;
    }
    const int result = select(0, set.Get(), nullptr, nullptr, timeout);
    if (result == SOCKET_ERROR) return -1;
    int readable = 0;
    for (size_t i = 0; i < count; ++i) {
        ready[i] = __WSAFDIsSet(AsSocket(sockets[i]), set.Get()) != 0;
        if (ready[i]) ++readable;
    }
    return readable;
}

// The wait observes the wake object without consuming its signal, as a
// readiness wait does on POSIX: an auto-reset event or timer that the wait
// took is signalled again for its real consumer.
void Resignal(HANDLE wake) {
    if (SetEvent(wake)) return;
    LARGE_INTEGER now;
    now.QuadPart = 0;  // the absolute time 0 is past: fires at once
    SetWaitableTimer(wake, &now, 0, nullptr, nullptr, FALSE);
}

}  // namespace

// Sockets only: select. With a wake object: the sockets report FD_READ to one
// event (WSAEventSelect), and WaitForMultipleObjects watches it and the wake
// object together; select then tells which sockets are readable.
int WaitReadable(const SocketHandle* sockets, size_t count, uint32_t timeoutMs, bool* ready, Waitable wake,
                 bool* woken) {
    if (woken != nullptr) *woken = false;
    const bool withWake = wake != kNoWaitable;
    if ((count > 0 && (sockets == nullptr || ready == nullptr)) || count > 0x10000 ||
        (count == 0 && !withWake)) {
        SetLastError(WSAEINVAL);
        return -1;
    }

    if (!withWake) {
        timeval timeout;
        timeout.tv_sec = static_cast<long>(timeoutMs / 1000u);
        timeout.tv_usec = static_cast<long>((timeoutMs % 1000u) * 1000u);
        return ReadyNow(sockets, count, ready, timeoutMs == kInfinite ? nullptr : &timeout);
    }

    const HANDLE wakeHandle = reinterpret_cast<HANDLE>(wake);
    timeval noWait = {0, 0};
    // Data already queued: no need to wait at all.
    if (count > 0) {
        const int already = ReadyNow(sockets, count, ready, &noWait);
        if (already != 0) {
            if (already > 0 && woken != nullptr && WaitForSingleObject(wakeHandle, 0) == WAIT_OBJECT_0) {
                *woken = true;
                Resignal(wakeHandle);
            }
            return already;
        }
    }

    WSAEVENT network = WSA_INVALID_EVENT;
    if (count > 0) {
        network = WSACreateEvent();
        if (network == WSA_INVALID_EVENT) return -1;
    }
    bool selected = true;
    DWORD failure = 0;  // kept across the clean-up, which may change the thread's last error
    size_t associated = 0;
    for (; associated < count; ++associated) {
        if (WSAEventSelect(AsSocket(sockets[associated]), network, FD_READ | FD_CLOSE) != 0) {
            selected = false;
            failure = GetLastError();
            break;
        }
    }
    DWORD waited = WAIT_FAILED;
    if (selected) {
        HANDLE handles[2];
        DWORD handleCount = 0;
        if (network != WSA_INVALID_EVENT) handles[handleCount++] = network;
        handles[handleCount++] = wakeHandle;
        waited = WaitForMultipleObjects(handleCount, handles, FALSE, timeoutMs);
        if (waited == WAIT_FAILED) failure = GetLastError();
        const DWORD wakeIndex = WAIT_OBJECT_0 + handleCount - 1;
        bool wakeSeen = waited == wakeIndex;
        // The network event has the lower index and wins a tie: look again.
        if (!wakeSeen && waited != WAIT_FAILED && WaitForSingleObject(wakeHandle, 0) == WAIT_OBJECT_0)
            wakeSeen = true;
        if (wakeSeen) {
            if (woken != nullptr) *woken = true;
            Resignal(wakeHandle);
        }
    }
    // Undo the association (it leaves the sockets non-blocking, as the
    // library keeps them anyway).
    for (size_t i = 0; i < associated; ++i) WSAEventSelect(AsSocket(sockets[i]), nullptr, 0);
    if (network != WSA_INVALID_EVENT) WSACloseEvent(network);
    if (!selected || waited == WAIT_FAILED) {
        SetLastError(failure);
        return -1;
    }
    if (count == 0) return 0;
    return ReadyNow(sockets, count, ready, &noWait);
}

}  // namespace platform
