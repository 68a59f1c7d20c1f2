/*
 * QUEX device protocol library: public C interface.
 *
 * Nineteen entry points over an opaque handle. Every function checks its
 * handle and arguments first and reports by its return value:
 *   QUEX_OK         0  success
 *   QUEX_FAILED    -1  bad handle, bad argument or internal failure
 *                      (never stored as last error)
 *   QUEX_TIMED_OUT -2  the device did not answer in time
 *   N                  a count (searches, result retrieval) or the device's own
 *                      result code (configuration requests, 1..255).
 * No C++ exception ever leaves the library.
 *
 * Addresses (IPv4, subnet masks, gateways) are 32-bit values in network byte
 * order. MAC addresses are 6 bytes in wire order.
 *
 * Windows: callers of quex.dll include this header as it is (the functions are
 * imported); callers that link the static library define QUEX_STATICLIB first.
 */
#ifndef QUEX_QUEX_H
#define QUEX_QUEX_H

#include <stddef.h>
#include <stdint.h>

#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>
#endif

/* The library's version; the shared library's SONAME carries the major. */
#define QUEX_VERSION_MAJOR 1
#define QUEX_VERSION_MINOR 4
#define QUEX_VERSION_PATCH 0

#if defined(_WIN32)
#if defined(QUEX_BUILDING)
#define QUEX_API __declspec(dllexport)
#elif defined(QUEX_STATICLIB)
#define QUEX_API
#else
#define QUEX_API __declspec(dllimport)
#endif
#else
#define QUEX_API __attribute__((visibility("default")))
#endif

/* Results shared by every entry point (see above). */
#define QUEX_OK 0
#define QUEX_FAILED (-1)
#define QUEX_TIMED_OUT (-2)

/* Last error codes the library sets itself, besides 0 ("Operation
 * succeeded") and QUEX_TIMED_OUT ("Operation timed out"); a device's own
 * error codes are 0..255. The call that set one returned QUEX_FAILED.
 *   QUEX_ERROR_CHALLENGE_WITHDRAWN  a configuration request was not sent: the
 *       device had offered a challenge to this handle before, and the query
 *       just made for the request came back without one (a forged or replayed
 *       answer would otherwise get the password in plain text). Message:
 *       "Device withdrew its challenge; request not sent".
 *   QUEX_ERROR_NETWORK  no socket could be opened for the operation, the
 *       request could not leave through any interface, or a wait or read
 *       failed; the message is the system's reason ("No usable IPv4
 *       interface", "Cannot open a socket on 10.77.0.1: Too many open
 *       files"). */
#define QUEX_ERROR_CHALLENGE_WITHDRAWN (-3)
#define QUEX_ERROR_NETWORK (-4)

/* The most records one handle's result list holds: a synchronous search
 * keeps at most this many distinct devices (a full /16), an asynchronous one
 * drops further answers while this many wait untaken. */
#define QUEX_MAX_SEARCH_RESULTS 65536

/* Packet magics: four letters, the first in the most significant byte, sent
 * big-endian so that the letters stand in order on the wire. */
#define QUEX_MAGIC_TELQ 0x54454C51u /* "TELQ" */
#define QUEX_MAGIC_HAPF 0x48415046u /* "HAPF" */
#define QUEX_MAGIC_MORV 0x4D4F5256u /* "MORV" */

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque handle of an open library context; NULL means no handle. A handle
 * value is valid exactly while it is open. */
typedef struct QuexContext* QuexHandle;

/* Asynchronous search callback: runs on the library's worker thread with the
 * search's handle and the caller's user value. From there QUEXClose,
 * QUEXStopSearch and the search starts refuse the callback's own handle
 * (-1, nothing changes): the stop would wait for the thread that is running
 * the callback. */
typedef void (*QuexNotifyCallback)(QuexHandle handle, uintptr_t userData);

