// corvane-cli.exe end to end: the program runs as a child process in the test prefix, on
// libraries made here with private GUIDs; its output, exit code and the registry are checked.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <algorithm>
#include <cstring>
#include <set>

#include "cli/arguments.h"
#include "common/owners.h"
#include "common/registrytext.h"
#include "common/text.h"
#include "reader/tests/damage.h"
#include "registration/regfile.h"
#include "tests/support/driver.h"
#include "tests/support/testsupport.h"

using nlohmann::json;
using namespace testsupport;

namespace {

using driver::ChildRun;

// Runs corvane-cli.exe with args in folder (empty: this process's folder), for at most a minute.
ChildRun RunCli(const std::vector<std::string>& args, const std::string& folder = std::string()) {
    return driver::RunProgram(BesideTests("corvane-cli.exe"), args, folder, 60000);
}

std::string Describe(const ChildRun& run) {
    return "exit " + std::to_string(run.exitCode) + "\n--- stdout ---\n" + run.out + "--- stderr ---\n" +
           run.err;
}

json ParseJson(const ChildRun& run) {
    json document = json::parse(run.out, nullptr, false);
    EXPECT_FALSE(document.is_discarded()) << "not one JSON document:\n" << Describe(run);
    return document;
}

std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

// The path registered for locale 0, win32, of version 1.0; "" when absent.
bool RegisteredPath(const GUID& guid, std::string& path, const std::string& version = "1.0") {
    std::optional<std::string> value = ReadRegistryText(
        HKEY_CLASSES_ROOT, "TypeLib\\" + GuidAnsi(guid) + "\\" + version + "\\0\\win32", nullptr);
    path = value.value_or("");
    return value.has_value();
}

std::set<std::string> BrokenGuids() {
    ChildRun run = RunCli({"list", "--broken", "--json"});
    std::set<std::string> guids;
    json document = ParseJson(run);
    if (!document.is_object())
        return guids;
    for (const json& library : document["libraries"])
        guids.insert(library["guid"].get<std::string>());
    return guids;
}

// A library in a folder whose name has a blank, and a second folder for its copy; every key
// under the private GUID is removed at the end.
class CliProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = temp_.File("lib folder");
        otherFolder_ = temp_.File("other place");
        CreateDirectoryA(folder_.c_str(), nullptr);
        CreateDirectoryA(otherFolder_.c_str(), nullptr);
        spec_.name = "CliLib";
        spec_.description = "Corvane CLI test library";
        library_ = folder_ + "\\cli lib.tlb";
        copy_ = otherFolder_ + "\\cli lib.tlb";
        ASSERT_EQ(MakeTypeLib(library_, spec_), S_OK);
        ASSERT_TRUE(CopyFileA(library_.c_str(), copy_.c_str(), FALSE));
        guid_ = GuidAnsi(spec_.guid);
        DeleteTypeLibKey(spec_.guid);
    }
    void TearDown() override { DeleteTypeLibKey(spec_.guid); }

    ComApartment apartment_;
    TempFolder temp_;
    LibraryRecipe spec_;
    std::string folder_, otherFolder_, library_, copy_, guid_;
};

TEST_F(CliProgram, ANewLibraryIsNotRegisteredAndUnregisteringItIsASuccessThatChangesNothing) {
    ChildRun status = RunCli({"status", library_});
    EXPECT_EQ(status.exitCode, 1u) << Describe(status);
    EXPECT_EQ(status.out, "not registered: " + guid_ + " 1.0\n") << Describe(status);

    ChildRun info = RunCli({"info", library_});
    EXPECT_EQ(info.exitCode, 0u) << Describe(info);
    EXPECT_NE(info.out.find("Status:       not registered\n"), std::string::npos) << info.out;
    for (const char* branch : {"HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"})
        EXPECT_NE(info.out.find("Registry:     nothing under " + std::string(branch) +
                                "\\Software\\Classes\\TypeLib\\" + guid_ + "\\1.0\n"),
                  std::string::npos)
            << info.out;

    ChildRun unregister = RunCli({"unregister", library_});
    EXPECT_EQ(unregister.exitCode, 0u) << Describe(unregister);
    EXPECT_EQ(unregister.out, "not registered, nothing to remove: " + guid_ + " 1.0 lcid 0 win32\n");
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "TypeLib\\" + guid_)) << "unregistering nothing created a key";
}

