// The local interfaces a run works through, and the handles limited to them.
#include "app/interface_choice.h"

#include <algorithm>

#include "platform/ipv4_text.h"

namespace kelvo {

namespace {

// Adds the addresses that item names: a local address, or every address of
// the interface of that name. False when it names none.
bool AddNamed(const std::string& item, const std::vector<platform::LocalInterface>& local,
              std::vector<bool>* taken) {
    uint32_t address = 0;
    const bool isAddress = platform::ParseIPv4(item.c_str(), &address);
    bool named = false;
    for (size_t i = 0; i < local.size(); ++i) {
        if ((isAddress && local[i].address == address) || local[i].name == item) {
            (*taken)[i] = true;
            named = true;
        }
    }
    return named;
}

}  // namespace

InterfaceChoice ChooseInterfaces(const std::string& value, const std::vector<platform::LocalInterface>& local,
                                 std::vector<uint32_t>* chosen) {
    std::vector<bool> taken(local.size(), false);
    if (!AddNamed(value, local, &taken)) {
        size_t start = 0;
        for (;;) {
            const size_t comma = value.find(',', start);
            const std::string item =
                Trimmed(value.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
            if (item.empty() || !AddNamed(item, local, &taken)) return InterfaceChoice::NotLocal;
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
    }
    chosen->clear();
    for (size_t i = 0; i < local.size(); ++i)
        if (taken[i]) chosen->push_back(local[i].address);
    return chosen->size() > kMaxChosenInterfaces ? InterfaceChoice::TooMany : InterfaceChoice::Chosen;
}

QuexHandle OpenLibraryHandle(const CommandLine& cmd, uint32_t magic) {
    QuexHandle handle = QUEXOpen(magic, &cmd.vendorGuid);
    if (handle == nullptr || cmd.interfaceCount == 0) return handle;
    if (QUEXSetInterfaces(handle, cmd.interfaces, static_cast<int32_t>(cmd.interfaceCount)) == QUEX_OK)
        return handle;
    // A chosen interface has gone since the command line was read.
    QUEXClose(handle);
    return nullptr;
}

std::string InterfaceName(const std::vector<platform::LocalInterface>& local, uint32_t address) {
    const auto holds = [address](const platform::LocalInterface& entry) { return entry.address == address; };
    const auto found = std::find_if(local.begin(), local.end(), holds);
    return found == local.end() ? std::string() : found->name;
}

}  // namespace kelvo
