// The registration engine: registering from a file, unregistering the identity a file declares,
// and the text that reports each outcome.
#include <gtest/gtest.h>

#include "common/owners.h"
#include "common/registrytext.h"
#include "common/text.h"
#include "registration/registration.h"
#include "tests/support/fakecomponent.h"
#include "tests/support/testsupport.h"

using testsupport::ComponentScript;
using testsupport::FakeComponent;
using testsupport::GuidAnsi;
using testsupport::Hex;
using testsupport::kLibraryReleased;
using testsupport::LibraryRecipe;
using testsupport::TempFolder;

namespace {

using testsupport::KeyExists;

// "TypeLib\{guid}\major.minor", the version numbers in lower-case hexadecimal.
std::string VersionKey(const LibraryRecipe& recipe) {
    return "TypeLib\\" + GuidAnsi(recipe.guid) + "\\" + LowerHex(recipe.major) + "." + LowerHex(recipe.minor);
}

// The default value of a key under HKEY_CLASSES_ROOT; false when the key or value is missing.
DWORD RegisteredLibraryCount() {
    RegKey typeLib;
    DWORD count = 0;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "TypeLib", 0, KEY_READ, typeLib.Put()) == ERROR_SUCCESS)
        RegQueryInfoKeyA(typeLib.Get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr);
    return count;
}

// Each test works in its own folder with libraries of private GUIDs, whose registration is
// removed afterwards whatever the test did.
class Engine : public testing::Test {
  protected:
    // Unregisters the identity the file at path declares, read through application.
    static HRESULT Unregister(ITlInfoApplication* application, const std::string& path) {
        return APPLYREGISTRATION(application, path, 0);
    }

    ~Engine() override {
        for (const LibraryRecipe& recipe : made_)
            testsupport::DeleteTypeLibKey(recipe.guid);
    }

    std::string MakeLibrary(const std::string& name, const LibraryRecipe& recipe = LibraryRecipe()) {
        std::string path = folder_.File(name);
        made_.push_back(recipe);
        HRESULT hr = testsupport::MakeTypeLib(path, recipe);
        EXPECT_EQ(hr, S_OK) << "making " << path << " gave " << Hex(hr);
        return path;
    }
    const LibraryRecipe& Made(size_t index = 0) const { return made_.at(index); }

    // The real component, as the program creates it.
    ComPtr<ITlInfoApplication> CreateComponent() {
        ComPtr<ITlInfoApplication> application;
        HRESULT hr =
            CoCreateInstance(CLSID_TlInfoApplication, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                             IID_ITlInfoApplication, application.PutVoid());
        EXPECT_EQ(hr, S_OK) << "creating the TypeLib Information component gave " << Hex(hr);
        return application;
    }

    void ExpectRegistered(const LibraryRecipe& recipe) {
        EXPECT_EQ(ReadRegistryText(HKEY_CLASSES_ROOT, VersionKey(recipe), nullptr), recipe.description)
            << "default value of " << VersionKey(recipe);
    }

    ComApartment apartment_;
    TempFolder folder_;

  private:
    std::vector<LibraryRecipe> made_;
};

} // namespace

TEST_F(Engine, RegisteringAFileWithoutATypeLibraryFailsAndRegistersNothing) {
    std::string path = folder_.File("notes.tlb");
    testsupport::WriteFileBytes(path, "These are notes, not a type library.\r\n");
    DWORD before = RegisteredLibraryCount();

    EXPECT_EQ(RegisterLibraryFile(ToWide(path)), TYPE_E_CANTLOADLIBRARY);

    EXPECT_EQ(RegisteredLibraryCount(), before) << "libraries under HKCR\\TypeLib";
}

TEST_F(Engine, RegisteringWritesTheDescriptionAndTheFilesPathWithoutAskingTheComponent) {
    // A library whose facts the component cannot read can still be registered.
    ComponentScript script;
    script.failingSlot = tlinfo_slot::OpenLibraryFile;
    FakeComponent fake(script);
    LibraryRecipe recipe;
    recipe.description = "Shapes Library";
    std::string path = MakeLibrary("Shapes.tlb", recipe);

    EXPECT_EQ(APPLYREGISTRATION(&fake, path, 1), 0);

    EXPECT_TRUE(script.calls.empty()) << script.calls.size() << " component calls";
    ExpectRegistered(recipe);
    EXPECT_EQ(ReadRegistryText(HKEY_CLASSES_ROOT, VersionKey(recipe) + "\\0\\win32", nullptr), path);
}