#ifdef _WIN32
typedef HWND QuexWindow;
typedef HANDLE QuexEvent;
#define QUEX_NO_WINDOW ((QuexWindow)0)
#define QUEX_NO_EVENT ((QuexEvent)0)
#else
/* Notification window: a socket descriptor (for example one end of a
 * socketpair(AF_UNIX, SOCK_DGRAM or SOCK_SEQPACKET)). For each notification
 * the library writes one QuexWindowMessage record to it, without blocking.
 * The descriptor is duplicated when the search starts; once the peer end is
 * closed the messages are skipped and the search goes on. */
typedef int QuexWindow;
/* Notification event: an eventfd descriptor. The library adds 1 to it for
 * each notification; the descriptor is duplicated when the search starts.
 * Any other descriptor (a file, pipe or socket) is refused. */
typedef int QuexEvent;
#define QUEX_NO_WINDOW (-1)
#define QUEX_NO_EVENT (-1)

/* The record written to a notification window: message number, first
 * parameter (always 0) and the caller's user value. 24 bytes. */
typedef struct QuexWindowMessage {
    uint32_t message;
    uint32_t reserved; /* zero */
    uint64_t wParam;   /* always 0 */
    uint64_t lParam;   /* the user value */
} QuexWindowMessage;
#endif

/* A GUID in its usual layout, fields in host order. */
typedef struct QuexGuid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
} QuexGuid;

/* The device record handed to callers: 852 bytes at fixed offsets.
 * Numbers other than addresses are in host order; reserved bytes are zero. */
typedef struct QuexDeviceInfo {
    uint32_t size;             /*   0: always 852 */
    uint32_t version;          /*   4: protocol version, 0x0200 unless the reply says otherwise */
    uint32_t interfaceAddress; /*   8: local interface that received the reply (network order) */
    uint8_t auxByte;           /*  12 */
    uint8_t reserved1[3];      /*  13 */
    uint32_t magic;            /*  16: magic of the handle that decoded the reply */
    QuexGuid vendorGuid;       /*  20 */
    uint8_t challengeLength;   /*  36: 14 when a challenge was received, else 0 */
    uint8_t challenge[14];     /*  37 */
    uint8_t reserved2;         /*  51 */
    uint32_t presentFields;    /*  52: one bit per stored reply field */
    uint8_t macAddress[6];     /*  56 */
    uint8_t reserved3[2];      /*  62 */
    uint32_t ipAddress;        /*  64: network order */
    uint32_t subnetMask;       /*  68: network order */
    uint32_t gateway;          /*  72: network order */
    uint32_t auxAddress;       /*  76: network order */
    uint8_t dhcpEnabled;       /*  80: 1 when the device takes its address from DHCP */
    char auxText[256];         /*  81: NUL-terminated */
    char modelName[256];       /* 337: NUL-terminated */
    uint8_t reserved4;         /* 593 */
    uint16_t auxNumber;        /* 594 */
    uint8_t auxDataLength;     /* 596 */
    uint8_t auxData[255];      /* 597 */
} QuexDeviceInfo;

#define QUEX_DEVICE_INFO_SIZE 852

/* Bits of QuexDeviceInfo.presentFields: which fields the device's reply held. */
#define QUEX_PRESENT_MAC (1u << 0)
#define QUEX_PRESENT_IP (1u << 1)
#define QUEX_PRESENT_SUBNET (1u << 2)
#define QUEX_PRESENT_GATEWAY (1u << 3)
#define QUEX_PRESENT_AUX_ADDRESS (1u << 4)
#define QUEX_PRESENT_DHCP (1u << 5)
#define QUEX_PRESENT_AUX_TEXT (1u << 7)
#define QUEX_PRESENT_MODEL (1u << 12)
#define QUEX_PRESENT_AUX_NUMBER (1u << 14)
#define QUEX_PRESENT_VERSION (1u << 17)
#define QUEX_PRESENT_VENDOR_GUID (1u << 18)
#define QUEX_PRESENT_AUX_BYTE (1u << 19)
#define QUEX_PRESENT_CHALLENGE (1u << 20)
#define QUEX_PRESENT_AUX_DATA (1u << 21)

