// Tests of our TypeLib Information server, used only through the contract header: created by
// class id as the program creates it (the test run registers the built DLL with regsvr32),
// or loaded by file for its exports.
#include <windows.h>
#include <objbase.h>
#include <olectl.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "common/owners.h"
#include "common/text.h"
#include "reader/tests/damage.h"
#include "tests/support/testsupport.h"
#include "tlinfo/tlinfo.h"

namespace {

using namespace testsupport;

const char kClassKey[] = TLINFO_APPLICATION_CLASS_KEY;
const char kInprocKey[] = TLINFO_APPLICATION_CLASS_KEY "\\InprocServer32";

// The facts of one library, in the program's ANSI text.
struct Facts {
    std::string name;
    std::string description;
    std::string guid;
    LCID lcid = 0;
    short major = 0;
    short minor = 0;
};

// What the system's own loader reports for the file: the answers the component must give.
Facts SystemFacts(const std::string& path) {
    Facts facts;
    ComPtr<ITypeLib> typeLib;
    HRESULT hr = LoadTypeLibEx(ToWide(path).c_str(), REGKIND_NONE, typeLib.Put());
    EXPECT_EQ(S_OK, hr) << "LoadTypeLibEx(" << path << ") gave " << Hex(hr);
    if (FAILED(hr))
        return facts;
    Bstr name, description;
    typeLib->GetDocumentation(-1, name.Put(), description.Put(), nullptr, nullptr);
    facts.name = ToAnsi(name.Get());
    // The descriptive text is what registration writes for the library: its documentation
    // string, or its name when it has none.
    facts.description = ToAnsi(description.Get() ? description.Get() : name.Get());
    TLIBATTR* attributes = nullptr;
    if (SUCCEEDED(typeLib->GetLibAttr(&attributes))) {
        facts.guid = GuidAnsi(attributes->guid);
        facts.lcid = attributes->lcid;
        facts.major = static_cast<short>(attributes->wMajorVerNum);
        facts.minor = static_cast<short>(attributes->wMinorVerNum);
        typeLib->ReleaseTLibAttr(attributes);
    }
    return facts;
}

void ExpectSameFacts(const Facts& expected, const Facts& got) {
    EXPECT_EQ(expected.name, got.name);
    EXPECT_EQ(expected.description, got.description);
    EXPECT_EQ(expected.guid, got.guid);
    EXPECT_EQ(expected.lcid, got.lcid);
    EXPECT_EQ(expected.major, got.major);
    EXPECT_EQ(expected.minor, got.minor);
}

// One call of a text operation; fails the test on a failed HRESULT.
std::string Text(ITlInfoLibrary* library, HRESULT (STDMETHODCALLTYPE ITlInfoLibrary::*operation)(BSTR*)) {
    Bstr text;
    HRESULT hr = (library->*operation)(text.Put());
    EXPECT_EQ(S_OK, hr) << Hex(hr);
    EXPECT_NE(nullptr, text.Get()) << "a successful text operation returned a null BSTR";
    return ToAnsi(text.Get());
}

std::string Description(ITlInfoLibrary* library) {
    Bstr text;
    HRESULT hr = library->DescriptiveText(0, text.Put());
    EXPECT_EQ(S_OK, hr) << Hex(hr);
    EXPECT_NE(nullptr, text.Get()) << "the descriptive text came back as a null BSTR";
    return ToAnsi(text.Get());
}

template <class T>
T Number(ITlInfoLibrary* library, HRESULT (STDMETHODCALLTYPE ITlInfoLibrary::*operation)(T*)) {
    T value{};
    HRESULT hr = (library->*operation)(&value);
    EXPECT_EQ(S_OK, hr) << Hex(hr);
    return value;
}

std::string RegistryDefault(const char* keyName, const char* valueName = nullptr) {
    RegKey key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, keyName, 0, KEY_QUERY_VALUE, key.Put()) != ERROR_SUCCESS)
        return "<no key>";
    char value[MAX_PATH * 2] = {};
    DWORD size = sizeof value - 1;
    if (RegQueryValueExA(key.Get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) !=
        ERROR_SUCCESS)
        return "<no value>";
    return value;
}

