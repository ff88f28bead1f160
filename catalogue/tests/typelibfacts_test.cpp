#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "catalogue/typelibfacts.h"
#include "common/owners.h"
#include "common/programstate.h"
#include "common/text.h"
#include "tests/support/testsupport.h"

using testsupport::DeleteTypeLibKey;
using testsupport::GuidText;
using testsupport::LibraryRecipe;
using testsupport::MakeTypeLib;
using testsupport::NewGuid;
using testsupport::TempFolder;

namespace {

TypeLibFacts Facts(const std::string& name, const std::string& description, unsigned short major,
                   unsigned short minor) {
    TypeLibFacts facts;
    facts.name = name;
    facts.description = description;
    facts.guidText = "{00000000-0000-0000-C000-000000000046}";
    facts.majorVersion = major;
    facts.minorVersion = minor;
    return facts;
}

// Writes HKCR\TypeLib\{guid}\<version> with the given default value (what registration writes).
void WriteVersionKey(const std::string& guidText, const std::string& version, const std::string& value) {
    RegKey key;
    std::string path = "TypeLib\\" + guidText + "\\" + version;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              key.Put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key.Get(), "", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>(value.size() + 1)),
              ERROR_SUCCESS);
}

// Removes HKCR\TypeLib\{guid} when the test ends.
class TypeLibKeyCleanup {
  public:
    explicit TypeLibKeyCleanup(const GUID& guid) : guid_(guid) { DeleteTypeLibKey(guid_); }
    ~TypeLibKeyCleanup() { DeleteTypeLibKey(guid_); }

  private:
    GUID guid_;
};

// ---- A recording stand-in for the component ----

#define FAKE_UNUSED(n)                                                                                       \
    HRESULT STDMETHODCALLTYPE UnusedSlot##n() override {                                                     \
        return E_NOTIMPL;                                                                                    \
    }

// What the fake answers and what it saw. Each answer exists twice: the view asks the GUID, the
// versions and the description a second time for the registry check.
struct Script {
    std::string description[2] = {"Shapes Library", "Shapes Library"};
    std::string name = "Shapes";
    std::string guid[2];
    short major[2] = {1, 1};
    short minor[2] = {0, 0};
    int failAt = -1;          // position in the call sequence that answers with a failure
    bool nullLibrary = false; // the open succeeds but hands back no object
    std::vector<int> slots;   // the slots called, in order
    std::vector<LONG> descriptionArguments;
    std::wstring openedPath;
    LONG libraryReferences = 0;

    // Records a call; true when it is the one that fails.
    bool Call(int slot) {
        slots.push_back(slot);
        return static_cast<int>(slots.size()) - 1 == failAt;
    }
    int Asked(int slot) const {
        int count = 0;
        for (int s : slots)
            count += s == slot;
        return count;
    }
};

constexpr HRESULT kFailure = TYPE_E_CANTLOADLIBRARY;

// Hands out a new BSTR, which the caller frees.
HRESULT Answer(BSTR* out, const std::string& text) {
    std::wstring wide = ToWide(text);
    *out = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    return S_OK;
}

