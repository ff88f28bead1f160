#include "reader/tests/damage.h"

#include <cstring>

#include "common/systemdll.h"
#include "tests/support/testsupport.h"

namespace readertest {

namespace {

// The compiled format: a header of 0x54 bytes whose word at 0x20 counts the types and whose
// flag 0x100 at 0x14 adds one word; one word per type (its entry's offset in the type-info
// table); then the directory of 15 tables of four words each, the type-info table first.
// A type-info entry keeps its member counts at 0x18, functions in the low half.
constexpr size_t kHeaderSize = 0x54;
constexpr size_t kTypeCountAt = 0x20;
constexpr size_t kVarFlagsAt = 0x14;
constexpr uint32_t kHelpDllFlag = 0x100;
constexpr size_t kTables = 15;
constexpr size_t kMemberCountsAt = 0x18;
// The library's first custom-data entry, an offset into the custom-data GUID table (-1: none).
constexpr size_t kCustomDataAt = 0x40;
constexpr size_t kGuidTable = 5;
constexpr size_t kCustomDataGuidTable = 12;

uint32_t Word(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    if (at + 4 <= bytes.size())
        std::memcpy(&value, bytes.data() + at, 4);
    return value;
}

size_t DirectoryOffset(const std::string& bytes) {
    if (bytes.size() < kHeaderSize || bytes.compare(0, 4, "MSFT") != 0)
        return 0;
    uint32_t types = Word(bytes, kTypeCountAt);
    if (types > bytes.size() / 4)
        return 0;
    size_t directory = kHeaderSize + types * 4 + ((Word(bytes, kVarFlagsAt) & kHelpDllFlag) ? 4 : 0);
    return directory + kTables * 16 <= bytes.size() ? directory : 0;
}

} // namespace

std::vector<size_t> HeaderFields(const std::string& bytes) {
    std::vector<size_t> fields;
    size_t directory = DirectoryOffset(bytes);
    if (directory == 0)
        return fields;
    for (size_t at = 4; at < kHeaderSize; at += 4)
        fields.push_back(at);
    for (size_t table = 0; table < kTables; ++table) {
        fields.push_back(directory + table * 16);     // offset
        fields.push_back(directory + table * 16 + 4); // length
    }
    return fields;
}

size_t FunctionCountOffset(const std::string& bytes, uint32_t index) {
    size_t directory = DirectoryOffset(bytes);
    if (directory == 0 || index >= Word(bytes, kTypeCountAt))
        return 0;
    size_t at =
        static_cast<size_t>(Word(bytes, directory)) + Word(bytes, kHeaderSize + index * 4) + kMemberCountsAt;
    return at + 4 <= bytes.size() ? at : 0;
}

std::string WriteSpinner(const std::string& folder) {
    std::string path = folder + "\\spinner.tlb";
    if (FAILED(testsupport::MakeTypeLib(path, testsupport::LibraryRecipe())))
        return std::string();
    std::string bytes = testsupport::ReadFileBytes(path);
    size_t directory = DirectoryOffset(bytes);
    if (directory == 0)
        return std::string();
    // One entry at the end of the file: no GUID found for it, an empty value kept in the entry
    // itself, and itself as the next entry.
    uint32_t entry = static_cast<uint32_t>(bytes.size());
    const uint32_t record[3] = {0xFFFFFFFF, 0x80000000, 0};
    bytes.append(reinterpret_cast<const char*>(record), sizeof record);
    auto set = [&](size_t at, uint32_t value) { std::memcpy(&bytes[at], &value, sizeof value); };
    set(directory + kCustomDataGuidTable * 16, entry);
    set(directory + kCustomDataGuidTable * 16 + 4, sizeof record);
    set(kCustomDataAt, 0);
    set(directory + kGuidTable * 16 + 4, 24 * 1000000);
    testsupport::WriteFileBytes(path, bytes);
    return path;
}

// The made library's bytes that a damaged set found zeroed in a file that takes the loader down.
constexpr size_t kZeroedAt = 2492;
constexpr size_t kZeroedLength = 61;

std::vector<std::string> WriteKnownCrashers(const std::string& folder) {
    std::string made = folder + "\\shapes.tlb";
    if (FAILED(testsupport::MakeTypeLibWithInterfaces(made, testsupport::NewGuid())))
        return {};
    std::string shapes = testsupport::ReadFileBytes(made);
    DeleteFileA(made.c_str());
    std::string counted = shapes;
    size_t count = FunctionCountOffset(counted, 0);
    if (shapes.size() <= 33 || count == 0 || counted[count] != 6) // IShapes has six methods
        return {};
    counted[count] = static_cast<char>(244);
    std::string stdole2 = testsupport::ReadFileBytes(SystemFolderFile("stdole2.tlb"));
    std::string stdole32 = testsupport::ReadFileBytes(SystemFolderFile("stdole32.tlb"));
    if (stdole2.size() <= 6469 || stdole32.size() <= 5592)
        return {};
    // Under Wine this one ends the loading thread alone ("wine client error: ... Bad address"),
    // not the process.
    std::string zeroed = shapes;
    if (zeroed.size() < kZeroedAt + kZeroedLength)
        return {};
    zeroed.replace(kZeroedAt, kZeroedLength, kZeroedLength, '\0');
    const std::pair<const char*, std::string> damages[] = {
        {"shapes-cut-by-33.tlb", shapes.substr(0, shapes.size() - 33)}, {"shapes-zeroed.tlb", zeroed},
        {"stdole2-cut-to-6469.tlb", stdole2.substr(0, 6469)},           {"shapes-244-functions.tlb", counted},
        {"stdole32-cut-to-5592.tlb", stdole32.substr(0, 5592)},
    };
    std::vector<std::string> paths;
    for (const auto& damage : damages) {
        paths.push_back(folder + "\\" + damage.first);
        testsupport::WriteFileBytes(paths.back(), damage.second);
    }
    return paths;
}

} // namespace readertest
