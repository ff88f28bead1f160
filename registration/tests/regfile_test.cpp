// The .reg rendering of a registry tree, with regedit's own export of the same keys as the
// expected bytes (every type, REG_SZ being the one registration writes); the few forms written
// differently on purpose; and moving a registration to the folder it will have on the target
// machine.
#include <gtest/gtest.h>

#include "common/owners.h"
#include "common/text.h"
#include "registration/regfile.h"
#include "tests/support/driver.h"
#include "tests/support/testsupport.h"

using namespace testsupport;

namespace {

RegistryValue Value(const std::wstring& name, DWORD type, const void* data, size_t size) {
    const BYTE* bytes = static_cast<const BYTE*>(data);
    return RegistryValue{name, type, std::vector<BYTE>(bytes, bytes + size)};
}

RegistryValue Text(const std::wstring& name, const std::wstring& text, DWORD type = REG_SZ) {
    return Value(name, type, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
}

// The file regedit writes for one key and everything below it.
std::string RegeditExport(const std::string& keyName) {
    TempFolder folder;
    std::string file = folder.File("export.reg");
    driver::ChildRun run = driver::RunProgram("regedit.exe", {"/e", file, keyName});
    EXPECT_EQ(run.exitCode, 0u) << "regedit /e " << keyName;
    return ReadFileBytes(file);
}

} // namespace

TEST(RegFile, EveryValueTypeIsWrittenAsRegeditExportsIt) {
    std::vector<BYTE> bytes(100);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<BYTE>(i * 7);
    const wchar_t multi[] = L"first\0second\0";
    DWORD number = 0x0012ABCD;
    ULONGLONG wide = 0x0102030405060708ULL;
    std::vector<RegistryValue> values = {
        Text(L"", L"default"),
        Text(L"quote \" and \\ in a name", L"C:\\Libs\\\"Shapes\".tlb"),
        Text(L"empty", L""),
        Text(L"unicode \u00e9", L"caf\u00e9 \u4e2d\u6587"),
        Text(L"expand", L"%SystemRoot%\\system32\\a folder deep enough to wrap\\library.dll", REG_EXPAND_SZ),
        Value(L"multi", REG_MULTI_SZ, multi, sizeof multi),
        Value(L"dword", REG_DWORD, &number, sizeof number),
        Value(L"qword", REG_QWORD, &wide, sizeof wide),
        Value(L"empty binary", REG_BINARY, bytes.data(), 0),
        Value(L"none", REG_NONE, bytes.data(), 5),
        Value(L"own type", 0x12345, bytes.data(), 3),
    };
    // Names of every length modulo three put the first line break after each possible byte; a
    // name longer than a line breaks it after the first byte.
    for (const std::wstring& name :
         {std::wstring(L"b"), std::wstring(L"bb"), std::wstring(L"bbb"), std::wstring(80, L'n')})
        values.push_back(Value(name, REG_BINARY, bytes.data(), bytes.size()));

    const std::string path = "Software\\Corvane regfile test " + GuidAnsi(NewGuid());
    RegKey sandbox;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              sandbox.Put(), nullptr),
              ERROR_SUCCESS);
    for (const RegistryValue& value : values)
        EXPECT_EQ(RegSetValueExW(sandbox.Get(), value.name.c_str(), 0, value.type, value.data.data(),
                                 static_cast<DWORD>(value.data.size())),
                  ERROR_SUCCESS)
            << ToAnsi(value.name);
    for (const char* subkey : {"Sub Key\\Deeper", "a", "B", "_c"}) {
        RegKey created;
        EXPECT_EQ(
            RegCreateKeyExA(sandbox.Get(), subkey, 0, nullptr, 0, KEY_WRITE, nullptr, created.Put(), nullptr),
            ERROR_SUCCESS);
    }

    RegistryTree tree;
    EXPECT_EQ(ReadRegistryTree(HKEY_CURRENT_USER, ToWide(path), tree), ERROR_SUCCESS);
    std::wstring ours = RegFileText(tree, L"HKEY_CURRENT_USER");
    EXPECT_EQ(RegFileBytes(ours), RegeditExport("HKEY_CURRENT_USER\\" + path)) << "ours:\n" << ToAnsi(ours);
    sandbox.Reset();
    RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str());
}

// Where a value's data cannot be written as text that gives back the same data on import, it
// is written as bytes, which every regedit imports unchanged. Wine's regedit writes these
// differently: the text up to the first NUL, "\n" escapes that Windows' regedit does not read
// back, or four bytes of a shorter DWORD.
TEST(RegFile, DataThatTextWouldNotGiveBackIsWrittenAsBytes) {
    const char odd[] = {'a', 'b', 'c'};
    const wchar_t embedded[] = L"a\0b";
    const wchar_t lineBreak[] = L"a\r\nb";
    WORD shortNumber = 0xABCD;
    struct Case {
        RegistryValue value;
        std::wstring line;
    } cases[] = {
        {Value(L"odd", REG_SZ, odd, sizeof odd), L"\"odd\"=hex(1):61,62,63"},
        {Value(L"nul", REG_SZ, embedded, sizeof embedded), L"\"nul\"=hex(1):61,00,00,00,62,00,00,00"},
        {Value(L"", REG_SZ, lineBreak, sizeof lineBreak), L"@=hex(1):61,00,0d,00,0a,00,62,00,00,00"},
        {Value(L"short", REG_DWORD, &shortNumber, sizeof shortNumber), L"\"short\"=hex(4):cd,ab"},
        {Value(L"unterminated", REG_SZ, L"ab", 4), L"\"unterminated\"=\"ab\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToAnsi(c.line));
        std::wstring text = RegFileText({RegistryKeyEntry{L"Key", {c.value}}}, L"HKEY_CLASSES_ROOT");
        EXPECT_EQ(text, L"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CLASSES_ROOT\\Key]\r\n" + c.line +
                            L"\r\n\r\n");
    }
}

TEST(RegFile, RelocationMovesEveryPathInTheLibraryFolderAndNothingElse) {
    struct Case {
        std::wstring before;
        std::wstring after;
    } cases[] = {
        {L"C:\\Build\\out\\Shapes.tlb", L"D:\\Program Files\\Shapes\\Shapes.tlb"},
        {L"c:\\build\\OUT\\shapes.dll\\2", L"D:\\Program Files\\Shapes\\shapes.dll\\2"},
        {L"C:\\Build\\out", L"D:\\Program Files\\Shapes"},
        {L"C:\\Build\\out\\", L"D:\\Program Files\\Shapes"},
        {L"C:\\Build\\output\\Shapes.tlb", L"C:\\Build\\output\\Shapes.tlb"},
        {L"C:\\Build", L"C:\\Build"},
        {L"Shapes Library", L"Shapes Library"},
    };
    RegistryTree tree(1);
    for (const Case& c : cases)
        tree[0].values.push_back(Text(L"", c.before));
    DWORD number = 0;
    tree[0].values.push_back(Value(L"dword", REG_DWORD, &number, sizeof number));

    EXPECT_EQ(RelocateFolder(tree, L"C:\\Build\\Out\\", L"D:\\Program Files\\Shapes\\"), 4u);
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(tree[0].values[i].data, Text(L"", cases[i].after).data) << ToAnsi(cases[i].before);
    EXPECT_EQ(tree[0].values.back().data, std::vector<BYTE>(4, 0));
}