// An export of a loaded DLL as the function type it has.
template <class Function> Function Export(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

bool SameFileName(const std::string& a, const std::string& b) {
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

class TlInfoComponent : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(apartment_.Result())) << Hex(apartment_.Result());
        HRESULT hr =
            CoCreateInstance(CLSID_TlInfoApplication, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                             IID_ITlInfoApplication, application_.PutVoid());
        ASSERT_EQ(S_OK, hr) << "CoCreateInstance gave " << Hex(hr);
    }

    HRESULT Open(const std::string& path, ComPtr<ITlInfoLibrary>& library) {
        Bstr widePath = ToBstr(path);
        return application_->OpenLibraryFile(widePath.Get(), library.Put());
    }

    // Opens path with a stale value in the out pointer, which a refusal must overwrite with null.
    HRESULT OpenRefused(BSTR path) {
        ITlInfoLibrary* const stale = reinterpret_cast<ITlInfoLibrary*>(this);
        ITlInfoLibrary* library = stale;
        HRESULT hr = application_->OpenLibraryFile(path, &library);
        EXPECT_EQ(nullptr, library) << "the out pointer after " << Hex(hr);
        if (library && library != stale)
            library->Release();
        return hr;
    }

    // The facts view's order, 9, 77, 12, 16, 19, 20, 16, 19, 20, 77: the repeated answers must
    // match the first ones.
    Facts ReadInViewOrder(const std::string& path) {
        Facts facts;
        ComPtr<ITlInfoLibrary> library;
        HRESULT hr = Open(path, library);
        EXPECT_EQ(S_OK, hr) << "opening " << path << " gave " << Hex(hr);
        if (!library)
            return facts;
        ITlInfoLibrary* lib = library.Get();
        facts.description = Description(lib);
        facts.name = Text(lib, &ITlInfoLibrary::Name);
        facts.guid = Text(lib, &ITlInfoLibrary::GuidText);
        facts.major = Number(lib, &ITlInfoLibrary::MajorVersion);
        facts.minor = Number(lib, &ITlInfoLibrary::MinorVersion);
        EXPECT_EQ(facts.guid, Text(lib, &ITlInfoLibrary::GuidText));
        EXPECT_EQ(facts.major, Number(lib, &ITlInfoLibrary::MajorVersion));
        EXPECT_EQ(facts.minor, Number(lib, &ITlInfoLibrary::MinorVersion));
        EXPECT_EQ(facts.description, Description(lib));
        return facts;
    }

    // The unregister order, 9, 16, 19, 20, 17; the name and description stay as found.
    Facts ReadInUnregisterOrder(const std::string& path, Facts facts) {
        ComPtr<ITlInfoLibrary> library;
        HRESULT hr = Open(path, library);
        EXPECT_EQ(S_OK, hr) << "opening " << path << " gave " << Hex(hr);
        if (!library)
            return facts;
        facts.guid = Text(library.Get(), &ITlInfoLibrary::GuidText);
        facts.major = Number(library.Get(), &ITlInfoLibrary::MajorVersion);
        facts.minor = Number(library.Get(), &ITlInfoLibrary::MinorVersion);
        facts.lcid = Number(library.Get(), &ITlInfoLibrary::Locale);
        return facts;
    }

    // Both call orders agree with the system loader; returns what the component said.
    Facts ExpectBothOrdersMatchSystem(const std::string& path) {
        SCOPED_TRACE(path);
        Facts expected = SystemFacts(path);
        Facts viewed = ReadInViewOrder(path);
        Facts unregistering = ReadInUnregisterOrder(path, viewed);
        viewed.lcid = unregistering.lcid;
        ExpectSameFacts(expected, viewed);
        ExpectSameFacts(expected, unregistering);
        return viewed;
    }

    ComApartment apartment_;
    ComPtr<ITlInfoApplication> application_;
};

struct MadeCase {
    const char* label;
    const char* description; // code page 1252
    WORD major;
    WORD minor;
    LCID lcid;
};

void PrintTo(const MadeCase& c, std::ostream* out) {
    *out << c.label;
}

class MadeLibrary : public TlInfoComponent, public ::testing::WithParamInterface<MadeCase> {};

