// The MACs whose accepted answers to a handle offered a challenge. A device
// that offered one is never sent the password in plain text by that handle,
// even when a later answer (a forged one, say) comes without a challenge.
#pragma once

#include <cstdint>

#include "quex/context.h"
#include "quex/device_record.h"

namespace quex {

struct ChallengeMemory;

ChallengeMemory* CreateChallengeMemory();              // nullptr without memory
void DestroyChallengeMemory(ChallengeMemory* memory);  // null ignored

// Remembers the record's MAC when the record carries a challenge. Bounded:
// past QUEX_MAX_SEARCH_RESULTS MACs (a flood of forged devices) nothing new
// is remembered.
void RememberChallenge(QuexContext* context, const QuexDeviceRecord& record);
// True when an answer from this MAC offered the handle a challenge before.
bool ChallengeWasOffered(QuexContext* context, const uint8_t* mac);

}  // namespace quex
