// corvane-cli check, check --fix and which, end to end: a library with interfaces is registered
// for real, then its registration is broken by editing the registry the way leftovers and
// half-done installs break it; check must name each fault, --fix must repair what it repairs,
// and importing the fix's backup with regedit must give back the broken registry exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <nlohmann/json.hpp>

#include "catalogue/catalogue.h"
#include "common/owners.h"
#include "common/text.h"
#include "registration/regfile.h"
#include "tests/support/driver.h"
#include "tests/support/testsupport.h"

using nlohmann::json;
using namespace testsupport;

namespace {

driver::ChildRun RunCli(const std::vector<std::string>& args) {
    return driver::RunProgram(BesideTests("corvane-cli.exe"), args, std::string(), 120000);
}

std::string Describe(const driver::ChildRun& run) {
    return "exit " + std::to_string(run.exitCode) + "\n" + run.out + run.err;
}

// Opens HKLM\Software\Classes\path in view for changing.
RegKey Open(View view, const std::string& path) {
    RegKey key;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kClassesKey) + L"\\" + ToWide(path)).c_str(), 0,
                  KEY_ALL_ACCESS | ViewAccess(view), key.Put());
    return key;
}

void SetText(View view, const std::string& path, const char* name, const std::string& text) {
    RegSetValueExA(Open(view, path).Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
}

// The same, creating the key first.
void CreateText(View view, const std::string& path, const char* name, const std::string& text) {
    RegKey key;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kClassesKey) + L"\\" + ToWide(path)).c_str(), 0,
                    nullptr, 0, KEY_ALL_ACCESS | ViewAccess(view), nullptr, key.Put(), nullptr);
    SetText(view, path, name, text);
}

// regedit /s on file: the 64-bit regedit where there are two views, as the backup is written for
// it (a 32-bit process reaches it through Sysnative).
void Import(const std::string& file) {
    bool wow64 = RegistryViews().size() > 1;
    driver::ChildRun run =
        driver::RunProgram(wow64 ? "C:\\windows\\sysnative\\cmd.exe" : "C:\\windows\\regedit.exe",
                           wow64 ? std::vector<std::string>{"/c", "C:\\windows\\regedit.exe", "/s", file}
                                 : std::vector<std::string>{"/s", file});
    EXPECT_EQ(run.exitCode, 0u) << Describe(run);
}

class CliCheck : public ::testing::Test {
  protected:
    void SetUp() override {
        guid_ = NewGuid();
        library_ = temp_.File("shapes.tlb");
        copy_ = temp_.File("registered shapes.tlb");
        ASSERT_EQ(MakeTypeLibWithInterfaces(library_, guid_), S_OK);
        ASSERT_TRUE(CopyFileA(library_.c_str(), copy_.c_str(), FALSE));
        ASSERT_EQ(RunCli({"register", copy_}).exitCode, 0u);
        version_ = "TypeLib\\" + GuidAnsi(guid_) + "\\1.2";
        iids_.clear();
        for (const InterfaceKey& key : ReadLibraryInterfaceKeys(Scope::Machine, View::Bits32, &guid_))
            iids_.push_back(ToAnsi(key.iid));
        ASSERT_FALSE(iids_.empty()) << "registration wrote no interface key";
    }
    void TearDown() override {
        RunCli({"unregister", "--guid", GuidAnsi(guid_), "--version", "1.2"});
        RunCli({"unregister", "--guid", GuidAnsi(guid_), "--version", "1.0"});
        DeleteTypeLibKey(guid_);
        for (View view : RegistryViews()) // keys a restored backup left naming an unregistered version
            for (const std::string& iid : iids_)
                RegDeleteTreeA(Open(view, "Interface").Get(), iid.c_str());
    }
    // The library's TypeLib key and its interface keys in every view, as text.
    std::string Snapshot() const {
        RegistryTree tree;
        ReadRegistryTree(HKEY_CLASSES_ROOT, ToWide("TypeLib\\" + GuidAnsi(guid_)), tree);
        std::wstring text = RegFileText(tree, L"");
        for (View view : RegistryViews()) {
            RegistryTree keys;
            for (const std::string& iid : iids_)
                ReadRegistryTree(Open(view, "Interface").Get(), ToWide(iid), keys);
            text += RegFileText(keys, ToWide(ViewName(view)));
        }
        return ToAnsi(text);
    }
    json Check(const std::vector<std::string>& extra, DWORD expectedExit) {
        std::vector<std::string> args = {"check", library_, "--json"};
        args.insert(args.end(), extra.begin(), extra.end());
        driver::ChildRun run = RunCli(args);
        EXPECT_EQ(run.exitCode, expectedExit) << Describe(run);
        json document = json::parse(run.out, nullptr, false);
        EXPECT_TRUE(document.is_object()) << Describe(run);
        return document;
    }

    ComApartment apartment_;
    TempFolder temp_;
    GUID guid_;
    std::string library_, copy_, version_;
    std::vector<std::string> iids_;
};