// The program compares the descriptive text with the value registration writes under
// TypeLib\{guid}\<major hex>.<minor hex>; both must be the same text.
TEST_P(MadeLibrary, AnswersInBothCallOrdersAsTheSystemLoaderTheMakerAndRegistrationSay) {
    const MadeCase& c = GetParam();
    TempFolder folder;
    LibraryRecipe recipe;
    recipe.name = "CorvaneMade";
    recipe.description = c.description;
    recipe.major = c.major;
    recipe.minor = c.minor;
    recipe.lcid = c.lcid;
    std::string path = folder.File("made.tlb");
    ASSERT_EQ(S_OK, MakeTypeLib(path, recipe));

    Facts got = ExpectBothOrdersMatchSystem(path);
    EXPECT_EQ(recipe.name, got.name);
    // A made library with an empty description has no documentation string at all.
    EXPECT_EQ(recipe.description.empty() ? recipe.name : recipe.description, got.description);
    EXPECT_EQ(GuidAnsi(recipe.guid), got.guid);
    GUID parsed{};
    EXPECT_EQ(S_OK, CLSIDFromString(ToWide(got.guid).c_str(), &parsed)) << got.guid;
    EXPECT_TRUE(IsEqualGUID(recipe.guid, parsed)) << got.guid;
    EXPECT_EQ(static_cast<short>(c.major), got.major);
    EXPECT_EQ(static_cast<short>(c.minor), got.minor);
    EXPECT_EQ(c.lcid, got.lcid);

    ComPtr<ITypeLib> typeLib;
    std::wstring widePath = ToWide(path);
    ASSERT_EQ(S_OK, LoadTypeLibEx(widePath.c_str(), REGKIND_NONE, typeLib.Put()));
    HRESULT hr = RegisterTypeLib(typeLib.Get(), &widePath[0], nullptr);
    ASSERT_EQ(S_OK, hr) << Hex(hr);
    char version[16];
    std::snprintf(version, sizeof version, "%x.%x", c.major, c.minor);
    std::string key = "TypeLib\\" + GuidAnsi(recipe.guid) + "\\" + version;
    std::string registered = RegistryDefault(key.c_str());
    UnRegisterTypeLib(recipe.guid, c.major, c.minor, c.lcid, SYS_WIN32);
    DeleteTypeLibKey(recipe.guid);
    EXPECT_EQ(registered, got.description) << "under HKCR\\" << key;
}

INSTANTIATE_TEST_SUITE_P(
    Versions, MadeLibrary,
    ::testing::Values(MadeCase{"EmptyDescriptionVersion0_0Neutral", "", 0, 0, 0},
                      MadeCase{"Version2_10English", "Test Library", 2, 10, 0x409},
                      MadeCase{"NonAsciiDescriptionVersion32767_1", "Biblioth\xE8que f\xFCr \x80 \x97 \xA9",
                               32767, 1, 0x409},
                      // 65535 comes out as -1: the interface hands versions over as signed.
                      MadeCase{"Version65535_65535", "Highest version", 65535, 65535, 0}),
    [](const ::testing::TestParamInfo<MadeCase>& info) { return std::string(info.param.label); });

TEST_F(TlInfoComponent, ReadsALibraryEmbeddedInADll) {
    Facts got = ExpectBothOrdersMatchSystem(BesideTests("tlinfo_embeddedlib.dll"));
    EXPECT_EQ("CorvaneEmbeddedTest", got.name);
    EXPECT_EQ("Corvane embedded test library", got.description);
    EXPECT_EQ("{3E6B1D52-8C4A-4F07-B1E9-5A2D7C0F9B36}", got.guid);
    EXPECT_EQ(3, got.major);
    EXPECT_EQ(7, got.minor);
    EXPECT_EQ(0x409u, got.lcid);
}

TEST_F(TlInfoComponent, ReadsARealLibraryOfTheSystem) {
    Facts got = ExpectBothOrdersMatchSystem("C:\\windows\\system32\\stdole2.tlb");
    EXPECT_EQ("stdole", got.name);
    EXPECT_EQ("{00020430-0000-0000-C000-000000000046}", got.guid);
    EXPECT_EQ(2, got.major);
}

