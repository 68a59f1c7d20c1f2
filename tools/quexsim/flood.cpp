#include "tools/quexsim/flood.h"

#include <sys/socket.h>

#include <algorithm>
#include <cmath>

namespace quexsim {
namespace {

Field MakeField(uint8_t code, Bytes value) {
    Field f;
    f.code = code;
    f.value = std::move(value);
    return f;
}

Bytes RandomBytes(std::mt19937_64& random, size_t size) {
    Bytes out(size);
    for (uint8_t& b : out) b = static_cast<uint8_t>(random());
    return out;
}

// A plausible answer body: MAC, address, model.
std::vector<Field> AnswerFields(std::mt19937_64& random) {
    Bytes mac = RandomBytes(random, 6);
    mac[0] = 0x02;
    return {MakeField(kFieldMac, mac), MakeField(kFieldIp, {10, 77, 9, 9}),
            MakeField(kFieldModel, Bytes{'F', 'l', 'o', 'o', 'd'})};
}

Bytes MakeOne(FloodKind kind, uint32_t magic, std::mt19937_64& random) {
    switch (kind) {
    case FloodKind::WrongMagic: {
        uint32_t other = static_cast<uint32_t>(random());
        if (other == magic) other ^= 1;
        return BuildDatagram(other, kDiscoveryResponse, AnswerFields(random));
    }
    case FloodKind::WrongType: {
        static const uint16_t kTypes[] = {0, 1, 3, 4, 5, 6, 7, 8, 9, 0x0200, 0xFFFF};
        return BuildDatagram(magic, kTypes[random() % (sizeof kTypes / sizeof kTypes[0])],
                             AnswerFields(random));
    }
    case FloodKind::TruncatedMac: {
        // The header claims a whole answer; the datagram ends before the
        // MAC field's length byte.
        Bytes d = BuildDatagram(magic, kDiscoveryResponse, AnswerFields(random));
        d.resize(kHeaderSize + random() % 2);
        return d;
    }
    case FloodKind::BadMacLength: {
        size_t length = random() % 12;
        if (length == 6) length = 0;
        return BuildDatagram(
            magic, kDiscoveryResponse,
            {MakeField(kFieldMac, RandomBytes(random, length)), MakeField(kFieldIp, {10, 77, 9, 9})});
    }
    case FloodKind::BadChallenge: {
        // A good MAC, then a challenge of 13 or 15 bytes.
        std::vector<Field> fields = AnswerFields(random);
        fields.push_back(MakeField(kFieldChallenge, RandomBytes(random, random() % 2 ? 13 : 15)));
        return BuildDatagram(magic, kDiscoveryResponse, fields);
    }
    case FloodKind::LyingLength: {
        Bytes d = BuildDatagram(magic, kDiscoveryResponse, {MakeField(kFieldIp, {10, 77, 9, 9})});
        const uint16_t claim = static_cast<uint16_t>(1000 + random() % 64536);  // up to 65535
        d[6] = static_cast<uint8_t>(claim >> 8);
        d[7] = static_cast<uint8_t>(claim);
        return d;
    }
    case FloodKind::NoMac:
        return BuildDatagram(magic, kDiscoveryResponse,
                             {MakeField(kFieldIp, {10, 77, 9, 9}), MakeField(kFieldModel, {'N', 'o'})});
    case FloodKind::Random: {
        Bytes d = RandomBytes(random, random() % 1500);
        if (d.size() >= 4 && ReadBe32(d.data()) == magic) d[0] ^= 0x80;
        return d;
    }
    case FloodKind::Empty:
        return Bytes{};
    case FloodKind::ShortHeader: {
        Bytes d = BuildDatagram(magic, kDiscoveryResponse, {});
        d.resize(random() % kHeaderSize);
        return d;
    }
    case FloodKind::Oversized: {
        // Larger than any answer: up to the largest UDP payload over IPv4,
        // a well-formed answer at its start and a header length of 65535.
        static const size_t kSizes[] = {1457, 2048, 9000, 65507};
        Bytes d = BuildDatagram(magic, kDiscoveryResponse, AnswerFields(random), 65535);
        d.resize(kSizes[random() % 4], 0);
        return d;
    }
    case FloodKind::RequestEcho:
        return BuildDatagram(magic, kDiscoveryRequest, {MakeField(kFieldMac, Bytes(6, 0xFF))});
    }
    return Bytes{};
}

}  // namespace

Bytes MakeForgedAnswer(uint32_t magic) {
    Bytes answer = BuildDatagram(magic, kDiscoveryResponse,
                                 {MakeField(kFieldMac, Bytes(6, 0)), MakeField(kFieldIp, {10, 77, 9, 9}),
                                  MakeField(kFieldModel, Bytes{'F', 'o', 'r', 'g', 'e', 'd'})});
    SetForgedMac(answer, 0);
    return answer;
}

void SetForgedMac(Bytes& answer, uint64_t n) {
    const uint64_t mac = kForgedMacBase + n;
    for (int i = 0; i < 6; ++i) answer[kForgedMacOffset + i] = static_cast<uint8_t>(mac >> (8 * (5 - i)));
}

std::vector<Bytes> MakeFloodDatagrams(uint32_t magic, unsigned largeEvery, uint64_t seed) {
    std::mt19937_64 random(seed);
    std::vector<Bytes> out;
    const size_t count = 240;
    for (size_t i = 0; i < count; ++i) {
        const bool large = largeEvery != 0 && i % largeEvery == largeEvery - 1;
        // The small kinds in turn; Oversized only at its own rate.
        FloodKind kind = static_cast<FloodKind>(i % kFloodKinds);
        if (kind == FloodKind::Oversized) kind = FloodKind::Random;
        out.push_back(MakeOne(large ? FloodKind::Oversized : kind, magic, random));
    }
    return out;
}

void Flooder::Trigger(size_t socket, const sockaddr_in& peer, uint32_t magic, double nowMs) {
    for (Target& t : targets_) {
        if (t.socket == socket && t.peer.sin_addr.s_addr == peer.sin_addr.s_addr &&
            t.peer.sin_port == peer.sin_port) {
            t.untilMs = nowMs + spec_.durationMs;
            return;
        }
    }
    Target t{socket,
             peer,
             nowMs,
             nowMs + spec_.durationMs,
             0,
             0,
             0,
             spec_.forgedMacs ? std::vector<Bytes>{MakeForgedAnswer(magic)}
                              : MakeFloodDatagrams(magic, spec_.largeEvery, random_())};
    targets_.push_back(std::move(t));
}

int Flooder::Pump(const std::vector<int>& sockets, double nowMs) {
    int nextMs = -1;
    for (auto it = targets_.begin(); it != targets_.end();) {
        Target& t = *it;
        const double end = std::min(nowMs, t.untilMs);
        const auto due = static_cast<uint64_t>(std::max(0.0, (end - t.startMs) * spec_.rate / 1000.0));
        // At most a tenth of a second's worth per pass: the answers go on being served.
        uint64_t budget = std::max<uint64_t>(1, spec_.rate / 10);
        while (t.sent + t.failed < due && budget-- > 0) {
            // A forged flood reuses its one answer with the next MAC.
            if (spec_.forgedMacs) SetForgedMac(t.datagrams[0], t.sent + t.failed);
            const Bytes& d = t.datagrams[(t.sent + t.failed) % t.datagrams.size()];
            const ssize_t n = sendto(sockets[t.socket], d.data(), d.size(), MSG_DONTWAIT,
                                     reinterpret_cast<const sockaddr*>(&t.peer), sizeof t.peer);
            if (n == static_cast<ssize_t>(d.size())) {
                ++t.sent;
                t.bytes += d.size();
            } else {
                ++t.failed;
            }
        }
        if (nowMs >= t.untilMs && t.sent + t.failed >= due) {
            finished_.push_back(Finished{t.peer, t.sent, t.failed, t.bytes});
            it = targets_.erase(it);
            continue;
        }
        const int wait = t.sent + t.failed < due ? 0 : 1;
        nextMs = nextMs < 0 ? wait : std::min(nextMs, wait);
        ++it;
    }
    return nextMs;
}

void Flooder::StopAll() {
    for (const Target& t : targets_) finished_.push_back(Finished{t.peer, t.sent, t.failed, t.bytes});
    targets_.clear();
}

std::vector<Flooder::Finished> Flooder::TakeFinished() {
    std::vector<Finished> out;
    out.swap(finished_);
    return out;
}

}  // namespace quexsim
