/* The public header compiled as C: it must parse, and a C caller must see
 * the same record layout as the library. */
#include <stddef.h>
#include <string.h>

#include <quex/quex.h>

_Static_assert(sizeof(QuexDeviceInfo) == 852, "QuexDeviceInfo is 852 bytes in C");
_Static_assert(offsetof(QuexDeviceInfo, macAddress) == 56, "macAddress");
_Static_assert(offsetof(QuexDeviceInfo, ipAddress) == 64, "ipAddress");
_Static_assert(offsetof(QuexDeviceInfo, subnetMask) == 68, "subnetMask");
_Static_assert(offsetof(QuexDeviceInfo, gateway) == 72, "gateway");
_Static_assert(offsetof(QuexDeviceInfo, dhcpEnabled) == 80, "dhcpEnabled");
_Static_assert(offsetof(QuexDeviceInfo, modelName) == 337, "modelName");
_Static_assert(offsetof(QuexDeviceInfo, auxNumber) == 594, "auxNumber");
_Static_assert(offsetof(QuexDeviceInfo, auxData) == 597, "auxData");
_Static_assert(sizeof(QuexWindowMessage) == 24, "QuexWindowMessage");
_Static_assert(offsetof(QuexWindowMessage, lParam) == 16, "lParam");

size_t LayoutCDeviceInfoSize(void);
size_t LayoutCOffsets(size_t* offsets, size_t capacity);
void LayoutCFill(QuexDeviceInfo* info);
uintptr_t LayoutCCallThroughHeader(void);

size_t LayoutCDeviceInfoSize(void) { return sizeof(QuexDeviceInfo); }

/* Every member's offset as C sees it, in declaration order. */
size_t LayoutCOffsets(size_t* offsets, size_t capacity) {
    const size_t all[] = {
        offsetof(QuexDeviceInfo, size),
        offsetof(QuexDeviceInfo, version),
        offsetof(QuexDeviceInfo, interfaceAddress),
        offsetof(QuexDeviceInfo, auxByte),
        offsetof(QuexDeviceInfo, reserved1),
        offsetof(QuexDeviceInfo, magic),
        offsetof(QuexDeviceInfo, vendorGuid),
        offsetof(QuexDeviceInfo, challengeLength),
        offsetof(QuexDeviceInfo, challenge),
        offsetof(QuexDeviceInfo, reserved2),
        offsetof(QuexDeviceInfo, presentFields),
        offsetof(QuexDeviceInfo, macAddress),
        offsetof(QuexDeviceInfo, reserved3),
        offsetof(QuexDeviceInfo, ipAddress),
        offsetof(QuexDeviceInfo, subnetMask),
        offsetof(QuexDeviceInfo, gateway),
        offsetof(QuexDeviceInfo, auxAddress),
        offsetof(QuexDeviceInfo, dhcpEnabled),
        offsetof(QuexDeviceInfo, auxText),
        offsetof(QuexDeviceInfo, modelName),
        offsetof(QuexDeviceInfo, reserved4),
        offsetof(QuexDeviceInfo, auxNumber),
        offsetof(QuexDeviceInfo, auxDataLength),
        offsetof(QuexDeviceInfo, auxData),
    };
    size_t count = sizeof all / sizeof all[0];
    size_t i;
    for (i = 0; i < count && i < capacity; ++i) offsets[i] = all[i];
    return count;
}

/* Fills members by name, as a C caller would. */
void LayoutCFill(QuexDeviceInfo* info) {
    static const uint8_t mac[6] = {0x02, 0xC0, 0xDE, 0x25, 0x40, 0x74};
    memset(info, 0, sizeof *info);
    info->size = 852;
    memcpy(info->macAddress, mac, sizeof mac);
    info->ipAddress = 0x11223344u;
    info->subnetMask = 0x55667788u;
    info->gateway = 0x99AABBCCu;
    info->dhcpEnabled = 1;
    strcpy(info->modelName, "KV-C");
    info->auxNumber = 0xBEEF;
    info->auxData[254] = 0x5A;
}

/* The entry points are callable from C with the header's types. */
uintptr_t LayoutCCallThroughHeader(void) {
    QuexHandle handle = QUEXOpen(0, NULL); /* refused: NULL */
    QuexNotifyCallback callback = NULL;
    return (uintptr_t)handle + (uintptr_t)(QUEXStartAsyncSearchCallback(handle, callback, 0) == -1);
}