TEST_F(CliProgram, RegisterAndUnregisterAreSafeToRunTwice) {
    ChildRun first = RunCli({"register", library_});
    ASSERT_EQ(first.exitCode, 0u) << Describe(first);
    EXPECT_EQ(first.out, "registered: " + guid_ + " 1.0 lcid 0 win32 -> " + library_ + "\n");
    std::string path;
    ASSERT_TRUE(RegisteredPath(spec_.guid, path)) << "no 0\\win32 key after register";
    EXPECT_EQ(path, library_);

    ChildRun status = RunCli({"status", library_});
    EXPECT_EQ(status.exitCode, 0u) << Describe(status);
    EXPECT_EQ(status.out, "registered: " + guid_ + " 1.0 -> " + library_ + " (machine)\n");

    ChildRun second = RunCli({"register", library_});
    EXPECT_EQ(second.exitCode, 0u) << Describe(second);
    EXPECT_EQ(second.out,
              "already registered to this file: " + guid_ + " 1.0 lcid 0 win32 -> " + library_ + "\n");

    ChildRun removed = RunCli({"unregister", library_});
    EXPECT_EQ(removed.exitCode, 0u) << Describe(removed);
    EXPECT_EQ(removed.out, "unregistered: " + guid_ + " 1.0 lcid 0 win32 (it named " + library_ + ")\n");
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "TypeLib\\" + guid_ + "\\1.0"))
        << "version key left after unregister";

    ChildRun again = RunCli({"unregister", library_});
    EXPECT_EQ(again.exitCode, 0u) << Describe(again);
    EXPECT_EQ(FirstLine(again.out), "not registered, nothing to remove: " + guid_ + " 1.0 lcid 0 win32");
    EXPECT_EQ(RunCli({"status", library_}).exitCode, 1u);
}

TEST_F(CliProgram, ARelativePathIsRegisteredAsTheFullPathAndComparedByFileIdentity) {
    ChildRun registered = RunCli({"register", "cli lib.tlb"}, folder_);
    ASSERT_EQ(registered.exitCode, 0u) << Describe(registered);
    std::string path;
    ASSERT_TRUE(RegisteredPath(spec_.guid, path));
    EXPECT_EQ(path, library_) << "the registry must hold the full path";

    // Other spellings of the same file: another case, a detour through "..", a relative path.
    std::string upper = library_;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    for (const std::string& spelling : {upper, otherFolder_ + "\\..\\lib folder\\cli lib.tlb"}) {
        SCOPED_TRACE(spelling);
        ChildRun status = RunCli({"status", spelling});
        EXPECT_EQ(status.exitCode, 0u) << Describe(status);
    }
    ChildRun relative = RunCli({"status", "..\\lib folder\\cli lib.tlb"}, otherFolder_);
    EXPECT_EQ(relative.exitCode, 0u) << Describe(relative);
}

TEST_F(CliProgram, ARegistrationOfACopyElsewhereIsReportedAndReplacedByRegisteringThisFile) {
    ASSERT_EQ(RunCli({"register", copy_}).exitCode, 0u);

    ChildRun status = RunCli({"status", library_});
    EXPECT_EQ(status.exitCode, 3u) << Describe(status);
    EXPECT_EQ(status.out, "registered to another file: " + guid_ + " 1.0 -> " + copy_ + " (machine)\n");

    ChildRun info = RunCli({"info", library_});
    EXPECT_NE(info.out.find("  0\\win32:        " + copy_ + " (another file)\n"), std::string::npos)
        << info.out;

    ChildRun replaced = RunCli({"register", library_});
    EXPECT_EQ(replaced.exitCode, 0u) << Describe(replaced);
    EXPECT_EQ(replaced.out, "registered: " + guid_ + " 1.0 lcid 0 win32 -> " + library_ + " (it named " +
                                copy_ + " before)\n");
    EXPECT_EQ(RunCli({"status", library_}).exitCode, 0u);
    EXPECT_EQ(RunCli({"status", copy_}).exitCode, 3u);
}

TEST_F(CliProgram, ARegistrationWhoseFileIsGoneIsListedAsBrokenAndRemovedByIdentity) {
    std::set<std::string> brokenBefore = BrokenGuids();
    ASSERT_EQ(RunCli({"register", copy_}).exitCode, 0u);
    ASSERT_TRUE(DeleteFileA(copy_.c_str()));

    ChildRun status = RunCli({"status", library_});
    EXPECT_EQ(status.exitCode, 3u) << Describe(status);
    EXPECT_EQ(status.out, "registered to a missing file: " + guid_ + " 1.0 -> " + copy_ + " (machine)\n");

    std::set<std::string> brokenNow = BrokenGuids();
    std::set<std::string> planted;
    for (const std::string& guid : brokenNow)
        if (!brokenBefore.count(guid))
            planted.insert(guid);
    EXPECT_EQ(planted, std::set<std::string>{guid_})
        << "list --broken must find exactly the planted leftover";

    ChildRun text = RunCli({"list", "--broken"});
    EXPECT_NE(text.out.find(guid_ + "  1.0  Corvane CLI test library  (machine)\n    0\\win32:  " + copy_ +
                            "  [missing]\n"
                            "    remove: corvane-cli unregister --guid " +
                            guid_ + " --version 1.0 --lcid 0 --syskind win32\n"),
              std::string::npos)
        << text.out;

    // UnRegisterTypeLib loads the registered file to learn which interfaces it registered, so
    // with the file gone it would fail (seen under Wine: TYPE_E_INVALIDSTATE) and is not asked;
    // the program deletes the identity's keys itself and says so.
    ChildRun removed =
        RunCli({"unregister", "--guid", guid_, "--version", "1.0", "--lcid", "0", "--syskind", "win32"});
    EXPECT_EQ(removed.exitCode, 0u) << Describe(removed);
    EXPECT_EQ(removed.out.rfind("unregistered: " + guid_ + " 1.0 lcid 0 win32 (it named " + copy_ + ")", 0),
              0u)
        << removed.out;
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "TypeLib\\" + guid_))
        << "nothing else was registered under the GUID";
    EXPECT_EQ(BrokenGuids().count(guid_), 0u);

    ChildRun again = RunCli({"unregister", "--guid", guid_, "--version", "1.0"});
    EXPECT_EQ(again.exitCode, 0u) << Describe(again);
    EXPECT_EQ(FirstLine(again.out), "not registered, nothing to remove: " + guid_ + " 1.0 lcid 0 win32");
}

