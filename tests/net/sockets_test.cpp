// Interface sockets on real veth interfaces (h0 10.77.0.1, h1 10.78.0.1),
// each case inside its own private namespace made by scripts/netns-run.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include "quex/codec.h"
#include "quex/device_record.h"
#include "quex/sockets.h"
#include "tests/support/netns_guard.h"
#include "tests/support/socket_fault.h"

namespace {

using Bytes = std::vector<uint8_t>;

const uint8_t kMac[6] = {0x02, 0xC0, 0xDE, 0x25, 0x40, 0x74};
const uint8_t kOtherMac[6] = {0x02, 0xC0, 0xDE, 0x25, 0x40, 0x75};
const QuexGuid kToolGuid = {0xD4A17F3B, 0x2E8C, 0x4B61, {0x9F, 0x05, 0x6C, 0x3A, 0x8E, 0x1B, 0x72, 0xD4}};

uint32_t Ip(const char* text) { return inet_addr(text); }

int CountOpenDescriptors() {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
    return count;
}

uint16_t LocalPort(int fd) {
    sockaddr_in in{};
    socklen_t size = sizeof in;
    EXPECT_EQ(0, getsockname(fd, reinterpret_cast<sockaddr*>(&in), &size));
    return ntohs(in.sin_port);
}

uint32_t LocalAddress(int fd) {
    sockaddr_in in{};
    socklen_t size = sizeof in;
    EXPECT_EQ(0, getsockname(fd, reinterpret_cast<sockaddr*>(&in), &size));
    return in.sin_addr.s_addr;
}

// A reply of exactly `size` bytes: header, the MAC field, unrecognised filler.
Bytes ReplyOfSize(size_t size, const uint8_t* mac = kMac) {
    Bytes datagram(size, 0);
    const size_t payload = size - quex::kHeaderSize;
    const uint8_t header[8] = {'T',
                               'E',
                               'L',
                               'Q',
                               0,
                               quex::DiscoveryResponse,
                               static_cast<uint8_t>(payload >> 8),
                               static_cast<uint8_t>(payload)};
    std::memcpy(datagram.data(), header, sizeof header);
    size_t at = quex::kHeaderSize;
    datagram[at++] = quex::MacAddress;
    datagram[at++] = 6;
    std::memcpy(&datagram[at], mac, 6);
    at += 6;
    while (size - at >= 2) {
        const size_t value = std::min<size_t>(size - at - 2, 255);
        datagram[at] = 30;
        datagram[at + 1] = static_cast<uint8_t>(value);
        std::memset(&datagram[at + 2], 0x55, value);
        at += 2 + value;
    }
    return datagram;
}

class Sockets : public ::testing::Test {
protected:
    void SetUp() override {
        KELVO_REQUIRE_PRIVATE_NETWORK();
        context.magic = QUEX_MAGIC_TELQ;
        context.vendorGuid = kToolGuid;
        context.multicastTtl = 64;
        context.multicastGroup = Ip("224.0.5.128");
        context.port = 2362;
    }
    void TearDown() override { quex::ClearSocketFaults(); }

    // A plain UDP socket on 10.77.0.1 that sends test datagrams.
    int Sender() {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in in{};
        in.sin_family = AF_INET;
        in.sin_addr.s_addr = Ip("10.77.0.1");
        EXPECT_EQ(0, bind(fd, reinterpret_cast<sockaddr*>(&in), sizeof in));
        return fd;
    }
    static void SendTo(int from, int to, const Bytes& datagram) {
        sockaddr_in in{};
        in.sin_family = AF_INET;
        in.sin_addr.s_addr = LocalAddress(to);
        in.sin_port = htons(LocalPort(to));
        ASSERT_EQ(static_cast<ssize_t>(datagram.size()), sendto(from, datagram.data(), datagram.size(), 0,
                                                                reinterpret_cast<sockaddr*>(&in), sizeof in));
    }
    quex::LocalInterfaces Interfaces() {
        quex::LocalInterfaces interfaces;
        EXPECT_TRUE(quex::EnumerateLocalInterfaces(&interfaces, &context));
        return interfaces;
    }
    static bool WaitFor(int fd, uint32_t ms) {
        bool ready = false;
        return platform::WaitReadable(&fd, 1, ms, &ready) == 1 && ready;
    }

