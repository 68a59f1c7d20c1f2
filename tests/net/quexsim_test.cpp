// The device simulator against raw datagrams written out from the byte
// tables here, so that the simulator is checked without the library's codec.
// Digests were computed apart from both, with `openssl dgst -md5` over the
// listed bytes.
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>

#include "tests/support/netns_guard.h"
#include "tests/support/simulator.h"

namespace {

using kelvotest::Bytes;
using kelvotest::FromHex;
using kelvotest::Json;
using kelvotest::RawSocket;
using kelvotest::Simulator;
using kelvotest::ToHex;
using namespace std::chrono_literals;

// Device 02:c0:de:00:00:01, 10.77.0.50/24, gateway 10.77.0.1, model "KV-1",
// magic TELQ, vendor GUID {D4A17F3B-2E8C-4B61-9F05-6C3A8E1B72D4}.
const char kMac[] = "02c0de000001";
const char kGuid[] = "d4a17f3b2e8c4b619f056c3a8e1b72d4";
const char kChallenge[] = "000102030405060708090a0b0c0d";

Json Device(Json extra = Json::object()) {
    Json d = {{"mac", "02:c0:de:00:00:01"}, {"ip", "10.77.0.50"}, {"subnet", "255.255.255.0"},
              {"gateway", "10.77.0.1"},     {"model", "KV-1"},    {"magics", {"TELQ"}}};
    d.update(extra);
    return d;
}

Json File(std::initializer_list<Json> devices) { return Json{{"devices", Json(devices)}}; }

Bytes Discovery(const std::string& magicHex, const std::string& macHex) {
    return FromHex(magicHex + "0001 001c" + macHex + "14020200 1510" + kGuid);
}
const std::string kTelq = "54454c51";

// The reply fields of the device above for a discovery, without a challenge.
std::string QueryReplyFields(const std::string& ipHex, const std::string& dhcpHex = "00") {
    return std::string("0106") + kMac + "0204" + ipHex + "0304ffffff00 0b040a4d0001 0d044b562d31 1001" +
           dhcpHex + "14020200 1510" + kGuid;
}

// Sends one request and returns the one reply expected within 2 s.
Bytes Exchange(RawSocket& s, const Bytes& request) {
    EXPECT_TRUE(s.SendToGroup(request));
    auto reply = s.Receive(2s);
    EXPECT_TRUE(reply.has_value()) << "no reply to " << ToHex(request);
    return reply ? reply->bytes : Bytes{};
}

// The value of reply field `code` in a reply datagram (walks the fields).
Bytes ReplyField(const Bytes& reply, uint8_t code) {
    size_t p = 8;
    while (p + 2 <= reply.size()) {
        const size_t len = reply[p + 1];
        if (p + 2 + len > reply.size()) break;
        if (reply[p] == code)
            return Bytes(reply.begin() + static_cast<long>(p + 2),
                         reply.begin() + static_cast<long>(p + 2 + len));
        p += 2 + len;
    }
    return {};
}

std::string QueriedIp(RawSocket& s) { return ToHex(ReplyField(Exchange(s, Discovery(kTelq, kMac)), 2)); }

class QuexsimTest : public ::testing::Test {
protected:
    void SetUp() override { KELVO_REQUIRE_PRIVATE_NETWORK(); }
};

TEST_F(QuexsimTest, DiscoveryIsAnsweredByteForByteFromTheDevicePort) {
    Json other = Device({{"mac", "02:c0:de:00:00:02"}, {"magics", {"HAPF"}}});
    Simulator sim(File({Device(), other}));
    ASSERT_TRUE(sim.ready()) << sim.error();
    RawSocket s("10.77.0.1");
    ASSERT_TRUE(s.ok());

    // Every device of the magic answers the wildcard; the HAPF device does not.
    ASSERT_TRUE(s.SendToGroup(Discovery(kTelq, "ffffffffffff")));
    const auto replies = s.Collect(700ms);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].from, "10.77.0.2");
    EXPECT_EQ(replies[0].fromPort, 2362);
    EXPECT_EQ(ToHex(replies[0].bytes), ToHex(FromHex("54454c51 0002 0039" + QueryReplyFields("0a4d0032"))));

    // A directed query with the other magic reaches only its device.
    const Bytes hapf = Exchange(s, Discovery("48415046", "02c0de000002"));
    ASSERT_GE(hapf.size(), 16u);
    EXPECT_EQ(ToHex(Bytes(hapf.begin(), hapf.begin() + 16)),
              "484150460002003901060"
              "2c0de000002");
    EXPECT_TRUE(s.Collect(300ms).empty());
}

