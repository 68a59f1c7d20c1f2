// De-duplication of answers in a synchronous search: the linear walk of the
// result list that each answer used to make, and the MAC index beside the
// list that replaces it.
#include <benchmark/benchmark.h>

#include <cstring>
#include <mutex>

#include "quex/context.h"
#include "quex/device_record.h"
#include "quex/guarded_list.h"
#include <quex/quex.h>
#include "quex/result_index.h"
#include "quex/search.h"

namespace {

const QuexGuid kGuid = {0xD4A17F3B, 0x2E8C, 0x4B61, {0x9F, 0x05, 0x6C, 0x3A, 0x8E, 0x1B, 0x72, 0xD4}};

struct Handle {
    QuexContext* context = QUEXOpen(QUEX_MAGIC_TELQ, &kGuid);
    ~Handle() { QUEXClose(context); }
};

void MacOf(uint32_t i, uint8_t* mac) {
    const uint8_t bytes[6] = {
        0x02, 0xB0, 0, static_cast<uint8_t>(i >> 16), static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
    std::memcpy(mac, bytes, 6);
}

quex::QuexDeviceRecord* RecordOf(QuexContext* context, uint32_t i) {
    quex::QuexDeviceRecord* record = quex::NewDeviceRecord(context->magic);
    MacOf(i, record->info.macAddress);
    return record;
}

void Fill(QuexContext* context, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) quex::StoreResult(context, RecordOf(context, i), true);
}

// One answer of a device not yet listed: the walk visits every record.
void BM_LinearWalkNewDevice(benchmark::State& state) {
    Handle handle;
    const auto count = static_cast<uint32_t>(state.range(0));
    Fill(handle.context, count);
    uint8_t mac[6];
    MacOf(count + 1, mac);
    for (auto _ : state)
        benchmark::DoNotOptimize(quex::ListFindIf(handle.context->results, quex::CompareMac, mac));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LinearWalkNewDevice)->Arg(1000)->Arg(10000);

void BM_IndexLookupNewDevice(benchmark::State& state) {
    Handle handle;
    const auto count = static_cast<uint32_t>(state.range(0));
    Fill(handle.context, count);
    uint8_t mac[6];
    MacOf(count + 1, mac);
    for (auto _ : state) benchmark::DoNotOptimize(quex::IndexedCount(handle.context, mac));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IndexLookupNewDevice)->Arg(1000)->Arg(10000);

// A whole burst of N distinct devices stored and cleared again, per device:
// with the walk (and the list's own presence check) before each append,
// as the worker stored answers before the index.
void BM_BurstWithLinearWalk(benchmark::State& state) {
    Handle handle;
    const auto count = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        for (uint32_t i = 0; i < count; ++i) {
            quex::QuexDeviceRecord* record = RecordOf(handle.context, i);
            const std::lock_guard guard(quex::ListMutex(handle.context->results));
            if (quex::ListFindIf(handle.context->results, quex::CompareMac, record->info.macAddress) !=
                    nullptr ||
                quex::ListAdd(handle.context->results, record) < 0)
                quex::DeleteDeviceRecord(record);
        }
        while (void* item = quex::ListPopFront(handle.context->results))
            quex::DeleteDeviceRecord(static_cast<quex::QuexDeviceRecord*>(item));
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_BurstWithLinearWalk)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_BurstWithIndex(benchmark::State& state) {
    Handle handle;
    const auto count = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        for (uint32_t i = 0; i < count; ++i)
            quex::StoreResult(handle.context, RecordOf(handle.context, i), true);
        quex::ClearResults(handle.context);
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_BurstWithIndex)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
