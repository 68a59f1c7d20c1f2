// Listing, location and network settings against a scripted stand-in for the
// QUEX library: the front end's flow and its exact console output. The
// library's entry points are defined here. The test links the library's
// archive as every test does; the linker takes these definitions instead, so
// none of the library's own code comes in (only the platform calls the front
// end makes), and nothing touches a network.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/device_location.h"
#include "app/discover_document.h"
#include "app/discover_table.h"
#include "app/network_settings.h"
#include <nlohmann/json.hpp>
#include <quex/quex.h>

namespace {

struct Answer {
    int32_t result;
    QuexDeviceInfo record;
};

// What the stand-in answers and what it was asked.
struct FakeLibrary {
    std::vector<uint32_t> openedMagics;
    std::vector<uintptr_t> closed;
    std::mutex lock;                                           // the searches of two magics run at once
    std::deque<int32_t> searchResults;                         // per QUEXStartSyncSearchEx call
    std::map<uintptr_t, std::deque<int32_t>> searchResultsOf;  // per handle, before searchResults
    int32_t asyncStartResult = -1;                             // of every asynchronous start
    int32_t resultCount = 0;                                   // QUEXGetSearchResultCount
    std::vector<uintptr_t> stopped;
    std::map<uintptr_t, std::vector<uint32_t>> interfacesOf;  // QUEXSetInterfaces
    int32_t setInterfacesResult = 0;
    std::deque<Answer> searchRecords;     // per QUEXGetSearchResults call
    std::deque<Answer> deviceInfo;        // per QUEXGetDeviceInfo call
    uint32_t infoTimeout = 0;             // QUEXSetDeviceInfoTimeout (0: the default)
    std::vector<uint32_t> queryTimeouts;  // infoTimeout at each QUEXGetDeviceInfo call
    int32_t setNetworkResult = 0;
    int32_t setDhcpResult = 0;
    std::string lastErrorMessage;
    int searches = 0;
    int reboots = 0;
    std::vector<int32_t> dhcpRequests;
    struct Settings {
        uint32_t ip, subnet, gateway;
        std::string password;
    };
    std::vector<Settings> networkRequests;
};

FakeLibrary* g_fake = nullptr;

QuexDeviceInfo Device(uint8_t lastMacByte, uint32_t ip, const char* model = "KX-100") {
    QuexDeviceInfo d;
    std::memset(&d, 0, sizeof d);
    d.size = QUEX_DEVICE_INFO_SIZE;
    const uint8_t mac[6] = {0x02, 0xC0, 0xDE, 0x25, 0x40, lastMacByte};
    std::memcpy(d.macAddress, mac, 6);
    d.ipAddress = ip;
    std::snprintf(d.modelName, sizeof d.modelName, "%s", model);
    return d;
}

uint32_t Address(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    const uint8_t bytes[4] = {a, b, c, d};
    uint32_t value;
    std::memcpy(&value, bytes, 4);
    return value;
}

}  // namespace

