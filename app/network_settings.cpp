// The /set command: DHCP mode and static network settings, each checked
// against the device's own report afterwards.
#include "app/network_settings.h"

#include <cstring>
#include <string>

#include "platform/ipv4_text.h"
#include "platform/sync.h"

namespace kelvo {

namespace {

// /wait=ready: each query waits a second for the answer; the next one starts
// a second after the previous one began, or as soon as it ended when it took
// longer; the last one begins at the limit at the latest.
constexpr uint32_t kReadyQueryIntervalMs = 1000;
constexpr uint32_t kReadyQueryTimeoutMs = 1000;
constexpr uint32_t kReadyLimitMs = 120000;
// A device shows a DHCP change at once, before its reboot too: the flag alone
// counts only once the reboot was seen, or from the default wait on.
constexpr uint32_t kDhcpFlagTrustedAfterMs = kDefaultWaitSeconds * 1000;

// What a device back from its reboot shows.
struct AskedSettings {
    bool dhcpChange;
    uint8_t dhcp;     // with dhcpChange: the mode asked for
    uint32_t ip;      // otherwise: the address asked for,
    uint32_t subnet;  // the subnet mask and gateway asked for (0: not given)
    uint32_t gateway;
};

// rebootSeen: a query went unanswered since the reboot request. Until then
// an answer may still be the state before the reboot, which differs from
// the asked one in some compared value (else there would be no reboot).
bool ShowsAskedSettings(const AskedSettings& asked, const QuexDeviceInfo& answer, bool rebootSeen,
                        uint64_t elapsedMs) {
    if (asked.dhcpChange)
        return answer.dhcpEnabled == asked.dhcp && (rebootSeen || elapsedMs >= kDhcpFlagTrustedAfterMs);
    if (answer.ipAddress != asked.ip) return false;
    // After the reboot the address decides, as in the check after a fixed wait.
    return rebootSeen || ((asked.subnet == 0 || answer.subnetMask == asked.subnet) &&
                          (asked.gateway == 0 || answer.gateway == asked.gateway));
}

// The handle's queries wait timeoutMs while it lives, then the library's
// default again. Refused (a search runs on the handle): they keep the default.
class ScopedQueryTimeout {
public:
    ScopedQueryTimeout(QuexHandle handle, uint32_t timeoutMs)
        : handle_(handle), set_(QUEXSetDeviceInfoTimeout(handle, timeoutMs) == QUEX_OK) {}
    ~ScopedQueryTimeout() {
        if (set_) QUEXSetDeviceInfoTimeout(handle_, 0);
    }
    ScopedQueryTimeout(const ScopedQueryTimeout&) = delete;
    ScopedQueryTimeout& operator=(const ScopedQueryTimeout&) = delete;

private:
    QuexHandle handle_;
    bool set_;
};

// Queries the device until it shows the asked settings, or the limit has
// passed; device holds its last answer. False when the last query went unanswered.
bool WaitUntilReady(QuexHandle handle, const uint8_t mac[6], const AskedSettings& asked,
                    QuexDeviceInfo& device, RunMessages& messages) {
    const ScopedQueryTimeout queryTimeout(handle, kReadyQueryTimeoutMs);
    const uint64_t start = platform::MonotonicMs();
    bool rebootSeen = false;
    messages.WaitStarted(kReadyLimitMs);
    for (;;) {
        const uint64_t began = platform::MonotonicMs();
        QuexDeviceInfo answer;
        const bool answered = QUEXGetDeviceInfo(handle, mac, &answer) == QUEX_OK;
        const uint64_t ended = platform::MonotonicMs();
        if (answered)
            device = answer;
        else
            rebootSeen = true;
        if ((answered && ShowsAskedSettings(asked, answer, rebootSeen, began - start)) ||
            ended - start >= kReadyLimitMs) {
            messages.WaitEnded();
            return answered;
        }
        const uint64_t next = began + kReadyQueryIntervalMs;
        if (next > ended) messages.Pause(static_cast<uint32_t>(next - ended));
    }
}

// Reboots the device and waits for it as cmd says; device then holds its
// last answer. False (after "E5") when the device did not answer at the end.
bool RebootAndCheck(QuexHandle handle, const uint8_t mac[6], const CommandLine& cmd,
                    const AskedSettings& asked, QuexDeviceInfo& device, RunMessages& messages) {
    QUEXRebootDevice(handle, mac, cmd.password);  // the check after the wait decides
    messages.Line("Device has been rebooted.");
    bool answered;
    if (cmd.rebootWait == RebootWait::Ready) {
        answered = WaitUntilReady(handle, mac, asked, device, messages);
    } else {
        messages.Pause(cmd.waitSeconds * 1000);
        answered = QUEXGetDeviceInfo(handle, mac, &device) == QUEX_OK;
    }
    if (!answered) messages.Error("Failed to get device information. E5");
    return answered;
}

}  // namespace

bool SetDhcpMode(QuexHandle handle, QuexDeviceInfo& device, const CommandLine& cmd, bool reboot,
                 RunMessages& messages) {
    const uint8_t wanted = cmd.useDhcp == 1 ? 1 : 0;
    uint8_t mac[6];
    std::memcpy(mac, device.macAddress, sizeof mac);
    if (device.dhcpEnabled == wanted) return true;

    if (messages.StopIfInterrupted()) return false;
    if (QUEXSetDHCP(handle, mac, wanted, cmd.password) != QUEX_OK) {
        messages.Error("Failed to set DHCP mode for device.");
        return false;
    }
    if (!reboot) return true;

    const AskedSettings asked{true, wanted, 0, 0, 0};
    if (!RebootAndCheck(handle, mac, cmd, asked, device, messages)) return false;
    if (device.dhcpEnabled == wanted) {
        messages.Result("DHCP mode has been changed.");
        return true;
    }
    messages.Error("Failed to change DHCP mode.");
    return false;
}

bool SetStaticNetwork(QuexHandle handle, QuexDeviceInfo& device, const CommandLine& cmd, uint32_t ip,
                      uint32_t gateway, uint32_t subnet, RunMessages& messages) {
    SetDhcpMode(handle, device, cmd, false, messages);  // switches DHCP off; a failure is reported there

    uint8_t mac[6];
    std::memcpy(mac, device.macAddress, sizeof mac);
    const uint32_t subnetSent = subnet != 0 ? subnet : device.subnetMask;
    const uint32_t gatewaySent = gateway != 0 ? gateway : device.gateway;

    if (messages.StopIfInterrupted()) return false;
    if (QUEXSetNetwork(handle, mac, ip, subnetSent, gatewaySent, cmd.password) != QUEX_OK) {
        char message[256] = {};
        QUEXGetLastErrorMessage(handle, message, 255);
        messages.Error("Failed to assign IP address to device: ", message);
        messages.ErrorMore("\tip: " + platform::FormatIPv4(ip) +
                           "  subnet: " + platform::FormatIPv4(subnetSent) +
                           "  gateway: " + platform::FormatIPv4(gatewaySent));
        return false;
    }

    if (QUEXGetDeviceInfo(handle, mac, &device) != QUEX_OK) {
        messages.Error("Failed to get device information. E4");
        return false;
    }
    // Values of 0 were not given and are not compared.
    if (device.ipAddress == ip && (gateway == 0 || device.gateway == gateway) &&
        (subnet == 0 || device.subnetMask == subnet)) {
        messages.Result("IP address has been changed.");
        return true;
    }

    const AskedSettings asked{false, 0, ip, subnet, gateway};
    if (!RebootAndCheck(handle, mac, cmd, asked, device, messages)) return false;
    if (device.ipAddress == ip) {
        messages.Result("IP address has been changed.");
        return true;
    }
    messages.Error("Failed to change IP address.");
    return false;
}

}  // namespace kelvo
