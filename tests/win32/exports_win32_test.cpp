// The entry points are exported by name from quex.dll and from
// kelvoprog.exe, and nothing else is: read from the files' export tables.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <quex/quex.h>
#include "tests/win32/wine_support.h"

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

template <typename T>
bool ReadAt(const std::vector<char>& file, size_t offset, T* value) {
    if (offset > file.size() || file.size() - offset < sizeof(T)) return false;
    std::memcpy(value, file.data() + offset, sizeof(T));
    return true;
}

// Names in the export directory of a PE32+ file; false with a reason when
// the file is not one.
bool ExportedNames(const std::string& path, std::set<std::string>* names, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot open " + path;
        return false;
    }
    const std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    IMAGE_DOS_HEADER dos;
    IMAGE_NT_HEADERS64 nt;
    if (!ReadAt(file, 0, &dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || !ReadAt(file, dos.e_lfanew, &nt) ||
        nt.Signature != IMAGE_NT_SIGNATURE || nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        *error = path + " is not a PE32+ file";
        return false;
    }
    const size_t sections =
        dos.e_lfanew + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) + nt.FileHeader.SizeOfOptionalHeader;
    // RVA to file offset through the section table.
    auto offsetOf = [&](DWORD rva, size_t* offset) {
        for (WORD i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
            IMAGE_SECTION_HEADER section;
            if (!ReadAt(file, sections + i * sizeof section, &section)) return false;
            const DWORD size = section.Misc.VirtualSize > section.SizeOfRawData ? section.Misc.VirtualSize
                                                                                : section.SizeOfRawData;
            if (rva >= section.VirtualAddress && rva < section.VirtualAddress + size) {
                *offset = rva - section.VirtualAddress + section.PointerToRawData;
                return true;
            }
        }
        return false;
    };
    const IMAGE_DATA_DIRECTORY directory = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (directory.VirtualAddress == 0) return true;  // exports nothing
    size_t exportsAt = 0;
    IMAGE_EXPORT_DIRECTORY exports;
    if (!offsetOf(directory.VirtualAddress, &exportsAt) || !ReadAt(file, exportsAt, &exports)) {
        *error = "bad export directory in " + path;
        return false;
    }
    size_t namesAt = 0;
    if (exports.NumberOfNames > 0 && !offsetOf(exports.AddressOfNames, &namesAt)) {
        *error = "bad name table in " + path;
        return false;
    }
    for (DWORD i = 0; i < exports.NumberOfNames; ++i) {
        DWORD nameRva = 0;
        size_t nameAt = 0;
        if (!ReadAt(file, namesAt + i * sizeof nameRva, &nameRva) || !offsetOf(nameRva, &nameAt)) {
            *error = "bad name entry in " + path;
            return false;
        }
        std::string name;
        while (nameAt < file.size() && file[nameAt] != '\0') name += file[nameAt++];
        names->insert(name);
    }
    // Every export is a named one: nothing is exported by ordinal alone.
    if (exports.NumberOfFunctions != exports.NumberOfNames) {
        *error = path + " exports " + std::to_string(exports.NumberOfFunctions) + " functions but names " +
                 std::to_string(exports.NumberOfNames);
        return false;
    }
    return true;
}

void ExpectExactlyTheEntryPoints(const std::string& path) {
    std::set<std::string> names;
    std::string error;
    ASSERT_TRUE(ExportedNames(path, &names, &error)) << error;
    EXPECT_EQ(kEntryPoints, names) << path;
}

TEST(ExportsWin32, ExecutableExportsExactlyTheEntryPoints) {
    ExpectExactlyTheEntryPoints(std::string(KELVO_BINARY_DIR) + "/kelvoprog.exe");
}

TEST(ExportsWin32, LibraryExportsExactlyTheEntryPoints) {
    ExpectExactlyTheEntryPoints(std::string(KELVO_BINARY_DIR) + "/quex/quex.dll");
}

// GetProcAddress's generic pointer as the entry point's real type.
template <typename Function>
Function Entry(HMODULE module, const char* name) {
    const FARPROC found = GetProcAddress(module, name);
    Function typed;
    static_assert(sizeof typed == sizeof found, "function pointers differ in size");
    std::memcpy(&typed, &found, sizeof typed);
    return typed;
}

// The DLL loads on its own (no MinGW runtime DLLs beside it) and its entry
// points answer through GetProcAddress.
TEST(ExportsWin32, LibraryLoadsAndAnswersThroughItsExports) {
    const std::string path = std::string(KELVO_BINARY_DIR) + "/quex/quex.dll";
    HMODULE module = LoadLibraryA(path.c_str());
    ASSERT_NE(nullptr, module) << "LoadLibrary failed with " << GetLastError();
    for (const std::string& name : kEntryPoints)
        EXPECT_NE(nullptr, reinterpret_cast<void*>(GetProcAddress(module, name.c_str()))) << name;
    auto open = Entry<decltype(&QUEXOpen)>(module, "QUEXOpen");
    auto close = Entry<decltype(&QUEXClose)>(module, "QUEXClose");
    auto lastError = Entry<decltype(&QUEXGetLastError)>(module, "QUEXGetLastError");
    auto message = Entry<decltype(&QUEXGetLastErrorMessage)>(module, "QUEXGetLastErrorMessage");
    ASSERT_TRUE(open && close && lastError && message);
    EXPECT_EQ(nullptr, open(0x54454C51, nullptr));
    const QuexGuid guid = {0xD4A17F3B, 0x2E8C, 0x4B61, {0x9F, 0x05, 0x6C, 0x3A, 0x8E, 0x1B, 0x72, 0xD4}};
    QuexHandle handle = open(0x54454C51, &guid);
    ASSERT_NE(nullptr, handle);
    EXPECT_EQ(0, lastError(handle));
    char text[10];
    EXPECT_EQ(0, message(handle, text, sizeof text));
    EXPECT_STREQ("Operation", text);
    EXPECT_EQ(0, close(handle));
    EXPECT_EQ(-1, lastError(handle));
    FreeLibrary(module);
}

}  // namespace