extern "C" {

QuexHandle QUEXOpen(uint32_t magic, const QuexGuid*) {
    g_fake->openedMagics.push_back(magic);
    return reinterpret_cast<QuexHandle>(static_cast<uintptr_t>(g_fake->openedMagics.size()));
}
QuexHandle QUEXOpenByGuid(const QuexGuid*) { return nullptr; }
int32_t QUEXClose(QuexHandle handle) {
    g_fake->closed.push_back(reinterpret_cast<uintptr_t>(handle));
    return 0;
}
int32_t QUEXGetLastError(QuexHandle) { return 0; }
int32_t QUEXGetLastErrorMessage(QuexHandle, char* buffer, uint32_t size) {
    std::memset(buffer, 0, size);
    std::strncpy(buffer, g_fake->lastErrorMessage.c_str(), size - 1);
    return 0;
}
int32_t QUEXStartSyncSearch(QuexHandle) { return -1; }
int32_t QUEXStartSyncSearchEx(QuexHandle handle, uint32_t quietMs, uint32_t maxMs) {
    EXPECT_EQ(3000u, quietMs);
    EXPECT_EQ(10000u, maxMs);
    const std::lock_guard<std::mutex> guard(g_fake->lock);
    ++g_fake->searches;
    auto own = g_fake->searchResultsOf.find(reinterpret_cast<uintptr_t>(handle));
    if (own != g_fake->searchResultsOf.end() && !own->second.empty()) {
        const int32_t n = own->second.front();
        own->second.pop_front();
        return n;
    }
    if (g_fake->searchResults.empty()) return 0;
    int32_t n = g_fake->searchResults.front();
    g_fake->searchResults.pop_front();
    return n;
}
int32_t QUEXStartAsyncSearchCallback(QuexHandle, QuexNotifyCallback, uintptr_t) {
    return g_fake->asyncStartResult;
}
int32_t QUEXStartAsyncSearchMessage(QuexHandle, QuexWindow, uint32_t, uintptr_t) { return -1; }
int32_t QUEXStartAsyncSearchEvent(QuexHandle, QuexEvent) { return -1; }
int32_t QUEXGetSearchResultCount(QuexHandle) { return g_fake->resultCount; }
int32_t QUEXGetSearchResults(QuexHandle, QuexDeviceInfo* results, uint32_t capacity) {
    EXPECT_EQ(1u, capacity);
    if (g_fake->searchRecords.empty()) return 0;
    Answer a = g_fake->searchRecords.front();
    g_fake->searchRecords.pop_front();
    if (a.result == 1) *results = a.record;
    return a.result;
}
void QUEXStopSearch(QuexHandle handle) { g_fake->stopped.push_back(reinterpret_cast<uintptr_t>(handle)); }
int32_t QUEXGetDeviceInfo(QuexHandle, const uint8_t*, QuexDeviceInfo* info) {
    g_fake->queryTimeouts.push_back(g_fake->infoTimeout);
    if (g_fake->deviceInfo.empty()) return -2;
    Answer a = g_fake->deviceInfo.front();
    g_fake->deviceInfo.pop_front();
    if (a.result == 0) *info = a.record;
    return a.result;
}
int32_t QUEXRebootDevice(QuexHandle, const uint8_t*, const char*) {
    ++g_fake->reboots;
    return 0;
}
int32_t QUEXSetNetwork(QuexHandle, const uint8_t*, uint32_t ip, uint32_t subnet, uint32_t gateway,
                       const char* password) {
    g_fake->networkRequests.push_back({ip, subnet, gateway, password});
    return g_fake->setNetworkResult;
}
int32_t QUEXSetDHCP(QuexHandle, const uint8_t*, int32_t dhcp, const char*) {
    g_fake->dhcpRequests.push_back(dhcp);
    return g_fake->setDhcpResult;
}

int32_t QUEXSetDeviceInfoTimeout(QuexHandle, uint32_t milliseconds) {
    g_fake->infoTimeout = milliseconds;
    return 0;
}

int32_t QUEXSetInterfaces(QuexHandle handle, const uint32_t* addresses, int32_t count) {
    g_fake->interfacesOf[reinterpret_cast<uintptr_t>(handle)].assign(addresses, addresses + count);
    return g_fake->setInterfacesResult;
}

}  // extern "C"

namespace {

// Pauses pass at once: the real waits are timed end to end.
class UnpausedMessages : public kelvo::RunMessages {
public:
    void Pause(uint32_t) override {}
};

class DeviceCommands : public testing::Test {
protected:
    void SetUp() override {
        g_fake = &fake_;
        std::memset(&cmd_, 0, sizeof cmd_);
        cmd_.magics[0] = 0x54454C51;
        cmd_.magics[1] = 0x48415046;
        cmd_.magicCount = 2;
        std::strcpy(cmd_.password, "Brackwater");
        std::strcpy(cmd_.username, "root");
        std::memset(&device_, 0, sizeof device_);
    }
    void TearDown() override { g_fake = nullptr; }
    void StartCapture() {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
    }
    void StopCapture() {
        err_ = testing::internal::GetCapturedStderr();
        out_ = testing::internal::GetCapturedStdout();
    }
    int Locate() {
        StartCapture();
        int status = kelvo::LocateDevice(handle_, device_, cmd_, messages_);
        StopCapture();
        return status;
    }