TEST_F(CliCheck, AHealthyRegistrationGivesOnlyTheSummary) {
    driver::ChildRun run = RunCli({"check", library_});
    EXPECT_EQ(run.exitCode, 0u) << Describe(run);
    EXPECT_EQ(run.out, "checked 1 library version: 0 problems, 0 warnings\n");
}

struct Breakage {
    const char* kind;            // the finding check must give
    bool problem;                // exit 3 (else a warning: exit 0)
    bool fixable;                // --fix leaves the library healthy
    std::function<void()> apply; // run after a fresh registration
};

TEST_F(CliCheck, EachBreakageIsNamedAndTheRepairableOnesAreFixedWithABackupThatUndoesTheFix) {
    const View first = RegistryViews().front(), last = RegistryViews().back();
    std::string stale = temp_.File("old.tlb");
    const Breakage breakages[] = {
        {"no-path", true, false, [&] { RegDeleteKeyA(Open(first, version_ + "\\0").Get(), "win32"); }},
        {"file-missing", true, false, [&] { DeleteFileA(copy_.c_str()); }},
        {"file-other-library", true, false,
         [&] {
             LibraryRecipe other;
             MakeTypeLib(stale, other);
             SetText(first, version_ + "\\0\\win32", nullptr, stale);
         }},
        {"orphan-interface", true, true,
         [&] { SetText(first, "Interface\\" + iids_.front() + "\\TypeLib", "Version", "9.9"); }},
        {"interface-missing", true, true,
         [&] { RegDeleteTreeA(Open(last, "Interface").Get(), iids_.back().c_str()); }},
        {"proxy-stub-missing", true, true,
         [&] { RegDeleteTreeA(Open(first, "Interface\\" + iids_.front()).Get(), "ProxyStubClsid32"); }},
        {"proxy-stub-not-registered", true, true,
         [&] {
             SetText(first, "Interface\\" + iids_.front() + "\\ProxyStubClsid32", nullptr,
                     GuidAnsi(NewGuid()));
         }},
        {"helpdir-missing", false, false,
         [&] { SetText(first, version_ + "\\HELPDIR", nullptr, "C:\\no such folder"); }},
        {"stale-version", false, true,
         [&] {
             LibraryRecipe old;
             old.guid = guid_;
             MakeTypeLib(stale, old);
             RunCli({"register", stale});
             DeleteFileA(stale.c_str());
         }},
    };
    for (const Breakage& breakage : breakages) {
        SCOPED_TRACE(breakage.kind);
        TearDown();
        SetUp();
        breakage.apply();
        const std::string broken = Snapshot();

        json found = Check({}, breakage.problem ? 3u : 0u);
        bool named = false;
        for (const json& finding : found["findings"])
            named = named || finding["kind"] == breakage.kind;
        EXPECT_TRUE(named) << found.dump(1);
        if (!breakage.fixable)
            continue;
        Check({"--dry-run"}, breakage.problem ? 3u : 0u);
        EXPECT_EQ(Snapshot(), broken) << "--dry-run changed the registry";

        std::string backup = temp_.File(std::string(breakage.kind) + ".reg");
        json fixed = Check({"--fix", "--backup", backup}, 0u);
        EXPECT_EQ(fixed["after"]["findings"].size(), 0u) << fixed.dump(1);
        EXPECT_NE(Snapshot(), broken);
        Import(backup);
        EXPECT_EQ(Snapshot(), broken) << "importing the backup did not give back the registry as it was";
    }
}

TEST_F(CliCheck, UnregisteringACopyRegisteredElsewhereChangesNothingAndUnregisteringTakesABackup) {
    const std::string before = Snapshot();
    driver::ChildRun refused = RunCli({"unregister", library_});
    EXPECT_EQ(refused.exitCode, 2u) << Describe(refused);
    EXPECT_NE(refused.err.find(copy_), std::string::npos) << refused.err;
    EXPECT_EQ(Snapshot(), before);

    std::string backup = temp_.File("removal.reg");
    driver::ChildRun removed =
        RunCli({"unregister", "--guid", GuidAnsi(guid_), "--version", "1.2", "--backup", backup});
    EXPECT_EQ(removed.exitCode, 0u) << Describe(removed);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, version_));
    Import(backup);
    EXPECT_EQ(Snapshot(), before);
}