    QuexContext context{};
};

TEST_F(Sockets, InterfaceListIsExactlyTheVethAddressesInOrderWithTheirNames) {
    quex::LocalInterfaces interfaces{{0x04030201, "stale"}};  // cleared first
    ASSERT_TRUE(quex::EnumerateLocalInterfaces(&interfaces, &context));
    ASSERT_EQ(2u, interfaces.size());
    EXPECT_EQ(Ip("10.77.0.1"), interfaces[0].address);
    EXPECT_EQ("h0", interfaces[0].name);
    EXPECT_EQ(Ip("10.78.0.1"), interfaces[1].address);
    EXPECT_EQ("h1", interfaces[1].name);
    EXPECT_FALSE(quex::EnumerateLocalInterfaces(nullptr, &context));
}

std::vector<uint32_t> AddressesOf(const std::vector<platform::LocalInterface>& interfaces) {
    std::vector<uint32_t> addresses;
    for (const platform::LocalInterface& entry : interfaces) addresses.push_back(entry.address);
    return addresses;
}

TEST_F(Sockets, InterfacesThatAreDownAreLeftOut) {
    ASSERT_EQ(0, std::system("ip link set h1 down"));
    std::vector<platform::LocalInterface> interfaces;
    ASSERT_TRUE(platform::ListLocalInterfaces(&interfaces));
    EXPECT_EQ(std::vector<uint32_t>{Ip("10.77.0.1")}, AddressesOf(interfaces));
}

TEST_F(Sockets, AnAddressOnTwoInterfacesIsListedOnce) {
    ASSERT_EQ(0, std::system("ip addr add 10.77.0.1/32 dev h1 && ip addr add 10.78.0.7/24 dev h1"));
    std::vector<platform::LocalInterface> interfaces;
    ASSERT_TRUE(platform::ListLocalInterfaces(&interfaces));
    const std::vector<uint32_t> addresses = AddressesOf(interfaces);
    ASSERT_EQ(3u, addresses.size());
    EXPECT_EQ(Ip("10.77.0.1"), addresses[0]);  // first occurrence keeps its place
    EXPECT_EQ("h0", interfaces[0].name);       // and its interface
    EXPECT_EQ(std::set<uint32_t>({Ip("10.77.0.1"), Ip("10.78.0.1"), Ip("10.78.0.7")}),
              std::set<uint32_t>(addresses.begin(), addresses.end()));
    quex::LocalInterfaces listed;
    ASSERT_TRUE(quex::EnumerateLocalInterfaces(&listed, &context));
    EXPECT_EQ(3u, listed.size());
}

TEST_F(Sockets, OpenInterfaceSocketIsBoundAndConfiguredForItsAddress) {
    for (const char* text : {"10.77.0.1", "10.78.0.1"}) {
        SCOPED_TRACE(text);
        const int fd = quex::OpenInterfaceSocket(&context, Ip(text));
        ASSERT_GE(fd, 0);
        EXPECT_EQ(Ip(text), LocalAddress(fd));
        EXPECT_NE(0, LocalPort(fd));
        int ttl = 0;
        socklen_t size = sizeof ttl;
        ASSERT_EQ(0, getsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, &size));
        EXPECT_EQ(64, ttl);
        in_addr interfaceAddress{};
        size = sizeof interfaceAddress;
        ASSERT_EQ(0, getsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &interfaceAddress, &size));
        EXPECT_EQ(Ip(text), interfaceAddress.s_addr);
        EXPECT_NE(0, fcntl(fd, F_GETFL) & O_NONBLOCK);
        EXPECT_NE(0, fcntl(fd, F_GETFD) & FD_CLOEXEC);
        close(fd);
    }
    context.multicastTtl = 7;  // the context's value, not a constant
    const int fd = quex::OpenInterfaceSocket(&context, Ip("10.77.0.1"));
    int ttl = 0;
    socklen_t size = sizeof ttl;
    ASSERT_EQ(0, getsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, &size));
    EXPECT_EQ(7, ttl);
    close(fd);
}

