// quexsim: simulated QUEX devices for tests, demos and trying the tool
// without hardware. See tools/quexsim/README.md.
#include <arpa/inet.h>
#include <fcntl.h>
#include <getopt.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <queue>
#include <random>
#include <string>
#include <vector>

#include "tools/quexsim/device_file.h"
#include "tools/quexsim/engine.h"
#include "tools/quexsim/flood.h"
#include "tools/quexsim/journal.h"
#include "tools/quexsim/wire.h"

namespace quexsim {
namespace {

using nlohmann::json;

const char kHelp[] =
    "Usage: quexsim --devices FILE [OPTION]...\n"
    "Simulates QUEX devices: answers discovery requests, directed queries and\n"
    "configuration requests (set network, reboot, set DHCP) on the multicast\n"
    "group 224.0.5.128, port 2362, as the devices in FILE would.\n"
    "\n"
    "  --devices FILE      JSON device file (see tools/quexsim/README.md)\n"
    "  --listen ADDR       answer on this local IPv4 address only; repeatable\n"
    "                      (default: every IPv4 address here except loopback)\n"
    "  --journal FILE      append every datagram received, every decision and\n"
    "                      every reply sent to FILE as JSON lines\n"
    "  --ready-file PATH   write PATH once every socket has joined the group\n"
    "  --port N            UDP port (default 2362)\n"
    "  --seed N            seed for fresh challenges (default: random)\n"
    "  --check             read and check the device file, print a summary, exit\n"
    "  --real-network      allow running in the host's own network namespace\n"
    "                      (simulated devices would answer real tools there)\n"
    "  --help              this text\n"
    "\n"
    "quexsim refuses to start in the network namespace of process 1. Run it\n"
    "through scripts/lab, which builds a private network for it and the tool.\n"
    "Ends on SIGTERM or SIGINT. Exit status: 0 after a signal or --check,\n"
    "2 for a usage or device-file error, 1 for a network failure.\n";

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char c = 1;
    const ssize_t ignored = write(g_signalPipe[1], &c, 1);
    (void)ignored;
}

bool InHostNetworkNamespace() {
    struct stat mine {
    }, init{};
    if (stat("/proc/self/ns/net", &mine) == 0 && stat("/proc/1/ns/net", &init) == 0)
        return mine.st_ino == init.st_ino && mine.st_dev == init.st_dev;
    // /proc/1/ns/net can be unreadable even to root; the entries under
    // /proc/PID/net have inodes of their own in every namespace.
    if (stat("/proc/self/net/dev", &mine) == 0 && stat("/proc/1/net/dev", &init) == 0)
        return mine.st_ino == init.st_ino && mine.st_dev == init.st_dev;
    return true;  // cannot tell: assume the worst
}

std::vector<uint32_t> LocalAddresses() {
    std::vector<uint32_t> out;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return out;
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || (i->ifa_flags & IFF_LOOPBACK)) continue;
        const uint32_t a = ntohl(reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
        if (std::find(out.begin(), out.end(), a) == out.end()) out.push_back(a);
    }
    freeifaddrs(list);
    return out;
}

// One socket per listening address: bound to the group and port, joined on
// that address only and deaf to memberships of the other sockets, so each
// datagram arrives once, on the socket of the network it came from.
int OpenGroupSocket(uint32_t local, uint16_t port, std::string& error) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    const int one = 1, zero = 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    inet_pton(AF_INET, kGroup, &addr.sin_addr);
    ip_mreq mreq{};
    mreq.imr_multiaddr = addr.sin_addr;
    mreq.imr_interface.s_addr = htonl(local);
    const int rcvbuf = 4 << 20;
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0) {
        error = std::string("SO_REUSEADDR: ") + std::strerror(errno);
    } else if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_ALL, &zero, sizeof zero) != 0) {
        error = std::string("IP_MULTICAST_ALL: ") + std::strerror(errno);
    } else if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        error = std::string("bind: ") + std::strerror(errno);
    } else if (setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq) != 0) {
        error = std::string("IP_ADD_MEMBERSHIP: ") + std::strerror(errno);
    } else {
        // A larger buffer keeps bursts of requests; failure only costs capacity.
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
        return fd;
    }
    close(fd);
    return -1;
}

struct Pending {
    Outgoing reply;
    size_t socket = 0;
    sockaddr_in to{};
    uint64_t order = 0;
};

struct LaterFirst {
    bool operator()(const Pending& a, const Pending& b) const {
        return a.reply.dueMs != b.reply.dueMs ? a.reply.dueMs > b.reply.dueMs : a.order > b.order;
    }
};

bool WriteReadyFile(const std::string& path, const std::vector<uint32_t>& listen, uint16_t port,
                    size_t devices) {
    json listenJson = json::array();
    for (uint32_t a : listen) listenJson.push_back(AddressText(a));
    const std::string tmp = path + ".tmp";
    {
        std::ofstream f(tmp, std::ios::trunc);
        f << json{{"pid", getpid()}, {"listen", listenJson}, {"port", port}, {"devices", devices}}.dump()
          << "\n";
        if (!f) return false;
    }
    return std::rename(tmp.c_str(), path.c_str()) == 0;
}