class FakeLibrary final : public ITlInfoLibrary {
  public:
    explicit FakeLibrary(Script& script) : script_(script) { script_.libraryReferences = 1; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++script_.libraryReferences; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --script_.libraryReferences;
        if (left == 0)
            delete this;
        return left;
    }
    // clang-format off
    FAKE_UNUSED(3); FAKE_UNUSED(4); FAKE_UNUSED(5); FAKE_UNUSED(6); FAKE_UNUSED(7); FAKE_UNUSED(8);
    FAKE_UNUSED(9); FAKE_UNUSED(10); FAKE_UNUSED(11); FAKE_UNUSED(13); FAKE_UNUSED(14); FAKE_UNUSED(15);
    FAKE_UNUSED(18); FAKE_UNUSED(21); FAKE_UNUSED(22); FAKE_UNUSED(23); FAKE_UNUSED(24); FAKE_UNUSED(25);
    FAKE_UNUSED(26); FAKE_UNUSED(27); FAKE_UNUSED(28); FAKE_UNUSED(29); FAKE_UNUSED(30); FAKE_UNUSED(31);
    FAKE_UNUSED(32); FAKE_UNUSED(33); FAKE_UNUSED(34); FAKE_UNUSED(35); FAKE_UNUSED(36); FAKE_UNUSED(37);
    FAKE_UNUSED(38); FAKE_UNUSED(39); FAKE_UNUSED(40); FAKE_UNUSED(41); FAKE_UNUSED(42); FAKE_UNUSED(43);
    FAKE_UNUSED(44); FAKE_UNUSED(45); FAKE_UNUSED(46); FAKE_UNUSED(47); FAKE_UNUSED(48); FAKE_UNUSED(49);
    FAKE_UNUSED(50); FAKE_UNUSED(51); FAKE_UNUSED(52); FAKE_UNUSED(53); FAKE_UNUSED(54); FAKE_UNUSED(55);
    FAKE_UNUSED(56); FAKE_UNUSED(57); FAKE_UNUSED(58); FAKE_UNUSED(59); FAKE_UNUSED(60); FAKE_UNUSED(61);
    FAKE_UNUSED(62); FAKE_UNUSED(63); FAKE_UNUSED(64); FAKE_UNUSED(65); FAKE_UNUSED(66); FAKE_UNUSED(67);
    FAKE_UNUSED(68); FAKE_UNUSED(69); FAKE_UNUSED(70); FAKE_UNUSED(71); FAKE_UNUSED(72); FAKE_UNUSED(73);
    FAKE_UNUSED(74); FAKE_UNUSED(75); FAKE_UNUSED(76);
    // clang-format on