TEST_F(Sockets, OpenInterfaceSocketFailureLeavesNoDescriptor) {
    const int before = CountOpenDescriptors();
    EXPECT_EQ(platform::kInvalidSocket, quex::OpenInterfaceSocket(&context, Ip("10.99.0.1")));  // not ours
    EXPECT_EQ(platform::kInvalidSocket, quex::OpenInterfaceSocket(nullptr, Ip("10.77.0.1")));
    quex::InjectSocketFault(quex::SocketFault::Setup, 1);
    EXPECT_EQ(platform::kInvalidSocket, quex::OpenInterfaceSocket(&context, Ip("10.77.0.1")));
    EXPECT_EQ(before, CountOpenDescriptors());
}

TEST_F(Sockets, OpenAllGivesOneSocketPerAddressInOrder) {
    const int before = CountOpenDescriptors();
    quex::SocketHandle* sockets = nullptr;
    ASSERT_EQ(2, quex::OpenAllInterfaceSockets(&context, Interfaces(), &sockets));
    ASSERT_NE(nullptr, sockets);
    EXPECT_EQ(Ip("10.77.0.1"), LocalAddress(sockets[0]));
    EXPECT_EQ(Ip("10.78.0.1"), LocalAddress(sockets[1]));
    EXPECT_EQ(before + 2, CountOpenDescriptors());
    quex::CloseInterfaceSockets(sockets, 2);
    EXPECT_EQ(before, CountOpenDescriptors());
    EXPECT_EQ(0, quex::OpenAllInterfaceSockets(nullptr, Interfaces(), &sockets));
    EXPECT_EQ(0, quex::OpenAllInterfaceSockets(&context, Interfaces(), nullptr));
}

TEST_F(Sockets, AllOrNoneWhenTheSecondSocketFails) {
    const int before = CountOpenDescriptors();
    quex::SocketHandle untouched = 12345;
    quex::SocketHandle* sockets = &untouched;
    quex::InjectSocketFault(quex::SocketFault::Setup, 2);
    EXPECT_EQ(0, quex::OpenAllInterfaceSockets(&context, Interfaces(), &sockets));
    EXPECT_EQ(&untouched, sockets);  // nothing stored
    EXPECT_EQ(before, CountOpenDescriptors());

    quex::InjectSocketFault(quex::SocketFault::Setup, 1);
    EXPECT_EQ(0, quex::OpenAllInterfaceSockets(&context, Interfaces(), &sockets));
    EXPECT_EQ(&untouched, sockets);
    EXPECT_EQ(before, CountOpenDescriptors());

    // The hook is spent: the next call opens both.
    ASSERT_EQ(2, quex::OpenAllInterfaceSockets(&context, Interfaces(), &sockets));
    quex::CloseInterfaceSockets(sockets, 2);
    EXPECT_EQ(before, CountOpenDescriptors());
}

