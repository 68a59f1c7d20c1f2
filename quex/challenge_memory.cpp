// The MACs that offered a handle a challenge, under a lock of their own: the
// search worker adds to them while a request on another thread reads them.
#include "quex/challenge_memory.h"

#include <mutex>
#include <new>
#include <unordered_set>

#include "platform/sync.h"
#include "quex/mac_key.h"

namespace quex {

struct ChallengeMemory {
    platform::RecursiveMutex lock;
    std::unordered_set<uint64_t> macs;  // MAC as a 48-bit number
};

ChallengeMemory* CreateChallengeMemory() {
    auto* memory = new (std::nothrow) ChallengeMemory;
    if (memory != nullptr && !memory->lock.Valid()) {
        delete memory;
        return nullptr;
    }
    return memory;
}

void DestroyChallengeMemory(ChallengeMemory* memory) { delete memory; }

void RememberChallenge(QuexContext* context, const QuexDeviceRecord& record) {
    if (context == nullptr || context->challenges == nullptr) return;
    if ((record.info.presentFields & kPresentChallenge) == 0) return;
    ChallengeMemory& memory = *context->challenges;
    const std::lock_guard guard(memory.lock);
    try {
        if (memory.macs.size() < QUEX_MAX_SEARCH_RESULTS) memory.macs.insert(MacKey(record.info.macAddress));
    } catch (...) {
        // Without memory the MAC is not remembered; the request is then as safe as before.
    }
}

bool ChallengeWasOffered(QuexContext* context, const uint8_t* mac) {
    if (context == nullptr || context->challenges == nullptr || mac == nullptr) return false;
    ChallengeMemory& memory = *context->challenges;
    const std::lock_guard guard(memory.lock);
    return memory.macs.count(MacKey(mac)) != 0;
}

}  // namespace quex