    FakeLibrary fake_;
    kelvo::CommandLine cmd_;
    QuexDeviceInfo device_;
    QuexHandle handle_ = nullptr;
    UnpausedMessages messages_;
    std::string out_, err_;
};

const char kSearching[] = "Searching for devices. Please wait...\n\n";
const char kRule[] = "-----------------+-------------------+------------------------------\n";
const char kHeader[] = " IP Address      | MAC Address       | Model\n";

TEST_F(DeviceCommands, DiscoverWithNoDevicePrintsOnlyTheCount) {
    StartCapture();
    EXPECT_EQ(0, kelvo::DiscoverDevices(cmd_));
    StopCapture();
    EXPECT_EQ(std::string(kSearching) + "0 devices found.\n", out_);
    EXPECT_EQ("", err_);
    EXPECT_EQ((std::vector<uint32_t>{0x54454C51, 0x48415046}), fake_.openedMagics);
    EXPECT_EQ((std::vector<uintptr_t>{1, 2}), fake_.closed);
    EXPECT_TRUE(fake_.interfacesOf.empty());  // every interface
}

TEST_F(DeviceCommands, EveryHandleIsLimitedToTheChosenInterfacesOrNotUsed) {
    cmd_.interfaces[0] = Address(10, 78, 0, 1);
    cmd_.interfaceCount = 1;
    StartCapture();
    kelvo::DiscoverDevices(cmd_);
    StopCapture();
    const std::vector<uint32_t> chosen{Address(10, 78, 0, 1)};
    EXPECT_EQ((std::map<uintptr_t, std::vector<uint32_t>>{{1, chosen}, {2, chosen}}), fake_.interfacesOf);
    // A limit the library refuses: the handle is closed, never used for every interface.
    fake_.setInterfacesResult = -1;
    cmd_.mac[0] = 0x02;
    EXPECT_EQ(4, Locate());
    EXPECT_EQ((std::vector<uintptr_t>{1, 2, 3, 4}), fake_.closed);
    EXPECT_EQ(nullptr, handle_);
}

TEST_F(DeviceCommands, DiscoverListsBothMagicsUnderOneHeader) {
    fake_.searchResultsOf = {{1, {1}}, {2, {2}}};
    fake_.searchRecords = {{1, Device(0x74, Address(10, 77, 0, 2))},
                           {1, Device(0x01, Address(192, 168, 100, 200), "")},
                           {-1, {}}};
    StartCapture();
    EXPECT_EQ(0, kelvo::DiscoverDevices(cmd_));
    StopCapture();
    EXPECT_EQ(std::string(kSearching) + kHeader + kRule +
                  "       10.77.0.2 | 02:C0:DE:25:40:74 | KX-100\n"
                  " 192.168.100.200 | 02:C0:DE:25:40:01 | \n" +
                  kRule + "3 devices found.\n",
              out_);
}

TEST_F(DeviceCommands, DiscoverCountsOneDeviceInTheSingular) {
    cmd_.magicCount = 1;
    fake_.searchResults = {1};
    fake_.searchRecords = {{1, Device(0x74, Address(10, 77, 0, 2))}};
    StartCapture();
    kelvo::DiscoverDevices(cmd_);
    StopCapture();
    EXPECT_EQ(std::string(kSearching) + kHeader + kRule + "       10.77.0.2 | 02:C0:DE:25:40:74 | KX-100\n" +
                  kRule + "1 device found.\n",
              out_);
}

TEST_F(DeviceCommands, DiscoverFailedSearchPrintsHeaderAndTheReasonButAddsNothing) {
    cmd_.magicCount = 1;
    fake_.searchResults = {-1};
    fake_.lastErrorMessage = "No usable IPv4 interface";
    StartCapture();
    // Not one search could run: status 4.
    EXPECT_EQ(4, kelvo::DiscoverDevices(cmd_));
    StopCapture();
    EXPECT_EQ(std::string(kSearching) + kHeader + kRule + kRule + "0 devices found.\n", out_);
    EXPECT_EQ("ERROR: Search failed: No usable IPv4 interface\n", err_);
    // One search of two ran: the listing stands.
    cmd_.magicCount = 2;
    fake_.searchResultsOf = {{2, {-1}}, {3, {0}}};
    StartCapture();
    EXPECT_EQ(0, kelvo::DiscoverDevices(cmd_));
    StopCapture();
    // Both failed for the same reason: it is told once.
    fake_.searchResults = {-1, -1};
    StartCapture();
    EXPECT_EQ(4, kelvo::DiscoverDevices(cmd_));
    StopCapture();
    EXPECT_EQ("ERROR: Search failed: No usable IPv4 interface\n", err_);
}

// The documents are made device by device; the pieces together are the
// JSON writer's own pretty form of the document, and CSV rows with the
// spreadsheet guard on device texts only.
TEST_F(DeviceCommands, DiscoverDocumentsPieceByPiece) {
    std::vector<QuexDeviceInfo> devices = {Device(0x74, Address(10, 77, 0, 2), "=1+2\x1b[2J \"q\"\n\xff"),
                                           Device(0x75, Address(10, 77, 0, 3), "-"), Device(0x76, 0, "")};
    devices[0].presentFields = QUEX_PRESENT_AUX_TEXT | QUEX_PRESENT_AUX_NUMBER;
    std::strcpy(devices[0].auxText, "@x");
    devices[0].auxNumber = 7;
    for (size_t count : {0u, 1u, 3u}) {
        kelvo::DiscoverDocument json = kelvo::StartDiscoverDocument(kelvo::OutputFormat::Json, {});
        std::string text;
        for (size_t i = 0; i < count; ++i) text += kelvo::DiscoverDocumentDevice(json, devices[i]);
        text += kelvo::DiscoverDocumentEnd(json);
        const nlohmann::ordered_json whole = nlohmann::ordered_json::parse(text);
        EXPECT_EQ(whole.dump(2) + "\n", text) << count;
        EXPECT_EQ(count, whole["devices"].size());
    }
    kelvo::DiscoverDocument csv = kelvo::StartDiscoverDocument(kelvo::OutputFormat::Csv, {});
    std::string text = kelvo::DiscoverDocumentDevice(csv, devices[0]);
    text += kelvo::DiscoverDocumentDevice(csv, devices[1]);
    text += kelvo::DiscoverDocumentEnd(csv);
    EXPECT_EQ(
        "ip,mac,model,subnet,gateway,dhcp,magic,interface,interface_name,version,vendor_guid,aux_text,"
        "aux_number,aux_address,aux_byte,aux_data\r\n"
        "10.77.0.2,02:C0:DE:25:40:74,\"'=1+2\x1b[2J \"\"q\"\"\n\xef\xbf\xbd\",0.0.0.0,0.0.0.0,false,0x00000000,"
        "0.0.0.0,,0,,'@x,7,,,\r\n"
        "10.77.0.3,02:C0:DE:25:40:75,'-,0.0.0.0,0.0.0.0,false,0x00000000,0.0.0.0,,0,,,,,,\r\n",
        text);
}

TEST_F(DeviceCommands, AutomaticLocationWithNoDeviceTriesBothMagics) {
    EXPECT_EQ(2, Locate());
    EXPECT_EQ(
        std::string(kSearching) + "Locate device (auto): " + kSearching + "Locate device (auto): FAILED\n",
        out_);
    EXPECT_EQ("ERROR: Device not found.\n", err_);
    EXPECT_EQ(2u, fake_.openedMagics.size());
    EXPECT_EQ((std::vector<uintptr_t>{1}), fake_.closed);  // the last handle stays open
    EXPECT_EQ(reinterpret_cast<QuexHandle>(2), handle_);
}

TEST_F(DeviceCommands, AutomaticLocationTakesTheFirstRecord) {
    fake_.searchResults = {2};
    fake_.searchRecords = {{1, Device(0x74, Address(10, 77, 0, 2))}};
    EXPECT_EQ(0, Locate());
    EXPECT_EQ(std::string(kSearching) + "Locate device (auto): ", out_);
    EXPECT_EQ("", err_);
    EXPECT_EQ(0x74, device_.macAddress[5]);
    // The second magic's search ran beside the first and is closed.
    EXPECT_EQ((std::vector<uint32_t>{0x54454C51, 0x48415046}), fake_.openedMagics);
    EXPECT_EQ((std::vector<uintptr_t>{2}), fake_.closed);
    EXPECT_EQ(reinterpret_cast<QuexHandle>(1), handle_);
}

TEST_F(DeviceCommands, AutomaticLocationOnTheSecondMagicTakesItsEarlySearch) {
    fake_.asyncStartResult = 0;
    fake_.resultCount = 1;
    fake_.searchResults = {0};
    fake_.searchRecords = {{1, Device(0x75, Address(10, 77, 0, 3))}};
    EXPECT_EQ(0, Locate());
    EXPECT_EQ(std::string(kSearching) + "Locate device (auto): " + kSearching + "Locate device (auto): ",
              out_);
    EXPECT_EQ(1, fake_.searches);  // the first magic's; the second's was already running
    EXPECT_EQ((std::vector<uintptr_t>{2}), fake_.stopped);
    EXPECT_EQ(0x75, device_.macAddress[5]);
    EXPECT_EQ(reinterpret_cast<QuexHandle>(2), handle_);
}

TEST_F(DeviceCommands, AllZeroMacRecordIsSearchedAgainAtMostThreeTimesPerMagic) {
    QuexDeviceInfo nameless = Device(0, 0);
    std::memset(nameless.macAddress, 0, 6);
    fake_.searchResults = {1, 1, 1, 1, 1, 1, 1};
    fake_.searchRecords = {{1, nameless}, {1, nameless}, {1, nameless}, {1, nameless},
                           {1, nameless}, {1, nameless}, {1, nameless}};
    EXPECT_EQ(2, Locate());
    EXPECT_EQ(6, fake_.searches);
    std::string expected;
    for (int i = 0; i < 6; ++i) expected += std::string(kSearching) + "Locate device (auto): ";
    EXPECT_EQ(expected + "FAILED\n", out_);
    EXPECT_EQ("ERROR: Device not found.\n", err_);
    EXPECT_EQ(2u, fake_.openedMagics.size());
}

TEST_F(DeviceCommands, FailedSearchThatLeavesNothingIsAlsoBounded) {
    fake_.searchResults = {-1, -1, -1, -1, -1, -1, -1};
    EXPECT_EQ(2, Locate());
    EXPECT_EQ(6, fake_.searches);
    EXPECT_EQ("ERROR: Device not found.\n", err_);
}

TEST_F(DeviceCommands, AllZeroMacThenARealDeviceIsLocated) {
    QuexDeviceInfo nameless = Device(0, 0);
    std::memset(nameless.macAddress, 0, 6);
    fake_.searchResults = {1, 1};
    fake_.searchRecords = {{1, nameless}, {1, Device(0x55, Address(10, 0, 0, 5))}};
    EXPECT_EQ(0, Locate());
    EXPECT_EQ(2, fake_.searches);
    EXPECT_EQ(0x55, device_.macAddress[5]);
}

TEST_F(DeviceCommands, UnreadableResultStopsWithE1) {
    fake_.searchResults = {1};
    fake_.searchRecords = {{-1, {}}};
    EXPECT_EQ(4, Locate());
    EXPECT_EQ(std::string(kSearching) + "Locate device (auto): FAILED\n", out_);
    EXPECT_EQ("ERROR: Failed to get device information. E1\n", err_);
    EXPECT_EQ(1, fake_.searches);  // no further magic
}

TEST_F(DeviceCommands, LocationByMacSucceedsOnFirstMagicWithoutOpeningTheSecond) {
    const uint8_t mac[6] = {0x02, 0xC0, 0xDE, 0x25, 0x40, 0x74};
    std::memcpy(cmd_.mac, mac, 6);
    fake_.deviceInfo = {{0, Device(0x74, Address(10, 77, 0, 2))}};
    EXPECT_EQ(0, Locate());
    EXPECT_EQ("Locate device 02:C0:DE:25:40:74: ", out_);
    EXPECT_EQ(1u, fake_.openedMagics.size());
    EXPECT_EQ(Address(10, 77, 0, 2), device_.ipAddress);
}

TEST_F(DeviceCommands, LocationByUnknownMacPrintsTheTextTwiceThenE1) {
    const uint8_t mac[6] = {0x02, 0xC0, 0xDE, 0xAB, 0xCD, 0xEF};
    std::memcpy(cmd_.mac, mac, 6);
    EXPECT_EQ(4, Locate());
    EXPECT_EQ("Locate device 02:C0:DE:AB:CD:EF: Locate device 02:C0:DE:AB:CD:EF: FAILED\n", out_);
    EXPECT_EQ("ERROR: Failed to get device information. E1\n", err_);
    EXPECT_EQ(reinterpret_cast<QuexHandle>(2), handle_);
}

TEST_F(DeviceCommands, LocationKeepsTheSlotRuleForAnOpenHandle) {
    handle_ = reinterpret_cast<QuexHandle>(99);
    cmd_.magicCount = 1;
    Locate();
    EXPECT_EQ((std::vector<uintptr_t>{99}), fake_.closed);
}

TEST_F(DeviceCommands, StaticSettingsAppliedAtOnceNeedNoReboot) {
    device_ = Device(0x74, Address(10, 77, 0, 2));
    device_.subnetMask = Address(255, 255, 0, 0);
    device_.gateway = Address(10, 77, 0, 254);
    QuexDeviceInfo after = device_;
    after.ipAddress = Address(10, 77, 0, 9);
    fake_.deviceInfo = {{0, after}};
    StartCapture();
    EXPECT_TRUE(kelvo::SetStaticNetwork(nullptr, device_, cmd_, Address(10, 77, 0, 9), 0, 0, messages_));
    StopCapture();
    EXPECT_EQ("IP address has been changed.\n", out_);
    EXPECT_EQ("", err_);
    EXPECT_EQ(0, fake_.reboots);
    EXPECT_TRUE(fake_.dhcpRequests.empty());
    ASSERT_EQ(1u, fake_.networkRequests.size());
    // Missing subnet mask and gateway are taken from the device.
    EXPECT_EQ(Address(255, 255, 0, 0), fake_.networkRequests[0].subnet);
    EXPECT_EQ(Address(10, 77, 0, 254), fake_.networkRequests[0].gateway);
    EXPECT_EQ("Brackwater", fake_.networkRequests[0].password);
}

TEST_F(DeviceCommands, StaticSettingsSwitchDhcpOffFirstAndRebootWhenNotReported) {
    device_ = Device(0x74, Address(10, 77, 0, 2));
    device_.dhcpEnabled = 1;
    QuexDeviceInfo before = device_;  // still the old address after the request
    QuexDeviceInfo after = device_;
    after.ipAddress = Address(10, 77, 0, 9);
    after.subnetMask = Address(255, 0, 0, 0);  // not compared after the reboot
    fake_.deviceInfo = {{0, before}, {0, after}};
    StartCapture();
    EXPECT_TRUE(kelvo::SetStaticNetwork(nullptr, device_, cmd_, Address(10, 77, 0, 9), 0,
                                        Address(255, 255, 255, 0), messages_));
    StopCapture();
    EXPECT_EQ((std::vector<int32_t>{0}), fake_.dhcpRequests);
    EXPECT_EQ(1, fake_.reboots);
    EXPECT_EQ("Device has been rebooted.\nIP address has been changed.\n", out_);
    EXPECT_EQ("", err_);
}

TEST_F(DeviceCommands, RefusedSettingsPrintTheDeviceMessageAndWhatWasSent) {
    device_ = Device(0x74, Address(10, 77, 0, 2));
    device_.gateway = Address(10, 77, 0, 1);
    fake_.setNetworkResult = 3;
    fake_.lastErrorMessage = "Address in use";
    StartCapture();
    EXPECT_FALSE(kelvo::SetStaticNetwork(nullptr, device_, cmd_, Address(10, 77, 0, 9), 0,
                                         Address(255, 255, 255, 0), messages_));
    StopCapture();
    EXPECT_EQ("", out_);
    EXPECT_EQ(
        "ERROR: Failed to assign IP address to device: Address in use\n"
        "\tip: 10.77.0.9  subnet: 255.255.255.0  gateway: 10.77.0.1\n",
        err_);
    // The run's result text, as a plan line or a JSON result carries it: one line, no prefix.
    EXPECT_EQ(
        "Failed to assign IP address to device: Address in use "
        "ip: 10.77.0.9  subnet: 255.255.255.0  gateway: 10.77.0.1",
        messages_.Message());
}

TEST_F(DeviceCommands, StaticSettingsFailureMessages) {
    device_ = Device(0x74, Address(10, 77, 0, 2));
    StartCapture();
    EXPECT_FALSE(kelvo::SetStaticNetwork(nullptr, device_, cmd_, Address(10, 77, 0, 9), 0, 0, messages_));
    StopCapture();
    EXPECT_EQ("ERROR: Failed to get device information. E4\n", err_);

    fake_.deviceInfo = {{0, device_}, {-2, {}}};
    StartCapture();
    EXPECT_FALSE(kelvo::SetStaticNetwork(nullptr, device_, cmd_, Address(10, 77, 0, 9), 0, 0, messages_));
    StopCapture();
    EXPECT_EQ("Device has been rebooted.\n", out_);
    EXPECT_EQ("ERROR: Failed to get device information. E5\n", err_);

    fake_.deviceInfo = {{0, device_}, {0, device_}};
    StartCapture();
    EXPECT_FALSE(kelvo::SetStaticNetwork(nullptr, device_, cmd_, Address(10, 77, 0, 9), 0, 0, messages_));
    StopCapture();
    EXPECT_EQ("ERROR: Failed to change IP address.\n", err_);
    EXPECT_EQ("Failed to change IP address.", messages_.Message());
}

TEST_F(DeviceCommands, DhcpModeAlreadySetSendsNothing) {
    device_ = Device(0x74, Address(10, 77, 0, 2));
    device_.dhcpEnabled = 1;
    cmd_.useDhcp = 1;
    StartCapture();
    EXPECT_TRUE(kelvo::SetDhcpMode(nullptr, device_, cmd_, true, messages_));
    StopCapture();
    EXPECT_EQ("", out_ + err_);
    EXPECT_TRUE(fake_.dhcpRequests.empty());
    EXPECT_EQ(0, fake_.reboots);
}

TEST_F(DeviceCommands, DhcpModeChangeRebootsAndChecks) {
    device_ = Device(0x74, Address(10, 77, 0, 2));
    cmd_.useDhcp = 1;
    QuexDeviceInfo after = device_;
    after.dhcpEnabled = 1;
    fake_.deviceInfo = {{0, after}};
    StartCapture();
    EXPECT_TRUE(kelvo::SetDhcpMode(nullptr, device_, cmd_, true, messages_));
    StopCapture();
    EXPECT_EQ((std::vector<int32_t>{1}), fake_.dhcpRequests);
    EXPECT_EQ("Device has been rebooted.\nDHCP mode has been changed.\n", out_);
    EXPECT_EQ((std::vector<uint32_t>{0}), fake_.queryTimeouts);  // the fixed wait's check: the default

    device_.dhcpEnabled = 0;
    fake_.deviceInfo = {{0, device_}};
    StartCapture();
    EXPECT_FALSE(kelvo::SetDhcpMode(nullptr, device_, cmd_, true, messages_));
    StopCapture();
    EXPECT_EQ("ERROR: Failed to change DHCP mode.\n", err_);

    fake_.setDhcpResult = 5;
    StartCapture();
    EXPECT_FALSE(kelvo::SetDhcpMode(nullptr, device_, cmd_, true, messages_));
    StopCapture();
    EXPECT_EQ("", out_);
    EXPECT_EQ("ERROR: Failed to set DHCP mode for device.\n", err_);
}

// /wait=ready: an answer that may still be the state before the reboot does
// not end the wait; once a query went unanswered, the address decides.
TEST_F(DeviceCommands, ReadyWaitLooksPastTheStateBeforeTheReboot) {
    cmd_.rebootWait = kelvo::RebootWait::Ready;
    device_ = Device(0x74, Address(10, 77, 0, 9));
    device_.subnetMask = Address(255, 255, 0, 0);  // the asked address, another subnet mask
    QuexDeviceInfo after = device_;
    after.subnetMask = Address(255, 255, 255, 0);
    fake_.deviceInfo = {{0, device_}, {0, device_}, {0, after}};
    StartCapture();
    EXPECT_TRUE(kelvo::SetStaticNetwork(nullptr, device_, cmd_, Address(10, 77, 0, 9), 0,
                                        Address(255, 255, 255, 0), messages_));
    StopCapture();
    EXPECT_EQ("Device has been rebooted.\nIP address has been changed.\n", out_);
    EXPECT_TRUE(fake_.deviceInfo.empty());  // the old state did not end the wait
    // The first query is the one before the reboot; the wait's own wait a second each.
    EXPECT_EQ((std::vector<uint32_t>{0, 1000, 1000}), fake_.queryTimeouts);
    EXPECT_EQ(0u, fake_.infoTimeout);  // the default again afterwards

    device_ = Device(0x74, Address(10, 77, 0, 2));
    after = device_;
    after.ipAddress = Address(10, 77, 0, 9);
    after.subnetMask = Address(255, 0, 0, 0);
    fake_.deviceInfo = {{0, device_}, {0, device_}, {-2, {}}, {0, after}, {0, after}};
    StartCapture();
    EXPECT_TRUE(kelvo::SetStaticNetwork(nullptr, device_, cmd_, Address(10, 77, 0, 9), 0,
                                        Address(255, 255, 255, 0), messages_));
    StopCapture();
    EXPECT_EQ("Device has been rebooted.\nIP address has been changed.\n", out_);
    EXPECT_EQ(1u, fake_.deviceInfo.size());  // back after the reboot: the address decided

    // DHCP shows before the reboot too: only an answer after an unanswered query counts.
    cmd_.useDhcp = 1;
    device_ = Device(0x74, Address(10, 77, 0, 2));
    after = device_;
    after.dhcpEnabled = 1;
    fake_.deviceInfo = {{0, after}, {0, after}, {-2, {}}, {0, after}, {0, after}};
    StartCapture();
    EXPECT_TRUE(kelvo::SetDhcpMode(nullptr, device_, cmd_, true, messages_));
    StopCapture();
    EXPECT_EQ("Device has been rebooted.\nDHCP mode has been changed.\n", out_);
    EXPECT_EQ(1u, fake_.deviceInfo.size());
}

}  // namespace
