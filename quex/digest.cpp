// Authentication digest of configuration requests.
#include "quex/digest.h"

#include <cstring>

#include "platform/md5.h"
#include "quex/exchange_result.h"

namespace quex {

int32_t ComputeRequestDigest(const uint8_t* challengeBlock, const char* password, const uint8_t* payload,
                             int16_t prefixLength, const uint8_t* typeField, uint8_t* out) {
    // The challenge and type pointers are checked too: a missing one would
    // otherwise be read through.
    if (challengeBlock == nullptr || password == nullptr || payload == nullptr || typeField == nullptr ||
        out == nullptr || prefixLength <= 0)
        return kExchangeFailed;
    const platform::ByteRange message[] = {
        {challengeBlock + 1, kChallengeBlockSize - 1},  // the 14 challenge bytes
        {password, std::strlen(password)},              // all of it, no terminator
        {typeField, 2},                                 // as it stands in the packet
        {payload, static_cast<size_t>(prefixLength)},   // up to and including the length byte
    };
    uint8_t digest[16];
    if (!platform::Md5(message, sizeof message / sizeof message[0], digest)) return kExchangeFailed;
    std::memcpy(out, digest, sizeof digest);
    return kExchangeOk;
}

}  // namespace quex