// A registration naming another file, even a missing one, is that file's: unregistering this
// one leaves it, and says how to remove it on purpose.
TEST_F(CliProgram, UnregisteringAFileLeavesARegistrationOfAnotherFileEvenWhenThatFileIsGone) {
    ASSERT_EQ(RunCli({"register", copy_}).exitCode, 0u);
    ASSERT_TRUE(DeleteFileA(copy_.c_str()));
    ChildRun refused = RunCli({"unregister", library_});
    EXPECT_EQ(refused.exitCode, 2u) << Describe(refused);
    EXPECT_EQ(refused.err, "corvane-cli: " + guid_ + " 1.0 lcid 0 win32 is registered to '" + copy_ +
                               "', not to '" + library_ +
                               "'; nothing was changed. To remove that registration: corvane-cli "
                               "unregister --guid " +
                               guid_ + " --version 1.0 --lcid 0 --syskind win32\n");
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "TypeLib\\" + guid_ + "\\1.0"));
}

TEST_F(CliProgram, UnregisteringByIdentityAfterTheFileWasDeletedKeepsOtherVersions) {
    LibraryRecipe second = spec_;
    second.minor = 1;
    std::string secondFile = folder_ + "\\second.tlb";
    ASSERT_EQ(MakeTypeLib(secondFile, second), S_OK);
    ASSERT_EQ(RunCli({"register", library_}).exitCode, 0u);
    ASSERT_EQ(RunCli({"register", secondFile}).exitCode, 0u);
    ASSERT_TRUE(DeleteFileA(library_.c_str()));

    ChildRun removed = RunCli({"unregister", "--version", "1.0", "--guid", guid_});
    EXPECT_EQ(removed.exitCode, 0u) << Describe(removed);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "TypeLib\\" + guid_ + "\\1.0"));
    std::string path;
    EXPECT_TRUE(RegisteredPath(spec_.guid, path, "1.1")) << "version 1.1 must stay registered";
    EXPECT_EQ(RunCli({"status", secondFile}).exitCode, 0u);
}

// The console uses the library's own system kind, so a win64 library comes off as well.
TEST_F(CliProgram, AWin64LibraryIsRegisteredAndUnregisteredUnderItsOwnPlatformKey) {
    LibraryRecipe wide = spec_;
    wide.guid = NewGuid();
    wide.syskind = SYS_WIN64;
    std::string file = folder_ + "\\wide.tlb";
    ASSERT_EQ(MakeTypeLib(file, wide), S_OK);
    std::string key = "TypeLib\\" + GuidAnsi(wide.guid);
    ChildRun registered = RunCli({"register", file});
    EXPECT_EQ(registered.exitCode, 0u) << Describe(registered);
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, key + "\\1.0\\0\\win64"));
    EXPECT_EQ(RunCli({"status", file}).exitCode, 0u);
    ChildRun removed = RunCli({"unregister", file});
    EXPECT_EQ(removed.exitCode, 0u) << Describe(removed);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key + "\\1.0\\0\\win64"));
    DeleteTypeLibKey(wide.guid);
}

