// MD5 from the system's cryptography (CNG).
#include <winsock2.h>
#include <windows.h>
#include <bcrypt.h>

#include "platform/md5.h"

namespace platform {

namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

struct Algorithm {
    BCRYPT_ALG_HANDLE handle = nullptr;
    ~Algorithm() {
        if (handle != nullptr) BCryptCloseAlgorithmProvider(handle, 0);
    }
};

struct Hash {
    BCRYPT_HASH_HANDLE handle = nullptr;
    ~Hash() {
        if (handle != nullptr) BCryptDestroyHash(handle);
    }
};

}  // namespace

bool Md5(const ByteRange* ranges, size_t count, uint8_t digest[16]) {
    if (digest == nullptr || (count > 0 && ranges == nullptr)) return false;
    Algorithm algorithm;
    if (!Succeeded(BCryptOpenAlgorithmProvider(&algorithm.handle, BCRYPT_MD5_ALGORITHM, nullptr, 0)))
        return false;
    Hash hash;
    // No object buffer given: the provider allocates its own.
    if (!Succeeded(BCryptCreateHash(algorithm.handle, &hash.handle, nullptr, 0, nullptr, 0, 0))) return false;
    for (size_t i = 0; i < count; ++i) {
        if (ranges[i].length == 0) continue;
        if (ranges[i].data == nullptr) return false;
        // Fed in pieces a ULONG can count.
        const unsigned char* data = static_cast<const unsigned char*>(ranges[i].data);
        size_t left = ranges[i].length;
        while (left > 0) {
            const ULONG piece = left > 0x40000000u ? 0x40000000u : static_cast<ULONG>(left);
            if (!Succeeded(BCryptHashData(hash.handle, const_cast<PUCHAR>(data), piece, 0))) return false;
            data += piece;
            left -= piece;
        }
    }
    UCHAR out[16];
    if (!Succeeded(BCryptFinishHash(hash.handle, out, sizeof out, 0))) return false;
    for (int i = 0; i < 16; ++i) digest[i] = out[i];
    return true;
}

}  // namespace platform
