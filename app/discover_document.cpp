// The machine-readable forms of /discover's device list.
#include "app/discover_document.h"

#include <cstdio>
#include <cstring>

#include <nlohmann/json.hpp>

#include "app/command_line.h"
#include "app/csv_row.h"
#include "app/interface_choice.h"
#include "platform/ipv4_text.h"

namespace kelvo {

namespace {

using Json = nlohmann::ordered_json;

// Every field a device may carry, in the order of the CSV columns; the
// fields after "version" stand only where the device's reply held them.
struct DeviceFields {
    std::vector<std::pair<std::string, Json>> always;
    std::vector<std::pair<std::string, Json>> present;
};

const char* const kColumns[] = {"ip",          "mac",      "model",      "subnet",         "gateway",
                                "dhcp",        "magic",    "interface",  "interface_name", "version",
                                "vendor_guid", "aux_text", "aux_number", "aux_address",    "aux_byte",
                                "aux_data"};

std::string Text(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

// The four letters of a magic, or its hexadecimal value when one is not printable.
std::string MagicText(uint32_t magic) {
    std::string letters;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = static_cast<char>((magic >> shift) & 0xFF);
        if (c < 0x20 || c > 0x7E) {
            char hex[11];
            std::snprintf(hex, sizeof hex, "0x%08X", magic);
            return hex;
        }
        letters += c;
    }
    return letters;
}

std::string GuidText(const QuexGuid& g) {
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.data1, g.data2,
                  g.data3, g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6],
                  g.data4[7]);
    return text;
}

std::string HexText(const uint8_t* bytes, size_t count) {
    std::string text;
    char pair[3];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
        text += pair;
    }
    return text;
}

DeviceFields FieldsOf(const QuexDeviceInfo& d, const std::vector<platform::LocalInterface>& interfaces) {
    DeviceFields f;
    f.always = {
        {"ip", platform::FormatIPv4(d.ipAddress)},
        {"mac", FormatMac(d.macAddress)},
        {"model", Text(d.modelName, sizeof d.modelName)},
        {"subnet", platform::FormatIPv4(d.subnetMask)},
        {"gateway", platform::FormatIPv4(d.gateway)},
        {"dhcp", d.dhcpEnabled == 1},
        {"magic", MagicText(d.magic)},
        {"interface", platform::FormatIPv4(d.interfaceAddress)},
        {"interface_name", InterfaceName(interfaces, d.interfaceAddress)},
        {"version", d.version},
    };
    const uint32_t has = d.presentFields;
    if (has & QUEX_PRESENT_VENDOR_GUID) f.present.push_back({"vendor_guid", GuidText(d.vendorGuid)});
    if (has & QUEX_PRESENT_AUX_TEXT) f.present.push_back({"aux_text", Text(d.auxText, sizeof d.auxText)});
    if (has & QUEX_PRESENT_AUX_NUMBER) f.present.push_back({"aux_number", d.auxNumber});
    if (has & QUEX_PRESENT_AUX_ADDRESS)
        f.present.push_back({"aux_address", platform::FormatIPv4(d.auxAddress)});
    if (has & QUEX_PRESENT_AUX_BYTE) f.present.push_back({"aux_byte", d.auxByte});
    if (has & QUEX_PRESENT_AUX_DATA) f.present.push_back({"aux_data", HexText(d.auxData, d.auxDataLength)});
    return f;
}

// A JSON value as a CSV cell: texts as they are, numbers and booleans as JSON writes them.
std::string Cell(const Json& value) { return value.is_string() ? value.get<std::string>() : value.dump(); }

}  // namespace

std::string DiscoverJson(const std::vector<QuexDeviceInfo>& devices,
                         const std::vector<platform::LocalInterface>& interfaces) {
    Json document;
    document["format"] = "kelvoprog-discover/1";
    document["devices"] = Json::array();
    for (const QuexDeviceInfo& device : devices) {
        const DeviceFields fields = FieldsOf(device, interfaces);
        Json object;
        for (const auto& field : fields.always) object[field.first] = field.second;
        for (const auto& field : fields.present) object[field.first] = field.second;
        document["devices"].push_back(object);
    }
    // Device texts may hold any byte: invalid UTF-8 is replaced, never thrown over.
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string DiscoverCsv(const std::vector<QuexDeviceInfo>& devices,
                        const std::vector<platform::LocalInterface>& interfaces) {
    std::string document =
        CsvRow(std::vector<std::string>(std::begin(kColumns), std::end(kColumns))) + "\r\n";
    for (const QuexDeviceInfo& device : devices) {
        const DeviceFields fields = FieldsOf(device, interfaces);
        std::vector<std::string> row;
        for (const char* column : kColumns) {
            std::string cell;
            for (const auto* list : {&fields.always, &fields.present})
                for (const auto& field : *list)
                    if (field.first == column) cell = Cell(field.second);
            row.push_back(cell);
        }
        document += CsvRow(row) + "\r\n";
    }
    return document;
}

}  // namespace kelvo