    HRESULT STDMETHODCALLTYPE Name(BSTR* out) override {
        return script_.Call(tlinfo_slot::Name) ? kFailure : Answer(out, script_.name);
    }
    HRESULT STDMETHODCALLTYPE GuidText(BSTR* out) override {
        int round = Round(tlinfo_slot::GuidText);
        return script_.Call(tlinfo_slot::GuidText) ? kFailure : Answer(out, script_.guid[round]);
    }
    HRESULT STDMETHODCALLTYPE Locale(LCID* out) override {
        script_.Call(tlinfo_slot::Locale);
        *out = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE MajorVersion(short* out) override {
        int round = Round(tlinfo_slot::MajorVersion);
        if (script_.Call(tlinfo_slot::MajorVersion))
            return kFailure;
        *out = script_.major[round];
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE MinorVersion(short* out) override {
        int round = Round(tlinfo_slot::MinorVersion);
        if (script_.Call(tlinfo_slot::MinorVersion))
            return kFailure;
        *out = script_.minor[round];
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DescriptiveText(LONG argument, BSTR* out) override {
        int round = Round(tlinfo_slot::DescriptiveText);
        script_.descriptionArguments.push_back(argument);
        return script_.Call(tlinfo_slot::DescriptiveText) ? kFailure
                                                          : Answer(out, script_.description[round]);
    }

  private:
    int Round(int slot) const { return script_.Asked(slot) == 0 ? 0 : 1; }
    Script& script_;
};

class FakeApplication final : public ITlInfoApplication {
  public:
    explicit FakeApplication(Script& script) : script_(script) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // Lives on the test's stack: the view neither takes nor gives back a reference.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    // clang-format off
    FAKE_UNUSED(3); FAKE_UNUSED(4); FAKE_UNUSED(5); FAKE_UNUSED(6); FAKE_UNUSED(7); FAKE_UNUSED(8);
    // clang-format on

    HRESULT STDMETHODCALLTYPE OpenLibraryFile(BSTR path, ITlInfoLibrary** library) override {
        *library = nullptr;
        script_.openedPath.assign(path, SysStringLen(path));
        if (script_.Call(tlinfo_slot::OpenLibraryFile))
            return kFailure;
        if (!script_.nullLibrary)
            *library = new FakeLibrary(script_);
        return S_OK;
    }

  private:
    Script& script_;
};

// ---- The test window: the four controls the view writes ----

// The order in which the controls were written, e.g. "1005=Shapes (Shapes Library)", "1010:1".
std::vector<std::string>& Writes() {
    static std::vector<std::string> writes;
    return writes;
}

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    int id = GetDlgCtrlID(window);
    if (message == WM_SETTEXT)
        Writes().push_back(std::to_string(id) + "=" + reinterpret_cast<const char*>(lParam));
    else if (message == BM_SETCHECK)
        Writes().push_back(std::to_string(id) + ":" + std::to_string(wParam));
    auto original = reinterpret_cast<WNDPROC>(GetPropA(window, "CorvaneTestProc"));
    return CallWindowProcA(original, window, message, wParam, lParam);
}

class FactsWindow {
  public:
    FactsWindow() {
        window_.Reset(CreateWindowExA(0, "STATIC", "facts", WS_POPUP, 0, 0, 400, 200, nullptr, nullptr,
                                      nullptr, nullptr));
        for (int id : {IDC_NAME, IDC_GUID, IDC_VERSION})
            Child("EDIT", ES_AUTOHSCROLL, id);
        Child("BUTTON", BS_AUTOCHECKBOX, IDC_REGISTERED);
    }
    HWND Get() const { return window_.Get(); }
    std::string Text(int id) const {
        char text[1024] = {};
        GetWindowTextA(GetDlgItem(window_.Get(), id), text, sizeof text);
        return text;
    }
    bool Checked() const {
        return SendMessageA(GetDlgItem(window_.Get(), IDC_REGISTERED), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    // Fills the view with facts of an earlier file, which a later call must not leave behind.
    void ShowStale() {
        for (int id : {IDC_NAME, IDC_GUID, IDC_VERSION})
            SetWindowTextA(GetDlgItem(window_.Get(), id), "stale");
        SendMessageA(GetDlgItem(window_.Get(), IDC_REGISTERED), BM_SETCHECK, BST_CHECKED, 0);
        Writes().clear();
    }
    void ExpectCleared() const {
        EXPECT_EQ(Text(IDC_NAME), "");
        EXPECT_EQ(Text(IDC_GUID), "");
        EXPECT_EQ(Text(IDC_VERSION), "");
        EXPECT_FALSE(Checked());
    }

  private:
    void Child(const char* className, DWORD style, int id) {
        HWND child = CreateWindowExA(0, className, "", WS_CHILD | WS_VISIBLE | style, 0, 20 * (id - 1005),
                                     300, 18, window_.Get(),
                                     reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), nullptr, nullptr);
        SetPropA(child, "CorvaneTestProc", reinterpret_cast<HANDLE>(GetWindowLongPtrA(child, GWLP_WNDPROC)));
        SetWindowLongPtrA(child, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordingProc));
    }
    OwnedWindow window_;
};

const std::vector<std::string> kClearedInOrder = {"1005=", "1007=", "1009=", "1010:0"};

} // namespace

// ---- The texts ----

TEST(FactsTexts, NameLineJoinsNameAndDescription) {
    EXPECT_EQ(NameLine(Facts("Shapes", "Shapes Library", 1, 0)), "Shapes (Shapes Library)");
    EXPECT_EQ(NameLine(Facts("Shapes", "", 1, 0)), "Shapes ()");
}

TEST(FactsTexts, VersionTextIsDecimalAndVersionKeyIsLowerCaseHexOfUnsignedNumbers) {
    struct Case {
        unsigned short major, minor;
        const char* text;
        const char* keyEnd;
    } cases[] = {{1, 0, "1.0", "\\1.0"},
                 {2, 10, "2.10", "\\2.a"},
                 {0, 0, "0.0", "\\0.0"},
                 {65535, 1, "65535.1", "\\ffff.1"},
                 {0x7FFF, 0xABCD, "32767.43981", "\\7fff.abcd"}};
    for (const Case& c : cases) {
        TypeLibFacts facts = Facts("n", "d", c.major, c.minor);
        EXPECT_EQ(VersionText(facts), c.text);
        EXPECT_EQ(VersionKey(facts),
                  "TypeLib\\{00000000-0000-0000-C000-000000000046}" + std::string(c.keyEnd));
    }
}

// ---- The view against the recording fake ----

class FactsViewWithFake : public ::testing::Test {
  protected:
    void SetUp() override {
        guid_ = NewGuid();
        script_.guid[0] = script_.guid[1] = GuidText(guid_);
        window_.ShowStale();
    }
    void TearDown() override { DeleteTypeLibKey(guid_); }
    void Show(const std::string& path = "C:\\libs\\shapes.tlb") {
        ShowTypeLibFacts(window_.Get(), &application_, path);
    }