TEST_F(CliProgram, JsonOutputCarriesTheSameFacts) {
    ChildRun info = RunCli({"--json", "info", library_});
    ASSERT_EQ(info.exitCode, 0u) << Describe(info);
    json document = ParseJson(info);
    EXPECT_EQ(document["command"], "info");
    EXPECT_EQ(document["file"]["path"], library_);
    EXPECT_EQ(document["library"]["name"], "CliLib");
    EXPECT_EQ(document["library"]["description"], "Corvane CLI test library");
    EXPECT_EQ(document["library"]["guid"], guid_);
    EXPECT_EQ(document["library"]["version"], "1.0");
    EXPECT_EQ(document["registry"]["exists"], false);
    EXPECT_EQ(document["status"], "not registered");

    ChildRun registered = RunCli({"register", library_, "--json"});
    document = ParseJson(registered);
    EXPECT_EQ(document["changed"], true) << registered.out;
    EXPECT_EQ(document["registeredPath"], library_);
    EXPECT_EQ(ParseJson(RunCli({"register", library_, "--json"}))["changed"], false);

    document = ParseJson(RunCli({"info", "--json", library_}));
    json registry = document["registry"];
    EXPECT_EQ(registry["key"], "HKEY_LOCAL_MACHINE\\Software\\Classes\\TypeLib\\" + guid_ + "\\1.0");
    EXPECT_EQ(document["scope"], "machine");
    EXPECT_EQ(registry["description"], "Corvane CLI test library");
    ASSERT_EQ(registry["paths"].size(), 1u) << registry.dump();
    EXPECT_EQ(registry["paths"][0], json({{"lcid", 0},
                                          {"platform", "win32"},
                                          {"path", library_},
                                          {"state", "this file"},
                                          {"scope", "machine"}}));

    ChildRun status = RunCli({"status", "--json", library_});
    EXPECT_EQ(status.exitCode, 0u);
    document = ParseJson(status);
    EXPECT_EQ(document["status"], "registered");
    EXPECT_EQ(document["exitCode"], 0);

    bool listed = false;
    ChildRun list = RunCli({"list", "--json"});
    json listing = ParseJson(list);
    for (const json& library : listing["libraries"])
        listed = listed || (library["guid"] == guid_ && library["paths"][0]["path"] == library_ &&
                            library["paths"][0]["state"] == "exists");
    EXPECT_TRUE(listed) << "list --json does not show the registered library:\n" << list.out;

    document = ParseJson(RunCli({"unregister", "--json", library_}));
    EXPECT_EQ(document["changed"], true);
    EXPECT_EQ(document["previousPath"], library_);

    ChildRun failed = RunCli({"status", "--json", folder_ + "\\absent.tlb"});
    EXPECT_EQ(failed.exitCode, 2u);
    document = ParseJson(failed);
    EXPECT_EQ(document["error"],
              "file not found: '" + folder_ + "\\absent.tlb' (" + folder_ + "\\absent.tlb)");
    EXPECT_EQ(FirstLine(failed.err), "corvane-cli: " + document["error"].get<std::string>());
}

TEST_F(CliProgram, TextOutsideAsciiReachesJsonAsUtf8) {
    LibraryRecipe accented;
    accented.description = "Caf\xE9 library"; // code page 1252
    std::string file = folder_ + "\\caf\xE9.tlb";
    ASSERT_EQ(MakeTypeLib(file, accented), S_OK);
    json document = ParseJson(RunCli({"info", "--json", file}));
    EXPECT_EQ(document["library"]["description"], "Caf\xC3\xA9 library");
    EXPECT_EQ(document["file"]["path"], folder_ + "\\caf\xC3\xA9.tlb");
}

TEST_F(CliProgram, EveryCommandTakesALibraryInAFolderNamedOutsideTheAnsiCodePage) {
    // Code page 1252 has no character for this folder's name; only UTF-16 can give it.
    std::wstring file = ToWide(temp_.Path()) + L"\\\x5e93";
    ASSERT_TRUE(CreateDirectoryW(file.c_str(), nullptr));
    file += L"\\lib.tlb";
    ASSERT_TRUE(MoveFileW(ToWide(library_).c_str(), file.c_str()));
    auto run = [](const std::vector<std::wstring>& args) {
        return driver::RunProgram(ToWide(BesideTests("corvane-cli.exe")), args);
    };
    std::string utf8 = ToUtf8(file);
    EXPECT_EQ(ParseJson(run({L"info", L"--json", file}))["file"]["path"], utf8);
    EXPECT_EQ(run({L"status", file}).exitCode, 1u);
    ChildRun registered = run({L"register", file});
    EXPECT_EQ(registered.exitCode, 0u) << Describe(registered);
    EXPECT_NE(registered.out.find(utf8), std::string::npos) << "a pipe gets UTF-8: " << Describe(registered);
    EXPECT_EQ(run({L"status", file}).exitCode, 0u);
    EXPECT_NE(run({L"list"}).out.find(utf8), std::string::npos);
    std::wstring exported = ToWide(temp_.File("unicode.reg"));
    EXPECT_EQ(run({L"export", file, L"-o", exported}).exitCode, 0u);
    std::string bytes = ReadFileBytes(ToAnsi(exported));
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
    EXPECT_NE(text.find(L"\\\\\x5e93\\\\lib.tlb"), std::wstring::npos) << "the .reg file names it";
    ChildRun removed = run({L"unregister", file});
    EXPECT_EQ(removed.exitCode, 0u) << Describe(removed);
    EXPECT_EQ(run({L"status", file}).exitCode, 1u);
}