TEST_F(TlInfoComponent, RefusesInputsThatHoldNoLibraryWithoutHandingBackAnObject) {
    TempFolder folder;
    LibraryRecipe recipe;
    std::string valid = folder.File("valid.tlb");
    ASSERT_EQ(S_OK, MakeTypeLib(valid, recipe));
    WriteFileBytes(folder.File("text.tlb"), "This is a text file, not a type library.\r\n");
    WriteFileBytes(folder.File("empty.tlb"), "");
    std::string whole;
    {
        KernelHandle file(
            CreateFileA(valid.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        char buffer[4096];
        DWORD read = 0;
        ASSERT_TRUE(ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr));
        whole.assign(buffer, read);
    }
    WriteFileBytes(folder.File("header-only.tlb"), whole.substr(0, 16));
    WriteFileBytes(folder.File("half.tlb"), whole.substr(0, whole.size() / 2));
    CreateDirectoryA(folder.File("folder.tlb").c_str(), nullptr);

    // The embedded test DLL holds, as its TYPELIB resource 2, a library cut short; a path ending
    // in "\2" names that resource.
    for (std::string path :
         {folder.File("text.tlb"), folder.File("empty.tlb"), folder.File("header-only.tlb"),
          folder.File("half.tlb"), folder.File("folder.tlb"), folder.File("missing.tlb"),
          BesideTests("tlinfo_embeddedlib.dll") + "\\2"}) {
        SCOPED_TRACE(path);
        Bstr widePath = ToBstr(path);
        HRESULT hr = OpenRefused(widePath.Get());
        EXPECT_TRUE(FAILED(hr)) << Hex(hr);
    }
    DeleteTypeLibKey(recipe.guid);
}

// The loader reads a library whose table directory declares the first table it holds far longer
// than the file: a check of the layout alone refused such a file.
TEST_F(TlInfoComponent, ReadsALibraryWhoseDirectoryOverstatesATableLength) {
    TempFolder folder;
    LibraryRecipe recipe;
    ASSERT_EQ(S_OK, MakeTypeLib(folder.File("made.tlb"), recipe));
    std::string bytes = ReadFileBytes(folder.File("made.tlb"));
    std::vector<size_t> fields = readertest::HeaderFields(bytes);
    ASSERT_FALSE(fields.empty());
    // After the header's words, each table's offset (-1: absent) and length.
    size_t table = readertest::kHeaderWords;
    while (table < fields.size() && static_cast<unsigned char>(bytes[fields[table]]) == 0xFF)
        table += 2;
    ASSERT_LT(table, fields.size());
    const uint32_t overstated = 0x7FFFFFFF;
    std::memcpy(&bytes[fields[table + 1]], &overstated, sizeof overstated);
    WriteFileBytes(folder.File("overstated.tlb"), bytes);
    ExpectBothOrdersMatchSystem(folder.File("overstated.tlb"));
    DeleteTypeLibKey(recipe.guid);
}

TEST_F(TlInfoComponent, RefusesEmptyNullAndCutPathsAndNullOutPointers) {
    TempFolder folder;
    LibraryRecipe recipe;
    ASSERT_EQ(S_OK, MakeTypeLib(folder.File("valid.tlb"), recipe));

    // "valid.tlb" + NUL + "x": read up to the NUL it names a real library, but it is not the
    // path the caller gave.
    std::wstring cut = ToWide(folder.File("valid.tlb")) + L'\0' + L"x";
    Bstr empty(SysAllocString(L"")), cutPath(SysAllocStringLen(cut.data(), static_cast<UINT>(cut.size())));
    const std::pair<const char*, BSTR> refused[] = {
        {"null path", nullptr}, {"empty path", empty.Get()}, {"path with a NUL inside", cutPath.Get()}};
    for (const auto& path : refused) {
        HRESULT hr = OpenRefused(path.second);
        EXPECT_EQ(E_INVALIDARG, hr) << path.first << " gave " << Hex(hr);
    }

    Bstr validPath = ToBstr(folder.File("valid.tlb"));
    HRESULT hr = application_->OpenLibraryFile(validPath.Get(), nullptr);
    EXPECT_EQ(E_POINTER, hr) << Hex(hr);

    ComPtr<ITlInfoLibrary> opened;
    ASSERT_EQ(S_OK, application_->OpenLibraryFile(validPath.Get(), opened.Put()));
    EXPECT_EQ(E_POINTER, opened->Name(nullptr));
    EXPECT_EQ(E_POINTER, opened->GuidText(nullptr));
    EXPECT_EQ(E_POINTER, opened->Locale(nullptr));
    EXPECT_EQ(E_POINTER, opened->MajorVersion(nullptr));
    EXPECT_EQ(E_POINTER, opened->MinorVersion(nullptr));
    EXPECT_EQ(E_POINTER, opened->DescriptiveText(0, nullptr));
    DeleteTypeLibKey(recipe.guid);
}

TEST_F(TlInfoComponent, OpeningByRelativePathLeavesTheLibraryUnregistered) {
    TempFolder folder;
    LibraryRecipe recipe;
    ASSERT_EQ(S_OK, MakeTypeLib(folder.File("relative.tlb"), recipe));
    std::string key = "TypeLib\\" + GuidAnsi(recipe.guid);
    ComPtr<ITlInfoLibrary> library;
    HRESULT hr;
    {
        CurrentFolderScope inFolder(folder.Path());
        hr = Open("relative.tlb", library);
    }
    EXPECT_EQ(S_OK, hr) << Hex(hr);
    if (library) {
        EXPECT_EQ(GuidAnsi(recipe.guid), Text(library.Get(), &ITlInfoLibrary::GuidText));
    }
    library.Reset();

    RegKey registered;
    LSTATUS status = RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, registered.Put());
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, status) << "HKCR\\" << key << " after reading the library";
    DeleteTypeLibKey(recipe.guid);
}