    GUID guid_;
    Script script_;
    FakeApplication application_{script_};
    FactsWindow window_;
};

TEST_F(FactsViewWithFake, ShowsTheFactsAskingTheComponentInItsOrder) {
    script_.major[0] = script_.major[1] = 2;
    script_.minor[0] = script_.minor[1] = 10;
    Show("C:\\libs\\caf\xE9.tlb");
    EXPECT_EQ(script_.slots, (std::vector<int>{9, 77, 12, 16, 19, 20, 16, 19, 20, 77}));
    EXPECT_EQ(script_.descriptionArguments, (std::vector<LONG>{0, 0}));
    EXPECT_EQ(script_.openedPath, L"C:\\libs\\caf\x00E9.tlb")
        << "the path goes over as UTF-16 of code page 1252";
    EXPECT_EQ(window_.Text(IDC_NAME), "Shapes (Shapes Library)");
    EXPECT_EQ(window_.Text(IDC_GUID), GuidText(guid_));
    EXPECT_EQ(window_.Text(IDC_VERSION), "2.10");
    EXPECT_FALSE(window_.Checked()) << "no key TypeLib\\{guid}\\2.a exists";
    EXPECT_EQ(Writes(), (std::vector<std::string>{"1005=Shapes (Shapes Library)", "1007=" + GuidText(guid_),
                                                  "1009=2.10", "1010:0"}));
    EXPECT_EQ(script_.libraryReferences, 0) << "the library object is released";
}

TEST_F(FactsViewWithFake, EmptyPathOrNoApplicationClearsTheViewWithoutCallingTheComponent) {
    Show("");
    EXPECT_TRUE(script_.slots.empty());
    EXPECT_EQ(Writes(), kClearedInOrder);
    window_.ExpectCleared();

    window_.ShowStale();
    ShowTypeLibFacts(window_.Get(), nullptr, "C:\\libs\\shapes.tlb");
    EXPECT_EQ(Writes(), kClearedInOrder);
    window_.ExpectCleared();

    Show(" ");
    EXPECT_EQ(script_.slots.size(), 10u) << "a path of blanks is not empty";
}

TEST_F(FactsViewWithFake, FailureAtAnyStepClearsTheViewAndReleasesTheLibrary) {
    const std::vector<int> order = {9, 77, 12, 16, 19, 20, 16, 19, 20, 77};
    WriteVersionKey(GuidText(guid_), "1.0", "Shapes Library"); // would be shown as registered
    for (int step = 0; step < 10; ++step) {
        SCOPED_TRACE("failing call " + std::to_string(step) + " (slot " + std::to_string(order[step]) + ")");
        script_.slots.clear();
        script_.failAt = step;
        window_.ShowStale();
        Show();
        EXPECT_EQ(script_.slots, std::vector<int>(order.begin(), order.begin() + step + 1))
            << "nothing is asked after the failure";
        ASSERT_GE(Writes().size(), 4u);
        EXPECT_EQ(std::vector<std::string>(Writes().end() - 4, Writes().end()), kClearedInOrder);
        window_.ExpectCleared();
        EXPECT_EQ(script_.libraryReferences, 0);
    }
}

TEST_F(FactsViewWithFake, OpenThatSucceedsWithoutALibraryObjectClearsTheView) {
    script_.nullLibrary = true;
    Show();
    EXPECT_EQ(script_.slots, std::vector<int>{9});
    EXPECT_EQ(Writes(), kClearedInOrder);
}

TEST_F(FactsViewWithFake, RegisteredOnlyWhenTheVersionKeyExistsAndHoldsTheDescriptionByteForByte) {
    std::string guid = GuidText(guid_);
    Show();
    EXPECT_FALSE(window_.Checked()) << "no key";

    WriteVersionKey(guid, "1.0", "Shapes Library");
    Show();
    EXPECT_TRUE(window_.Checked()) << "same text";

    WriteVersionKey(guid, "1.0", "shapes library");
    Show();
    EXPECT_FALSE(window_.Checked()) << "case differs";

    WriteVersionKey(guid, "1.0", "Shapes Library ");
    Show();
    EXPECT_FALSE(window_.Checked()) << "length differs";

    // An empty description matches an existing key with an empty default value, but a
    // missing key means not registered even then.
    script_.description[0] = script_.description[1] = "";
    WriteVersionKey(guid, "1.0", "");
    Show();
    EXPECT_TRUE(window_.Checked()) << "key exists, both texts empty";
    EXPECT_EQ(window_.Text(IDC_NAME), "Shapes ()");
    DeleteTypeLibKey(guid_);
    Show();
    EXPECT_FALSE(window_.Checked()) << "missing key with an empty description";
}

TEST_F(FactsViewWithFake, KeyAndComparisonUseTheSecondAnswers) {
    // The first answers are shown; the key is built from the second GUID and versions, and the
    // second description is the one compared.
    GUID second = NewGuid();
    TypeLibKeyCleanup cleanup(second);
    script_.guid[1] = GuidText(second);
    script_.major[1] = 3;
    script_.minor[1] = 11;
    script_.description[1] = "Second text";
    WriteVersionKey(GuidText(second), "3.b", "Second text");
    Show();
    EXPECT_EQ(window_.Text(IDC_GUID), GuidText(guid_));
    EXPECT_EQ(window_.Text(IDC_VERSION), "1.0");
    EXPECT_EQ(window_.Text(IDC_NAME), "Shapes (Shapes Library)");
    EXPECT_TRUE(window_.Checked());
}

TEST_F(FactsViewWithFake, VersionsAbove32767AreUnsignedAndLongDescriptionsAreComparedWhole) {
    script_.major[0] = script_.major[1] = -1; // 65535 as the component hands it over
    script_.minor[0] = script_.minor[1] = 1;
    std::string longText(300, 'd');
    script_.description[0] = script_.description[1] = longText;
    WriteVersionKey(GuidText(guid_), "ffff.1", longText);
    Show();
    EXPECT_EQ(window_.Text(IDC_VERSION), "65535.1");
    EXPECT_TRUE(window_.Checked()) << "the key ffff.1 holds the whole 300-byte description";

    WriteVersionKey(GuidText(guid_), "ffff.1", longText.substr(0, 256));
    Show();
    EXPECT_FALSE(window_.Checked()) << "only the first 256 bytes match";
}

TEST_F(FactsViewWithFake, ProgramWideEntryUsesTheProgramsWindowAndApplication) {
    ProgramState saved = g_program;
    g_program.mainWindow = window_.Get();
    g_program.application = &application_;
    SHOWTYPELIBFACTS("C:\\libs\\shapes.tlb");
    g_program = saved;
    EXPECT_EQ(script_.slots.size(), 10u);
    EXPECT_EQ(window_.Text(IDC_VERSION), "1.0");
}

// ---- The view against our TypeLib Information component ----

class FactsViewWithComponent : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(apartment_.Result()));
        HRESULT hr =
            CoCreateInstance(CLSID_TlInfoApplication, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                             IID_ITlInfoApplication, application_.PutVoid());
        ASSERT_EQ(hr, S_OK) << "the component is registered in the test prefix; got 0x" << std::hex << hr;
    }
    void TearDown() override {
        for (const GUID& guid : made_)
            DeleteTypeLibKey(guid);
    }

    // Makes a library file; its keys are removed when the test ends.
    std::string Make(const LibraryRecipe& recipe, const std::string& file) {
        made_.push_back(recipe.guid);
        std::string path = folder_.File(file);
        EXPECT_EQ(MakeTypeLib(path, recipe), S_OK) << path;
        return path;
    }
    void Register(const std::string& path) {
        ComPtr<ITypeLib> library;
        std::wstring wide = ToWide(path);
        ASSERT_EQ(LoadTypeLibEx(wide.c_str(), REGKIND_NONE, library.Put()), S_OK);
        ASSERT_EQ(RegisterTypeLib(library.Get(), &wide[0], nullptr), S_OK);
    }
    void Show(const std::string& path) { ShowTypeLibFacts(window_.Get(), application_.Get(), path); }

    ComApartment apartment_;
    ComPtr<ITlInfoApplication> application_;
    TempFolder folder_;
    FactsWindow window_;
    std::vector<GUID> made_;
};