// A library stored as resource 2 of a .dll, as "lib.dll\2" names it. The .dll is a copy of a
// program with TYPELIB resources added, which is all that loading a library from it needs.
TEST_F(CliProgram, ALibraryInsideADllIsNamedByItsResourceIndex) {
    std::string dll = folder_ + "\\holder.dll";
    ASSERT_TRUE(CopyFileA(BesideTests("corvane-cli.exe").c_str(), dll.c_str(), FALSE));
    LibraryRecipe first;
    first.name = "FirstLib";
    std::string firstFile = otherFolder_ + "\\first.tlb";
    ASSERT_EQ(MakeTypeLib(firstFile, first), S_OK);
    std::string one = ReadFileBytes(firstFile), two = ReadFileBytes(library_);
    HANDLE update = BeginUpdateResourceA(dll.c_str(), FALSE);
    ASSERT_NE(update, nullptr) << GetLastError();
    UpdateResourceA(update, "TYPELIB", MAKEINTRESOURCEA(1), 0, &one[0], static_cast<DWORD>(one.size()));
    UpdateResourceA(update, "TYPELIB", MAKEINTRESOURCEA(2), 0, &two[0], static_cast<DWORD>(two.size()));
    ASSERT_TRUE(EndUpdateResourceA(update, FALSE)) << GetLastError();

    ChildRun registered = RunCli({"register", dll + "\\2"});
    ASSERT_EQ(registered.exitCode, 0u) << Describe(registered);
    std::string path;
    ASSERT_TRUE(RegisteredPath(spec_.guid, path));
    EXPECT_EQ(path, dll + "\\2");
    EXPECT_EQ(RunCli({"status", dll + "\\2"}).exitCode, 0u);

    ChildRun info = RunCli({"info", dll});
    EXPECT_NE(info.out.find("Name:         FirstLib\n"), std::string::npos) << "no index is resource 1\n"
                                                                            << info.out;
    // Each command that reads the file names every library in it.
    EXPECT_NE(info.out.find("Libraries:    " + dll + "\\1, " + dll + "\\2\n"), std::string::npos) << info.out;
    json types = ParseJson(RunCli({"types", dll + "\\2", "--json"}));
    EXPECT_EQ(types["library"]["name"], "CliLib");
    EXPECT_EQ(types["library"]["libraries"], json({dll + "\\1", dll + "\\2"}));
    ChildRun missing = RunCli({"status", dll + "\\7"});
    EXPECT_EQ(missing.exitCode, 2u);
    EXPECT_EQ(FirstLine(missing.err),
              "corvane-cli: '" + dll + "' holds no type library resource 7 (error 80029C4A)");
    DeleteTypeLibKey(first.guid);
}

// The registry branches that registering writes into: the machine's TypeLib and Interface keys,
// and the user's software (or only the user's classes in it), each read whole.
struct Branches {
    RegistryTree typeLib, interfaces, userSoftware;
    explicit Branches(const wchar_t* userPart = L"Software") {
        ReadRegistryTree(HKEY_CLASSES_ROOT, L"TypeLib", typeLib);
        ReadRegistryTree(HKEY_CLASSES_ROOT, L"Interface", interfaces);
        ReadRegistryTree(HKEY_CURRENT_USER, userPart, userSoftware);
    }
    // The keys one side has and the other lacks, for a failure's message.
    std::string Difference(const Branches& other) const {
        std::string text;
        for (auto pair :
             {std::make_pair(&typeLib, &other.typeLib), std::make_pair(&interfaces, &other.interfaces),
              std::make_pair(&userSoftware, &other.userSoftware)})
            for (int side = 0; side < 2; ++side) {
                const RegistryTree& a = side ? *pair.second : *pair.first;
                const RegistryTree& b = side ? *pair.first : *pair.second;
                for (const RegistryKeyEntry& key : a)
                    if (std::none_of(b.begin(), b.end(),
                                     [&](const RegistryKeyEntry& k) { return k.path == key.path; }))
                        text += (side ? "+ " : "- ") + ToAnsi(key.path) + "\n";
            }
        return text;
    }
    bool operator==(const Branches& other) const {
        auto same = [](const RegistryTree& a, const RegistryTree& b) {
            return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](auto& x, auto& y) {
                       return x.path == y.path && x.values.size() == y.values.size();
                   });
        };
        return same(typeLib, other.typeLib) && same(interfaces, other.interfaces) &&
               same(userSoftware, other.userSoftware);
    }
};

