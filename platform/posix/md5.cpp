// MD5 through OpenSSL's EVP interface.
#include "platform/md5.h"

#include <openssl/evp.h>

#include <memory>

namespace platform {

bool Md5(const ByteRange* ranges, size_t count, uint8_t digest[16]) {
    if (digest == nullptr || (count > 0 && ranges == nullptr)) return false;
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1) return false;
    for (size_t i = 0; i < count; ++i) {
        if (ranges[i].length == 0) continue;
        if (ranges[i].data == nullptr) return false;
        if (EVP_DigestUpdate(context.get(), ranges[i].data, ranges[i].length) != 1) return false;
    }
    unsigned int size = 0;
    uint8_t out[EVP_MAX_MD_SIZE];
    if (EVP_DigestFinal_ex(context.get(), out, &size) != 1 || size != 16) return false;
    for (unsigned int i = 0; i < 16; ++i) digest[i] = out[i];
    return true;
}

}  // namespace platform