TEST_F(Engine, UnregisteringRemovesTheIdentityTheFileDeclares) {
    // The version key's numbers are hexadecimal and the locale names a subkey of its own:
    // each must come from the file for the right registration to go.
    // A 64-bit library is registered under win64, and only unregistering win64 removes it.
    struct Identity {
        WORD major, minor;
        LCID lcid;
        SYSKIND syskind;
    };
    ComPtr<ITlInfoApplication> component = CreateComponent();
    ASSERT_TRUE(component);
    const Identity identities[] = {
        {1, 0, 0, SYS_WIN32}, {2, 10, 0x409, SYS_WIN32}, {65535, 1, 0, SYS_WIN32}, {3, 0, 0, SYS_WIN64}};
    for (const Identity& identity : identities) {
        LibraryRecipe recipe;
        recipe.major = identity.major;
        recipe.minor = identity.minor;
        recipe.lcid = identity.lcid;
        recipe.syskind = identity.syskind;
        SCOPED_TRACE(VersionKey(recipe));
        std::string path = MakeLibrary(GuidAnsi(recipe.guid) + ".tlb", recipe);
        ASSERT_EQ(RegisterLibraryFile(ToWide(path)), 0);
        ExpectRegistered(recipe);

        HRESULT result = Unregister(component.Get(), path);

        EXPECT_EQ(result, 0) << Hex(result);
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, VersionKey(recipe)));
    }
}

TEST_F(Engine, UnregisteringFromACopyElsewhereRemovesTheRegistration) {
    ComPtr<ITlInfoApplication> component = CreateComponent();
    ASSERT_TRUE(component);
    std::string original = MakeLibrary("Original.tlb");
    ASSERT_EQ(RegisterLibraryFile(ToWide(original)), 0);
    TempFolder elsewhere;
    std::string copy = elsewhere.File("Copy.tlb");
    ASSERT_TRUE(CopyFileA(original.c_str(), copy.c_str(), TRUE)) << GetLastError();

    HRESULT result = Unregister(component.Get(), copy);

    EXPECT_EQ(result, 0) << Hex(result);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, VersionKey(Made())));
}

TEST_F(Engine, WithoutTheComponentNothingIsUnregistered) {
    std::string path = MakeLibrary("Kept.tlb");
    ASSERT_EQ(RegisterLibraryFile(ToWide(path)), 0);

    HRESULT result = Unregister(nullptr, path);

    EXPECT_EQ(result, REGDB_E_CLASSNOTREG) << Hex(result);
    ExpectRegistered(Made());
}

TEST_F(Engine, TheComponentIsAskedForTheIdentityInOrderAndReleasedBeforeUnregistering) {
    std::string path = MakeLibrary("Ordered.tlb", LibraryRecipe());
    ASSERT_EQ(RegisterLibraryFile(ToWide(path)), 0);
    ComponentScript script;
    script.SetGuid(GuidAnsi(Made().guid));
    FakeComponent fake(script);

    EXPECT_EQ(Unregister(&fake, "typed\\path.tlb"), 0);

    const std::vector<int> expected = {tlinfo_slot::OpenLibraryFile, tlinfo_slot::GuidText,
                                       tlinfo_slot::MajorVersion,    tlinfo_slot::MinorVersion,
                                       tlinfo_slot::Locale,          kLibraryReleased};
    EXPECT_EQ(script.calls, expected);
    EXPECT_EQ(script.openedPath, L"typed\\path.tlb") << "the component gets the path as typed";
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, VersionKey(Made())));
}

TEST_F(Engine, AFailingComponentOperationStopsTheUnregistration) {
    std::string path = MakeLibrary("Guarded.tlb");
    ASSERT_EQ(RegisterLibraryFile(ToWide(path)), 0);
    const HRESULT failure = static_cast<HRESULT>(0x800A0035);
    for (int slot : {tlinfo_slot::OpenLibraryFile, tlinfo_slot::GuidText, tlinfo_slot::MajorVersion,
                     tlinfo_slot::MinorVersion, tlinfo_slot::Locale}) {
        SCOPED_TRACE("failing slot " + std::to_string(slot));
        ComponentScript script;
        script.SetGuid(GuidAnsi(Made().guid));
        script.failingSlot = slot;
        script.failure = failure;
        FakeComponent fake(script);

        HRESULT result = Unregister(&fake, path);

        EXPECT_EQ(result, failure) << Hex(result);
        ASSERT_FALSE(script.calls.empty());
        EXPECT_EQ(script.calls.back(), slot == tlinfo_slot::OpenLibraryFile ? slot : kLibraryReleased)
            << "nothing may be asked after the failing operation";
        EXPECT_EQ(script.libraryReferences, 0) << "references left on the library object";
        ExpectRegistered(Made());
    }
}

TEST_F(Engine, AGuidTextThatDoesNotParseStopsBeforeUnregistering) {
    std::string path = MakeLibrary("Unparsed.tlb");
    ASSERT_EQ(RegisterLibraryFile(ToWide(path)), 0);
    ComponentScript script;
    script.SetGuid("not a GUID");
    FakeComponent fake(script);

    HRESULT result = Unregister(&fake, path);

    EXPECT_EQ(result, CO_E_CLASSSTRING) << Hex(result);
    ExpectRegistered(Made());
}
