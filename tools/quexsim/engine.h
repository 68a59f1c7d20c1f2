// The device side of every exchange: given one received datagram, decides
// which simulated devices answer and with what, and keeps their state.
// No sockets here, so the logic can be driven directly.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "tools/quexsim/device_file.h"
#include "tools/quexsim/journal.h"
#include "tools/quexsim/wire.h"

namespace quexsim {

struct Received {
    const uint8_t* data = nullptr;
    size_t size = 0;
    uint32_t local = 0;  // simulator address that received it (host order)
    uint32_t from = 0;   // sender address (host order)
    uint16_t fromPort = 0;
    double nowMs = 0;
};

struct Outgoing {
    Bytes data;
    double dueMs = 0;
    std::string device;
    uint16_t type = 0;
};

class Engine {
public:
    Engine(std::vector<DeviceSpec> devices, Journal& journal, uint64_t seed);

    // Replies to send back to the datagram's sender, each with its due time.
    std::vector<Outgoing> Handle(const Received& in);

    size_t device_count() const { return devices_.size(); }

private:
    struct Device {
        DeviceSpec spec;
        NetConfig configured;  // what the device keeps for its next start
        NetConfig active;      // what it reports and uses now
        Challenge challenge{};
        bool leasePending = false;
        unsigned leaseQueriesLeft = 0;
        double silentUntilMs = 0;
        uint64_t queriesAnswered = 0;
    };

    void HandleDiscovery(const Received& in, uint32_t magic, std::vector<Outgoing>& out);
    void HandleConfig(const Received& in, uint32_t magic, std::vector<Outgoing>& out);
    // Why a device ignores a datagram, or empty when it listens.
    std::string IgnoreReason(const Device& d, const Received& in, uint32_t magic, bool config) const;
    void AnswerQuery(Device& d, const Received& in, uint32_t magic, std::vector<Outgoing>& out);
    void StartLeaseWait(Device& d);
    void Reboot(Device& d, double nowMs);
    void Queue(const Device& d, uint32_t magic, uint16_t type, std::vector<Field> fields, double nowMs,
               std::vector<Outgoing>& out);
    void NewChallenge(Device& d);
    // The device wants (and its answers carry) a challenge: it has one and has
    // not withdrawn it yet.
    static bool OffersChallenge(const Device& d);
    void JournalState(const Device& d, const std::string& why);

    std::vector<Device> devices_;
    std::unordered_map<uint64_t, size_t> byMac_;
    Journal& journal_;
    std::mt19937_64 random_;
};

}  // namespace quexsim