TEST_F(QuexsimTest, ChallengeIsOfferedAsField23) {
    Simulator sim(File({Device({{"challenge", kChallenge}})}));
    ASSERT_TRUE(sim.ready()) << sim.error();
    RawSocket s("10.77.0.1");
    const Bytes reply = Exchange(s, Discovery(kTelq, kMac));
    EXPECT_EQ(ToHex(reply),
              ToHex(FromHex("54454c51 0002 0049" + QueryReplyFields("0a4d0032") + "170e" + kChallenge)));
}

TEST_F(QuexsimTest, PlainPasswordRebootIsAccepted) {
    Simulator sim(File({Device({{"password", "abcd"}})}));
    ASSERT_TRUE(sim.ready()) << sim.error();
    RawSocket s("10.77.0.1");
    const Bytes request = FromHex(kTelq + "0005 000b" + kMac + "04 61626364");
    const Bytes reply = Exchange(s, request);
    // MAC, result 0, error 0, "Success".
    EXPECT_EQ(ToHex(reply),
              ToHex(FromHex(kTelq + "0006 0017 0106" + kMac + "0a0100 110100 0907 53756363657373")));

    ASSERT_TRUE(sim.WaitForEvents("send", 1));
    const auto received = sim.Received(5);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].bytes, request);
    EXPECT_EQ(received[0].peer, "10.77.0.1");
    EXPECT_EQ(received[0].peerPort, s.port());
    const auto decisions = sim.Decisions(5);
    ASSERT_EQ(decisions.size(), 1u);
    EXPECT_EQ(decisions[0]["auth"], "plain");
    EXPECT_EQ(decisions[0]["action"], "accept");
    EXPECT_EQ(decisions[0]["payload_length"], 11);
}

TEST_F(QuexsimTest, DigestSetNetworkIsAcceptedAndAppliedAtOnce) {
    Simulator sim(File({Device({{"challenge", kChallenge}, {"password", "Brackwater"}})}));
    ASSERT_TRUE(sim.ready()) << sim.error();
    RawSocket s("10.77.0.1");
    // 10.77.0.99/24 gateway 10.77.0.1. MD5 over challenge, "Brackwater",
    // 00 03 and the 19 prefix bytes (length byte 16 included).
    const Bytes request = FromHex(kTelq + "0003 0039 0a4d0063 ffffff00 0a4d0001" + kMac +
                                  "10 4586949f6816964ec7d6cf6b8f92495d 14020200 1510" + kGuid);
    ASSERT_EQ(request.size(), 65u);
    const Bytes reply = Exchange(s, request);
    EXPECT_EQ(ToHex(reply),
              ToHex(FromHex(kTelq + "0004 0017 0106" + kMac + "0a0100 110100 0907 53756363657373")));
    EXPECT_EQ(QueriedIp(s), "0a4d0063");

    const auto decisions = sim.Decisions(3);
    ASSERT_EQ(decisions.size(), 1u);
    EXPECT_EQ(decisions[0]["auth"], "digest");
    EXPECT_EQ(decisions[0]["digest"], "4586949f6816964ec7d6cf6b8f92495d");
    EXPECT_EQ(decisions[0]["expected_digest"], "4586949f6816964ec7d6cf6b8f92495d");
    EXPECT_EQ(decisions[0]["trailer"]["vendor_guid"], "{D4A17F3B-2E8C-4B61-9F05-6C3A8E1B72D4}");
    // The password never travelled.
    for (const auto& d : sim.Received())
        EXPECT_EQ(ToHex(d.bytes).find("427261636b7761746572"), std::string::npos);
}