// Many stale versions at once, each with an Interface key naming it (in every view): the repair
// removes exactly those, and leaves the registered version and its interface keys as they were.
TEST_F(CliCheck, RepairingManyStaleVersionsRemovesExactlyThemAndTheirInterfaceKeys) {
    const std::string before = Snapshot();
    std::vector<std::string> staleIids;
    for (int minor = 0; minor < 12; ++minor) {
        std::string version = (minor < 10 ? "0." : "1.") + std::to_string(minor % 10);
        std::string key = "TypeLib\\" + GuidAnsi(guid_) + "\\" + version;
        CreateText(View::Bits32, key + "\\0\\win32", nullptr, temp_.File("gone-" + version + ".tlb"));
        std::string iid = GuidAnsi(NewGuid());
        staleIids.push_back(iid);
        for (View view : RegistryViews()) {
            CreateText(view, "Interface\\" + iid + "\\TypeLib", nullptr, GuidAnsi(guid_));
            SetText(view, "Interface\\" + iid + "\\TypeLib", "Version", version);
        }
    }
    json fixed = Check({"--fix", "--backup", temp_.File("stale.reg")}, 0);
    EXPECT_EQ(fixed["repairs"].size(), 12u) << fixed.dump(1);
    EXPECT_EQ(Snapshot(), before);
    for (View view : RegistryViews())
        for (const std::string& iid : staleIids)
            EXPECT_FALSE(Open(view, "Interface\\" + iid)) << iid << " in the " << ViewName(view) << " view";
}

// A disk with room bytes left: the memory file system scripts/test.sh mounts for the run (as
// root), filled while the object lives. Empty when there is none.
class FullDisk {
  public:
    explicit FullDisk(LONGLONG room) {
        const char* mounted = std::getenv("CORVANE_SMALL_DISK");
        if (!mounted || !*mounted)
            return;
        folder_ = std::string("Z:") + mounted;
        std::replace(folder_.begin(), folder_.end(), '/', '\\');
        FileHandle filler(CreateFileA((folder_ + "\\filler").c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        std::string block(4096, 'x');
        DWORD written = 0;
        while (filler && WriteFile(filler.Get(), block.data(), 4096, &written, nullptr) && written == 4096) {
        }
        LARGE_INTEGER back{};
        back.QuadPart = -room;
        if (filler && SetFilePointerEx(filler.Get(), back, nullptr, FILE_END))
            SetEndOfFile(filler.Get());
    }
    ~FullDisk() {
        if (!folder_.empty())
            DeleteFileA((folder_ + "\\filler").c_str());
    }
    const std::string& Folder() const { return folder_; }

  private:
    std::string folder_;
};

TEST_F(CliCheck, OutputThatCannotBeWrittenWholeFailsTheCommandAndChangesNothing) {
    driver::ChildRun closed =
        driver::RunProgram(BesideTests("corvane-cli.exe"), {"--version"}, "", 60000, true);
    EXPECT_EQ(closed.exitCode, 2u) << Describe(closed);
    EXPECT_NE(closed.err.find("cannot write the output"), std::string::npos) << closed.err;

    struct Case {
        std::vector<std::string> args; // the output file named "{}"
        LONGLONG room;                 // one page: the system takes part of a write, then refuses
    };
    SetText(RegistryViews().front(), "Interface\\" + iids_.front() + "\\TypeLib", "Version", "9.9");
    const std::string before = Snapshot();
    const Case cases[] = {
        {{"check", library_, "--fix", "--backup", "{}"}, 0},
        {{"unregister", "--guid", GuidAnsi(guid_), "--version", "1.2", "--backup", "{}"}, 0},
        {{"types", "C:\\windows\\system32\\mshtml.tlb", "--idl", "-o", "{}"}, 4096},
    };
    for (Case each : cases) {
        FullDisk full(each.room);
        if (full.Folder().empty())
            GTEST_SKIP() << "no full disk to write to: scripts/test.sh mounts one when it may (as root)";
        const std::string file = full.Folder() + "\\output";
        std::replace(each.args.begin(), each.args.end(), std::string("{}"), file);
        driver::ChildRun run = RunCli(each.args);
        EXPECT_EQ(run.exitCode, 2u) << each.args.front() << ": " << Describe(run);
        EXPECT_NE(run.err.find("error 80070070"), std::string::npos) << run.err; // ERROR_DISK_FULL
        EXPECT_EQ(Snapshot(), before) << each.args.front() << " changed the registry";
        EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES) << "a partial file was left";
    }
}

TEST_F(CliCheck, WhichNamesALibraryAnInterfaceAndAClass) {
    struct Case {
        std::string guid;
        const char* part; // the JSON list that must hold something
        DWORD exitCode;
    };
    const Case cases[] = {{GuidAnsi(guid_), "libraries", 0},
                          {iids_.front(), "interfaces", 0},
                          {"{00020424-0000-0000-C000-000000000046}", "classes", 0}, // the automation proxy
                          {GuidAnsi(NewGuid()), nullptr, 1},
                          {"not-a-guid", nullptr, 2}};
    for (const Case& each : cases) {
        driver::ChildRun run = RunCli({"which", each.guid, "--json"});
        EXPECT_EQ(run.exitCode, each.exitCode) << each.guid << "\n" << Describe(run);
        if (!each.part)
            continue;
        json document = json::parse(run.out, nullptr, false);
        EXPECT_TRUE(document.is_object() && !document[each.part].empty()) << Describe(run);
    }
}

} // namespace
