// The machine-readable forms of /discover's device list, made device by device.
#include "app/discover_document.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include <nlohmann/json.hpp>

#include "app/command_line.h"
#include "app/csv_row.h"
#include "app/discover_columns.h"
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
        {"model", ValidUtf8(Text(d.modelName, sizeof d.modelName))},
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
    if (has & QUEX_PRESENT_AUX_TEXT)
        f.present.push_back({"aux_text", ValidUtf8(Text(d.auxText, sizeof d.auxText))});
    if (has & QUEX_PRESENT_AUX_NUMBER) f.present.push_back({"aux_number", d.auxNumber});
    if (has & QUEX_PRESENT_AUX_ADDRESS)
        f.present.push_back({"aux_address", platform::FormatIPv4(d.auxAddress)});
    if (has & QUEX_PRESENT_AUX_BYTE) f.present.push_back({"aux_byte", d.auxByte});
    if (has & QUEX_PRESENT_AUX_DATA) f.present.push_back({"aux_data", HexText(d.auxData, d.auxDataLength)});
    return f;
}

// A JSON value as a CSV cell: a device's text guarded for spreadsheets,
// numbers and booleans as JSON writes them, the front end's own texts
// (addresses, MACs, the GUID, hexadecimal) as they are.
std::string Cell(const std::string& column, const Json& value) {
    if (!value.is_string()) return value.dump();
    const std::string text = value.get<std::string>();
    return column == "model" || column == "aux_text" || column == "magic" || column == "interface_name"
               ? CsvTextCell(text)
               : text;
}

// The document's first lines, up to the devices' list.
std::string Opening(OutputFormat format) {
    if (format == OutputFormat::Csv)
        return CsvRow(std::vector<std::string>(std::begin(kDiscoverColumns), std::end(kDiscoverColumns))) +
               "\r\n";
    return "{\n  \"format\": \"kelvoprog-discover/1\",\n  \"devices\": [";
}

// One device as an element of the pretty-printed list: its object as the
// JSON writer prints it, every line indented to the list's depth.
std::string JsonElement(const QuexDeviceInfo& device,
                        const std::vector<platform::LocalInterface>& interfaces) {
    const DeviceFields fields = FieldsOf(device, interfaces);
    Json object;
    for (const auto& field : fields.always) object[field.first] = field.second;
    for (const auto& field : fields.present) object[field.first] = field.second;
    // Device texts may hold any byte: invalid UTF-8 is replaced, never thrown over.
    const std::string text = object.dump(2, ' ', false, Json::error_handler_t::replace);
    std::string element = "    ";
    for (char c : text) {
        element += c;
        if (c == '\n') element += "    ";  // string values hold no raw line end: JSON escapes it
    }
    return element;
}

std::string CsvLine(const QuexDeviceInfo& device, const std::vector<platform::LocalInterface>& interfaces) {
    const DeviceFields fields = FieldsOf(device, interfaces);
    std::vector<std::string> row;
    for (const char* column : kDiscoverColumns) {
        std::string cell;
        for (const auto* list : {&fields.always, &fields.present})
            for (const auto& field : *list)
                if (field.first == column) cell = Cell(column, field.second);
        row.push_back(cell);
    }
    return CsvRow(row) + "\r\n";
}

}  // namespace

DiscoverDocument StartDiscoverDocument(OutputFormat format,
                                       std::vector<platform::LocalInterface> interfaces) {
    return DiscoverDocument{format, 0, std::move(interfaces)};
}

std::string DiscoverDocumentDevice(DiscoverDocument& document, const QuexDeviceInfo& device) {
    const bool first = document.devices++ == 0;
    if (document.format == OutputFormat::Csv)
        return (first ? Opening(document.format) : "") + CsvLine(device, document.interfaces);
    return (first ? Opening(document.format) + "\n" : ",\n") + JsonElement(device, document.interfaces);
}

std::string DiscoverDocumentEnd(const DiscoverDocument& document) {
    const bool none = document.devices == 0;
    if (document.format == OutputFormat::Csv) return none ? Opening(document.format) : "";
    return none ? Opening(document.format) + "]\n}\n" : "\n  ]\n}\n";
}

}  // namespace kelvo