// The program calls by slot number; each operation must sit where the contract puts it and
// every slot in between must answer, with E_NOTIMPL.
TEST_F(TlInfoComponent, OperationsSitAtTheirSlotsAndTheOtherSlotsAnswerNotImplemented) {
    using NoArguments = HRESULT(STDMETHODCALLTYPE*)(void*);
    using OpenSlot = HRESULT(STDMETHODCALLTYPE*)(void*, BSTR, ITlInfoLibrary**);
    using TextSlot = HRESULT(STDMETHODCALLTYPE*)(void*, BSTR*);
    using LcidSlot = HRESULT(STDMETHODCALLTYPE*)(void*, LCID*);
    using ShortSlot = HRESULT(STDMETHODCALLTYPE*)(void*, short*);
    using DescriptionSlot = HRESULT(STDMETHODCALLTYPE*)(void*, LONG, BSTR*);

    void** applicationTable = *reinterpret_cast<void***>(application_.Get());
    for (int slot = 3; slot < tlinfo_slot::OpenLibraryFile; ++slot)
        EXPECT_EQ(E_NOTIMPL, reinterpret_cast<NoArguments>(applicationTable[slot])(application_.Get()))
            << "application slot " << slot;

    TempFolder folder;
    LibraryRecipe recipe;
    recipe.description = "Slot check";
    recipe.major = 4;
    recipe.minor = 2;
    recipe.lcid = 0x409;
    ASSERT_EQ(S_OK, MakeTypeLib(folder.File("slots.tlb"), recipe));
    Bstr path = ToBstr(folder.File("slots.tlb"));
    ITlInfoLibrary* raw = nullptr;
    auto open = reinterpret_cast<OpenSlot>(applicationTable[tlinfo_slot::OpenLibraryFile]);
    ASSERT_EQ(S_OK, open(application_.Get(), path.Get(), &raw));
    ComPtr<ITlInfoLibrary> library = ComPtr<ITlInfoLibrary>::Attach(raw);
    void** table = *reinterpret_cast<void***>(raw);

    Bstr name, guid, description;
    LCID lcid = 0;
    short major = 0, minor = 0;
    EXPECT_EQ(S_OK, reinterpret_cast<TextSlot>(table[tlinfo_slot::Name])(raw, name.Put()));
    EXPECT_EQ(S_OK, reinterpret_cast<TextSlot>(table[tlinfo_slot::GuidText])(raw, guid.Put()));
    EXPECT_EQ(S_OK, reinterpret_cast<LcidSlot>(table[tlinfo_slot::Locale])(raw, &lcid));
    EXPECT_EQ(S_OK, reinterpret_cast<ShortSlot>(table[tlinfo_slot::MajorVersion])(raw, &major));
    EXPECT_EQ(S_OK, reinterpret_cast<ShortSlot>(table[tlinfo_slot::MinorVersion])(raw, &minor));
    EXPECT_EQ(S_OK, reinterpret_cast<DescriptionSlot>(table[tlinfo_slot::DescriptiveText])(
                        raw, 0, description.Put()));
    EXPECT_EQ(Text(raw, &ITlInfoLibrary::Name), ToAnsi(name.Get()));
    EXPECT_EQ(Text(raw, &ITlInfoLibrary::GuidText), ToAnsi(guid.Get()));
    EXPECT_EQ(Number(raw, &ITlInfoLibrary::Locale), lcid);
    EXPECT_EQ(Number(raw, &ITlInfoLibrary::MajorVersion), major);
    EXPECT_EQ(Number(raw, &ITlInfoLibrary::MinorVersion), minor);
    EXPECT_EQ(Description(raw), ToAnsi(description.Get()));
    EXPECT_EQ("Slot check", ToAnsi(description.Get()));
    EXPECT_EQ(4, major);

    const int used[] = {tlinfo_slot::Name, tlinfo_slot::GuidText, tlinfo_slot::Locale,
                        tlinfo_slot::MajorVersion, tlinfo_slot::MinorVersion};
    for (int slot = 3; slot < tlinfo_slot::DescriptiveText; ++slot) {
        if (std::find(std::begin(used), std::end(used), slot) != std::end(used))
            continue;
        EXPECT_EQ(E_NOTIMPL, reinterpret_cast<NoArguments>(table[slot])(raw)) << "library slot " << slot;
    }
    DeleteTypeLibKey(recipe.guid);
}

