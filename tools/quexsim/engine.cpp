#include "tools/quexsim/engine.h"

#include <algorithm>

namespace quexsim {
namespace {

using nlohmann::json;

uint64_t MacKey(const Mac& mac) {
    uint64_t k = 0;
    for (uint8_t b : mac) k = (k << 8) | b;
    return k;
}

const Mac kWildcard = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

Field AddressField(uint8_t code, uint32_t a) {
    Field f{code, {}};
    AppendBe32(f.value, a);
    return f;
}

Field TextField(uint8_t code, const std::string& s) { return Field{code, Bytes(s.begin(), s.end())}; }

json NetJson(const NetConfig& n) {
    return json{{"ip", AddressText(n.ip)},
                {"subnet", AddressText(n.subnet)},
                {"gateway", AddressText(n.gateway)},
                {"dhcp", n.dhcp}};
}

const char* RequestName(uint16_t type) {
    switch (type) {
    case kSetNetworkRequest:
        return "set_network";
    case kRebootRequest:
        return "reboot";
    case kSetDhcpRequest:
        return "set_dhcp";
    default:
        return "query";
    }
}

bool Applies(const std::vector<uint16_t>& types, uint16_t type) {
    return types.empty() || std::find(types.begin(), types.end(), type) != types.end();
}

}  // namespace

Engine::Engine(std::vector<DeviceSpec> devices, Journal& journal, uint64_t seed)
    : journal_(journal), random_(seed) {
    devices_.reserve(devices.size());
    for (DeviceSpec& described : devices) {
        Device d;
        d.spec = std::move(described);
        d.configured = d.spec.net;
        d.active = d.spec.net;
        // Started with DHCP on and no address yet: the lease is on its way.
        if (d.active.dhcp && d.active.ip == 0 && d.spec.lease) StartLeaseWait(d);
        NewChallenge(d);
        byMac_[MacKey(d.spec.mac)] = devices_.size();
        devices_.push_back(std::move(d));
    }
}

void Engine::NewChallenge(Device& d) {
    if (d.spec.challengeMode == ChallengeMode::Fixed) {
        d.challenge = d.spec.fixedChallenge;
    } else if (d.spec.challengeMode == ChallengeMode::Fresh) {
        for (auto& b : d.challenge) b = static_cast<uint8_t>(random_());
    }
}

bool Engine::OffersChallenge(const Device& d) {
    if (d.spec.challengeMode == ChallengeMode::None) return false;
    return d.spec.withdrawChallengeAfter == 0 || d.queriesAnswered <= d.spec.withdrawChallengeAfter;
}

void Engine::StartLeaseWait(Device& d) {
    d.leasePending = true;
    d.leaseQueriesLeft = d.spec.leaseAfterQueries;
    d.active.ip = 0;
}

void Engine::JournalState(const Device& d, const std::string& why) {
    if (!journal_.enabled()) return;
    journal_.Write(json{{"event", "state"},
                        {"device", d.spec.name},
                        {"mac", MacText(d.spec.mac)},
                        {"why", why},
                        {"active", NetJson(d.active)},
                        {"configured", NetJson(d.configured)},
                        {"lease_pending", d.leasePending}});
}

std::vector<Outgoing> Engine::Handle(const Received& in) {
    std::vector<Outgoing> out;
    const auto header = ParseHeader(in.data, in.size);
    if (journal_.enabled()) {
        json e{{"event", "recv"},
               {"local", AddressText(in.local)},
               {"from", AddressText(in.from)},
               {"port", in.fromPort},
               {"length", in.size},
               {"hex", Hex(in.data, in.size)}};
        if (header) {
            e["magic"] = MagicText(header->magic);
            e["type"] = header->type;
            e["payload_length"] = header->length;
        }
        journal_.Write(std::move(e));
    }
    if (!header) {
        journal_.Write(
            json{{"event", "decision"}, {"action", "ignore"}, {"reason", "shorter than a header"}});
        return out;
    }
    switch (header->type) {
    case kDiscoveryRequest:
        HandleDiscovery(in, header->magic, out);
        break;
    case kSetNetworkRequest:
    case kRebootRequest:
    case kSetDhcpRequest:
        HandleConfig(in, header->magic, out);
        break;
    default:
        journal_.Write(json{{"event", "decision"},
                            {"action", "ignore"},
                            {"type", header->type},
                            {"reason", "not a request type"}});
    }
    return out;
}

std::string Engine::IgnoreReason(const Device& d, const Received& in, uint32_t magic, bool config) const {
    if (std::find(d.spec.magics.begin(), d.spec.magics.end(), magic) == d.spec.magics.end())
        return "magic not answered by this device";
    if (!d.spec.interfaces.empty() &&
        std::find(d.spec.interfaces.begin(), d.spec.interfaces.end(), in.local) == d.spec.interfaces.end())
        return "device not on this network";
    if (d.spec.silent) return "silent device";
    if (in.nowMs < d.silentUntilMs) return "rebooting";
    if (config && d.spec.ignoreConfig) return "device ignores configuration requests";
    return "";
}

void Engine::HandleDiscovery(const Received& in, uint32_t magic, std::vector<Outgoing>& out) {
    std::string why;
    const auto req = ParseDiscoveryRequest(in.data, in.size, why);
    if (!req) {
        journal_.Write(json{{"event", "decision"}, {"type", 1}, {"action", "ignore"}, {"reason", why}});
        return;
    }
    if (req->target == kWildcard) {
        size_t answered = 0;
        for (Device& d : devices_) {
            const std::string reason = IgnoreReason(d, in, magic, false);
            if (reason.empty()) {
                AnswerQuery(d, in, magic, out);
                ++answered;
            } else if (reason != "magic not answered by this device" &&
                       reason != "device not on this network") {
                // Devices of other magics or networks would not have seen it at all.
                journal_.Write(json{{"event", "decision"},
                                    {"type", 1},
                                    {"device", d.spec.name},
                                    {"mac", MacText(d.spec.mac)},
                                    {"action", "ignore"},
                                    {"reason", reason}});
            }
        }
        journal_.Write(
            json{{"event", "discovery"}, {"target", MacText(req->target)}, {"answered", answered}});
        return;
    }
    const auto it = byMac_.find(MacKey(req->target));
    if (it == byMac_.end()) {
        journal_.Write(json{{"event", "decision"},
                            {"type", 1},
                            {"target", MacText(req->target)},
                            {"action", "ignore"},
                            {"reason", "no such device"}});
        return;
    }
    Device& d = devices_[it->second];
    const std::string reason = IgnoreReason(d, in, magic, false);
    if (!reason.empty()) {
        journal_.Write(json{{"event", "decision"},
                            {"type", 1},
                            {"device", d.spec.name},
                            {"mac", MacText(d.spec.mac)},
                            {"action", "ignore"},
                            {"reason", reason}});
        return;
    }
    AnswerQuery(d, in, magic, out);
}

void Engine::AnswerQuery(Device& d, const Received& in, uint32_t magic, std::vector<Outgoing>& out) {
    ++d.queriesAnswered;
    if (d.leasePending) {
        if (d.leaseQueriesLeft == 0) {
            d.leasePending = false;
            d.active.ip = d.spec.lease->ip;
            d.active.subnet = d.spec.lease->subnet;
            d.active.gateway = d.spec.lease->gateway;
            JournalState(d, "lease obtained");
        } else {
            --d.leaseQueriesLeft;
        }
    }
    if (d.spec.challengeMode == ChallengeMode::Fresh) NewChallenge(d);

    std::vector<Field> fields;
    fields.push_back(Field{kFieldMac, Bytes(d.spec.mac.begin(), d.spec.mac.end())});
    fields.push_back(AddressField(kFieldIp, d.active.ip));
    fields.push_back(AddressField(kFieldSubnet, d.active.subnet));
    fields.push_back(AddressField(kFieldGateway, d.active.gateway));
    fields.push_back(TextField(kFieldModel, d.spec.model));
    fields.push_back(Field{kFieldDhcp, Bytes{static_cast<uint8_t>(d.active.dhcp ? 1 : 0)}});
    Field version{kFieldVersion, {}};
    AppendBe16(version.value, d.spec.version);
    fields.push_back(version);
    fields.push_back(Field{kFieldVendorGuid, Bytes(d.spec.vendorGuid.begin(), d.spec.vendorGuid.end())});
    if (OffersChallenge(d))
        fields.push_back(Field{kFieldChallenge, Bytes(d.challenge.begin(), d.challenge.end())});
    fields.insert(fields.end(), d.spec.extraFields.begin(), d.spec.extraFields.end());

    if (journal_.enabled()) {
        json e{{"event", "decision"},           {"type", 1},          {"device", d.spec.name},
               {"mac", MacText(d.spec.mac)},    {"action", "answer"}, {"query", d.queriesAnswered},
               {"ip", AddressText(d.active.ip)}};
        if (OffersChallenge(d)) e["challenge"] = Hex(d.challenge.data(), d.challenge.size());
        journal_.Write(std::move(e));
    }
    Queue(d, magic, kDiscoveryResponse, std::move(fields), in.nowMs, out);
}

void Engine::HandleConfig(const Received& in, uint32_t magic, std::vector<Outgoing>& out) {
    std::string why;
    const auto req = ParseConfigRequest(in.data, in.size, why);
    const uint16_t type = ReadBe16(in.data + 4);
    if (!req) {
        journal_.Write(json{{"event", "decision"}, {"type", type}, {"action", "ignore"}, {"reason", why}});
        return;
    }
    const auto it = byMac_.find(MacKey(req->target));
    if (it == byMac_.end()) {
        journal_.Write(json{{"event", "decision"},
                            {"type", type},
                            {"target", MacText(req->target)},
                            {"action", "ignore"},
                            {"reason", "no such device"}});
        return;
    }
    Device& d = devices_[it->second];
    json e{{"event", "decision"},           {"type", type},
           {"request", RequestName(type)},  {"device", d.spec.name},
           {"mac", MacText(d.spec.mac)},    {"payload_length", in.size - kHeaderSize},
           {"auth_length", req->authLength}};
    if (type == kSetNetworkRequest) {
        e["settings"] = json{{"ip", AddressText(req->ip)},
                             {"subnet", AddressText(req->subnet)},
                             {"gateway", AddressText(req->gateway)}};
    } else if (type == kSetDhcpRequest) {
        e["dhcp_flag"] = req->dhcpFlag;
    }
    const std::string reason = IgnoreReason(d, in, magic, true);
    if (!reason.empty()) {
        e["action"] = "ignore";
        e["reason"] = reason;
        journal_.Write(std::move(e));
        return;
    }

    // Authentication: the digest form when this device offers a challenge,
    // the password in plain text otherwise.
    bool authOk = false;
    const size_t prefix = AuthPrefixLength(type);
    if (OffersChallenge(d)) {
        e["auth"] = "digest";
        e["challenge"] = Hex(d.challenge.data(), d.challenge.size());
        if (req->authLength != 16) {
            e["auth_problem"] = "no digest (length byte " + std::to_string(req->authLength) + ")";
        } else {
            uint16_t version = 0;
            Guid guid{};
            if (!ParseTrailer(req->trailer, version, guid, why)) {
                e["action"] = "ignore";
                e["reason"] = "digest form with a bad trailer: " + why;
                e["digest"] = Hex(req->auth);
                journal_.Write(std::move(e));
                return;
            }
            e["trailer"] = json{{"version", version}, {"vendor_guid", GuidText(guid)}};
            const auto expected =
                RequestDigest(d.challenge, d.spec.password, in.data + 4, in.data + kHeaderSize, prefix);
            e["digest"] = Hex(req->auth);
            e["expected_digest"] = Hex(expected.data(), expected.size());
            authOk = std::equal(expected.begin(), expected.end(), req->auth.begin());
            if (!authOk) e["auth_problem"] = "digest does not match";
        }
    } else {
        e["auth"] = "plain";
        if (!req->trailer.empty()) {
            e["action"] = "ignore";
            e["reason"] = std::to_string(req->trailer.size()) + " bytes after the password";
            journal_.Write(std::move(e));
            return;
        }
        authOk = std::string(req->auth.begin(), req->auth.end()) == d.spec.password;
        if (!authOk) e["auth_problem"] = "wrong password";
    }
    e["auth_ok"] = authOk;

    const Outcome* outcome = nullptr;
    Outcome success{0, 0, d.spec.successMessage, {}};
    if (!authOk) {
        outcome = &d.spec.authFailure;
        e["action"] = "refuse";
    } else if (d.spec.refuse && Applies(d.spec.refuse->requests, type)) {
        outcome = &*d.spec.refuse;
        e["action"] = "refuse";
    } else {
        outcome = &success;
        e["action"] = "accept";
    }
    e["result"] = outcome->result;
    e["error"] = outcome->error;
    e["message"] = outcome->message;
    journal_.Write(std::move(e));

    std::vector<Field> fields;
    fields.push_back(Field{kFieldMac, Bytes(d.spec.mac.begin(), d.spec.mac.end())});
    fields.push_back(Field{kFieldResultCode, Bytes{outcome->result}});
    fields.push_back(Field{kFieldErrorCode, Bytes{outcome->error}});
    fields.push_back(TextField(kFieldResultMessage, outcome->message));
    Queue(d, magic, static_cast<uint16_t>(type + 1), std::move(fields), in.nowMs, out);
    if (outcome != &success) return;

    // The change itself, after the reply has been queued with the old state.
    switch (type) {
    case kSetNetworkRequest:
        d.configured.ip = req->ip;
        d.configured.subnet = req->subnet;
        d.configured.gateway = req->gateway;
        if (!d.spec.applyOnReboot && !d.active.dhcp) {
            d.active.ip = req->ip;
            d.active.subnet = req->subnet;
            d.active.gateway = req->gateway;
        }
        JournalState(d, "set_network");
        break;
    case kSetDhcpRequest:
        d.configured.dhcp = req->dhcpFlag != 0;
        if (!d.spec.applyOnReboot) {
            d.active.dhcp = d.configured.dhcp;
            // Off takes the stored static settings at once; on waits for
            // the next start to ask for a lease.
            if (!d.active.dhcp) {
                d.leasePending = false;
                d.active.ip = d.configured.ip;
                d.active.subnet = d.configured.subnet;
                d.active.gateway = d.configured.gateway;
            }
        }
        JournalState(d, "set_dhcp");
        break;
    case kRebootRequest:
        Reboot(d, in.nowMs);
        break;
    default:
        break;
    }
}

void Engine::Reboot(Device& d, double nowMs) {
    d.active = d.configured;
    d.leasePending = false;
    if (d.active.dhcp) {
        if (d.spec.lease) {
            StartLeaseWait(d);
        } else {
            d.active.ip = 0;  // no DHCP server in this lab unless a lease is given
        }
    }
    NewChallenge(d);
    d.silentUntilMs = nowMs + d.spec.delayMs + d.spec.rebootMs;
    JournalState(d, "reboot");
}

void Engine::Queue(const Device& d, uint32_t magic, uint16_t type, std::vector<Field> fields, double nowMs,
                   std::vector<Outgoing>& out) {
    std::optional<uint16_t> headerLength;
    std::optional<size_t> truncate;
    uint16_t sendType = type;
    uint32_t sendMagic = magic;
    for (const Mutation& m : d.spec.malformed) {
        if (!Applies(m.types, type)) continue;
        if (m.omitField) {
            fields.erase(std::remove_if(fields.begin(), fields.end(),
                                        [&](const Field& f) { return f.code == *m.omitField; }),
                         fields.end());
        }
        if (m.field) {
            for (Field& f : fields)
                if (f.code == *m.field) f.value.resize(*m.length, 0);
        }
        if (m.headerLength) headerLength = m.headerLength;
        if (m.type) sendType = *m.type;
        if (m.magic) sendMagic = *m.magic;
        if (m.truncate) truncate = m.truncate;
    }
    Bytes data = BuildDatagram(sendMagic, sendType, fields, headerLength);
    if (truncate && *truncate < data.size()) data.resize(*truncate);
    const Outgoing o{std::move(data), nowMs + d.spec.delayMs, d.spec.name, sendType};
    out.push_back(o);
    if (d.spec.answerTwice) out.push_back(o);
}

}  // namespace quexsim
