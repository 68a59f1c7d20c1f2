// Per-datagram and per-request costs of the wire codec.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "quex/codec.h"
#include "quex/context.h"
#include "quex/device_record.h"
#include "quex/digest.h"
#include <quex/quex.h>

namespace {

const QuexGuid kGuid = {0xD4A17F3B, 0x2E8C, 0x4B61, {0x9F, 0x05, 0x6C, 0x3A, 0x8E, 0x1B, 0x72, 0xD4}};

// A handle's context for the codec; closed with the scope.
struct Handle {
    QuexContext* context = QUEXOpen(QUEX_MAGIC_TELQ, &kGuid);
    ~Handle() { QUEXClose(context); }
};

void Field(std::vector<uint8_t>& out, uint8_t code, const void* value, uint8_t length) {
    out.push_back(code);
    out.push_back(length);
    const auto* bytes = static_cast<const uint8_t*>(value);
    out.insert(out.end(), bytes, bytes + length);
}

// The discovery reply a device of the plant sends: MAC, address, mask,
// gateway, model, DHCP flag, version, vendor GUID and a challenge.
std::vector<uint8_t> TypicalReply(uint32_t magic) {
    std::vector<uint8_t> payload;
    const uint8_t mac[6] = {0x02, 0xC0, 0xDE, 0x25, 0x40, 0x74};
    const uint8_t ip[4] = {10, 77, 0, 50}, mask[4] = {255, 255, 255, 0}, gateway[4] = {10, 77, 0, 1};
    const char model[] = "KV-200 Boiler Controller";
    const uint8_t dhcp = 0, version[2] = {0x02, 0x00};
    const uint8_t guid[16] = {0xD4, 0xA1, 0x7F, 0x3B, 0x2E, 0x8C, 0x4B, 0x61,
                              0x9F, 0x05, 0x6C, 0x3A, 0x8E, 0x1B, 0x72, 0xD4};
    const uint8_t challenge[14] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
    Field(payload, quex::MacAddress, mac, 6);
    Field(payload, quex::IpAddress, ip, 4);
    Field(payload, quex::SubnetMask, mask, 4);
    Field(payload, quex::Gateway, gateway, 4);
    Field(payload, quex::ModelName, model, sizeof model - 1);
    Field(payload, quex::DhcpEnabled, &dhcp, 1);
    Field(payload, quex::Version, version, 2);
    Field(payload, quex::VendorGuid, guid, 16);
    Field(payload, quex::Challenge, challenge, 14);
    std::vector<uint8_t> datagram(quex::kReceiveBufferSize, 0);
    const uint8_t header[8] = {static_cast<uint8_t>(magic >> 24),
                               static_cast<uint8_t>(magic >> 16),
                               static_cast<uint8_t>(magic >> 8),
                               static_cast<uint8_t>(magic),
                               0,
                               quex::DiscoveryResponse,
                               0,
                               static_cast<uint8_t>(payload.size())};
    std::memcpy(datagram.data(), header, sizeof header);
    std::memcpy(datagram.data() + quex::kHeaderSize, payload.data(), payload.size());
    datagram.resize(quex::kReceiveBufferSize);
    return datagram;
}

constexpr int kTypicalLength = 8 + 8 + 6 * 3 + 26 + 3 + 4 + 18 + 16;

// Decoding and accepting one reply into a record, as the search does after
// each read (the record reset included).
void BM_DecodeDiscoveryReply(benchmark::State& state) {
    Handle handle;
    const std::vector<uint8_t> datagram = TypicalReply(QUEX_MAGIC_TELQ);
    quex::QuexDeviceRecord record;
    for (auto _ : state) {
        quex::InitDeviceRecord(handle.context->magic, &record);
        const int32_t accepted = quex::CheckResponse(handle.context->magic, datagram.data(), kTypicalLength,
                                                     quex::DiscoveryResponse, quex::kBroadcastMac, &record);
        if (accepted != 0) state.SkipWithError("the typical reply was refused");
        benchmark::DoNotOptimize(record);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeDiscoveryReply);

// The same with a heap record made and freed per reply, as the worker does.
void BM_DecodeIntoNewRecord(benchmark::State& state) {
    Handle handle;
    const std::vector<uint8_t> datagram = TypicalReply(QUEX_MAGIC_TELQ);
    for (auto _ : state) {
        quex::QuexDeviceRecord* record = quex::NewDeviceRecord(handle.context->magic);
        const int32_t accepted = quex::CheckResponse(handle.context->magic, datagram.data(), kTypicalLength,
                                                     quex::DiscoveryResponse, quex::kBroadcastMac, record);
        if (accepted != 0) state.SkipWithError("the typical reply was refused");
        benchmark::DoNotOptimize(record);
        quex::DeleteDeviceRecord(record);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeIntoNewRecord);

// A foreign datagram (another magic) is refused: the cost of one datagram of a flood.
void BM_RefuseForeignDatagram(benchmark::State& state) {
    Handle handle;
    const std::vector<uint8_t> datagram = TypicalReply(0x58595A57u /* "XYZW" */);
    quex::QuexDeviceRecord record;
    for (auto _ : state) {
        quex::InitDeviceRecord(handle.context->magic, &record);
        benchmark::DoNotOptimize(quex::CheckResponse(handle.context->magic, datagram.data(), kTypicalLength,
                                                     quex::DiscoveryResponse, quex::kBroadcastMac, &record));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RefuseForeignDatagram);

// A set-network request with its digest, built as the library builds it:
// header, body, length byte, MD5 digest, version and vendor GUID fields.
void BM_BuildSetNetworkRequestWithDigest(benchmark::State& state) {
    Handle handle;
    uint8_t challenge[quex::kChallengeBlockSize] = {14, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4};
    const quex::ConfigurationRequest settings{quex::SetNetworkRequest,
                                              {0x02, 0xC0, 0xDE, 0x25, 0x40, 0x74},
                                              0x5000A8C0u,
                                              0x00FFFFFFu,
                                              0x0100A8C0u,
                                              0};
    const quex::RequestSigner sign = [&](const uint8_t* typeField, const uint8_t* prefix, size_t prefixLength,
                                         uint8_t* digest) {
        return quex::ComputeRequestDigest(challenge, "Brackwater", prefix, static_cast<int16_t>(prefixLength),
                                          typeField, digest) == 0;
    };
    uint8_t request[quex::kMaxRequestSize];
    for (auto _ : state) {
        if (quex::BuildSignedRequest(quex::IdentityOf(*handle.context), settings, sign, request,
                                     sizeof request) != 8 + 18 + 1 + 16 + 22)
            state.SkipWithError("request not built");
        benchmark::DoNotOptimize(request);
        challenge[1]++;  // a fresh challenge each time, as a device offers
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildSetNetworkRequestWithDigest);

void BM_BuildDiscoveryRequest(benchmark::State& state) {
    Handle handle;
    uint8_t request[quex::kDiscoveryRequestSize];
    for (auto _ : state) {
        quex::BuildDiscoveryRequest(quex::IdentityOf(*handle.context), quex::kBroadcastMac, request);
        benchmark::DoNotOptimize(request);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildDiscoveryRequest);

}  // namespace
