// Simulated devices as the device file describes them (JSON, see README.md).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/quexsim/wire.h"

namespace quexsim {

struct NetConfig {
    uint32_t ip = 0;  // host order, first byte most significant
    uint32_t subnet = 0;
    uint32_t gateway = 0;
    bool dhcp = false;
};

// A result the device answers a configuration request with.
struct Outcome {
    uint8_t result = 0;
    uint8_t error = 0;
    std::string message;
    std::vector<uint16_t> requests;  // request types it applies to; empty = 3, 5 and 7
};

// One change made to every reply of the listed types (empty = all) before it
// is sent: for tests of the tool's handling of bad answers.
struct Mutation {
    std::vector<uint16_t> types;
    std::optional<uint8_t> field;  // with length: resize this field's value
    std::optional<size_t> length;
    std::optional<uint8_t> omitField;
    std::optional<uint16_t> headerLength;
    std::optional<uint16_t> type;
    std::optional<uint32_t> magic;
    std::optional<size_t> truncate;  // cut the datagram to this many bytes
};

enum class ChallengeMode { None, Fixed, Fresh };

struct DeviceSpec {
    std::string name;
    Mac mac{};
    NetConfig net;
    std::string model = "Kelvo Device";
    std::vector<uint32_t> magics;  // default: TELQ
    Guid vendorGuid{};
    uint16_t version = 0x0200;
    std::string password = "Brackwater";
    ChallengeMode challengeMode = ChallengeMode::None;
    Challenge fixedChallenge{};
    unsigned withdrawChallengeAfter =
        0;  // offers the challenge in this many answered queries only; 0 = always
    bool applyOnReboot = false;
    std::optional<NetConfig> lease;  // what the DHCP server hands out
    unsigned leaseAfterQueries = 0;
    unsigned delayMs = 0;
    unsigned rebootMs = 0;  // silent for this long after a reboot
    std::optional<Outcome> refuse;
    Outcome authFailure;
    std::string successMessage = "Success";
    bool silent = false;
    bool ignoreConfig = false;
    bool answerTwice = false;
    std::vector<Mutation> malformed;
    std::vector<Field> extraFields;
    std::vector<uint32_t> interfaces;  // simulator addresses it answers on; empty = all
};

// The refusal for a wrong password unless the device file says otherwise.
constexpr uint8_t kAuthFailureResult = 1;
constexpr uint8_t kAuthFailureError = 13;
constexpr const char* kAuthFailureMessage = "Authentication failed";
// Vendor GUID of the tool's default handle.
constexpr const char* kDefaultVendorGuid = "{D4A17F3B-2E8C-4B61-9F05-6C3A8E1B72D4}";

// Flood mode (device file key "flood"): every tool that sends a request is
// sent malformed and foreign datagrams at this rate for this long after its
// last request.
struct FloodSpec {
    unsigned rate = 20000;       // datagrams per second, per tool socket
    unsigned durationMs = 5000;  // after the tool's last request
    unsigned largeEvery = 60;    // every Nth datagram is oversized (up to 65507 bytes); 0 = none
    bool forgedMacs = false;     // valid answers instead, each from a device never seen before
};

// Reads and checks a device file; throws std::runtime_error naming the
// device and key at fault.
std::vector<DeviceSpec> LoadDeviceFile(const std::string& path);
// The flood of a device file, if it asks for one (checked like the rest).
std::optional<FloodSpec> LoadFloodSpec(const std::string& path);
std::optional<FloodSpec> ParseFloodText(const std::string& text);
// The same from JSON text (for --check and the tests).
std::vector<DeviceSpec> ParseDeviceText(const std::string& text);

}  // namespace quexsim