/* Opens a handle for a packet magic (four letters, first letter in the most
 * significant byte, e.g. 0x54454C51 for "TELQ") and a vendor GUID (copied).
 * Returns NULL when magic is 0, vendorGuid is NULL or resources run out. */
QUEX_API QuexHandle QUEXOpen(uint32_t magic, const QuexGuid* vendorGuid);

/* Opens a handle whose magic is chosen from the vendor GUID ("MORV" for the
 * known GUID {3C6E2A90-7B14-4D5F-A2C8-91E0F4B7D36A}, otherwise "TELQ", or
 * "HAPF" when "TELQ" cannot be opened). NULL when vendorGuid is NULL. */
QUEX_API QuexHandle QUEXOpenByGuid(const QuexGuid* vendorGuid);

/* Stops an asynchronous search, then frees the handle. Unknown or already
 * closed handles: returns 0 and does nothing. Called from the handle's own
 * search worker (its callback): -1 and nothing happens. */
QUEX_API int32_t QUEXClose(QuexHandle handle);

/* The handle's last error code (0, QUEX_TIMED_OUT, QUEX_ERROR_CHALLENGE_WITHDRAWN,
 * QUEX_ERROR_NETWORK, or a device's error code 0..255); -1 for an unknown
 * handle. The code and message are read and written under the handle's lock,
 * so any thread may read them while a search or request runs. */
QUEX_API int32_t QUEXGetLastError(QuexHandle handle);

/* Copies the last error message into buffer (caller-owned, at least size
 * bytes; size must be > 0). The copy is NUL-padded to size and its last
 * byte is always NUL, so at most size - 1 characters arrive.
 * 0, or -1 for an unknown handle, size 0 or a NULL buffer. */
QUEX_API int32_t QUEXGetLastErrorMessage(QuexHandle handle, char* buffer, uint32_t size);

/* QUEXStartSyncSearchEx with a quiet time of 5000 ms and a maximum of 60000 ms. */
QUEX_API int32_t QUEXStartSyncSearch(QuexHandle handle);

/* Synchronous search: sends one discovery request out of every local IPv4
 * interface and blocks until no new answer came for quietMs, or maxMs have
 * passed (0xFFFFFFFF: no limit). Returns the number of distinct devices, at
 * most QUEX_MAX_SEARCH_RESULTS (their records wait for QUEXGetSearchResults),
 * or -1 (unknown handle, a search already running, a time of 0, both times
 * 0xFFFFFFFF, a call from the handle's own worker, or no socket could be
 * opened, the request could not be sent or a wait or read failed: then at
 * once, with QUEX_ERROR_NETWORK as the last error).
 * A search with maxMs 0xFFFFFFFF on a network where nothing answers never
 * returns. */
QUEX_API int32_t QUEXStartSyncSearchEx(QuexHandle handle, uint32_t quietMs, uint32_t maxMs);

/* Asynchronous searches: return 0 once the worker runs, else -1 (also at
 * once, with QUEX_ERROR_NETWORK as the last error, when no socket could be
 * opened or the request could not be sent). The search runs until QUEXStopSearch or QUEXClose. After every
 * poll cycle with traffic while records wait, the target is notified: the
 * callback is called (on the worker thread), a QuexWindowMessage
 * {message, 0, userData} is posted to the window, or the event is signalled.
 * Every answer is kept, duplicates too, until QUEX_MAX_SEARCH_RESULTS records
 * wait untaken; further answers are dropped until records are taken. */
QUEX_API int32_t QUEXStartAsyncSearchCallback(QuexHandle handle, QuexNotifyCallback callback,
                                              uintptr_t userData);
