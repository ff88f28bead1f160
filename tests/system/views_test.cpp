// The registry views of 64-bit Windows, in whichever prefix the run uses: a 32-bit prefix has one
// view, a 64-bit one (this 32-bit program under WOW64) two, and each must hold the keys of a
// library's interfaces. Each library has a private GUID; its keys go at the end, in every view.
#include <gtest/gtest.h>

#include "cli/cli.h"
#include "common/text.h"
#include "registration/registration.h"
#include "tests/support/testsupport.h"

using namespace testsupport;

namespace {

// The views through the flags Windows documents for them: {name, access}.
std::vector<std::pair<std::string, REGSAM>> Views() {
    BOOL wow64 = FALSE;
    if (IsWow64Process(GetCurrentProcess(), &wow64) && wow64)
        return {{"32-bit", KEY_WOW64_32KEY}, {"64-bit", KEY_WOW64_64KEY}};
    return {{"32-bit", 0}};
}

RegKey Interfaces(REGSAM view) {
    RegKey key;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Interface", 0, KEY_ALL_ACCESS | view, key.Put());
    return key;
}

// A library with two interfaces, IShapes and IDrawing, of the system kind the case names.
class InterfaceKeys : public ::testing::TestWithParam<SYSKIND> {
  protected:
    void SetUp() override {
        identity_ = {NewGuid(), 1, 2, 0, GetParam()};
        ASSERT_EQ(MakeTypeLibWithInterfaces(path_, identity_.guid, GetParam()), S_OK);
        for (int number : {1, 2})
            iids_.push_back(GuidText(InterfaceIid(identity_.guid, number)));
    }
    void TearDown() override {
        DeleteTypeLibKey(identity_.guid);
        for (const auto& view : Views())
            for (const std::wstring& iid : iids_)
                RegDeleteTreeW(Interfaces(view.second).Get(), iid.c_str());
    }
    // Per view, how many of the interfaces have a key naming this library version.
    std::vector<int> KeysNaming(const LibraryIdentity& identity) const {
        std::vector<int> counts;
        for (const auto& view : Views()) {
            counts.push_back(0);
            for (const std::wstring& iid : iids_) {
                RegKey key;
                RegOpenKeyExW(Interfaces(view.second).Get(), iid.c_str(), 0, KEY_READ, key.Put());
                counts.back() += key && NamesLibrary(key.Get(), identity);
            }
        }
        return counts;
    }
    static std::vector<int> InEveryView(int count) { return std::vector<int>(Views().size(), count); }

    ComApartment apartment_;
    TempFolder folder_;
    std::string path_ = folder_.File("shapes.tlb");
    LibraryIdentity identity_;
    std::vector<std::wstring> iids_;
};

// The window's own engine, with our component as Corvane.exe creates it.
TEST_P(InterfaceKeys, TheWindowsRegisteringWritesThemInEveryViewAndUnregisteringRemovesThem) {
    ComPtr<ITlInfoApplication> application;
    ASSERT_EQ(CoCreateInstance(CLSID_TlInfoApplication, nullptr, CLSCTX_INPROC_SERVER, IID_ITlInfoApplication,
                               application.PutVoid()),
              S_OK);
    ASSERT_EQ(Hex(APPLYREGISTRATION(application.Get(), path_, 1)), Hex(S_OK));
    EXPECT_EQ(KeysNaming(identity_), InEveryView(2));
    ASSERT_EQ(Hex(APPLYREGISTRATION(application.Get(), path_, 0)), Hex(S_OK));
    EXPECT_EQ(KeysNaming(identity_), InEveryView(0));
}

TEST_P(InterfaceKeys, RemovingByIdentityAfterTheFileIsGoneDeletesThoseNamingItInEveryViewAndNoOthers) {
    ASSERT_EQ(Hex(RegisterLibraryFile(ToWide(path_))), Hex(S_OK));
    // IShapes' key names another version of the library, in every view: it stays.
    LibraryIdentity other = identity_;
    other.minor = 3;
    for (const auto& view : Views())
        ASSERT_EQ(RegSetKeyValueW(Interfaces(view.second).Get(), (iids_[0] + L"\\TypeLib").c_str(),
                                  L"Version", REG_SZ, L"1.3", 8),
                  ERROR_SUCCESS);
    ASSERT_TRUE(DeleteFileA(path_.c_str()));

    InterfaceIndex index;
    Removal removal = RemoveRegistration(identity_, Scope::Machine, index);
    EXPECT_EQ(Hex(removal.result), Hex(S_OK));
    EXPECT_EQ(removal.deletedInterfaces.size(), Views().size());
    EXPECT_EQ(KeysNaming(identity_), InEveryView(0));
    EXPECT_EQ(KeysNaming(other), InEveryView(1));
}

TEST_P(InterfaceKeys, StatusAndInfoReportTheViewThatMissesOne) {
    ASSERT_EQ(Hex(RegisterLibraryFile(ToWide(path_))), Hex(S_OK));
    ASSERT_EQ(RegDeleteTreeW(Interfaces(Views()[0].second).Get(), iids_[1].c_str()), ERROR_SUCCESS);
    cli::Output status = cli::Run({L"status", ToWide(path_)});
    EXPECT_EQ(status.exitCode, cli::kExitOk);
    EXPECT_EQ(ToUtf8(status.out),
              "registered: " + ToUtf8(GuidText(identity_.guid)) + " 1.2 -> " + path_ +
                  " (machine)\nincomplete: 1 of 2 interfaces missing from the 32-bit view\n");
    std::wstring line = iids_[1] + L":  32-bit view: missing" +
                        (Views().size() > 1 ? L"; 64-bit view: names this library 1.2\n" : L"\n");
    std::wstring info = cli::Run({L"info", ToWide(path_)}).out;
    EXPECT_NE(info.find(line), std::wstring::npos) << ToUtf8(info);
    EXPECT_EQ(Hex(UnregisterLibrary(identity_)), Hex(S_OK));
}

INSTANTIATE_TEST_SUITE_P(SystemKinds, InterfaceKeys, ::testing::Values(SYS_WIN32, SYS_WIN64),
                         [](const ::testing::TestParamInfo<SYSKIND>& info) {
                             return std::string(info.param == SYS_WIN64 ? "win64" : "win32");
                         });

} // namespace
