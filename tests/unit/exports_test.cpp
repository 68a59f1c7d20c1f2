// The entry points are exported by name from libquex.so and from
// kelvoprog, and nothing else of ours is.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

namespace {

const std::set<std::string> kEntryPoints = {
    "QUEXOpen",
    "QUEXOpenByGuid",
    "QUEXClose",
    "QUEXGetLastError",
    "QUEXGetLastErrorMessage",
    "QUEXStartSyncSearch",
    "QUEXStartSyncSearchEx",
    "QUEXStartAsyncSearchCallback",
    "QUEXStartAsyncSearchMessage",
    "QUEXStartAsyncSearchEvent",
    "QUEXGetSearchResultCount",
    "QUEXGetSearchResults",
    "QUEXStopSearch",
    "QUEXGetDeviceInfo",
    "QUEXRebootDevice",
    "QUEXSetNetwork",
    "QUEXSetDHCP",
    "QUEXSetInterfaces",
    "QUEXSetDeviceInfoTimeout",
};

bool Exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

// Symbols that the linker, the C library or a sanitizer runtime puts there.
bool IsToolchainSymbol(const std::string& name) {
    static const std::set<std::string> linker = {
        "_init",          "_fini",        "_edata",     "_end",         "__bss_start",
        "_IO_stdin_used", "__data_start", "data_start", "__dso_handle", "_start"};
    if (linker.count(name) != 0) return true;
    if (name.find('@') != std::string::npos) return true;  // versioned: libc, libstdc++
    for (const char* prefix : {"__asan", "__ubsan", "__tsan", "__lsan", "__sanitizer", "__interceptor"})
        if (name.rfind(prefix, 0) == 0) return true;
    return false;
}

// Runs a command and returns its standard output; false when it failed.
bool Run(const std::string& command, std::string* output) {
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return false;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) output->append(chunk, got);
    return pclose(pipe) == 0;
}

// The dynamic symbols a binary defines, from nm, version suffixes dropped
// when stripVersion is set.
bool DefinedDynamicSymbols(const std::string& path, bool stripVersion, std::set<std::string>* names,
                           std::string* error) {
    std::string output;
    if (!Run("nm -D --defined-only '" + path + "' 2>&1", &output)) {
        *error = "nm failed on " + path + ": " + output;
        return false;
    }
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (!(fields >> address >> type >> name)) {
            if (!line.empty()) names->insert(line);  // reported as it is
            continue;
        }
        if (stripVersion) name = name.substr(0, name.find('@'));
        names->insert(name);
    }
    return true;
}

void ExpectExactlyTheEntryPoints(const std::string& path) {
    std::set<std::string> names;
    std::string error;
    ASSERT_TRUE(DefinedDynamicSymbols(path, false, &names, &error)) << error;
    std::set<std::string> ours;
    for (const std::string& name : names)
        if (!IsToolchainSymbol(name)) ours.insert(name);
    std::set<std::string> missing, extra;
    for (const std::string& name : kEntryPoints)
        if (ours.count(name) == 0) missing.insert(name);
    for (const std::string& name : ours)
        if (kEntryPoints.count(name) == 0) extra.insert(name);
    std::string report;
    for (const std::string& name : missing) report += " missing:" + name;
    for (const std::string& name : extra) report += " extra:" + name;
    EXPECT_TRUE(missing.empty() && extra.empty()) << path << report;
}

TEST(ExportsTest, SharedLibraryExportsExactlyTheEntryPoints) {
    const std::string path = std::string(KELVO_BINARY_DIR) + "/quex/libquex.so";
    ASSERT_TRUE(Exists(path)) << path << " is not built (target quex_shared)";
    ExpectExactlyTheEntryPoints(path);
}

TEST(ExportsTest, ExecutableExportsExactlyTheEntryPoints) {
    const std::string path = std::string(KELVO_BINARY_DIR) + "/kelvoprog";
    ASSERT_TRUE(Exists(path)) << path << " is not built";
    ExpectExactlyTheEntryPoints(path);
}

}  // namespace