TEST_F(QuexsimTest, WrongCredentialsAreRefusedAndChangeNothing) {
    Simulator sim(File(
        {Device({{"password", "abcd"}}), Device({{"mac", "02:c0:de:00:00:03"}, {"challenge", kChallenge}})}));
    ASSERT_TRUE(sim.ready()) << sim.error();
    RawSocket s("10.77.0.1");
    // Result 1, error 13, "Authentication failed".
    const std::string refusal = "0a0101 11010d 0915 41757468656e7469636174696f6e206661696c6564";

    // Plain password "abce" instead of "abcd", set-network to 10.77.0.99.
    Bytes reply = Exchange(s, FromHex(kTelq + "0003 0017 0a4d0063 ffffff00 0a4d0001" + kMac + "04 61626365"));
    EXPECT_EQ(ToHex(reply), ToHex(FromHex(kTelq + "0004 0025 0106" + kMac + refusal)));
    EXPECT_EQ(QueriedIp(s), "0a4d0032");

    // The right digest for device ...01 sent to device ...03: it does not match there.
    const std::string mac3 = "02c0de000003";
    reply = Exchange(
        s, FromHex(kTelq + "0005 002d" + mac3 + "10 5b046699c15ea20f08f4bcb56ef26919 14020200 1510" + kGuid));
    EXPECT_EQ(ToHex(reply), ToHex(FromHex(kTelq + "0006 0025 0106" + mac3 + refusal)));

    // A plain password to a device that offered a challenge.
    reply = Exchange(s, FromHex(kTelq + "0005 0011" + mac3 + "0a 427261636b7761746572"));
    EXPECT_EQ(ToHex(reply), ToHex(FromHex(kTelq + "0006 0025 0106" + mac3 + refusal)));

    const auto decisions = sim.Decisions();
    ASSERT_GE(decisions.size(), 3u);
    for (const auto& d : decisions) {
        if (d.contains("auth")) {
            EXPECT_EQ(d["action"], "refuse") << d.dump();
        }
    }
}

TEST_F(QuexsimTest, DeviceFileRefusalAndMalformedRequests) {
    Simulator sim(File({Device({{"refuse", {{"result", 3}, {"error", 7}, {"message", "Locked"}}}})}));
    ASSERT_TRUE(sim.ready()) << sim.error();
    RawSocket s("10.77.0.1");
    // Set-DHCP on with the default password "Brackwater".
    const Bytes reply = Exchange(s, FromHex(kTelq + "0007 0012 01" + kMac + "0a 427261636b7761746572"));
    EXPECT_EQ(ToHex(reply),
              ToHex(FromHex(kTelq + "0008 0016 0106" + kMac + "0a0103 110107 0906 4c6f636b6564")));
    EXPECT_EQ(ToHex(ReplyField(Exchange(s, Discovery(kTelq, kMac)), 16)), "00");

    // A header length that lies, and a password running past the end: no answer.
    ASSERT_TRUE(s.SendToGroup(FromHex(kTelq + "0005 0020" + kMac + "04 61626364")));
    ASSERT_TRUE(s.SendToGroup(FromHex(kTelq + "0005 000b" + kMac + "09 61626364")));
    EXPECT_TRUE(s.Collect(500ms).empty());
    const auto decisions = sim.Decisions(5);
    ASSERT_EQ(decisions.size(), 2u);
    EXPECT_EQ(decisions[0]["action"], "ignore");
    EXPECT_EQ(decisions[1]["action"], "ignore");
}

TEST_F(QuexsimTest, SettingsWaitForARebootWhenTheDeviceSaysSo) {
    Simulator sim(File({Device({{"apply", "reboot"}, {"password", "abcd"}})}));
    ASSERT_TRUE(sim.ready()) << sim.error();
    RawSocket s("10.77.0.1");
    Bytes reply = Exchange(s, FromHex(kTelq + "0003 0017 0a4d0063 ffffff00 0a4d0001" + kMac + "04 61626364"));
    EXPECT_EQ(ToHex(ReplyField(reply, 10)), "00");
    EXPECT_EQ(QueriedIp(s), "0a4d0032");
    reply = Exchange(s, FromHex(kTelq + "0005 000b" + kMac + "04 61626364"));
    EXPECT_EQ(ToHex(ReplyField(reply, 10)), "00");
    EXPECT_EQ(QueriedIp(s), "0a4d0063");
}

