// Directed queries and configuration requests against simulated devices in
// the lab: what goes on the wire, what comes back to the caller, and how long
// the waits last.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <quex/quex.h>
#include "tests/support/netns_guard.h"
#include "tests/support/simulator.h"
#include "tests/support/socket_fault.h"

namespace {

using kelvotest::Bytes;
using kelvotest::FromHex;
using kelvotest::JournalDatagram;
using kelvotest::Json;
using kelvotest::Simulator;
using Clock = std::chrono::steady_clock;

constexpr uint8_t kMac[6] = {0x02, 0xC0, 0xDE, 0x25, 0x40, 0x74};
constexpr const char* kMacText = "02:c0:de:25:40:74";
constexpr uint8_t kOtherMac[6] = {0x02, 0xC0, 0xDE, 0x25, 0x40, 0x99};
constexpr uint8_t kWildcard[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr const char* kChallengeHex = "000102030405060708090a0b0c0d";
constexpr uint32_t kTelq = 0x54454C51;
// {D4A17F3B-2E8C-4B61-9F05-6C3A8E1B72D4}
const QuexGuid kGuid = {0xD4A17F3B, 0x2E8C, 0x4B61, {0x9F, 0x05, 0x6C, 0x3A, 0x8E, 0x1B, 0x72, 0xD4}};

uint32_t Address(const char* text) { return inet_addr(text); }

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string LastMessage(QuexHandle handle) {
    char text[256];
    std::memset(text, 'x', sizeof text);
    if (QUEXGetLastErrorMessage(handle, text, sizeof text) != 0) return "<failed>";
    return text;
}

// One device with the given extra keys.
Json Device(Json keys) {
    Json device = {{"mac", kMacText},
                   {"ip", "10.77.0.50"},
                   {"subnet", "255.255.255.0"},
                   {"vendor_guid", "{D4A17F3B-2E8C-4B61-9F05-6C3A8E1B72D4}"}};
    for (auto& item : keys.items()) device[item.key()] = item.value();
    return device;
}
Json Devices(std::vector<Json> devices) { return Json{{"devices", devices}}; }

// The tool side keeps only h0: one local address.
void UseOneInterface() { ASSERT_EQ(std::system("ip link set h1 down"), 0); }

// Types of the datagrams the devices received, in arrival order.
std::vector<int> ReceivedTypes(const Simulator& sim) {
    std::vector<int> types;
    for (const JournalDatagram& d : sim.Received()) types.push_back(d.type);
    return types;
}

bool Contains(const Bytes& haystack, const std::string& needle) {
    if (needle.empty() || haystack.size() < needle.size()) return false;
    for (size_t i = 0; i + needle.size() <= haystack.size(); ++i)
        if (std::memcmp(haystack.data() + i, needle.data(), needle.size()) == 0) return true;
    return false;
}

Bytes Md5(const Bytes& message) {
    Bytes out(16);
    unsigned int size = 0;
    EVP_Digest(message.data(), message.size(), out.data(), &size, EVP_md5(), nullptr);
    return out;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes TextBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Sends well-formed replies from another device, every 2 ms, to the socket
// that sent the first request of a type (its port learned from the journal),
// so that the socket stays readable for the whole wait.
class ForeignReplyFlood {
public:
    ForeignReplyFlood(const Simulator& sim, int requestType, Bytes reply, std::chrono::seconds length)
        : thread_([this, &sim, requestType, reply, length] { Run(sim, requestType, reply, length); }) {}
    ~ForeignReplyFlood() { Stop(); }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    int sent() const { return sent_; }

private:
    void Run(const Simulator& sim, int requestType, const Bytes& reply, std::chrono::seconds length) {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        if (fd < 0) return;
        const auto start = Clock::now();
        sockaddr_in to{};
        to.sin_family = AF_INET;
        while (to.sin_port == 0 && !stop_ && Clock::now() < start + length) {
            const auto requests = sim.Received(requestType);
            if (!requests.empty()) {
                to.sin_port = htons(requests[0].peerPort);
                to.sin_addr.s_addr = Address(requests[0].peer.c_str());
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        while (to.sin_port != 0 && !stop_ && Clock::now() < start + length) {
            if (sendto(fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) > 0)
                ++sent_;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        close(fd);
    }

    std::atomic<bool> stop_{false};
    std::atomic<int> sent_{0};
    std::thread thread_;
};

class RequestsTest : public ::testing::Test {
protected:
    void SetUp() override {
        KELVO_REQUIRE_PRIVATE_NETWORK();
        handle_ = QUEXOpen(kTelq, &kGuid);
        ASSERT_NE(handle_, nullptr);
    }
    void TearDown() override {
        if (handle_ != nullptr) QUEXClose(handle_);
    }
    // Waits for the journal to hold at least count received datagrams.
    static void SettleJournal(const Simulator& sim, size_t count) {
        sim.WaitForEvents("recv", count, std::chrono::seconds(2));
    }

    QuexHandle handle_ = nullptr;
};

// ---- The two authentication forms on the wire ------------------------------

TEST_F(RequestsTest, PlainRebootOnOneInterfaceSendsOneQueryThenElevenBytes) {
    UseOneInterface();
    Simulator sim(Devices({Device({{"password", "abcd"}})}));
    ASSERT_TRUE(sim.ready()) << sim.error();

    EXPECT_EQ(QUEXRebootDevice(handle_, kMac, "abcd"), 0);
    EXPECT_EQ(QUEXGetLastError(handle_), 0);
    EXPECT_EQ(LastMessage(handle_), "Success");

    SettleJournal(sim, 2);
    EXPECT_EQ(ReceivedTypes(sim), (std::vector<int>{1, 5}));
    const auto reboots = sim.Received(5);
    ASSERT_EQ(reboots.size(), 1u);
    // Header, MAC, length byte 4, the four characters; no fields 20 and 21.
    EXPECT_EQ(reboots[0].bytes, FromHex("54454c51 0005 000b 02c0de254074 04 61626364"));
    EXPECT_EQ(reboots[0].local, "10.77.0.2");
    const auto decisions = sim.Decisions(5);
    ASSERT_EQ(decisions.size(), 1u);
    EXPECT_EQ(decisions[0].value("auth", ""), "plain");
    EXPECT_TRUE(decisions[0].value("auth_ok", false));
}

TEST_F(RequestsTest, PlainDhcpAndNetworkOnTwoInterfacesQueryBothThenTheChosenOneOnly) {
    Simulator sim(Devices({Device({})}));  // password "Brackwater", 10 characters
    ASSERT_TRUE(sim.ready()) << sim.error();

    EXPECT_EQ(QUEXSetDHCP(handle_, kMac, 0x101, "Brackwater"), 0);  // only the low byte travels
    EXPECT_EQ(QUEXSetNetwork(handle_, kMac, Address("10.77.0.60"), Address("255.255.0.0"),
                             Address("10.77.0.254"), "Brackwater"),
              0);

    SettleJournal(sim, 8);
    // Per request: the query that finds the interface goes out of both, the
    // challenge query and the request out of the chosen one only.
    const auto all = sim.Received();
    ASSERT_EQ(all.size(), 8u);
    for (size_t request : {3u, 7u}) {
        EXPECT_NE(all[request].type, 1);
        EXPECT_EQ(all[request - 1].type, 1);
        EXPECT_EQ(all[request - 1].local, all[request].local) << "challenge query on another network";
        EXPECT_EQ(all[request - 2].type, 1);
        EXPECT_EQ(all[request - 3].type, 1);
        EXPECT_NE(all[request - 2].local, all[request - 3].local);
    }

    const auto dhcp = sim.Received(7);
    ASSERT_EQ(dhcp.size(), 1u);
    EXPECT_EQ(dhcp[0].bytes,
              Concat({FromHex("54454c51 0007 0012 01 02c0de254074 0a"), TextBytes("Brackwater")}));  // 8 + 10
    const auto network = sim.Received(3);
    ASSERT_EQ(network.size(), 1u);
    EXPECT_EQ(network[0].bytes,
              Concat({FromHex("54454c51 0003 001d 0a4d003c ffff0000 0a4d00fe 02c0de254074 0a"),
                      TextBytes("Brackwater")}));  // 19 + 10
    for (const Json& d : sim.Decisions()) {
        if (d.value("type", 0) == 1) continue;
        EXPECT_TRUE(d.value("auth_ok", false)) << d.dump();
    }
}

TEST_F(RequestsTest, ChallengedDeviceGetsDigestsAndNeverThePassword) {
    UseOneInterface();
    Simulator sim(Devices({Device({{"challenge", kChallengeHex}})}));
    ASSERT_TRUE(sim.ready()) << sim.error();

    EXPECT_EQ(QUEXRebootDevice(handle_, kMac, "Brackwater"), 0);
    EXPECT_EQ(QUEXSetNetwork(handle_, kMac, Address("10.77.0.61"), Address("255.255.255.0"),
                             Address("10.77.0.1"), "Brackwater"),
              0);
    EXPECT_EQ(QUEXSetDHCP(handle_, kMac, 1, "Brackwater"), 0);
    EXPECT_EQ(LastMessage(handle_), "Success");

    SettleJournal(sim, 6);
    EXPECT_EQ(ReceivedTypes(sim), (std::vector<int>{1, 5, 1, 3, 1, 7}));
    const Bytes trailer = FromHex("14020200 1510 d4a17f3b2e8c4b619f056c3a8e1b72d4");
    const Bytes challenge = FromHex(kChallengeHex);
    const Bytes password = TextBytes("Brackwater");

    const auto reboot = sim.Received(5);
    ASSERT_EQ(reboot.size(), 1u);
    const Bytes rebootPrefix = FromHex("02c0de254074 10");
    const Bytes rebootDigest = Md5(Concat({challenge, password, FromHex("0005"), rebootPrefix}));
    EXPECT_EQ(reboot[0].bytes,
              Concat({FromHex("54454c51 0005 002d"), rebootPrefix, rebootDigest, trailer}));  // 45

    const auto network = sim.Received(3);
    ASSERT_EQ(network.size(), 1u);
    const Bytes networkPrefix = FromHex("0a4d003d ffffff00 0a4d0001 02c0de254074 10");
    const Bytes networkDigest = Md5(Concat({challenge, password, FromHex("0003"), networkPrefix}));
    EXPECT_EQ(network[0].bytes,
              Concat({FromHex("54454c51 0003 0039"), networkPrefix, networkDigest, trailer}));  // 57

    const auto dhcp = sim.Received(7);
    ASSERT_EQ(dhcp.size(), 1u);
    const Bytes dhcpPrefix = FromHex("01 02c0de254074 10");
    const Bytes dhcpDigest = Md5(Concat({challenge, password, FromHex("0007"), dhcpPrefix}));
    EXPECT_EQ(dhcp[0].bytes, Concat({FromHex("54454c51 0007 002e"), dhcpPrefix, dhcpDigest, trailer}));  // 46

    for (const JournalDatagram& d : sim.Received())
        EXPECT_FALSE(Contains(d.bytes, "Brackwater"))
            << "password on the wire: " << kelvotest::ToHex(d.bytes);
    for (const Json& d : sim.Decisions()) {
        if (d.value("type", 0) == 1) continue;
        EXPECT_EQ(d.value("auth", ""), "digest") << d.dump();
        EXPECT_TRUE(d.value("auth_ok", false)) << d.dump();
    }
}

TEST_F(RequestsTest, FreshChallengeIsFetchedForEveryRequestThroughTheChosenInterfaceAlone) {
    // A device on both networks that answers every query with a new
    // challenge: only the last one offered is valid for the request, so the
    // challenge query must bring back exactly one answer, and come after the
    // device answered both copies of the interface query.
    Simulator sim(Devices({Device({{"challenge", "fresh"}})}));
    ASSERT_TRUE(sim.ready()) << sim.error();

    EXPECT_EQ(QUEXRebootDevice(handle_, kMac, "Brackwater"), 0);
    EXPECT_EQ(QUEXRebootDevice(handle_, kMac, "Brackwater"), 0);
    SettleJournal(sim, 8);
    const auto decisions = sim.Decisions(5);
    ASSERT_EQ(decisions.size(), 2u);
    for (const Json& d : decisions) EXPECT_TRUE(d.value("auth_ok", false)) << d.dump();
    EXPECT_NE(decisions[0].value("digest", ""), decisions[1].value("digest", ""));
}

TEST_F(RequestsTest, DeviceWhoseChallengeWasOfferedBeforeIsNeverSentThePasswordInPlainText) {
    UseOneInterface();
    // Each offers its challenge in its first answer only; later answers come
    // without one, as a forged answer that beats the device's own would.
    const uint8_t otherMac[6] = {0x02, 0xC0, 0xDE, 0x25, 0x40, 0x75};
    Simulator sim(Devices({Device({{"challenge", kChallengeHex}, {"withdraw_challenge_after", 1}}),
                           Device({{"mac", "02:c0:de:25:40:75"},
                                   {"ip", "10.77.0.51"},
                                   {"challenge", kChallengeHex},
                                   {"withdraw_challenge_after", 1}})}));
    ASSERT_TRUE(sim.ready()) << sim.error();

    // Offered to this handle by a directed query (the first device) and by a
    // search answer (the second).
    QuexDeviceInfo info;
    ASSERT_EQ(QUEXGetDeviceInfo(handle_, kMac, &info), 0);
    EXPECT_EQ(info.challengeLength, 14);
    EXPECT_EQ(QUEXStartSyncSearchEx(handle_, 300, 3000), 2);

    EXPECT_EQ(QUEXSetNetwork(handle_, kMac, Address("10.77.0.62"), Address("255.255.255.0"), 0, "Brackwater"),
              -1);
    EXPECT_EQ(QUEXGetLastError(handle_), QUEX_ERROR_CHALLENGE_WITHDRAWN);
    EXPECT_EQ(LastMessage(handle_), "Device withdrew its challenge; request not sent");
    EXPECT_EQ(QUEXRebootDevice(handle_, otherMac, "Brackwater"), -1);
    EXPECT_EQ(QUEXGetLastError(handle_), QUEX_ERROR_CHALLENGE_WITHDRAWN);

    // The query, the search, the two challenge queries: no request at all.
    SettleJournal(sim, 4);
    EXPECT_EQ(ReceivedTypes(sim), (std::vector<int>{1, 1, 1, 1}));
    for (const JournalDatagram& d : sim.Received())
        EXPECT_FALSE(Contains(d.bytes, "Brackwater"))
            << "password on the wire: " << kelvotest::ToHex(d.bytes);
}

// ---- Passwords -------------------------------------------------------------

TEST_F(RequestsTest, PlainPasswordOver255CharactersIsRefusedWithoutSendingTheRequest) {
    UseOneInterface();
    const std::string longest(255, 'p');
    const std::string tooLong(256, 'p');
    Simulator sim(Devices({Device({{"password", longest}})}));
    ASSERT_TRUE(sim.ready()) << sim.error();

    EXPECT_EQ(QUEXRebootDevice(handle_, kMac, tooLong.c_str()), -1);
    EXPECT_EQ(QUEXGetLastError(handle_), 0);
    SettleJournal(sim, 1);
    EXPECT_EQ(ReceivedTypes(sim), (std::vector<int>{1}));  // the challenge query only

    // 255 characters still fit the length byte.
    EXPECT_EQ(QUEXRebootDevice(handle_, kMac, longest.c_str()), 0);
    SettleJournal(sim, 3);
    const auto reboots = sim.Received(5);
    ASSERT_EQ(reboots.size(), 1u);
    EXPECT_EQ(reboots[0].bytes.size(), 8u + 7u + 255u);
    EXPECT_EQ(reboots[0].bytes[14], 255);
}

TEST_F(RequestsTest, DigestFormUsesTheWholeLongPassword) {
    UseOneInterface();
    const std::string password(300, 'q');
    Simulator sim(Devices({Device({{"password", password}, {"challenge", kChallengeHex}})}));
    ASSERT_TRUE(sim.ready()) << sim.error();

    EXPECT_EQ(QUEXRebootDevice(handle_, kMac, password.c_str()), 0);
    SettleJournal(sim, 2);
    const auto decisions = sim.Decisions(5);
    ASSERT_EQ(decisions.size(), 1u);
    EXPECT_TRUE(decisions[0].value("auth_ok", false)) << decisions[0].dump();
    // A password cut to 255 characters gives another digest: refused.
    EXPECT_EQ(QUEXRebootDevice(handle_, kMac, password.substr(0, 255).c_str()), 1);
    EXPECT_EQ(QUEXGetLastError(handle_), 13);
    EXPECT_EQ(LastMessage(handle_), "Authentication failed");
}

// ---- Results and the last error ---------------------------------------------

TEST_F(RequestsTest, RefusalReturnsTheResultAndStoresTheDevicesError) {
    UseOneInterface();
    Simulator sim(Devices({Device({{"refuse", {{"result", 3}, {"error", 7}, {"message", "Locked"}}}})}));
    ASSERT_TRUE(sim.ready()) << sim.error();

    EXPECT_EQ(QUEXSetDHCP(handle_, kMac, 1, "Brackwater"), 3);
    EXPECT_EQ(QUEXGetLastError(handle_), 7);
    EXPECT_EQ(LastMessage(handle_), "Locked");

    // A wrong password is the device's refusal too.
    EXPECT_EQ(QUEXRebootDevice(handle_, kMac, "wrong"), 1);
    EXPECT_EQ(QUEXGetLastError(handle_), 13);
    EXPECT_EQ(LastMessage(handle_), "Authentication failed");
}

TEST_F(RequestsTest, ReplyWithoutResultFieldsGivesZeroAndAnEmptyMessage) {
    UseOneInterface();
    Simulator sim(Devices({Device({{"malformed", Json::array({{{"types", {6}}, {"omit_field", 10}},
                                                              {{"types", {6}}, {"omit_field", 17}},
                                                              {{"types", {6}}, {"omit_field", 9}}})}})}));
    ASSERT_TRUE(sim.ready()) << sim.error();

    EXPECT_EQ(QUEXRebootDevice(handle_, kMac, "Brackwater"), 0);
    EXPECT_EQ(QUEXGetLastError(handle_), 0);
    EXPECT_EQ(LastMessage(handle_), "");
    sim.WaitForEvents("send", 2, std::chrono::seconds(2));  // journaled after the send
    const auto replies = sim.Sent(6);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].bytes, FromHex("54454c51 0006 0008 0106 02c0de254074"));
}

// ---- Directed query ----------------------------------------------------------

TEST_F(RequestsTest, QueryReportsTheInterfaceThatReceivedTheReply) {
    Json onSecond = Device({{"interfaces", {"10.78.0.2"}}, {"model", "KV-200"}});
    Json onFirst =
        Device({{"mac", "02:c0:de:25:40:99"}, {"ip", "10.77.0.51"}, {"interfaces", {"10.77.0.2"}}});
    Simulator sim(Devices({onSecond, onFirst}));
    ASSERT_TRUE(sim.ready()) << sim.error();

    QuexDeviceInfo info;
    std::memset(&info, 0, sizeof info);
    ASSERT_EQ(QUEXGetDeviceInfo(handle_, kMac, &info), 0);
    EXPECT_EQ(info.size, 852u);
    EXPECT_EQ(info.interfaceAddress, Address("10.78.0.1"));
    EXPECT_EQ(0, std::memcmp(info.macAddress, kMac, 6));
    EXPECT_EQ(info.ipAddress, Address("10.77.0.50"));
    EXPECT_STREQ(info.modelName, "KV-200");
    EXPECT_EQ(QUEXGetLastError(handle_), 0);
    EXPECT_EQ(LastMessage(handle_), "Operation succeeded");

    ASSERT_EQ(QUEXGetDeviceInfo(handle_, kOtherMac, &info), 0);
    EXPECT_EQ(info.interfaceAddress, Address("10.77.0.1"));

    // The request goes out through the interface that reached the device, alone.
    EXPECT_EQ(QUEXRebootDevice(handle_, kMac, "Brackwater"), 0);
    SettleJournal(sim, 9);
    const auto reboots = sim.Received(5);
    ASSERT_EQ(reboots.size(), 1u);
    EXPECT_EQ(reboots[0].local, "10.78.0.2");
    EXPECT_EQ(reboots[0].peer, "10.78.0.1");
}

TEST_F(RequestsTest, WildcardMacIsRefusedWithoutSending) {
    Simulator sim(Devices({Device({})}));
    ASSERT_TRUE(sim.ready()) << sim.error();

    QuexDeviceInfo info;
    std::memset(&info, 0xAB, sizeof info);
    const auto start = Clock::now();
    EXPECT_EQ(QUEXGetDeviceInfo(handle_, kWildcard, &info), -1);
    EXPECT_EQ(QUEXRebootDevice(handle_, kWildcard, "Brackwater"), -1);
    EXPECT_EQ(QUEXSetNetwork(handle_, kWildcard, Address("10.77.0.9"), Address("255.0.0.0"), 0, "Brackwater"),
              -1);
    EXPECT_EQ(QUEXSetDHCP(handle_, kWildcard, 1, "Brackwater"), -1);
    EXPECT_LT(SecondsSince(start), 1.0);
    EXPECT_EQ(QUEXGetLastError(handle_), 0);
    EXPECT_EQ(info.size, 0xABABABABu);  // the caller's record is untouched

    // A control query proves the journal would have shown a datagram.
    EXPECT_EQ(QUEXGetDeviceInfo(handle_, kMac, &info), 0);
    SettleJournal(sim, 2);
    EXPECT_EQ(ReceivedTypes(sim), (std::vector<int>{1, 1}));  // the control query, both interfaces
    for (const JournalDatagram& d : sim.Received()) EXPECT_NE(d.bytes[8], 0xFF) << kelvotest::ToHex(d.bytes);
}

// ---- Time-outs -------------------------------------------------------------

TEST_F(RequestsTest, SilentDeviceTimesOutAfterFiveSeconds) {
    Simulator sim(Devices({Device({{"silent", true}})}));
    ASSERT_TRUE(sim.ready()) << sim.error();

    QuexDeviceInfo info;
    std::memset(&info, 0xAB, sizeof info);
    const auto start = Clock::now();
    EXPECT_EQ(QUEXGetDeviceInfo(handle_, kMac, &info), -2);
    const double took = SecondsSince(start);
    RecordProperty("seconds", std::to_string(took));
    EXPECT_GE(took, 5.0);
    EXPECT_LT(took, 7.0);
    EXPECT_EQ(QUEXGetLastError(handle_), -2);
    EXPECT_EQ(LastMessage(handle_), "Operation timed out");
    EXPECT_EQ(info.size, 0xABABABABu);
    EXPECT_EQ(sim.Received(1).size(), 2u);  // sent once per interface, never again
}

TEST_F(RequestsTest, SetDeviceInfoTimeoutBoundsTheQueryOfASilentDevice) {
    Simulator sim(Devices({Device({{"silent", true}})}));
    ASSERT_TRUE(sim.ready()) << sim.error();

    ASSERT_EQ(QUEXSetDeviceInfoTimeout(handle_, 1000), 0);
    QuexDeviceInfo info;
    const auto start = Clock::now();
    EXPECT_EQ(QUEXGetDeviceInfo(handle_, kMac, &info), -2);
    const double took = SecondsSince(start);
    RecordProperty("seconds", std::to_string(took));
    EXPECT_GE(took, 1.0);
    EXPECT_LT(took, 3.0);  // the default would hold 5 s
    EXPECT_EQ(LastMessage(handle_), "Operation timed out");
    EXPECT_EQ(sim.Received(1).size(), 2u);  // sent once per interface, never again
}

TEST_F(RequestsTest, RequestToSilentDeviceFailsWithTheQueryTimeOut) {
    Simulator sim(Devices({Device({{"silent", true}})}));
    ASSERT_TRUE(sim.ready()) << sim.error();

    const auto start = Clock::now();
    EXPECT_EQ(QUEXSetNetwork(handle_, kMac, Address("10.77.0.70"), Address("255.255.255.0"),
                             Address("10.77.0.1"), "Brackwater"),
              -1);
    const double took = SecondsSince(start);
    RecordProperty("seconds", std::to_string(took));
    EXPECT_GE(took, 5.0);
    EXPECT_LT(took, 7.0);  // the first query failed: no second query, no request
    EXPECT_EQ(QUEXGetLastError(handle_), -2);
    EXPECT_EQ(LastMessage(handle_), "Operation timed out");
    EXPECT_EQ(ReceivedTypes(sim), (std::vector<int>{1, 1}));
}

TEST_F(RequestsTest, RequestWithoutReplyTimesOutAfterThirtySecondsDespiteForeignReplies) {
    UseOneInterface();
    Simulator sim(Devices({Device({{"ignore_config", true}})}));
    ASSERT_TRUE(sim.ready()) << sim.error();

    // Another device's reboot replies keep the request's socket readable.
    ForeignReplyFlood flood(sim, 5, FromHex("54454c51 0006 0010 0106 02c0de254099 0a0100 110100 0900"),
                            std::chrono::seconds(40));
    const auto start = Clock::now();
    EXPECT_EQ(QUEXRebootDevice(handle_, kMac, "Brackwater"), -2);
    const double took = SecondsSince(start);
    RecordProperty("seconds", std::to_string(took));
    flood.Stop();
    EXPECT_GE(took, 30.0);
    EXPECT_LT(took, 33.0);
    EXPECT_GT(flood.sent(), 5000);
    EXPECT_EQ(QUEXGetLastError(handle_), -2);
    EXPECT_EQ(LastMessage(handle_), "Operation timed out");
    EXPECT_EQ(ReceivedTypes(sim), (std::vector<int>{1, 5}));  // never retransmitted
}

TEST_F(RequestsTest, RequestThatCannotBeSentEndsAtOnceWithTheReason) {
    UseOneInterface();
    Simulator sim(Devices({Device({})}));
    ASSERT_TRUE(sim.ready()) << sim.error();

    // The challenge query leaves; the reboot request after it cannot.
    quex::InjectSocketFault(quex::SocketFault::Send, 2);
    const auto start = Clock::now();
    EXPECT_EQ(QUEXRebootDevice(handle_, kMac, "Brackwater"), -1);
    EXPECT_LT(SecondsSince(start), 3.0);  // not the reply's 30 s
    EXPECT_EQ(QUEXGetLastError(handle_), QUEX_ERROR_NETWORK);
    EXPECT_EQ(LastMessage(handle_), "Cannot send through 10.77.0.1: injected failure");
    SettleJournal(sim, 1);
    EXPECT_EQ(ReceivedTypes(sim), (std::vector<int>{1}));
}

TEST_F(RequestsTest, FloodOfForeignRepliesDoesNotHoldTheQueryOpen) {
    UseOneInterface();
    // The target never answers; another device's replies keep the socket busy.
    Simulator sim(Devices({Device({{"silent", true}})}));
    ASSERT_TRUE(sim.ready()) << sim.error();

    ForeignReplyFlood flood(sim, 1, FromHex("54454c51 0002 0008 0106 02c0de254099"),
                            std::chrono::seconds(10));
    QuexDeviceInfo info;
    const auto start = Clock::now();
    const int32_t result = QUEXGetDeviceInfo(handle_, kMac, &info);
    const double took = SecondsSince(start);
    RecordProperty("seconds", std::to_string(took));
    flood.Stop();

    EXPECT_EQ(result, -2);
    EXPECT_GE(took, 5.0);
    EXPECT_LT(took, 6.5);
    EXPECT_GT(flood.sent(), 1000);  // the socket really was kept readable
    EXPECT_EQ(LastMessage(handle_), "Operation timed out");
}

}  // namespace