TEST_F(CliProgram, ExportWritesWhatRegisteringWouldAndLeavesTheRegistryAsItWas) {
    std::string shapes = folder_ + "\\shapes.tlb";
    GUID guid = NewGuid();
    ASSERT_EQ(MakeTypeLibWithInterfaces(shapes, guid), S_OK);
    std::string out = temp_.File("shapes.reg");
    Branches before;

    ChildRun exported = RunCli({"export", shapes, "--install-dir", "C:\\Program Files\\Shapes", "-o", out});

    ASSERT_EQ(exported.exitCode, 0u) << Describe(exported);
    EXPECT_TRUE(Branches() == before) << "export changed HKCR\\TypeLib, HKCR\\Interface or HKCU\\Software";
    std::string bytes = ReadFileBytes(out);
    ASSERT_GT(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE") << "UTF-16LE with a byte-order mark";
    std::wstring text((bytes.size() - 2) / 2, L'\0');
    std::memcpy(&text[0], bytes.data() + 2, text.size() * 2);
    EXPECT_EQ(text.rfind(L"Windows Registry Editor Version 5.00\r\n", 0), 0u);
    std::string ansi = ToAnsi(text);
    EXPECT_NE(ansi.find("[HKEY_CLASSES_ROOT\\TypeLib\\" + GuidAnsi(guid) +
                        "\\1.2\\0\\win32]\r\n@=\"C:\\\\Program "
                        "Files\\\\Shapes\\\\shapes.tlb\"\r\n"),
              std::string::npos)
        << ansi;
    EXPECT_NE(ansi.find("[HKEY_CLASSES_ROOT\\Interface\\"), std::string::npos) << "no Interface keys:\n"
                                                                               << ansi;

    ChildRun forUser = RunCli({"export", shapes, "--user"});
    ASSERT_EQ(forUser.exitCode, 0u) << Describe(forUser);
    EXPECT_NE(ToAnsi(std::wstring(reinterpret_cast<const wchar_t*>(forUser.out.data() + 2),
                                  (forUser.out.size() - 2) / 2))
                  .find("[HKEY_CURRENT_USER\\Software\\Classes\\TypeLib\\" + GuidAnsi(guid)),
              std::string::npos)
        << "to standard output, under the user's classes";
}

// What the installed keys resolve to is checked with wixl and msiexec (scripts/test-msi-export.sh).
TEST_F(CliProgram, AWixFragmentNamesItsDirectoryAndSourceAndIsTheSameWhenMadeAgain) {
    std::string shapes = folder_ + "\\shapes.tlb", out = temp_.File("shapes.wxs");
    ASSERT_EQ(MakeTypeLibWithInterfaces(shapes, NewGuid()), S_OK);
    const std::vector<std::string> args = {"export",      shapes,   "--format",     "wxs",
                                           "-o",          out,      "--bitness",    "32",
                                           "--directory", "APPDIR", "--source-dir", "payload/bin"};
    ASSERT_EQ(RunCli(args).exitCode, 0u);
    std::string wxs = ReadFileBytes(out);
    for (const char* part :
         {"Source=\"payload/bin/shapes.tlb\"", "<DirectoryRef Id=\"APPDIR\">", "Value=\"[APPDIR]\""})
        EXPECT_NE(wxs.find(part), std::string::npos) << part << "\nnot in:\n" << wxs;
    EXPECT_EQ(wxs.find("Win64"), std::string::npos) << "no 64-bit component for 32-bit Windows:\n" << wxs;
    ASSERT_EQ(RunCli(args).exitCode, 0u);
    EXPECT_EQ(ReadFileBytes(out), wxs) << "made again, the fragment must be the same";
}

// The activation context of a manifest file, made by the system's own loader.
ActivationContext ManifestContext(const std::string& manifest) {
    std::wstring path = FromUtf8(manifest);
    ACTCTXW request = {sizeof request, 0, path.c_str(), 0, 0, nullptr, nullptr, nullptr, nullptr};
    return ActivationContext(CreateActCtxW(&request));
}

// Made and real libraries; the system's own loader judges each manifest.
TEST(CliProgramExport, BothInstallerFormatsTakeMadeAndRealLibraries) {
    TempFolder temp;
    std::string made = temp.File("made.tlb");
    ASSERT_EQ(MakeTypeLibWithInterfaces(made, NewGuid()), S_OK);
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, MAX_PATH);
    for (std::string library :
         {made, std::string(system) + "\\stdole2.tlb", std::string(system) + "\\scrrun.dll",
          std::string(system) + "\\msxml3.dll", std::string(system) + "\\mshtml.tlb"})
        for (const char* format : {"wxs", "manifest"}) {
            SCOPED_TRACE(library + " " + format);
            std::string out = temp.File(std::string("out.") + format);
            ChildRun text = RunCli({"export", library, "--format", format, "-o", out});
            ASSERT_EQ(text.exitCode, 0u) << Describe(text);
            EXPECT_EQ(text.out.find("exported: "), 0u) << text.out;
            json summary = ParseJson(RunCli({"export", library, "--format", format, "--json", "-o", out}));
            EXPECT_EQ(summary["format"], format) << summary.dump();
            EXPECT_GT(summary["keys"].get<int>(), 1) << summary.dump();
            if (*format == 'w')
                continue;
            EXPECT_TRUE(ManifestContext(out))
                << "the system refused the manifest: error " << GetLastError() << "\n"
                << ReadFileBytes(out);
        }
}

