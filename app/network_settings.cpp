// The /set command: DHCP mode and static network settings, each checked
// against the device's own report afterwards.
#include "app/network_settings.h"

#include <cstring>
#include <string>

#include "platform/ipv4_text.h"

namespace kelvo {

uint32_t RebootWaitMs = 40000;

namespace {

// Reboots the device, waits for it, and queries it once more into device.
// False (after "E5") when that query fails.
bool RebootAndQuery(QuexHandle handle, const uint8_t mac[6], const CommandLine& cmd, QuexDeviceInfo& device,
                    RunMessages& messages) {
    QUEXRebootDevice(handle, mac, cmd.password);  // the check after the wait decides
    messages.Line("Device has been rebooted.");
    messages.Pause(RebootWaitMs);
    if (QUEXGetDeviceInfo(handle, mac, &device) != QUEX_OK) {
        messages.Error("Failed to get device information. E5");
        return false;
    }
    return true;
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

    if (!RebootAndQuery(handle, mac, cmd, device, messages)) return false;
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

    if (!RebootAndQuery(handle, mac, cmd, device, messages)) return false;
    if (device.ipAddress == ip) {
        messages.Result("IP address has been changed.");
        return true;
    }
    messages.Error("Failed to change IP address.");
    return false;
}

}  // namespace kelvo