// The server's exports, called on the DLL loaded by file (the same module COM loaded, since the
// registration names this very file).
class TlInfoServerExports : public ::testing::Test {
  protected:
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    using NoArgumentExport = HRESULT(STDAPICALLTYPE*)();

    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(apartment_.Result())) << Hex(apartment_.Result());
        server_.Reset(LoadLibraryA(BesideTests("CorvaneTLInfo.dll").c_str()));
        ASSERT_TRUE(server_) << "LoadLibrary error " << GetLastError();
        getClassObject_ = Export<GetClassObject>(server_.Get(), "DllGetClassObject");
        canUnloadNow_ = Export<NoArgumentExport>(server_.Get(), "DllCanUnloadNow");
        ASSERT_NE(nullptr, getClassObject_);
        ASSERT_NE(nullptr, canUnloadNow_);
    }

    ComApartment apartment_;
    Module server_;
    GetClassObject getClassObject_ = nullptr;
    NoArgumentExport canUnloadNow_ = nullptr;
};

TEST_F(TlInfoServerExports, CanUnloadOnlyWhenNoObjectOrLockRemains) {
    ASSERT_EQ(S_OK, canUnloadNow_()) << "objects were left alive by earlier tests";

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, getClassObject_(CLSID_TlInfoApplication, IID_IClassFactory, factory.PutVoid()));
    EXPECT_EQ(S_FALSE, canUnloadNow_()) << "with a class factory alive";
    ComPtr<ITlInfoApplication> application;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_ITlInfoApplication, application.PutVoid()));
    factory.Reset();
    EXPECT_EQ(S_FALSE, canUnloadNow_()) << "with the application alive";

    TempFolder folder;
    LibraryRecipe recipe;
    ASSERT_EQ(S_OK, MakeTypeLib(folder.File("count.tlb"), recipe));
    Bstr path = ToBstr(folder.File("count.tlb"));
    ComPtr<ITlInfoLibrary> library;
    ASSERT_EQ(S_OK, application->OpenLibraryFile(path.Get(), library.Put()));
    application.Reset();
    EXPECT_EQ(S_FALSE, canUnloadNow_()) << "with a library object alive";
    library->AddRef();
    EXPECT_EQ(1u, library->Release()) << "Release must answer the count it left";
    library.Reset();
    EXPECT_EQ(S_OK, canUnloadNow_()) << "after the last Release";

    // A lock outlives the factory that took it.
    ASSERT_EQ(S_OK, getClassObject_(CLSID_TlInfoApplication, IID_IClassFactory, factory.PutVoid()));
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    factory.Reset();
    EXPECT_EQ(S_FALSE, canUnloadNow_()) << "with the server locked";
    ASSERT_EQ(S_OK, getClassObject_(CLSID_TlInfoApplication, IID_IClassFactory, factory.PutVoid()));
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    factory.Reset();
    EXPECT_EQ(S_OK, canUnloadNow_()) << "after the lock was dropped";
    DeleteTypeLibKey(recipe.guid);
}

