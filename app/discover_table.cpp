// /discover: one search per magic, one table of every device that answered.
#include "app/discover_table.h"

#include <cstring>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/discover_document.h"
#include "app/exit_status.h"
#include "app/search_settings.h"
#include "platform/ipv4_text.h"

namespace kelvo {

namespace {

const char kTableRule[] = "-----------------+-------------------+------------------------------";

void PrintRow(const QuexDeviceInfo& device) {
    const std::string address = platform::FormatIPv4(device.ipAddress);
    const std::string mac = FormatMac(device.macAddress);
    const std::string model(device.modelName, strnlen(device.modelName, sizeof device.modelName));
    OutFormat(" %15s | %17s | %s\n", address.c_str(), mac.c_str(), ConsoleSafe(model).c_str());
}

// Why a search failed, as the library put it.
std::string SearchFailure(QuexHandle handle) {
    char reason[256] = {};
    if (QUEXGetLastErrorMessage(handle, reason, sizeof reason) != QUEX_OK)
        return "No library handle could be opened";
    return reason;
}

}  // namespace

int DiscoverDevices(const CommandLine& cmd) {
    // The table goes out as the searches end; the other formats are one
    // document of every device, written at the end.
    const bool table = cmd.format == OutputFormat::Table;
    std::vector<QuexDeviceInfo> listed;
    int32_t total = 0;
    bool headerPrinted = false;
    uint32_t failedSearches = 0;
    bool capped = false;
    for (uint32_t i = 0; i < UsedMagics(cmd); ++i) {
        QuexDeviceInfo device;
        std::memset(&device, 0, sizeof device);
        QuexHandle handle = QUEXOpen(cmd.magics[i], &cmd.vendorGuid);
        if (i == 0) {
            OutLine(kSearchingText);
            OutLine("");
        }
        const int32_t found = QUEXStartSyncSearchEx(handle, kSearchQuietMs, kSearchMaxMs);
        if (found == QUEX_FAILED) {
            ErrFormat("ERROR: Search failed: %s\n", SearchFailure(handle).c_str());
            ++failedSearches;
        }
        // The library keeps no more: devices beyond were not recorded.
        if (found == QUEX_MAX_SEARCH_RESULTS) capped = true;
        if (found != 0) {
            if (table && !headerPrinted) {
                OutLine(" IP Address      | MAC Address       | Model");
                OutLine(kTableRule);
                headerPrinted = true;
            }
            for (int32_t n = 0; n < found; ++n) {
                if (QUEXGetSearchResults(handle, &device, 1) == QUEX_FAILED) continue;
                if (table)
                    PrintRow(device);
                else
                    listed.push_back(device);
            }
            if (found > 0) total += found;
        }
        QUEXClose(handle);
    }
    if (headerPrinted) OutLine(kTableRule);
    OutFormat("%d device%sfound.\n", total, total == 1 ? " " : "s ");
    if (capped)
        ErrFormat("WARNING: The search stopped at %d devices; further devices were not recorded.\n",
                  QUEX_MAX_SEARCH_RESULTS);
    if (cmd.format == OutputFormat::Json) Document(DiscoverJson(listed));
    if (cmd.format == OutputFormat::Csv) Document(DiscoverCsv(listed));
    // Not one search could run: no device was missed by luck, the host cannot search.
    return failedSearches > 0 && failedSearches == UsedMagics(cmd) ? kStatusQueryFailed : kStatusOk;
}

}  // namespace kelvo