void JournalFloods(Journal& journal, Flooder& flooder) {
    for (const Flooder::Finished& f : flooder.TakeFinished())
        journal.Write(json{{"event", "flood"},
                           {"to", AddressText(ntohl(f.peer.sin_addr.s_addr))},
                           {"port", ntohs(f.peer.sin_port)},
                           {"sent", f.sent},
                           {"failed", f.failed},
                           {"bytes", f.bytes}});
}

int Run(int argc, char** argv) {
    std::string devicesPath, journalPath, readyPath;
    std::vector<uint32_t> listen;
    uint16_t port = kPort;
    bool realNetwork = false, check = false, seeded = false;
    uint64_t seed = 0;
    enum { kDevices = 1, kListen, kJournal, kReady, kPortOpt, kSeed, kCheck, kReal, kHelpOpt };
    static const option options[] = {
        {"devices", required_argument, nullptr, kDevices}, {"listen", required_argument, nullptr, kListen},
        {"journal", required_argument, nullptr, kJournal}, {"ready-file", required_argument, nullptr, kReady},
        {"port", required_argument, nullptr, kPortOpt},    {"seed", required_argument, nullptr, kSeed},
        {"check", no_argument, nullptr, kCheck},           {"real-network", no_argument, nullptr, kReal},
        {"help", no_argument, nullptr, kHelpOpt},          {nullptr, 0, nullptr, 0}};
    int opt;
    while ((opt = getopt_long(argc, argv, "", options, nullptr)) != -1) {
        switch (opt) {
        case kDevices:
            devicesPath = optarg;
            break;
        case kListen: {
            const auto a = ParseAddress(optarg);
            if (!a) {
                std::cerr << "quexsim: --listen needs an IPv4 address, not \"" << optarg << "\"\n";
                return 2;
            }
            listen.push_back(*a);
            break;
        }
        case kJournal:
            journalPath = optarg;
            break;
        case kReady:
            readyPath = optarg;
            break;
        case kPortOpt: {
            char* end = nullptr;
            const unsigned long p = std::strtoul(optarg, &end, 10);
            if (!*optarg || *end || p == 0 || p > 65535) {
                std::cerr << "quexsim: bad --port\n";
                return 2;
            }
            port = static_cast<uint16_t>(p);
            break;
        }
        case kSeed: {
            char* end = nullptr;
            seed = std::strtoull(optarg, &end, 10);
            if (!*optarg || *end) {
                std::cerr << "quexsim: bad --seed\n";
                return 2;
            }
            seeded = true;
            break;
        }
        case kCheck:
            check = true;
            break;
        case kReal:
            realNetwork = true;
            break;
        case kHelpOpt:
            std::cout << kHelp;
            return 0;
        default:
            std::cerr << "Try 'quexsim --help'.\n";
            return 2;
        }
    }
    if (optind != argc) {
        std::cerr << "quexsim: unexpected argument \"" << argv[optind] << "\"\nTry 'quexsim --help'.\n";
        return 2;
    }
    if (devicesPath.empty()) {
        std::cerr << "quexsim: --devices FILE is required\nTry 'quexsim --help'.\n";
        return 2;
    }

    std::vector<DeviceSpec> devices;
    std::optional<FloodSpec> flood;
    try {
        devices = LoadDeviceFile(devicesPath);
        flood = LoadFloodSpec(devicesPath);
    } catch (const std::exception& e) {
        std::cerr << "quexsim: " << e.what() << "\n";
        return 2;
    }
    if (check) {
        std::cout << devices.size() << " device(s)\n";
        for (size_t i = 0; i < devices.size() && i < 20; ++i) {
            const DeviceSpec& d = devices[i];
            std::cout << "  " << d.name << "  " << MacText(d.mac) << "  " << AddressText(d.net.ip)
                      << (d.net.dhcp ? "  dhcp" : "") << "  \"" << d.model << "\"\n";
        }
        if (devices.size() > 20) std::cout << "  ...\n";
        if (flood)
            std::cout << "flood: " << flood->rate << " datagrams/s for " << flood->durationMs
                      << " ms after each request\n";
        return 0;
    }
    if (!realNetwork && InHostNetworkNamespace()) {
        std::cerr << "quexsim: refusing to start in the host's network namespace: simulated devices would\n"
                     "answer real tools on a real network. Run it through scripts/lab (or inside a private\n"
                     "namespace); --real-network overrides this.\n";
        return 2;
    }

    Journal journal;
    if (!journalPath.empty() && !journal.Open(journalPath)) {
        std::cerr << "quexsim: cannot open journal " << journalPath << ": " << std::strerror(errno) << "\n";
        return 2;
    }
    if (listen.empty()) listen = LocalAddresses();
    if (listen.empty()) {
        std::cerr << "quexsim: no IPv4 address to listen on\n";
        return 1;
    }

    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("quexsim: pipe");
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::vector<int> sockets;
    for (uint32_t a : listen) {
        std::string error;
        const int fd = OpenGroupSocket(a, port, error);
        if (fd < 0) {
            std::cerr << "quexsim: cannot listen on " << AddressText(a) << ": " << error << "\n";
            for (int s : sockets) close(s);
            return 1;
        }
        sockets.push_back(fd);
    }

    if (!seeded) seed = std::random_device{}();
    Engine engine(std::move(devices), journal, seed);
    std::optional<Flooder> flooder;
    if (flood) flooder.emplace(*flood, seed ^ 0x9E3779B97F4A7C15ull);
    json listenJson = json::array();
    for (uint32_t a : listen) listenJson.push_back(AddressText(a));
    journal.Write(json{{"event", "start"},
                       {"pid", getpid()},
                       {"listen", listenJson},
                       {"port", port},
                       {"devices", engine.device_count()}});
    if (!readyPath.empty() && !WriteReadyFile(readyPath, listen, port, engine.device_count())) {
        std::cerr << "quexsim: cannot write " << readyPath << "\n";
        for (int s : sockets) close(s);
        return 1;
    }
    std::cerr << "quexsim: " << engine.device_count() << " device(s) on";
    for (uint32_t a : listen) std::cerr << " " << AddressText(a);
    std::cerr << ", port " << port << "\n";

    std::priority_queue<Pending, std::vector<Pending>, LaterFirst> queue;
    uint64_t order = 0;
    std::vector<pollfd> fds;
    for (int s : sockets) fds.push_back(pollfd{s, POLLIN, 0});
    fds.push_back(pollfd{g_signalPipe[0], POLLIN, 0});
    std::vector<uint8_t> buffer(65536);
    bool stop = false;
    int status = 0;
    while (!stop) {
        int timeout = 1000;
        if (!queue.empty()) {
            const double wait = queue.top().reply.dueMs - journal.NowMs();
            timeout = wait <= 0 ? 0 : static_cast<int>(wait) + 1;
            if (timeout > 1000) timeout = 1000;
        }
        if (flooder) {
            const int floodWait = flooder->Pump(sockets, journal.NowMs());
            if (floodWait >= 0 && floodWait < timeout) timeout = floodWait;
            JournalFloods(journal, *flooder);
        }
        const int n = poll(fds.data(), fds.size(), timeout);
        if (n < 0 && errno != EINTR) {
            std::perror("quexsim: poll");
            status = 1;
            break;
        }
        if (n > 0) {
            if (fds.back().revents) stop = true;
            for (size_t i = 0; i < sockets.size(); ++i) {
                if (!(fds[i].revents & POLLIN)) continue;
                for (;;) {  // drain: every queued request is answered in this pass
                    sockaddr_in from{};
                    socklen_t fromLen = sizeof from;
                    const ssize_t got = recvfrom(sockets[i], buffer.data(), buffer.size(), MSG_DONTWAIT,
                                                 reinterpret_cast<sockaddr*>(&from), &fromLen);
                    if (got < 0) break;
                    Received in;
                    in.data = buffer.data();
                    in.size = static_cast<size_t>(got);
                    in.local = listen[i];
                    in.from = ntohl(from.sin_addr.s_addr);
                    in.fromPort = ntohs(from.sin_port);
                    in.nowMs = journal.NowMs();
                    for (Outgoing& o : engine.Handle(in)) queue.push(Pending{std::move(o), i, from, order++});
                    // Any request (types 1, 3, 5, 7) sets off a flood at its sender.
                    if (flooder && got >= static_cast<ssize_t>(kHeaderSize)) {
                        const uint16_t type = ReadBe16(buffer.data() + 4);
                        if (type == 1 || type == 3 || type == 5 || type == 7)
                            flooder->Trigger(i, from, ReadBe32(buffer.data()), in.nowMs);
                    }
                }
            }
        }
        const double now = journal.NowMs();
        while (!queue.empty() && queue.top().reply.dueMs <= now) {
            const Pending& p = queue.top();
            const ssize_t sent = sendto(sockets[p.socket], p.reply.data.data(), p.reply.data.size(), 0,
                                        reinterpret_cast<const sockaddr*>(&p.to), sizeof p.to);
            json e{{"event", "send"},
                   {"local", AddressText(listen[p.socket])},
                   {"to", AddressText(ntohl(p.to.sin_addr.s_addr))},
                   {"port", ntohs(p.to.sin_port)},
                   {"device", p.reply.device},
                   {"type", p.reply.type},
                   {"length", p.reply.data.size()},
                   {"hex", Hex(p.reply.data)}};
            if (sent != static_cast<ssize_t>(p.reply.data.size())) e["error"] = std::strerror(errno);
            if (journal.enabled()) journal.Write(std::move(e));
            queue.pop();
        }
    }
    if (flooder) {
        flooder->StopAll();
        JournalFloods(journal, *flooder);
    }
    journal.Write(json{{"event", "stop"}});
    for (int s : sockets) close(s);
    return status;
}

}  // namespace
}  // namespace quexsim

int main(int argc, char** argv) {
    try {
        return quexsim::Run(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "quexsim: " << e.what() << "\n";
        return 1;
    }
}