TEST_F(TlInfoServerExports, RefusesUnknownClassesInterfacesAndAggregation) {
    void* object = this;
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, getClassObject_(IID_ITlInfoApplication, IID_IClassFactory, &object));
    EXPECT_EQ(nullptr, object);

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, getClassObject_(CLSID_TlInfoApplication, IID_IClassFactory, factory.PutVoid()));
    object = this;
    EXPECT_EQ(CLASS_E_NOAGGREGATION,
              factory->CreateInstance(reinterpret_cast<IUnknown*>(factory.Get()), IID_IUnknown, &object));
    EXPECT_EQ(nullptr, object);
    object = this;
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IClassFactory, &object));
    EXPECT_EQ(nullptr, object);
    factory.Reset();
    EXPECT_EQ(S_OK, canUnloadNow_()) << "a refused creation left an object behind";
}

// A second copy of the server must neither take over nor remove the registration that names
// another file.
TEST_F(TlInfoServerExports, ACopyElsewhereNeitherTakesOverNorRemovesTheRegistration) {
    std::string before = RegistryDefault(kInprocKey);
    ASSERT_PRED2(SameFileName, BesideTests("CorvaneTLInfo.dll"), before);

    TempFolder folder;
    std::string copyPath = folder.File("CorvaneTLInfo.dll");
    ASSERT_TRUE(CopyFileA(BesideTests("CorvaneTLInfo.dll").c_str(), copyPath.c_str(), FALSE));
    {
        Module copy(LoadLibraryA(copyPath.c_str()));
        ASSERT_TRUE(copy) << "LoadLibrary error " << GetLastError();
        ASSERT_NE(server_.Get(), copy.Get());
        auto registerServer = Export<NoArgumentExport>(copy.Get(), "DllRegisterServer");
        auto unregisterServer = Export<NoArgumentExport>(copy.Get(), "DllUnregisterServer");
        ASSERT_NE(nullptr, registerServer);
        ASSERT_NE(nullptr, unregisterServer);

        HRESULT hr = registerServer();
        EXPECT_EQ(SELFREG_E_CLASS, hr) << Hex(hr);
        EXPECT_EQ(before, RegistryDefault(kInprocKey)) << "after the copy's DllRegisterServer";
        hr = unregisterServer();
        EXPECT_TRUE(SUCCEEDED(hr)) << Hex(hr);
        EXPECT_EQ(before, RegistryDefault(kInprocKey)) << "after the copy's DllUnregisterServer";
    }
    EXPECT_EQ("Apartment", RegistryDefault(kInprocKey, "ThreadingModel"));
}

// The real server removes its own registration and writes it back; a registration that names
// an out-of-process server is refused as well. The registration is restored in every case.
TEST_F(TlInfoServerExports, UnregistersAndRegistersItselfButNotOverAnotherServer) {
    auto registerServer = Export<NoArgumentExport>(server_.Get(), "DllRegisterServer");
    auto unregisterServer = Export<NoArgumentExport>(server_.Get(), "DllUnregisterServer");
    ASSERT_NE(nullptr, registerServer);
    ASSERT_NE(nullptr, unregisterServer);
    struct Restore {
        NoArgumentExport registerServer;
        ~Restore() {
            RegDeleteTreeA(HKEY_CLASSES_ROOT, kClassKey);
            registerServer();
        }
    } restore{registerServer};

    EXPECT_EQ(S_OK, unregisterServer());
    EXPECT_EQ("<no key>", RegistryDefault(kClassKey));
    EXPECT_EQ(S_OK, unregisterServer()) << "unregistering twice";

    {
        RegKey local;
        std::string localKey = std::string(kClassKey) + "\\LocalServer32";
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, localKey.c_str(), 0, nullptr, 0,
                                                 KEY_WRITE, nullptr, local.Put(), nullptr));
        const char other[] = "C:\\elsewhere\\server.exe";
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(local.Get(), nullptr, 0, REG_SZ,
                                                reinterpret_cast<const BYTE*>(other), sizeof other));
    }
    HRESULT hr = registerServer();
    EXPECT_EQ(SELFREG_E_CLASS, hr) << "over an out-of-process server: " << Hex(hr);
    EXPECT_EQ("<no key>", RegistryDefault(kInprocKey));
    RegDeleteTreeA(HKEY_CLASSES_ROOT, kClassKey);

    hr = registerServer();
    EXPECT_EQ(S_OK, hr) << Hex(hr);
    EXPECT_PRED2(SameFileName, BesideTests("CorvaneTLInfo.dll"), RegistryDefault(kInprocKey));
    EXPECT_EQ("Apartment", RegistryDefault(kInprocKey, "ThreadingModel"));
}

} // namespace
