// Flood mode: once a tool sends a request, send it a stream of malformed and
// foreign datagrams (wrong magic, wrong type, truncated fields, lying
// lengths, oversized, random bytes) at a fixed rate, from the socket that
// received the request, to the sender's address and port. For tests of the
// tool under hostile input; none of the datagrams is a valid answer.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <random>
#include <vector>

#include "tools/quexsim/device_file.h"
#include "tools/quexsim/wire.h"

namespace quexsim {

// The kinds of datagram, cycled in this order.
// Each is refused by a sound receiver: wrong magic or type, no MAC, a field
// of a length its form forbids, or larger than any answer.
enum class FloodKind {
    WrongMagic,
    WrongType,
    TruncatedMac,
    BadMacLength,
    BadChallenge,
    LyingLength,
    NoMac,
    Random,
    Empty,
    ShortHeader,
    Oversized,
    RequestEcho,
};
constexpr int kFloodKinds = 12;

// The datagrams of one flood (magic: the request's, so that the header
// check passes and the decoder is reached). largeEvery: every Nth datagram
// is an oversized one (0: none).
std::vector<Bytes> MakeFloodDatagrams(uint32_t magic, unsigned largeEvery, uint64_t seed);

// A forged-MAC flood: a valid discovery answer (MAC first, then address and
// model) whose MAC is kForgedMacBase + n for the nth datagram of the flood.
Bytes MakeForgedAnswer(uint32_t magic);
void SetForgedMac(Bytes& answer, uint64_t n);
constexpr size_t kForgedMacOffset = 8 + 2;  // header, then field 1's code and length
constexpr uint64_t kForgedMacBase = 0x02F000000000ull;

class Flooder {
public:
    Flooder(const FloodSpec& settings, uint64_t seed) : spec_(settings), random_(seed) {}

    // A request came from this peer on this socket: (re)start its flood.
    void Trigger(size_t socket, const sockaddr_in& peer, uint32_t magic, double nowMs);
    // Sends what is due by now on the given sockets; returns the milliseconds
    // until the next datagram is due (-1 when no flood runs).
    int Pump(const std::vector<int>& sockets, double nowMs);

    struct Finished {
        sockaddr_in peer;
        uint64_t sent, failed, bytes;
    };
    // Ends every flood now (on the way out).
    void StopAll();
    // Floods that ended since the last call (for the journal).
    std::vector<Finished> TakeFinished();

private:
    struct Target {
        size_t socket;
        sockaddr_in peer;
        double startMs, untilMs;
        uint64_t sent = 0, failed = 0, bytes = 0;
        std::vector<Bytes> datagrams;
    };
    FloodSpec spec_;
    std::mt19937_64 random_;
    std::vector<Target> targets_;
    std::vector<Finished> finished_;
};

}  // namespace quexsim
