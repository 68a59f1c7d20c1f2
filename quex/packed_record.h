// A search result waiting to be taken, kept small. A device record is
// mostly unused room (text fields end early; a search's records have an
// empty result block), and up to QUEX_MAX_SEARCH_RESULTS of them wait per
// handle: packed, a flood of forged devices costs a fraction of the memory
// and two handles searching at once stay well within what one used to take.
// Packing is exact: unpacking gives back every byte of the record.
#pragma once

#include "quex/device_record.h"

namespace quex {

struct PackedRecord;

PackedRecord* PackRecord(const QuexDeviceRecord& record);  // nullptr without memory
void UnpackRecord(const PackedRecord* packed, QuexDeviceRecord* record);
void FreePackedRecord(PackedRecord* packed);  // null ignored

}  // namespace quex
