// /discover: one search per magic, all at once, one table of every device that answered.
#include "app/discover_table.h"

#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/background_search.h"
#include "app/console.h"
#include "app/discover_document.h"
#include "app/exit_status.h"
#include "app/interface_choice.h"
#include "app/search_settings.h"
#include "platform/ipv4_text.h"
#include "platform/net.h"

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
    // The table goes out as the searches end; the other formats' document
    // likewise, device by device as each is taken.
    const bool table = cmd.format == OutputFormat::Table;
    // Names of the interfaces that will receive the answers, as they stand at the start.
    std::vector<platform::LocalInterface> interfaces;
    if (!table) platform::ListLocalInterfaces(&interfaces);
    DiscoverDocument document = StartDiscoverDocument(cmd.format, std::move(interfaces));
    int32_t total = 0;
    bool headerPrinted = false;
    uint32_t failedSearches = 0;
    std::set<std::string> reasons;  // of the failed searches, each printed once
    bool capped = false;
    // The magics' searches run side by side, one handle each; their results
    // are printed in magic order, as when they ran one after the other.
    QuexHandle handles[2] = {};
    for (uint32_t i = 0; i < UsedMagics(cmd); ++i) handles[i] = OpenLibraryHandle(cmd, cmd.magics[i]);
    BackgroundSearch second;
    if (UsedMagics(cmd) > 1) second.Start(handles[1]);
    for (uint32_t i = 0; i < UsedMagics(cmd); ++i) {
        QuexDeviceInfo device;
        std::memset(&device, 0, sizeof device);
        QuexHandle handle = handles[i];
        if (i == 0) {
            OutLine(kSearchingText);
            OutLine("");
        }
        const int32_t found =
            i == 0 ? QUEXStartSyncSearchEx(handle, kSearchQuietMs, kSearchMaxMs) : second.Result();
        if (found == QUEX_FAILED) {
            // Each reason once, however many searches it stopped.
            const std::string reason = ConsoleSafe(SearchFailure(handle));
            if (reasons.insert(reason).second) ErrFormat("ERROR: Search failed: %s\n", reason.c_str());
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
                    Document(DiscoverDocumentDevice(document, device));
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
    if (!table) Document(DiscoverDocumentEnd(document));
    // Not one search could run: no device was missed by luck, the host cannot search.
    return failedSearches > 0 && failedSearches == UsedMagics(cmd) ? kStatusQueryFailed : kStatusOk;
}

}  // namespace kelvo