TEST_F(FactsViewWithComponent, ShowsAMadeLibraryAndItsRegistration) {
    LibraryRecipe recipe;
    recipe.name = "Shapes";
    recipe.description = "Shapes Library";
    recipe.major = 2;
    recipe.minor = 10;
    std::string path = Make(recipe, "shapes.tlb");
    Show(path);
    EXPECT_EQ(window_.Text(IDC_NAME), "Shapes (Shapes Library)");
    EXPECT_EQ(window_.Text(IDC_GUID), GuidText(recipe.guid));
    EXPECT_EQ(window_.Text(IDC_VERSION), "2.10");
    EXPECT_FALSE(window_.Checked()) << "not registered yet";

    Register(path);
    Show(path);
    EXPECT_TRUE(window_.Checked()) << "registration wrote TypeLib\\{guid}\\2.a";
}

TEST_F(FactsViewWithComponent, HighVersionsAndLongDescriptionsAreRecognisedAsRegistered) {
    LibraryRecipe recipe;
    recipe.major = 65535;
    recipe.minor = 1;
    recipe.description = std::string(290, 'L') + " Library";
    std::string path = Make(recipe, "high.tlb");
    Register(path);
    Show(path);
    EXPECT_EQ(window_.Text(IDC_VERSION), "65535.1");
    EXPECT_TRUE(window_.Checked()) << "registration writes the key ffff.1 with the whole description";
}

