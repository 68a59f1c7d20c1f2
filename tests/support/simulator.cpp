#include "tests/support/simulator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace kelvotest {
namespace {

using Clock = std::chrono::steady_clock;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

// Reaps the child if it has ended; true when it has.
bool Reaped(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == pid;
}

}  // namespace

Bytes FromHex(const std::string& text) {
    Bytes out;
    int hi = -1;
    for (char c : text) {
        if (c == ' ' || c == ':' || c == '-' || c == '\n' || c == '\t' || c == ',') continue;
        const int d = HexDigit(c);
        if (d < 0) throw std::invalid_argument("not a hex digit in \"" + text + "\"");
        if (hi < 0) {
            hi = d;
        } else {
            out.push_back(static_cast<uint8_t>(hi * 16 + d));
            hi = -1;
        }
    }
    if (hi >= 0) throw std::invalid_argument("odd number of hex digits in \"" + text + "\"");
    return out;
}

std::string ToHex(const Bytes& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (uint8_t b : bytes) {
        s.push_back(digits[b >> 4]);
        s.push_back(digits[b & 15]);
    }
    return s;
}

std::string QuexsimPath() {
    const char* env = std::getenv("QUEXSIM");
    if (env && *env) return env;
    return std::string(KELVO_BINARY_DIR) + "/quexsim";
}

Simulator::Simulator(const std::string& devicesJson, std::vector<std::string> extraArgs) {
    Start(devicesJson, extraArgs);
}

Simulator::Simulator(const Json& devices, std::vector<std::string> extraArgs) {
    Start(devices.dump(2), extraArgs);
}

Simulator::~Simulator() {
    Stop();
    if (!dir_.empty() && !std::getenv("KELVO_KEEP_SIMULATOR")) {
        for (const std::string* p : {&devicesPath_, &journalPath_, &readyPath_, &stderrPath_})
            std::remove(p->c_str());
        rmdir(dir_.c_str());
    }
}

