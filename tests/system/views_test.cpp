// The registry views of 64-bit Windows, in whichever prefix the run uses: a 32-bit prefix has one
// view, a 64-bit one (this 32-bit program under WOW64) two, and every view must hold the keys of
// a library's interfaces. Each library has a private GUID; its TypeLib and interface keys are
// removed at the end, in every view.
#include <gtest/gtest.h>

#include "catalogue/registrations.h"
#include "cli/cli.h"
#include "common/owners.h"
#include "common/text.h"
#include "registration/registration.h"
#include "tests/support/testsupport.h"

using namespace testsupport;

namespace {

// The views as the test sees them, through the flags Windows documents for them.
struct TestView {
    const char* name;
    REGSAM access;
};
std::vector<TestView> Views() {
    BOOL wow64 = FALSE;
    if (IsWow64Process(GetCurrentProcess(), &wow64) && wow64)
        return {{"32-bit", KEY_WOW64_32KEY}, {"64-bit", KEY_WOW64_64KEY}};
    return {{"32-bit", 0}};
}

std::wstring InterfaceKey(const std::wstring& iid) {
    return L"Software\\Classes\\Interface\\" + iid;
}

// A library with two interfaces, of the system kind the case names.
class InterfaceKeys : public ::testing::TestWithParam<SYSKIND> {
  protected:
    void SetUp() override {
        path_ = folder_.File("shapes.tlb");
        ASSERT_EQ(MakeTypeLibWithInterfaces(path_, identity_.guid, GetParam()), S_OK);
        identity_.major = 1;
        identity_.minor = 2;
        identity_.syskind = GetParam();
        for (int number : {1, 2})
            iids_.push_back(GuidText(InterfaceIid(identity_.guid, number)));
    }
    void TearDown() override {
        DeleteTypeLibKey(identity_.guid);
        for (const TestView& view : Views())
            for (const std::wstring& iid : iids_)
                RegDeleteTreeW(Open(view, L"Software\\Classes\\Interface", KEY_ALL_ACCESS).Get(),
                               iid.c_str());
    }
    static RegKey Open(const TestView& view, const std::wstring& path, REGSAM access = KEY_READ) {
        RegKey key;
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, access | view.access, key.Put());
        return key;
    }
    // "32-bit: 2, 64-bit: 2": how many of the interfaces have a key naming this library, per view.
    std::string KeysNamingIt() const {
        std::string text;
        for (const TestView& view : Views()) {
            int count = 0;
            for (const std::wstring& iid : iids_) {
                RegKey key = Open(view, InterfaceKey(iid));
                count += key && NamesLibrary(key.Get(), identity_);
            }
            text += (text.empty() ? "" : ", ") + std::string(view.name) + ": " + std::to_string(count);
        }
        return text;
    }
    std::string Expected(int count) const {
        std::string text;
        for (const TestView& view : Views())
            text += (text.empty() ? "" : ", ") + std::string(view.name) + ": " + std::to_string(count);
        return text;
    }

    ComApartment apartment_;
    TempFolder folder_;
    std::string path_;
    LibraryIdentity identity_ = [] {
        LibraryIdentity identity;
        identity.guid = NewGuid();
        return identity;
    }();
    std::vector<std::wstring> iids_;
};

// The window's own engine, with our component as Corvane.exe creates it.
TEST_P(InterfaceKeys, TheWindowsRegisteringWritesThemInEveryViewAndUnregisteringRemovesThem) {
    ComPtr<ITlInfoApplication> application;
    ASSERT_EQ(CoCreateInstance(CLSID_TlInfoApplication, nullptr, CLSCTX_INPROC_SERVER, IID_ITlInfoApplication,
                               application.PutVoid()),
              S_OK);
    ASSERT_EQ(Hex(APPLYREGISTRATION(application.Get(), path_, 1)), Hex(S_OK));
    EXPECT_EQ(KeysNamingIt(), Expected(2));
    ASSERT_EQ(Hex(APPLYREGISTRATION(application.Get(), path_, 0)), Hex(S_OK));
    EXPECT_EQ(KeysNamingIt(), Expected(0));
}

TEST_P(InterfaceKeys, RemovingByIdentityAfterTheFileIsGoneDeletesThoseNamingItInEveryViewAndNoOthers) {
    ASSERT_EQ(Hex(RegisterLibraryFile(ToWide(path_))), Hex(S_OK));
    // The first interface's key names another version of the library: that one stays.
    LibraryIdentity other = identity_;
    other.minor = 3;
    for (const TestView& view : Views())
        ASSERT_EQ(RegSetValueExW(Open(view, InterfaceKey(iids_[0]) + L"\\TypeLib", KEY_SET_VALUE).Get(),
                                 L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"1.3"), 8),
                  ERROR_SUCCESS);
    ASSERT_TRUE(DeleteFileA(path_.c_str()));

    Removal removal = RemoveRegistration(identity_);
    EXPECT_EQ(Hex(removal.result), Hex(S_OK));
    EXPECT_TRUE(removal.deletedKeys);
    EXPECT_EQ(removal.deletedInterfaces.size(), Views().size());
    EXPECT_EQ(KeysNamingIt(), Expected(0));
    for (const TestView& view : Views()) {
        RegKey kept = Open(view, InterfaceKey(iids_[0]));
        EXPECT_TRUE(kept && NamesLibrary(kept.Get(), other))
            << view.name << " view: the other version's key went";
    }
}

TEST_P(InterfaceKeys, StatusAndInfoReportTheViewThatMissesOne) {
    ASSERT_EQ(Hex(RegisterLibraryFile(ToWide(path_))), Hex(S_OK));
    ASSERT_EQ(RegDeleteTreeW(Open(Views()[0], L"Software\\Classes\\Interface", KEY_ALL_ACCESS).Get(),
                             iids_[1].c_str()),
              ERROR_SUCCESS);
    std::wstring path = ToWide(path_);
    cli::Output status = cli::Run({L"status", path});
    EXPECT_EQ(status.exitCode, cli::kExitOk);
    EXPECT_EQ(ToUtf8(status.out),
              "registered: " + ToUtf8(GuidText(identity_.guid)) + " 1.2 -> " + path_ +
                  " (machine)\nincomplete: 1 of 2 interfaces missing from the 32-bit view\n");

    std::wstring line = iids_[1] + L":  32-bit view: missing";
    if (Views().size() > 1)
        line += L"; 64-bit view: names this library 1.2";
    cli::Output info = cli::Run({L"info", path});
    EXPECT_NE(info.out.find(line + L"\n"), std::wstring::npos) << ToUtf8(info.out);
    EXPECT_EQ(Hex(UnregisterLibrary(identity_)), Hex(S_OK));
}

INSTANTIATE_TEST_SUITE_P(SystemKinds, InterfaceKeys, ::testing::Values(SYS_WIN32, SYS_WIN64),
                         [](const ::testing::TestParamInfo<SYSKIND>& info) {
                             return std::string(info.param == SYS_WIN64 ? "win64" : "win32");
                         });

} // namespace