TEST_F(FactsViewWithComponent, DescriptionThatDiffersOnlyInCaseIsNotRegistered) {
    LibraryRecipe recipe;
    recipe.description = "Case Library";
    std::string path = Make(recipe, "case.tlb");
    WriteVersionKey(GuidText(recipe.guid), "1.0", "case library");
    Show(path);
    EXPECT_FALSE(window_.Checked());
}

// A library without a documentation string is registered under its name, and the component
// answers its name as the descriptive text, so such a library is recognised once registered.
TEST_F(FactsViewWithComponent, LibraryWithoutDocumentationStringIsRecognisedByItsName) {
    LibraryRecipe recipe;
    recipe.name = "Bare";
    recipe.description = "";
    std::string path = Make(recipe, "bare.tlb");
    Show(path);
    EXPECT_EQ(window_.Text(IDC_NAME), "Bare (Bare)");
    EXPECT_FALSE(window_.Checked()) << "missing key";
    Register(path);
    Show(path);
    EXPECT_TRUE(window_.Checked()) << "registered library without a documentation string";
}

TEST_F(FactsViewWithComponent, SecondFileReplacesOrClearsTheFirst) {
    LibraryRecipe first;
    first.name = "First";
    first.description = "First Library";
    std::string firstPath = Make(first, "first.tlb");
    Register(firstPath);
    LibraryRecipe second;
    second.name = "Second";
    second.description = "Second Library";
    second.major = 3;
    second.minor = 0;
    std::string secondPath = Make(second, "second.tlb");

    Show(firstPath);
    ASSERT_TRUE(window_.Checked());
    Show(secondPath);
    EXPECT_EQ(window_.Text(IDC_NAME), "Second (Second Library)");
    EXPECT_EQ(window_.Text(IDC_GUID), GuidText(second.guid));
    EXPECT_EQ(window_.Text(IDC_VERSION), "3.0");
    EXPECT_FALSE(window_.Checked());

    Show(firstPath);
    std::string notALibrary = folder_.File("notes.tlb");
    testsupport::WriteFileBytes(notALibrary, "just some text, no type library");
    Show(notALibrary);
    window_.ExpectCleared();
    Show(folder_.File("missing.tlb"));
    window_.ExpectCleared();
}
