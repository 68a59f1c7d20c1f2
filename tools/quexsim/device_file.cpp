#include "tools/quexsim/device_file.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

namespace quexsim {
namespace {

using nlohmann::json;

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
    throw std::runtime_error(where + ": " + what);
}

std::string Str(const json& v, const std::string& where) {
    if (!v.is_string()) Fail(where, "must be a string");
    return v.get<std::string>();
}

bool Bool(const json& v, const std::string& where) {
    if (!v.is_boolean()) Fail(where, "must be true or false");
    return v.get<bool>();
}

uint64_t Number(const json& v, const std::string& where, uint64_t max) {
    if (!v.is_number_unsigned() && !(v.is_number_integer() && v.get<int64_t>() >= 0))
        Fail(where, "must be a whole number from 0 to " + std::to_string(max));
    const uint64_t n = v.get<uint64_t>();
    if (n > max) Fail(where, "must be a whole number from 0 to " + std::to_string(max));
    return n;
}

uint32_t Address(const json& v, const std::string& where) {
    const auto a = ParseAddress(Str(v, where));
    if (!a) Fail(where, "must be an IPv4 address in dotted decimal");
    return *a;
}

uint16_t RequestType(const json& v, const std::string& where) {
    if (v.is_string()) {
        const std::string s = v.get<std::string>();
        if (s == "set_network") return kSetNetworkRequest;
        if (s == "reboot") return kRebootRequest;
        if (s == "set_dhcp") return kSetDhcpRequest;
        Fail(where, "must be \"set_network\", \"reboot\", \"set_dhcp\" or 3, 5, 7");
    }
    const auto n = Number(v, where, 65535);
    if (n != 3 && n != 5 && n != 7)
        Fail(where, "must be \"set_network\", \"reboot\", \"set_dhcp\" or 3, 5, 7");
    return static_cast<uint16_t>(n);
}

void CheckKeys(const json& obj, const std::string& where, const std::set<std::string>& allowed) {
    if (!obj.is_object()) Fail(where, "must be an object");
    for (auto it = obj.begin(); it != obj.end(); ++it)
        if (!allowed.count(it.key())) Fail(where, "unknown key \"" + it.key() + "\"");
}

Outcome ParseOutcome(const json& v, const std::string& where, bool withRequests) {
    std::set<std::string> keys = {"result", "error", "message"};
    if (withRequests) keys.insert("requests");
    CheckKeys(v, where, keys);
    Outcome o;
    o.result = static_cast<uint8_t>(Number(v.value("result", json(1)), where + ".result", 255));
    o.error = static_cast<uint8_t>(Number(v.value("error", json(0)), where + ".error", 255));
    o.message = Str(v.value("message", json("")), where + ".message");
    if (v.contains("requests")) {
        if (!v["requests"].is_array()) Fail(where + ".requests", "must be a list");
        for (const json& r : v["requests"]) o.requests.push_back(RequestType(r, where + ".requests"));
    }
    return o;
}

std::vector<uint16_t> ReplyTypes(const json& v, const std::string& where) {
    if (!v.is_array()) Fail(where, "must be a list of reply types (2, 4, 6, 8)");
    std::vector<uint16_t> out;
    for (const json& t : v) {
        const auto n = Number(t, where, 65535);
        if (n != 2 && n != 4 && n != 6 && n != 8) Fail(where, "must be a list of reply types (2, 4, 6, 8)");
        out.push_back(static_cast<uint16_t>(n));
    }
    return out;
}

Mutation ParseMutation(const json& v, const std::string& where) {
    CheckKeys(v, where,
              {"types", "field", "length", "omit_field", "header_length", "type", "magic", "truncate"});
    Mutation m;
    if (v.contains("types")) m.types = ReplyTypes(v["types"], where + ".types");
    if (v.contains("field") != v.contains("length")) Fail(where, "\"field\" and \"length\" go together");
    if (v.contains("field")) {
        m.field = static_cast<uint8_t>(Number(v["field"], where + ".field", 255));
        m.length = Number(v["length"], where + ".length", 255);
    }
    if (v.contains("omit_field"))
        m.omitField = static_cast<uint8_t>(Number(v["omit_field"], where + ".omit_field", 255));
    if (v.contains("header_length"))
        m.headerLength = static_cast<uint16_t>(Number(v["header_length"], where + ".header_length", 65535));
    if (v.contains("type")) m.type = static_cast<uint16_t>(Number(v["type"], where + ".type", 65535));
    if (v.contains("magic")) {
        const auto magic = ParseMagic(Str(v["magic"], where + ".magic"));
        if (!magic) Fail(where + ".magic", "must be four letters");
        m.magic = *magic;
    }
    if (v.contains("truncate")) m.truncate = Number(v["truncate"], where + ".truncate", 65535);
    return m;
}

Field ParseExtraField(const json& v, const std::string& where) {
    CheckKeys(v, where, {"code", "hex", "text", "number"});
    Field f;
    if (!v.contains("code")) Fail(where, "needs a \"code\"");
    f.code = static_cast<uint8_t>(Number(v["code"], where + ".code", 255));
    const int forms = int(v.contains("hex")) + int(v.contains("text")) + int(v.contains("number"));
    if (forms != 1) Fail(where, "needs exactly one of \"hex\", \"text\", \"number\"");
    if (v.contains("hex")) {
        const auto b = ParseHex(Str(v["hex"], where + ".hex"));
        if (!b || b->size() > 255) Fail(where + ".hex", "must be up to 255 bytes in hex digits");
        f.value = *b;
    } else if (v.contains("text")) {
        const std::string t = Str(v["text"], where + ".text");
        if (t.size() > 255) Fail(where + ".text", "must be at most 255 bytes");
        f.value.assign(t.begin(), t.end());
    } else {
        AppendBe32(f.value, static_cast<uint32_t>(Number(v["number"], where + ".number", 0xFFFFFFFFu)));
    }
    return f;
}

NetConfig ParseLease(const json& v, const std::string& where, const NetConfig& base) {
    NetConfig lease = base;
    lease.dhcp = true;
    if (v.is_string()) {
        lease.ip = Address(v, where);
        return lease;
    }
    CheckKeys(v, where, {"ip", "subnet", "gateway"});
    if (!v.contains("ip")) Fail(where, "needs an \"ip\"");
    lease.ip = Address(v["ip"], where + ".ip");
    if (v.contains("subnet")) lease.subnet = Address(v["subnet"], where + ".subnet");
    if (v.contains("gateway")) lease.gateway = Address(v["gateway"], where + ".gateway");
    return lease;
}

const std::set<std::string> kDeviceKeys = {"name",
                                           "mac",
                                           "ip",
                                           "subnet",
                                           "gateway",
                                           "dhcp",
                                           "model",
                                           "magics",
                                           "vendor_guid",
                                           "version",
                                           "password",
                                           "challenge",
                                           "apply",
                                           "lease",
                                           "lease_after_queries",
                                           "delay_ms",
                                           "reboot_ms",
                                           "refuse",
                                           "auth_failure",
                                           "success_message",
                                           "silent",
                                           "ignore_config",
                                           "answer_twice",
                                           "malformed",
                                           "extra_fields",
                                           "interfaces",
                                           "withdraw_challenge_after"};

DeviceSpec ParseDevice(const json& v, const std::string& where, bool needMacAndIp) {
    CheckKeys(v, where, kDeviceKeys);
    DeviceSpec d;
    d.vendorGuid = *ParseGuid(kDefaultVendorGuid);
    d.magics = {*ParseMagic("TELQ")};
    d.authFailure = Outcome{kAuthFailureResult, kAuthFailureError, kAuthFailureMessage, {}};
    d.net.subnet = 0xFFFFFF00u;

    if (v.contains("mac")) {
        const auto mac = ParseMac(Str(v["mac"], where + ".mac"));
        if (!mac) Fail(where + ".mac", "must be six bytes in hex, e.g. 02:c0:de:25:40:74");
        if (*mac == Mac{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})
            Fail(where + ".mac", "FF:FF:FF:FF:FF:FF addresses every device");
        d.mac = *mac;
    } else if (needMacAndIp) {
        Fail(where, "needs a \"mac\"");
    }
    d.name = v.contains("name") ? Str(v["name"], where + ".name") : MacText(d.mac);
    if (v.contains("ip"))
        d.net.ip = Address(v["ip"], where + ".ip");
    else if (needMacAndIp)
        Fail(where, "needs an \"ip\" (0.0.0.0 for none)");
    if (v.contains("subnet")) d.net.subnet = Address(v["subnet"], where + ".subnet");
    if (v.contains("gateway")) d.net.gateway = Address(v["gateway"], where + ".gateway");
    if (v.contains("dhcp")) d.net.dhcp = Bool(v["dhcp"], where + ".dhcp");
    if (v.contains("model")) d.model = Str(v["model"], where + ".model");
    if (d.model.size() > 255) Fail(where + ".model", "must be at most 255 bytes");
    if (v.contains("magics")) {
        json list = v["magics"].is_string() ? json::array({v["magics"]}) : v["magics"];
        if (!list.is_array() || list.empty()) Fail(where + ".magics", "must be a list of four-letter magics");
        d.magics.clear();
        for (const json& m : list) {
            const auto magic = ParseMagic(Str(m, where + ".magics"));
            if (!magic) Fail(where + ".magics", "must be a list of four-letter magics");
            d.magics.push_back(*magic);
        }
    }
    if (v.contains("vendor_guid")) {
        const auto g = ParseGuid(Str(v["vendor_guid"], where + ".vendor_guid"));
        if (!g) Fail(where + ".vendor_guid", "must be a GUID such as {D4A17F3B-2E8C-4B61-9F05-6C3A8E1B72D4}");
        d.vendorGuid = *g;
    }
    if (v.contains("version"))
        d.version = static_cast<uint16_t>(Number(v["version"], where + ".version", 65535));
    if (v.contains("password")) d.password = Str(v["password"], where + ".password");
    if (v.contains("challenge")) {
        const json& c = v["challenge"];
        if (c.is_boolean()) {
            if (c.get<bool>())
                Fail(where + ".challenge", "true is ambiguous: use \"fresh\" or 28 hex digits");
        } else {
            const std::string s = Str(c, where + ".challenge");
            if (s == "none") {
            } else if (s == "fresh") {
                d.challengeMode = ChallengeMode::Fresh;
            } else {
                const auto b = ParseHex(s);
                if (!b || b->size() != 14)
                    Fail(where + ".challenge", "must be false, \"none\", \"fresh\" or 28 hex digits");
                d.challengeMode = ChallengeMode::Fixed;
                std::copy(b->begin(), b->end(), d.fixedChallenge.begin());
            }
        }
    }
    if (v.contains("withdraw_challenge_after")) {
        d.withdrawChallengeAfter = static_cast<unsigned>(
            Number(v["withdraw_challenge_after"], where + ".withdraw_challenge_after", 1000000));
        if (d.challengeMode == ChallengeMode::None || d.withdrawChallengeAfter == 0)
            Fail(where + ".withdraw_challenge_after", "needs a challenge and at least 1 query");
    }
    if (v.contains("apply")) {
        const std::string a = Str(v["apply"], where + ".apply");
        if (a != "immediate" && a != "reboot") Fail(where + ".apply", "must be \"immediate\" or \"reboot\"");
        d.applyOnReboot = a == "reboot";
    }
    if (v.contains("lease")) d.lease = ParseLease(v["lease"], where + ".lease", d.net);
    if (v.contains("lease_after_queries"))
        d.leaseAfterQueries =
            static_cast<unsigned>(Number(v["lease_after_queries"], where + ".lease_after_queries", 1000000));
    if (v.contains("delay_ms"))
        d.delayMs = static_cast<unsigned>(Number(v["delay_ms"], where + ".delay_ms", 3600000));
    if (v.contains("reboot_ms"))
        d.rebootMs = static_cast<unsigned>(Number(v["reboot_ms"], where + ".reboot_ms", 3600000));
    if (v.contains("refuse")) d.refuse = ParseOutcome(v["refuse"], where + ".refuse", true);
    if (v.contains("auth_failure"))
        d.authFailure = ParseOutcome(v["auth_failure"], where + ".auth_failure", false);
    if (v.contains("success_message"))
        d.successMessage = Str(v["success_message"], where + ".success_message");
    if (v.contains("silent")) d.silent = Bool(v["silent"], where + ".silent");
    if (v.contains("ignore_config")) d.ignoreConfig = Bool(v["ignore_config"], where + ".ignore_config");
    if (v.contains("answer_twice")) d.answerTwice = Bool(v["answer_twice"], where + ".answer_twice");
    if (v.contains("malformed")) {
        const json list = v["malformed"].is_object() ? json::array({v["malformed"]}) : v["malformed"];
        if (!list.is_array()) Fail(where + ".malformed", "must be a change or a list of changes");
        for (size_t i = 0; i < list.size(); ++i)
            d.malformed.push_back(ParseMutation(list[i], where + ".malformed[" + std::to_string(i) + "]"));
    }
    if (v.contains("extra_fields")) {
        if (!v["extra_fields"].is_array()) Fail(where + ".extra_fields", "must be a list");
        for (size_t i = 0; i < v["extra_fields"].size(); ++i)
            d.extraFields.push_back(
                ParseExtraField(v["extra_fields"][i], where + ".extra_fields[" + std::to_string(i) + "]"));
    }
    if (v.contains("interfaces")) {
        if (!v["interfaces"].is_array()) Fail(where + ".interfaces", "must be a list of addresses");
        for (const json& a : v["interfaces"]) d.interfaces.push_back(Address(a, where + ".interfaces"));
    }
    return d;
}

// mac_base + i as a 48-bit number.
Mac AddToMac(const Mac& base, uint64_t i) {
    uint64_t n = 0;
    for (uint8_t b : base) n = (n << 8) | b;
    n += i;
    Mac out;
    for (int k = 5; k >= 0; --k) {
        out[static_cast<size_t>(k)] = static_cast<uint8_t>(n & 0xFF);
        n >>= 8;
    }
    return out;
}

}  // namespace