void Simulator::Start(const std::string& devicesJson, const std::vector<std::string>& extraArgs) {
    char tmpl[] = "/tmp/kelvo-sim.XXXXXX";
    if (!mkdtemp(tmpl)) {
        error_ = "cannot make a temporary directory";
        return;
    }
    dir_ = tmpl;
    devicesPath_ = dir_ + "/devices.json";
    journalPath_ = dir_ + "/journal.jsonl";
    readyPath_ = dir_ + "/ready";
    stderrPath_ = dir_ + "/stderr.txt";
    {
        std::ofstream f(devicesPath_);
        f << devicesJson;
        if (!f) {
            error_ = "cannot write " + devicesPath_;
            return;
        }
    }
    const std::string quexsim = QuexsimPath();
    if (access(quexsim.c_str(), X_OK) != 0) {
        error_ = "no quexsim at " + quexsim + " (build the quexsim target)";
        return;
    }
    std::vector<std::string> args = {"ip",         "netns",        "exec",       "kdev",
                                     quexsim,      "--devices",    devicesPath_, "--journal",
                                     journalPath_, "--ready-file", readyPath_};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, stderrPath_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, stderrPath_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    // PATH may lack the sbin directories.
    const char* ip = access("/usr/sbin/ip", X_OK) == 0 ? "/usr/sbin/ip"
                     : access("/sbin/ip", X_OK) == 0   ? "/sbin/ip"
                                                       : "ip";
    const int rc = posix_spawnp(&pid_, ip, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        pid_ = -1;
        error_ = "cannot start ip netns exec: " + std::string(std::strerror(rc));
        return;
    }
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
        if (Exists(readyPath_)) {
            ready_ = true;
            return;
        }
        if (Reaped(pid_)) {
            pid_ = -1;
            error_ = "quexsim ended before it was ready: " + StderrText();
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    error_ = "quexsim not ready after 10 s: " + StderrText();
    Stop();
}

std::string Simulator::StderrText() const {
    return stderrPath_.empty() ? std::string() : ReadFile(stderrPath_);
}

void Simulator::Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (Clock::now() < deadline) {
        if (Reaped(pid_)) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

std::vector<Json> Simulator::Journal() const {
    std::vector<Json> out;
    if (journalPath_.empty()) return out;
    std::istringstream in(ReadFile(journalPath_));
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        Json j = Json::parse(line, nullptr, false);
        if (!j.is_discarded())
            out.push_back(std::move(j));  // a half-written last line waits for the next read
    }
    return out;
}

std::vector<Json> Simulator::Events(const std::string& event) const {
    std::vector<Json> out;
    for (Json& j : Journal())
        if (j.value("event", "") == event) out.push_back(std::move(j));
    return out;
}

std::vector<Json> Simulator::Decisions(int type) const {
    std::vector<Json> out;
    for (Json& j : Events("decision"))
        if (type < 0 || j.value("type", -1) == type) out.push_back(std::move(j));
    return out;
}

std::vector<JournalDatagram> Simulator::Datagrams(const std::string& event, int type) const {
    std::vector<JournalDatagram> out;
    const bool received = event == "recv";
    for (const Json& j : Events(event)) {
        JournalDatagram d;
        d.bytes = FromHex(j.value("hex", ""));
        d.type = j.value("type", -1);
        if (type >= 0 && d.type != type) continue;
        d.local = j.value("local", "");
        d.peer = j.value(received ? "from" : "to", "");
        d.peerPort = j.value("port", uint16_t{0});
        d.device = j.value("device", "");
        d.tMs = j.value("t_ms", 0.0);
        out.push_back(std::move(d));
    }
    return out;
}

std::vector<JournalDatagram> Simulator::Received(int type) const { return Datagrams("recv", type); }

std::vector<JournalDatagram> Simulator::Sent(int type) const { return Datagrams("send", type); }

bool Simulator::WaitFor(const std::function<bool(const std::vector<Json>&)>& pred,
                        std::chrono::milliseconds timeout) const {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (pred(Journal())) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool Simulator::WaitForEvents(const std::string& event, size_t count,
                              std::chrono::milliseconds timeout) const {
    return WaitFor(
        [&](const std::vector<Json>& lines) {
            size_t n = 0;
            for (const Json& j : lines) n += j.value("event", "") == event;
            return n >= count;
        },
        timeout);
}

RawSocket::RawSocket(const std::string& localAddress) {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    const int ttl = 64;
    const int rcvbuf = 4 << 20;  // room for a burst of replies; capped by rmem_max
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    socklen_t len = sizeof local;
    if (inet_pton(AF_INET, localAddress.c_str(), &local.sin_addr) != 1 ||
        bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_IF, &local.sin_addr, sizeof local.sin_addr) != 0 ||
        setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &len) != 0) {
        close(fd_);
        fd_ = -1;
        return;
    }
    port_ = ntohs(local.sin_port);
}

RawSocket::~RawSocket() {
    if (fd_ >= 0) close(fd_);
}

bool RawSocket::SendToGroup(const Bytes& datagram, uint16_t port) {
    if (fd_ < 0) return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    inet_pton(AF_INET, "224.0.5.128", &to.sin_addr);
    const ssize_t sent =
        sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return sent == static_cast<ssize_t>(datagram.size());
}

std::optional<RawReply> RawSocket::Receive(std::chrono::milliseconds timeout) {
    if (fd_ < 0) return std::nullopt;
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{fd_, POLLIN, 0};
        const int n = poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
        if (n > 0) {
            Bytes buffer(65536);
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t got = recvfrom(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                         reinterpret_cast<sockaddr*>(&from), &len);
            if (got >= 0) {
                buffer.resize(static_cast<size_t>(got));
                char text[INET_ADDRSTRLEN] = {};
                inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
                return RawReply{std::move(buffer), text, ntohs(from.sin_port)};
            }
        }
        if (left <= 0) return std::nullopt;
    }
}

std::vector<RawReply> RawSocket::Collect(std::chrono::milliseconds window) {
    std::vector<RawReply> out;
    const auto deadline = Clock::now() + window;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) break;
        auto r = Receive(left);
        if (!r) break;
        out.push_back(std::move(*r));
    }
    return out;
}

}  // namespace kelvotest