TEST(CliProgramExport, AnExportedManifestGivesAClientTheLibraryWithNothingRegistered) {
    ComApartment apartment;
    TempFolder temp;
    std::string library = temp.File("shapes.tlb"), manifest = temp.File("shapes.manifest");
    GUID guid = NewGuid();
    ASSERT_EQ(MakeTypeLibWithInterfaces(library, guid), S_OK);
    ASSERT_EQ(RunCli({"export", library, "--format", "manifest", "-o", manifest}).exitCode, 0u);
    auto loaded = [&] {
        ComPtr<ITypeLib> typeLib;
        return LoadRegTypeLib(guid, 1, 2, 0, typeLib.Put());
    };
    EXPECT_EQ(loaded(), TYPE_E_LIBNOTREGISTERED) << "without the context";

    ActivationContext context = ManifestContext(manifest);
    ASSERT_TRUE(context) << "error " << GetLastError() << "\n" << ReadFileBytes(manifest);
    ULONG_PTR cookie = 0;
    ASSERT_TRUE(ActivateActCtx(context.Get(), &cookie));
    EXPECT_EQ(loaded(), S_OK) << "inside the context";
    Bstr found;
    EXPECT_EQ(QueryPathOfRegTypeLib(guid, 1, 2, 0, found.Put()), S_OK);
    EXPECT_EQ(CompareStringOrdinal(found.Get(), -1, ToWide(library).c_str(), -1, TRUE), CSTR_EQUAL)
        << ToAnsi(found.Get());
    for (int number : {1, 2}) {
        ACTCTX_SECTION_KEYED_DATA data = {sizeof data, 0, nullptr, 0, nullptr, 0,
                                          nullptr,     0, nullptr, 0, 0,       {}};
        GUID iid = InterfaceIid(guid, number);
        EXPECT_TRUE(FindActCtxSectionGuid(0, nullptr, ACTIVATION_CONTEXT_SECTION_COM_INTERFACE_REDIRECTION,
                                          &iid, &data))
            << "interface " << number << ": error " << GetLastError();
    }
    DeactivateActCtx(0, cookie);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "TypeLib\\" + GuidAnsi(guid)));
}

TEST_F(CliProgram, APerUserRoundTripWritesOnlyTheUsersClassesAndLeavesBothAsTheyWere) {
    std::string userKey = "Software\\Classes\\TypeLib\\" + guid_ + "\\1.0\\0\\win32";
    const wchar_t userClasses[] = L"Software\\Classes";
    // Every Windows profile has the user's classes key; a fresh Wine prefix has none until
    // something writes there.
    RegKey classes;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, userClasses, 0, nullptr, 0, KEY_READ, nullptr, classes.Put(),
                              nullptr),
              ERROR_SUCCESS);
    Branches before(userClasses);

    ChildRun registered = RunCli({"register", "--user", library_});
    ASSERT_EQ(registered.exitCode, 0u) << Describe(registered);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, userKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "TypeLib\\" + guid_)) << "nothing machine-wide";
    ChildRun asUser = RunCli({"status", "--user", library_});
    EXPECT_EQ(asUser.exitCode, 0u) << Describe(asUser);
    EXPECT_EQ(asUser.out, "registered: " + guid_ + " 1.0 -> " + library_ + " (user)\n");
    EXPECT_EQ(RunCli({"status", "--machine", library_}).exitCode, 1u);
    EXPECT_EQ(RunCli({"status", library_}).exitCode, 0u) << "Windows gives this user the user's entry";

    ChildRun removed = RunCli({"unregister", "--user", library_});
    EXPECT_EQ(removed.exitCode, 0u) << Describe(removed);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, userKey));
    Branches after(userClasses);
    EXPECT_TRUE(after == before) << "the round trip left keys behind or removed others:\n"
                                 << before.Difference(after);
}