std::vector<DeviceSpec> ParseDeviceText(const std::string& text) {
    json doc;
    try {
        doc = json::parse(text);
    } catch (const json::parse_error& e) {
        Fail("device file", std::string("not valid JSON: ") + e.what());
    }
    json defaults = json::object();
    json devices = json::array();
    if (doc.is_array()) {
        devices = doc;
    } else {
        CheckKeys(doc, "device file", {"defaults", "devices", "burst", "flood"});
        if (doc.contains("defaults")) {
            CheckKeys(doc["defaults"], "defaults", kDeviceKeys);
            defaults = doc["defaults"];
        }
        if (doc.contains("devices")) devices = doc["devices"];
        if (!devices.is_array()) Fail("devices", "must be a list");
    }
    std::vector<DeviceSpec> out;
    std::set<Mac> macs;
    auto add = [&](DeviceSpec d, const std::string& where) {
        if (!macs.insert(d.mac).second) Fail(where, "MAC " + MacText(d.mac) + " is used twice");
        out.push_back(std::move(d));
    };
    for (size_t i = 0; i < devices.size(); ++i) {
        json merged = defaults;
        if (!devices[i].is_object()) Fail("device " + std::to_string(i), "must be an object");
        merged.update(devices[i]);
        add(ParseDevice(merged, "device " + std::to_string(i), true), "device " + std::to_string(i));
    }
    if (!doc.is_array() && doc.contains("burst")) {
        const json& b = doc["burst"];
        CheckKeys(b, "burst", {"count", "mac_base", "ip_base", "template"});
        const uint64_t count = Number(b.value("count", json(0)), "burst.count", 1000000);
        const auto macBase = ParseMac(Str(b.value("mac_base", json("02:b0:00:00:00:00")), "burst.mac_base"));
        if (!macBase) Fail("burst.mac_base", "must be six bytes in hex");
        const uint32_t ipBase = Address(b.value("ip_base", json("10.77.1.1")), "burst.ip_base");
        json tmpl = defaults;
        if (b.contains("template")) {
            CheckKeys(b["template"], "burst.template", kDeviceKeys);
            if (b["template"].contains("mac") || b["template"].contains("ip") ||
                b["template"].contains("name"))
                Fail("burst.template", "\"mac\", \"ip\" and \"name\" are generated");
            tmpl.update(b["template"]);
        }
        const DeviceSpec proto = ParseDevice(tmpl, "burst.template", false);
        for (uint64_t i = 0; i < count; ++i) {
            DeviceSpec d = proto;
            d.mac = AddToMac(*macBase, i);
            d.net.ip = ipBase + static_cast<uint32_t>(i);
            d.name = "burst-" + std::to_string(i);
            if (d.lease) d.lease->ip = d.lease->ip + static_cast<uint32_t>(i);
            add(std::move(d), "burst device " + std::to_string(i));
        }
    }
    return out;
}