TEST_F(QuexsimTest, DhcpLeaseComesAfterRebootAndKQueries) {
    Simulator sim(
        File({Device({{"password", "abcd"}, {"lease", "10.77.0.120"}, {"lease_after_queries", 1}})}));
    ASSERT_TRUE(sim.ready()) << sim.error();
    RawSocket s("10.77.0.1");
    Bytes reply = Exchange(s, FromHex(kTelq + "0007 000c 01" + kMac + "04 61626364"));
    EXPECT_EQ(ToHex(ReplyField(reply, 10)), "00");
    reply = Exchange(s, Discovery(kTelq, kMac));
    EXPECT_EQ(ToHex(ReplyField(reply, 16)), "01");       // on at once,
    EXPECT_EQ(ToHex(ReplyField(reply, 2)), "0a4d0032");  // the address waits for the restart
    Exchange(s, FromHex(kTelq + "0005 000b" + kMac + "04 61626364"));
    EXPECT_EQ(QueriedIp(s), "00000000");
    EXPECT_EQ(QueriedIp(s), "0a4d0078");
}

TEST_F(QuexsimTest, MisbehavingDevices) {
    Simulator sim(File({
        Device({{"mac", "02:c0:de:00:00:10"}, {"silent", true}}),
        Device({{"mac", "02:c0:de:00:00:11"}, {"answer_twice", true}}),
        Device({{"mac", "02:c0:de:00:00:12"}, {"malformed", {{"field", 1}, {"length", 5}}}}),
        Device({{"mac", "02:c0:de:00:00:13"}, {"delay_ms", 400}}),
        Device({{"mac", "02:c0:de:00:00:14"}, {"interfaces", {"10.78.0.2"}}}),
        Device({{"mac", "02:c0:de:00:00:15"}, {"ignore_config", true}}),
    }));
    ASSERT_TRUE(sim.ready()) << sim.error();
    RawSocket s("10.77.0.1");

    ASSERT_TRUE(s.SendToGroup(Discovery(kTelq, "02c0de000010")));
    EXPECT_TRUE(s.Collect(400ms).empty()) << "a silent device answered";

    ASSERT_TRUE(s.SendToGroup(Discovery(kTelq, "02c0de000011")));
    const auto twice = s.Collect(400ms);
    ASSERT_EQ(twice.size(), 2u);
    EXPECT_EQ(twice[0].bytes, twice[1].bytes);

    const Bytes bad = Exchange(s, Discovery(kTelq, "02c0de000012"));
    EXPECT_EQ(ToHex(Bytes(bad.begin(), bad.begin() + 15)), kTelq +
                                                               "0002003801"
                                                               "05"
                                                               "02c0de0000");

    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(s.SendToGroup(Discovery(kTelq, "02c0de000013")));
    ASSERT_TRUE(s.Receive(3s).has_value());
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 390ms);
    EXPECT_LT(waited, 2500ms);

    ASSERT_TRUE(s.SendToGroup(Discovery(kTelq, "02c0de000014")));
    EXPECT_TRUE(s.Collect(400ms).empty()) << "answered on a network it is not on";
    RawSocket other("10.78.0.1");
    ASSERT_TRUE(other.SendToGroup(Discovery(kTelq, "02c0de000014")));
    auto there = other.Receive(2s);
    ASSERT_TRUE(there.has_value());
    EXPECT_EQ(there->from, "10.78.0.2");

    EXPECT_FALSE(Exchange(s, Discovery(kTelq, "02c0de000015")).empty());
    ASSERT_TRUE(s.SendToGroup(FromHex(kTelq + "0005 0011 02c0de000015 0a 427261636b7761746572")));
    EXPECT_TRUE(s.Collect(400ms).empty()) << "answered a configuration request it should ignore";
}

TEST_F(QuexsimTest, BurstDevicesAllAnswerOneDiscovery) {
    const Json file = {
        {"burst", {{"count", 300}, {"mac_base", "02:b0:00:00:00:00"}, {"ip_base", "10.77.1.1"}}}};
    Simulator sim(file);
    ASSERT_TRUE(sim.ready()) << sim.error();
    RawSocket s("10.77.0.1");
    ASSERT_TRUE(s.SendToGroup(Discovery(kTelq, "ffffffffffff")));
    const auto replies = s.Collect(1500ms);
    std::set<std::string> macs;
    for (const auto& r : replies) macs.insert(ToHex(ReplyField(r.bytes, 1)));
    EXPECT_EQ(replies.size(), 300u);
    EXPECT_EQ(macs.size(), 300u);
    EXPECT_EQ(macs.count("02b00000012b"), 1u);  // the 300th
    EXPECT_EQ(sim.Received(1).size(), 1u);
}

}  // namespace
