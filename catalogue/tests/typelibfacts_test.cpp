// A library's facts through the component, the texts and key built from them, and the
// registered decision: against a fake component that records what it is asked, and against our
// own component with libraries made at run time.
#include <gtest/gtest.h>

#include <vector>

#include "catalogue/typelibfacts.h"
#include "common/owners.h"
#include "common/text.h"
#include "tests/support/fakecomponent.h"
#include "tests/support/testsupport.h"

using testsupport::ComponentScript;
using testsupport::DeleteTypeLibKey;
using testsupport::FakeComponent;
using testsupport::GuidAnsi;
using testsupport::kLibraryReleased;
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

const std::vector<int> kCallOrder = {9, 77, 12, 16, 19, 20, 16, 19, 20, 77};

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

// ---- Reading through a recording fake ----

class FactsWithFake : public ::testing::Test {
  protected:
    void SetUp() override {
        guid_ = NewGuid();
        script_.SetGuid(GuidAnsi(guid_));
    }
    void TearDown() override { DeleteTypeLibKey(guid_); }
    HRESULT Read(const std::string& path = "C:\\libs\\shapes.tlb") {
        return ReadTypeLibFacts(&component_, path, facts_);
    }

    GUID guid_;
    ComponentScript script_;
    FakeComponent component_{script_};
    TypeLibFacts facts_;
};

TEST_F(FactsWithFake, AsksTheComponentInItsOrderAndReleasesTheLibrary) {
    script_.SetVersion(2, 10);
    ASSERT_EQ(Read("C:\\libs\\caf\xE9.tlb"), S_OK);
    std::vector<int> expected = kCallOrder;
    expected.push_back(kLibraryReleased);
    EXPECT_EQ(script_.calls, expected);
    EXPECT_EQ(script_.descriptionArguments, (std::vector<LONG>{0, 0}));
    EXPECT_EQ(script_.openedPath, L"C:\\libs\\caf\x00E9.tlb")
        << "the path goes over as UTF-16 of code page 1252";
    EXPECT_EQ(facts_.path, "C:\\libs\\caf\xE9.tlb");
    EXPECT_EQ(NameLine(facts_), "Shapes (Shapes Library)");
    EXPECT_EQ(facts_.guidText, GuidAnsi(guid_));
    EXPECT_EQ(VersionText(facts_), "2.10");
    EXPECT_FALSE(facts_.registered) << "no key TypeLib\\{guid}\\2.a exists";
}

TEST_F(FactsWithFake, NoApplicationFailsWithoutACall) {
    EXPECT_EQ(ReadTypeLibFacts(nullptr, "C:\\libs\\shapes.tlb", facts_), E_POINTER);
    EXPECT_TRUE(script_.calls.empty());
}

TEST_F(FactsWithFake, AFailureAtAnyStepEndsTheReadingAndReleasesTheLibrary) {
    WriteVersionKey(GuidAnsi(guid_), "1.0", "Shapes Library"); // would be registered
    for (int step = 0; step < 10; ++step) {
        SCOPED_TRACE("failing call " + std::to_string(step) + " (slot " + std::to_string(kCallOrder[step]) +
                     ")");
        script_.calls.clear();
        script_.failAt = step;
        EXPECT_EQ(Read(), script_.failure);
        std::vector<int> expected(kCallOrder.begin(), kCallOrder.begin() + step + 1);
        if (step > 0)
            expected.push_back(kLibraryReleased);
        EXPECT_EQ(script_.calls, expected) << "nothing is asked after the failure";
        EXPECT_EQ(script_.libraryReferences, 0);
    }
}

TEST_F(FactsWithFake, AnOpenThatHandsBackNoLibraryObjectFails) {
    script_.nullLibrary = true;
    EXPECT_TRUE(FAILED(Read()));
    EXPECT_EQ(script_.calls, std::vector<int>{9});
}