TEST_F(Sockets, DatagramOnEverySocketReachesTheGroup) {
    // A listener on the group's port that joined on both interfaces gets the
    // looped-back copy of each datagram.
    const int listener = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(listener, 0);
    const int on = 1;
    ASSERT_EQ(0, setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on));
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(2362);
    ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&any), sizeof any));
    for (const char* text : {"10.77.0.1", "10.78.0.1"}) {
        ip_mreq membership{};
        membership.imr_multiaddr.s_addr = Ip("224.0.5.128");
        membership.imr_interface.s_addr = Ip(text);
        ASSERT_EQ(0, setsockopt(listener, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership));
    }

    quex::SocketHandle* sockets = nullptr;
    ASSERT_EQ(2, quex::OpenAllInterfaceSockets(&context, Interfaces(), &sockets));
    EXPECT_EQ(quex::GroupSendOutcome::AllSent,
              quex::SendDiscoveryRequest(&context, sockets, 2, quex::kBroadcastMac));
    uint8_t expected[36];
    quex::BuildDiscoveryRequest(quex::IdentityOf(context), quex::kBroadcastMac, expected);

    std::set<std::pair<uint32_t, uint16_t>> senders;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(WaitFor(listener, 3000)) << "datagram " << i << " did not arrive";
        uint8_t buffer[100];
        sockaddr_in from{};
        socklen_t size = sizeof from;
        const ssize_t n =
            recvfrom(listener, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &size);
        ASSERT_EQ(36, n);
        EXPECT_EQ(0, std::memcmp(expected, buffer, 36));
        senders.insert({from.sin_addr.s_addr, ntohs(from.sin_port)});
    }
    const std::set<std::pair<uint32_t, uint16_t>> sockets_ = {{Ip("10.77.0.1"), LocalPort(sockets[0])},
                                                              {Ip("10.78.0.1"), LocalPort(sockets[1])}};
    EXPECT_EQ(sockets_, senders);
    EXPECT_FALSE(WaitFor(listener, 300)) << "a datagram was sent twice";

    // A socket that cannot send does not stop the others; nothing is reported then.
    const quex::SocketHandle mixed[2] = {platform::kInvalidSocket, sockets[1]};
    EXPECT_EQ(quex::GroupSendOutcome::SomeSent, quex::SendToGroup(&context, mixed, 2, expected, 36));
    EXPECT_EQ(0, context.lastErrorCode);
    ASSERT_TRUE(WaitFor(listener, 3000));
    sockaddr_in from{};
    socklen_t size = sizeof from;
    uint8_t buffer[100];
    ASSERT_EQ(36, recvfrom(listener, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &size));
    EXPECT_EQ(Ip("10.78.0.1"), from.sin_addr.s_addr);

    // When none can, the system's reason of the first becomes the last error.
    quex::InjectSocketFault(quex::SocketFault::Send, 1);
    const quex::SocketHandle broken[2] = {sockets[0], platform::kInvalidSocket};
    EXPECT_EQ(quex::GroupSendOutcome::NoneSent, quex::SendToGroup(&context, broken, 2, expected, 36));
    EXPECT_EQ(QUEX_ERROR_NETWORK, context.lastErrorCode);
    EXPECT_STREQ("Cannot send through 10.77.0.1: injected failure", context.lastErrorMessage);
    EXPECT_EQ(quex::GroupSendOutcome::NoneSent, quex::SendToGroup(&context, broken + 1, 1, expected, 36));
    EXPECT_STREQ("Cannot send: Bad file descriptor", context.lastErrorMessage);

    const auto none = quex::GroupSendOutcome::NoneSent;
    EXPECT_EQ(none, quex::SendToGroup(nullptr, sockets, 2, expected, 36));
    EXPECT_EQ(none, quex::SendToGroup(&context, nullptr, 2, expected, 36));
    EXPECT_EQ(none, quex::SendToGroup(&context, sockets, 0, expected, 36));
    EXPECT_EQ(none, quex::SendToGroup(&context, sockets, 2, nullptr, 36));
    EXPECT_EQ(none, quex::SendToGroup(&context, sockets, 2, expected, 0));
    EXPECT_FALSE(WaitFor(listener, 200)) << "a refused call sent something";
    quex::CloseInterfaceSockets(sockets, 2);
    close(listener);
}

