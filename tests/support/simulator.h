// Simulated devices for network tests: runs quexsim in the lab's device
// namespace (kdev) and reads its journal back, plus a raw UDP socket for
// tests that speak the wire format themselves. Use inside a test that began
// with KELVO_REQUIRE_PRIVATE_NETWORK().
//
//   kelvotest::Simulator sim(R"({"devices":[{"mac":"02:c0:de:00:00:01","ip":"10.77.0.50"}]})");
//   ASSERT_TRUE(sim.ready()) << sim.error();
//   ... run the code under test ...
//   auto requests = sim.Received(5);  // every reboot request that reached a device
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace kelvotest {

using Bytes = std::vector<uint8_t>;
using Json = nlohmann::json;

// "54 45 4c 51" or "54454c51" (spaces, colons and dashes are skipped).
// Throws std::invalid_argument on anything else.
Bytes FromHex(const std::string& text);
std::string ToHex(const Bytes& bytes);  // lower case, no separators

// One datagram as the journal recorded it.
struct JournalDatagram {
    Bytes bytes;
    int type = -1;      // header type, -1 when shorter than a header
    std::string local;  // simulator address that received or sent it
    std::string peer;   // sender (received) or destination (sent)
    uint16_t peerPort = 0;
    std::string device;  // sent only: the device that answered
    double tMs = 0;      // milliseconds since quexsim started
};

class Simulator {
public:
    // Writes the device description to a temporary file, starts
    // `ip netns exec kdev quexsim --devices F --journal J --ready-file R
    // [extraArgs]` and waits (10 s at most) until every socket has joined.
    explicit Simulator(const std::string& devicesJson, std::vector<std::string> extraArgs = {});
    explicit Simulator(const Json& devices, std::vector<std::string> extraArgs = {});
    ~Simulator();  // Stop()
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    bool ready() const { return ready_; }
    // Why it is not ready (with quexsim's standard error).
    const std::string& error() const { return error_; }
    pid_t pid() const { return pid_; }
    const std::string& journal_path() const { return journalPath_; }
    std::string StderrText() const;

    // SIGTERM, 2 s grace, then SIGKILL. Safe to call twice.
    void Stop();

    // Every journal line so far, parsed; lines not yet complete are left out.
    std::vector<Json> Journal() const;
    // Lines whose "event" is the given one ("recv", "decision", "send",
    // "state", "discovery", "start", "stop").
    std::vector<Json> Events(const std::string& event) const;
    // Decisions about requests of a type (-1: all).
    std::vector<Json> Decisions(int type = -1) const;
    // Datagrams received by the simulator, of a header type (-1: all).
    std::vector<JournalDatagram> Received(int type = -1) const;
    // Replies sent by the simulator, of a header type (-1: all).
    std::vector<JournalDatagram> Sent(int type = -1) const;

    // Polls the journal every 20 ms until pred holds or the timeout passes.
    bool WaitFor(const std::function<bool(const std::vector<Json>&)>& pred,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // Waits until at least count lines of the event are journaled.
    bool WaitForEvents(const std::string& event, size_t count,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

private:
    void Start(const std::string& devicesJson, const std::vector<std::string>& extraArgs);
    std::vector<JournalDatagram> Datagrams(const std::string& event, int type) const;

    std::string dir_, devicesPath_, journalPath_, readyPath_, stderrPath_;
    pid_t pid_ = -1;
    bool ready_ = false;
    std::string error_;
};

// The path of the quexsim binary: $QUEXSIM, else KELVO_BINARY_DIR/quexsim.
std::string QuexsimPath();

// A reply as a raw socket received it.
struct RawReply {
    Bytes bytes;
    std::string from;
    uint16_t fromPort = 0;
};

// A UDP socket bound to a tool-side address (port chosen by the system) that
// sends to the QUEX group through that interface, as the library's sockets
// do, and reads the unicast replies.
class RawSocket {
public:
    explicit RawSocket(const std::string& localAddress = "10.77.0.1");
    ~RawSocket();
    RawSocket(const RawSocket&) = delete;
    RawSocket& operator=(const RawSocket&) = delete;

    bool ok() const { return fd_ >= 0; }
    uint16_t port() const { return port_; }
    // Sends once to 224.0.5.128:port; true when every byte went.
    bool SendToGroup(const Bytes& datagram, uint16_t port = 2362);
    // The next reply, or nothing after the timeout.
    std::optional<RawReply> Receive(std::chrono::milliseconds timeout);
    // Every reply that arrives within the window.
    std::vector<RawReply> Collect(std::chrono::milliseconds window);

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

}  // namespace kelvotest