TEST_F(FactsWithFake, RegisteredOnlyWhenTheVersionKeyExistsAndHoldsTheDescriptionByteForByte) {
    std::string guid = GuidAnsi(guid_);
    struct Case {
        const char* description; // the library's
        const char* keyValue;    // the key's default value; null: no key
        bool registered;
    } cases[] = {{"Shapes Library", nullptr, false},
                 {"Shapes Library", "Shapes Library", true},
                 {"Shapes Library", "shapes library", false},  // case differs
                 {"Shapes Library", "Shapes Library ", false}, // length differs
                 // An empty description matches an existing key with an empty default value, but
                 // a missing key means not registered even then.
                 {"", "", true},
                 {"", nullptr, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("description '") + c.description + "', key " +
                     (c.keyValue ? std::string("'") + c.keyValue + "'" : "missing"));
        DeleteTypeLibKey(guid_);
        if (c.keyValue)
            WriteVersionKey(guid, "1.0", c.keyValue);
        script_.SetDescription(c.description);
        script_.calls.clear();
        ASSERT_EQ(Read(), S_OK);
        EXPECT_EQ(facts_.registered, c.registered);
    }
}

TEST_F(FactsWithFake, KeyAndComparisonUseTheSecondAnswersWhileTheFirstAreKept) {
    GUID second = NewGuid();
    TypeLibKeyCleanup cleanup(second);
    script_.guid[1] = GuidAnsi(second);
    script_.major[1] = 3;
    script_.minor[1] = 11;
    script_.description[1] = "Second text";
    WriteVersionKey(GuidAnsi(second), "3.b", "Second text");
    ASSERT_EQ(Read(), S_OK);
    EXPECT_EQ(facts_.guidText, GuidAnsi(guid_));
    EXPECT_EQ(VersionText(facts_), "1.0");
    EXPECT_EQ(NameLine(facts_), "Shapes (Shapes Library)");
    EXPECT_TRUE(facts_.registered);
}

TEST_F(FactsWithFake, VersionsAbove32767AreUnsignedAndLongDescriptionsAreComparedWhole) {
    script_.SetVersion(-1, 1); // 65535 as the component hands it over
    std::string longText(300, 'd');
    script_.SetDescription(longText);
    WriteVersionKey(GuidAnsi(guid_), "ffff.1", longText);
    ASSERT_EQ(Read(), S_OK);
    EXPECT_EQ(VersionText(facts_), "65535.1");
    EXPECT_TRUE(facts_.registered) << "the key ffff.1 holds the whole 300-byte description";

    WriteVersionKey(GuidAnsi(guid_), "ffff.1", longText.substr(0, 256));
    ASSERT_EQ(Read(), S_OK);
    EXPECT_FALSE(facts_.registered) << "only the first 256 bytes match";
}

// ---- Reading through our TypeLib Information component ----

class FactsWithComponent : public ::testing::Test {
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
    // The facts of path; empty facts (and a failure) when no library could be read.
    TypeLibFacts Read(const std::string& path) {
        TypeLibFacts facts;
        lastResult_ = ReadTypeLibFacts(application_.Get(), path, facts);
        return facts;
    }

    ComApartment apartment_;
    ComPtr<ITlInfoApplication> application_;
    TempFolder folder_;
    std::vector<GUID> made_;
    HRESULT lastResult_ = S_OK;
};

// A library without a documentation string is registered under its name, and the component
// answers its name as the descriptive text, so such a library is recognised once registered.
TEST_F(FactsWithComponent, ReadsAMadeLibraryAndRecognisesItOnceRegistered) {
    struct Case {
        const char* name;
        const char* description;
        WORD major, minor;
        const char* nameLine;
        const char* version;
    } cases[] = {{"Shapes", "Shapes Library", 2, 10, "Shapes (Shapes Library)", "2.10"},
                 {"Bare", "", 1, 0, "Bare (Bare)", "1.0"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LibraryRecipe recipe;
        recipe.name = c.name;
        recipe.description = c.description;
        recipe.major = c.major;
        recipe.minor = c.minor;
        std::string path = Make(recipe, std::string(c.name) + ".tlb");
        TypeLibFacts facts = Read(path);
        ASSERT_EQ(lastResult_, S_OK);
        EXPECT_EQ(NameLine(facts), c.nameLine);
        EXPECT_EQ(facts.guidText, GuidAnsi(recipe.guid));
        EXPECT_EQ(VersionText(facts), c.version);
        EXPECT_FALSE(facts.registered) << "not registered yet";

        Register(path);
        EXPECT_TRUE(Read(path).registered) << "after registering; version key " << VersionKey(facts);
    }
}