QUEX_API int32_t QUEXStartAsyncSearchMessage(QuexHandle handle, QuexWindow window, uint32_t message,
                                             uintptr_t userData);
QUEX_API int32_t QUEXStartAsyncSearchEvent(QuexHandle handle, QuexEvent event);

/* Number of result records waiting; -1 for an unknown handle. */
QUEX_API int32_t QUEXGetSearchResultCount(QuexHandle handle);

/* Moves up to capacity waiting records, oldest first, into the caller's
 * array (at least capacity * 852 bytes). Taken records are gone from the
 * handle. Returns the number moved, or -1 (unknown handle, capacity 0, NULL
 * array). */
QUEX_API int32_t QUEXGetSearchResults(QuexHandle handle, QuexDeviceInfo* results, uint32_t capacity);

/* Ends a running asynchronous search and waits for its worker. Does nothing
 * for a synchronous search, an idle handle, an unknown handle, or a call from
 * the handle's own worker. */
QUEX_API void QUEXStopSearch(QuexHandle handle);

/* Directed query of one device by MAC (6 bytes; FF:FF:FF:FF:FF:FF is
 * refused). Waits up to 5 s, or as QUEXSetDeviceInfoTimeout set. 0 with
 * *info filled, -2 when the device did not answer, -1 otherwise
 * (QUEX_ERROR_NETWORK as the last error when no socket could be opened). */
QUEX_API int32_t QUEXGetDeviceInfo(QuexHandle handle, const uint8_t* mac, QuexDeviceInfo* info);

/* Configuration requests. Each finds the interface that reaches the device
 * (with several interfaces, by a query through all of them, waiting up to
 * 200 ms after the first answer for the device's answers through the
 * others), asks the device for its challenge through that interface alone,
 * then sends the request once through it and waits up to 30 s for the reply. With a challenge the
 * password travels as an MD5 digest, otherwise in plain text (at most 255
 * characters in that form; a longer one is refused with -1). A device that
 * offered this handle a challenge before and now answers without one is sent
 * nothing (-1, QUEX_ERROR_CHALLENGE_WITHDRAWN).
 * Returns the device's result code (0 accepted, 1..255 refused; the device's
 * error code and text become the last error), -2 on time-out, -1 otherwise. */
QUEX_API int32_t QUEXRebootDevice(QuexHandle handle, const uint8_t* mac, const char* password);
QUEX_API int32_t QUEXSetNetwork(QuexHandle handle, const uint8_t* mac, uint32_t ipAddress,
                                uint32_t subnetMask, uint32_t gateway, const char* password);
/* dhcp: its low byte is sent; 1 turns DHCP on, 0 off. */
QUEX_API int32_t QUEXSetDHCP(QuexHandle handle, const uint8_t* mac, int32_t dhcp, const char* password);

/* Since 1.4. Limits the handle's later searches, queries and requests to some
 * of the host's IPv4 interfaces, named by their addresses (network order):
 * nothing is sent or read through any other. count 0 (addresses may then be
 * NULL) goes back to every interface, as after open. Each address must be a
 * local IPv4 interface at the time of the call (as the searches list them:
 * up, not loopback); duplicates count once. An interface that has gone by
 * the time of an operation is left out of it; with none left the operation
 * fails at once with QUEX_ERROR_NETWORK ("No usable IPv4 interface among
 * the chosen ones"). Returns 0, or -1 with nothing changed (unknown handle,
 * count below 0, addresses NULL with count above 0, an address that is not
 * a local interface, a search running on the handle, a call from its own
 * worker). The last error is left alone. Like a search start, it is not
 * made while another call on the same handle is in progress. */
QUEX_API int32_t QUEXSetInterfaces(QuexHandle handle, const uint32_t* addresses, int32_t count);