TEST(CliProgramErrors, EveryErrorGivesOneLineOnStderrAndExitCode2) {
    TempFolder temp;
    std::string text = temp.File("notes.txt");
    WriteFileBytes(text, "not a type library");
    // Held open without sharing read, as an editor or a build may hold a file.
    std::string locked = temp.File("locked.tlb");
    WriteFileBytes(locked, "locked");
    FileHandle holder(CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    struct Case {
        std::vector<std::string> args;
        std::string message;
        bool usage;
    };
    const std::vector<Case> cases = {
        {{}, "no command given", true},
        {{"frobnicate"}, "unknown command 'frobnicate'", true},
        {{"status", "--fast", text}, "unknown option '--fast'", true},
        {{"status"}, "missing FILE", true},
        {{"status", "a", "b"}, "too many arguments: 'b'", true},
        {{"info", ""}, "FILE is empty", true},
        {{"list", "x"}, "list takes no FILE: 'x'", true},
        {{"info", "--version"}, "unknown option '--version'", true},
        {{"unregister"}, "missing FILE (or --guid and --version)", true},
        {{"unregister", "--guid", "nonsense", "--version", "1.0"},
         "'nonsense' is not a GUID (expected {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX})",
         true},
        {{"unregister", "--guid", "{00000000-0000-0000-0000-000000000000}", "--version", "1"},
         "'1' is not a version (expected M.m in decimal, each 0 to 65535)",
         true},
        {{"unregister", "--guid", "{00000000-0000-0000-0000-000000000000}"}, "missing --version M.m", true},
        {{"unregister", "--version", "1.0", "--lcid", "0x"},
         "'0x' is not a locale id (expected a decimal number or 0x...)",
         true},
        {{"unregister", "--version", "1.0", "--syskind", "mac"},
         "'mac' is not a system kind (expected win16, win32 or win64)",
         true},
        {{"unregister", text, "--guid", "{00000000-0000-0000-0000-000000000000}", "--version", "1.0"},
         "give either FILE or --guid and --version, not both",
         true},
        {{"unregister", "--guid"}, "option '--guid' needs a value", true},
        {{"status", temp.File("absent.tlb")},
         "file not found: '" + temp.File("absent.tlb") + "' (" + temp.File("absent.tlb") + ")",
         false},
        {{"register", temp.File("no such\\deeper\\x.tlb")},
         "folder not found: '" + temp.File("no such") + "' (in '" + temp.File("no such\\deeper\\x.tlb") +
             "')",
         false},
        {{"info", temp.Path()}, "'" + temp.Path() + "' is a folder, not a type library file", false},
        {{"register", text}, "'" + text + "' holds no type library (error 80029C4A)", false},
        {{"unregister", text}, "'" + text + "' holds no type library (error 80029C4A)", false},
        {{"info", locked},
         "'" + locked + "' is in use by another program, which does not let others read it (error 80070020)",
         false},
        {{"status", "NUL"}, "'NUL' is a device or a pipe, not a type library file", false},
        {{"export", text, "--format", "msi"},
         "'msi' is not an export format (expected reg, wxs or manifest)",
         true},
        {{"export", text, "--format", "wxs", "--install-dir", "C:\\x"},
         "--install-dir applies to --format reg only",
         true},
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const std::string& arg : c.args)
            joined += "[" + arg + "] ";
        SCOPED_TRACE(joined);
        ChildRun run = RunCli(c.args);
        EXPECT_EQ(run.exitCode, 2u) << Describe(run);
        EXPECT_EQ(FirstLine(run.err), "corvane-cli: " + c.message) << Describe(run);
        EXPECT_EQ(run.err.find("\nUsage:\n") != std::string::npos, c.usage) << Describe(run);
        if (c.usage) {
            EXPECT_EQ(run.out, "") << "usage errors print nothing on stdout";
        }
    }
}

TEST(CliProgramErrors, ADamagedFileIsRefusedInOneLineByEveryCommandThatReadsIt) {
    TempFolder temp;
    std::vector<std::string> damaged = readertest::WriteKnownCrashers(temp.Path());
    ASSERT_EQ(damaged.size(), 5u);
    for (const std::string& file : damaged)
        for (const char* command : {"info", "status", "register", "unregister", "types"}) {
            SCOPED_TRACE(std::string(command) + " " + file);
            ChildRun run = RunCli({command, file});
            EXPECT_EQ(run.exitCode, 2u) << Describe(run);
            EXPECT_EQ(run.err, "corvane-cli: '" + file +
                                   "' is damaged: it could not be read as a type library (error 80070570)\n")
                << Describe(run);
        }
}

TEST(CliProgramErrors, HelpAndVersionAnswerOnStdoutWithExitCode0) {
    ChildRun help = RunCli({"--help"});
    EXPECT_EQ(help.exitCode, 0u);
    EXPECT_EQ(help.out, ToUtf8(cli::UsageText()));
    EXPECT_EQ(RunCli({"status", "--help"}).out, ToUtf8(cli::UsageText())) << "--help wins over a command";

    ChildRun version = RunCli({"--version"});
    EXPECT_EQ(version.exitCode, 0u);
    EXPECT_EQ(FirstLine(version.out), ToUtf8(cli::VersionLine()));
    EXPECT_NE(version.out.find("\nreader: job with kill-on-close"), std::string::npos) << version.out;
    json document = ParseJson(RunCli({"--version", "--json"}));
    EXPECT_EQ(document["program"], "corvane-cli");
    EXPECT_EQ(document["reader"]["job"], true) << document.dump();
}

TEST(CliProgramFile, CarriesItsOwnVersionBlock) {
    std::string exe = BesideTests("corvane-cli.exe");
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(exe.c_str(), &ignored);
    ASSERT_NE(size, 0u) << "no version block, error " << GetLastError();
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(exe.c_str(), 0, size, block.data()));
    auto text = [&](const char* name) {
        char* value = nullptr;
        UINT length = 0;
        std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
        if (!VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) || !value)
            return std::string("(absent)");
        return std::string(value);
    };
    EXPECT_EQ(text("FileDescription"), "Corvane command line");
    EXPECT_EQ(text("OriginalFilename"), "corvane-cli.exe");
    EXPECT_EQ(text("FileVersion"), ToUtf8(cli::VersionLine()).substr(std::string("corvane-cli ").size()));
}

} // namespace