TEST_F(Sockets, ReceiveTellsNothingWaitingRefusedAcceptedAndFailedApart) {
    const int socket = quex::OpenInterfaceSocket(&context, Ip("10.77.0.1"));
    ASSERT_GE(socket, 0);
    const int sender = Sender();
    quex::QuexDeviceRecord record;
    ASSERT_TRUE(quex::InitDeviceRecord(context.magic, &record));
    auto receive = [&](const uint8_t* target) {
        quex::InitDeviceRecord(context.magic, &record);
        return quex::ReceiveResponse(&context, socket, quex::DiscoveryResponse, target, &record);
    };

    EXPECT_EQ(quex::ReplyOutcome::NothingWaiting, receive(kMac));

    // Its first 1456 bytes alone would be an acceptable reply.
    SendTo(sender, socket, ReplyOfSize(1457));
    ASSERT_TRUE(WaitFor(socket, 3000));
    EXPECT_EQ(quex::ReplyOutcome::Refused, receive(kMac));

    SendTo(sender, socket, ReplyOfSize(1456));
    ASSERT_TRUE(WaitFor(socket, 3000));
    ASSERT_EQ(quex::ReplyOutcome::Accepted, receive(kMac));
    EXPECT_EQ(Ip("10.77.0.1"), record.info.interfaceAddress);
    EXPECT_EQ(0, std::memcmp(kMac, record.info.macAddress, 6));

    // Another device's reply is refused for this MAC and taken by the wildcard.
    SendTo(sender, socket, ReplyOfSize(60, kOtherMac));
    ASSERT_TRUE(WaitFor(socket, 3000));
    EXPECT_EQ(quex::ReplyOutcome::Refused, receive(kMac));
    SendTo(sender, socket, ReplyOfSize(60, kOtherMac));
    ASSERT_TRUE(WaitFor(socket, 3000));
    EXPECT_EQ(quex::ReplyOutcome::Accepted, receive(quex::kBroadcastMac));
    EXPECT_EQ(0, std::memcmp(kOtherMac, record.info.macAddress, 6));

    // A failed read ends with the reason, and the datagram stays queued for the next one.
    SendTo(sender, socket, ReplyOfSize(60));
    ASSERT_TRUE(WaitFor(socket, 3000));
    quex::InjectSocketFault(quex::SocketFault::Receive, 1);
    EXPECT_EQ(quex::ReplyOutcome::Failed, receive(kMac));
    EXPECT_EQ(QUEX_ERROR_NETWORK, context.lastErrorCode);
    EXPECT_STREQ("Cannot receive through 10.77.0.1: injected failure", context.lastErrorMessage);
    EXPECT_EQ(quex::ReplyOutcome::Accepted, receive(kMac));
    close(sender);
    close(socket);
}

TEST_F(Sockets, WaitWorksForDescriptorsAbove1024) {
    rlimit original{};
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &original));
    rlimit raised = original;
    if (raised.rlim_cur < 2048) raised.rlim_cur = 2048;
    if (raised.rlim_max < raised.rlim_cur) raised.rlim_max = raised.rlim_cur;
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &raised));

    const int opened = quex::OpenInterfaceSocket(&context, Ip("10.77.0.1"));
    ASSERT_GE(opened, 0);
    ASSERT_EQ(1500, dup2(opened, 1500));
    close(opened);
    const int high = 1500;
    const int low = quex::OpenInterfaceSocket(&context, Ip("10.78.0.1"));
    ASSERT_GE(low, 0);
    ASSERT_LT(low, 1024);
    const int sender = Sender();

    // Nothing waiting: the wait runs its full time.
    const int both[2] = {low, high};
    bool ready[2] = {true, true};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, platform::WaitReadable(both, 2, 150, ready));
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count();
    EXPECT_GE(waited, 145);
    EXPECT_LT(waited, 5000);
    EXPECT_FALSE(ready[0]);
    EXPECT_FALSE(ready[1]);

    SendTo(sender, high, ReplyOfSize(40));
    EXPECT_EQ(1, platform::WaitReadable(both, 2, 3000, ready));
    EXPECT_FALSE(ready[0]);
    EXPECT_TRUE(ready[1]);
    quex::QuexDeviceRecord record;
    ASSERT_TRUE(quex::InitDeviceRecord(context.magic, &record));
    EXPECT_EQ(quex::ReplyOutcome::Accepted,
              quex::ReceiveResponse(&context, high, quex::DiscoveryResponse, kMac, &record));
    EXPECT_EQ(Ip("10.77.0.1"), record.info.interfaceAddress);

    // The wake object, also above 1024, ends the wait without a socket.
    const int event = eventfd(0, EFD_CLOEXEC);
    ASSERT_GE(event, 0);
    ASSERT_EQ(1600, dup2(event, 1600));
    close(event);
    const uint64_t one = 1;
    ASSERT_EQ(static_cast<ssize_t>(sizeof one), write(1600, &one, sizeof one));
    bool woken = false;
    const auto wakeStart = std::chrono::steady_clock::now();
    EXPECT_EQ(0, platform::WaitReadable(both, 2, 3000, ready, 1600, &woken));
    EXPECT_TRUE(woken);
    EXPECT_LT(std::chrono::steady_clock::now() - wakeStart, std::chrono::milliseconds(2000));

    close(1600);
    close(sender);
    close(low);
    close(high);
    setrlimit(RLIMIT_NOFILE, &original);
}

}  // namespace