/* Since 1.4. How long the handle's later QUEXGetDeviceInfo calls wait for
 * the device's answer: 1 to 60000 ms (the end is seen within the 200 ms poll
 * that passes it), or 0 to go back to the 5000 ms of open. The queries that
 * configuration requests make first keep their 5 s. Returns 0, or -1 with
 * nothing changed (unknown handle, more than 60000 ms, a search running on
 * the handle, a call from its own worker). The last error is left alone.
 * Like a search start, it is not made while another call on the same handle
 * is in progress. */
QUEX_API int32_t QUEXSetDeviceInfoTimeout(QuexHandle handle, uint32_t milliseconds);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* The record's layout is part of the interface. */
#ifdef __cplusplus
#define QUEX_STATIC_ASSERT static_assert
#else
#define QUEX_STATIC_ASSERT _Static_assert
#endif
QUEX_STATIC_ASSERT(sizeof(QuexGuid) == 16, "QuexGuid size");
QUEX_STATIC_ASSERT(sizeof(QuexDeviceInfo) == QUEX_DEVICE_INFO_SIZE, "QuexDeviceInfo size");
QUEX_STATIC_ASSERT(offsetof(QuexDeviceInfo, size) == 0, "size");
QUEX_STATIC_ASSERT(offsetof(QuexDeviceInfo, version) == 4, "version");
QUEX_STATIC_ASSERT(offsetof(QuexDeviceInfo, interfaceAddress) == 8, "interfaceAddress");
QUEX_STATIC_ASSERT(offsetof(QuexDeviceInfo, auxByte) == 12, "auxByte");
QUEX_STATIC_ASSERT(offsetof(QuexDeviceInfo, reserved1) == 13, "reserved1");
QUEX_STATIC_ASSERT(offsetof(QuexDeviceInfo, magic) == 16, "magic");
QUEX_STATIC_ASSERT(offsetof(QuexDeviceInfo, vendorGuid) == 20, "vendorGuid");
QUEX_STATIC_ASSERT(offsetof(QuexDeviceInfo, challengeLength) == 36, "challengeLength");
QUEX_STATIC_ASSERT(offsetof(QuexDeviceInfo, challenge) == 37, "challenge");
QUEX_STATIC_ASSERT(offsetof(QuexDeviceInfo, reserved2) == 51, "reserved2");
QUEX_STATIC_ASSERT(offsetof(QuexDeviceInfo, presentFields) == 52, "presentFields");
QUEX_STATIC_ASSERT(offsetof(QuexDeviceInfo, macAddress) == 56, "macAddress");
QUEX_STATIC_ASSERT(offsetof(QuexDeviceInfo, reserved3) == 62, "reserved3");
QUEX_STATIC_ASSERT(offsetof(QuexDeviceInfo, ipAddress) == 64, "ipAddress");
QUEX_STATIC_ASSERT(offsetof(QuexDeviceInfo, subnetMask) == 68, "subnetMask");
QUEX_STATIC_ASSERT(offsetof(QuexDeviceInfo, gateway) == 72, "gateway");
QUEX_STATIC_ASSERT(offsetof(QuexDeviceInfo, auxAddress) == 76, "auxAddress");
QUEX_STATIC_ASSERT(offsetof(QuexDeviceInfo, dhcpEnabled) == 80, "dhcpEnabled");
QUEX_STATIC_ASSERT(offsetof(QuexDeviceInfo, auxText) == 81, "auxText");
QUEX_STATIC_ASSERT(offsetof(QuexDeviceInfo, modelName) == 337, "modelName");
QUEX_STATIC_ASSERT(offsetof(QuexDeviceInfo, reserved4) == 593, "reserved4");
QUEX_STATIC_ASSERT(offsetof(QuexDeviceInfo, auxNumber) == 594, "auxNumber");
QUEX_STATIC_ASSERT(offsetof(QuexDeviceInfo, auxDataLength) == 596, "auxDataLength");
QUEX_STATIC_ASSERT(offsetof(QuexDeviceInfo, auxData) == 597, "auxData");

#endif /* QUEX_QUEX_H */