std::optional<FloodSpec> ParseFloodText(const std::string& text) {
    json doc;
    try {
        doc = json::parse(text);
    } catch (const json::parse_error& e) {
        Fail("device file", std::string("not valid JSON: ") + e.what());
    }
    if (!doc.is_object() || !doc.contains("flood")) return std::nullopt;
    const json& f = doc["flood"];
    CheckKeys(f, "flood", {"rate", "duration_ms", "large_every", "forged_macs"});
    FloodSpec spec;
    if (f.contains("rate")) spec.rate = static_cast<unsigned>(Number(f["rate"], "flood.rate", 1000000));
    if (spec.rate == 0) Fail("flood.rate", "must be at least 1");
    if (f.contains("duration_ms"))
        spec.durationMs = static_cast<unsigned>(Number(f["duration_ms"], "flood.duration_ms", 3600000));
    if (f.contains("large_every"))
        spec.largeEvery = static_cast<unsigned>(Number(f["large_every"], "flood.large_every", 1000000));
    if (f.contains("forged_macs")) spec.forgedMacs = Bool(f["forged_macs"], "flood.forged_macs");
    return spec;
}

std::optional<FloodSpec> LoadFloodSpec(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error(path + ": cannot be read");
    std::ostringstream text;
    text << in.rdbuf();
    try {
        return ParseFloodText(text.str());
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(path + ": " + e.what());
    }
}

std::vector<DeviceSpec> LoadDeviceFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error(path + ": cannot be read");
    std::ostringstream text;
    text << in.rdbuf();
    try {
        return ParseDeviceText(text.str());
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(path + ": " + e.what());
    }
}

}  // namespace quexsim
