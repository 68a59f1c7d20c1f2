// The MACs that offered a handle a challenge, under a lock of their own: the
// search worker adds to them while a request on another thread reads them.
#include "quex/challenge_memory.h"

#include <new>
#include <unordered_set>

#include "platform/sync.h"

namespace quex {

struct ChallengeMemory {
    platform::RecursiveMutex lock;
    std::unordered_set<uint64_t> macs;  // MAC as a 48-bit number
};

namespace {

uint64_t MacKey(const uint8_t* mac) {
    uint64_t key = 0;
    for (int i = 0; i < 6; ++i) key = (key << 8) | mac[i];
    return key;
}

}  // namespace

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
    memory.lock.Lock();
    try {
        if (memory.macs.size() < QUEX_MAX_SEARCH_RESULTS) memory.macs.insert(MacKey(record.info.macAddress));
    } catch (...) {
        // Without memory the MAC is not remembered; the request is then as safe as before.
    }
    memory.lock.Unlock();
}

bool ChallengeWasOffered(QuexContext* context, const uint8_t* mac) {
    if (context == nullptr || context->challenges == nullptr || mac == nullptr) return false;
    ChallengeMemory& memory = *context->challenges;
    memory.lock.Lock();
    const bool offered = memory.macs.count(MacKey(mac)) != 0;
    memory.lock.Unlock();
    return offered;
}

}  // namespace quex
