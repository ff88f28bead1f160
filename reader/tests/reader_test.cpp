// Tests of the gate: good libraries read as the system's loader reads them, files without a
// library get the loader's own code, damage that crashes the loader is refused, a batch goes
// on after a crash, and remembered answers spare children until a file changes.
#include <windows.h>
#include <oleauto.h>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/systemdll.h"
#include "common/owners.h"
#include "common/text.h"
#include "reader/protocol.h"
#include "reader/reader.h"
#include "reader/tests/damage.h"
#include "tests/support/testsupport.h"

namespace {

using namespace testsupport;
using namespace readertest;

// What the system's loader says of a file that is known not to crash it.
HRESULT SystemFacts(const std::wstring& path, LibraryDescription& facts) {
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.Put());
    if (FAILED(hr))
        return hr;
    TLIBATTR* attributes = nullptr;
    if (FAILED(hr = library->GetLibAttr(&attributes)))
        return hr;
    facts.guid = attributes->guid;
    facts.major = attributes->wMajorVerNum;
    facts.minor = attributes->wMinorVerNum;
    facts.lcid = attributes->lcid;
    facts.syskind = attributes->syskind;
    facts.flags = attributes->wLibFlags;
    library->ReleaseTLibAttr(attributes);
    Bstr name, documentation;
    if (FAILED(hr = library->GetDocumentation(-1, name.Put(), documentation.Put(), nullptr, nullptr)))
        return hr;
    facts.name.assign(name.Get() ? name.Get() : L"", name.Length());
    facts.hasDocumentation = documentation.Get() != nullptr;
    facts.documentation.assign(documentation.Get() ? documentation.Get() : L"", documentation.Length());
    facts.typeInfoCount = library->GetTypeInfoCount();
    return S_OK;
}

void ExpectSameFacts(const LibraryDescription& expected, const LibraryDescription& got) {
    EXPECT_EQ(ToAnsi(expected.name), ToAnsi(got.name));
    EXPECT_EQ(ToAnsi(expected.documentation), ToAnsi(got.documentation));
    EXPECT_EQ(expected.hasDocumentation, got.hasDocumentation);
    EXPECT_EQ(GuidText(expected.guid), GuidText(got.guid));
    EXPECT_EQ(expected.major, got.major);
    EXPECT_EQ(expected.minor, got.minor);
    EXPECT_EQ(expected.lcid, got.lcid);
    EXPECT_EQ(expected.syskind, got.syskind);
    EXPECT_EQ(expected.flags, got.flags);
    EXPECT_EQ(expected.typeInfoCount, got.typeInfoCount);
}

// Each test starts with nothing remembered, so that every read it expects a child for gets one.
class Gate : public ::testing::Test {
  protected:
    void SetUp() override {
        reader::ForgetAnswers();
        ASSERT_EQ(S_OK, MakeTypeLibWithInterfaces(shapes_, NewGuid()));
    }
    void TearDown() override { reader::SetTimeLimitForTests(0); }

    TempFolder folder_;
    std::string shapes_ = folder_.File("shapes.tlb");
};

TEST_F(Gate, ReadsGoodLibrariesAsTheSystemLoaderDoesAtBothDepths) {
    LibraryRecipe undocumented;
    undocumented.description = "";
    undocumented.major = 65535;
    undocumented.lcid = 0x409;
    ASSERT_EQ(S_OK, MakeTypeLib(folder_.File("undocumented.tlb"), undocumented));
    std::string embedded = BesideTests("tlinfo_embeddedlib.dll");
    for (const std::string& path :
         {shapes_, folder_.File("undocumented.tlb"), SystemFolderFile("stdole2.tlb"),
          SystemFolderFile("mshtml.tlb"), embedded, embedded + "\\1"}) {
        SCOPED_TRACE(path);
        LibraryDescription expected;
        ASSERT_EQ(S_OK, SystemFacts(ToWide(path), expected));
        for (reader::Depth depth : {reader::Depth::Facts, reader::Depth::Registration}) {
            LibraryDescription got;
            HRESULT hr = reader::ReadLibrary(ToWide(path), depth, got);
            EXPECT_EQ(S_OK, hr) << Hex(hr);
            ExpectSameFacts(expected, got);
        }
    }
}

TEST_F(Gate, GivesTheLoadersOwnCodeForFilesWithoutALibraryAndRefusesImpossiblePaths) {
    WriteFileBytes(folder_.File("text.tlb"), "This is a text file, not a type library.\r\n");
    for (const std::string& path : {folder_.File("text.tlb"), folder_.File("missing.tlb"), folder_.Path()}) {
        LibraryDescription unused;
        HRESULT expected = SystemFacts(ToWide(path), unused);
        LibraryDescription facts;
        facts.name = L"untouched";
        HRESULT hr = reader::ReadLibrary(ToWide(path), reader::Depth::Facts, facts);
        EXPECT_TRUE(FAILED(expected)) << path;
        EXPECT_EQ(Hex(expected), Hex(hr)) << path;
        EXPECT_EQ("untouched", ToAnsi(facts.name)) << "facts are filled on success only";
    }

    unsigned before = reader::ChildrenStarted();
    LibraryDescription facts;
    std::wstring withNul = ToWide(shapes_) + L'\0' + L"x";
    EXPECT_EQ(Hex(E_INVALIDARG), Hex(reader::ReadLibrary(withNul, reader::Depth::Facts, facts)));
    EXPECT_EQ(Hex(E_INVALIDARG), Hex(reader::ReadLibrary(L"", reader::Depth::Facts, facts)));
    std::wstring tooLong = ToWide(folder_.Path()) + L"\\" + std::wstring(MAX_PATH, L'a') + L".tlb";
    EXPECT_EQ(Hex(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE)),
              Hex(reader::ReadLibrary(tooLong, reader::Depth::Facts, facts)));
    EXPECT_EQ(before, reader::ChildrenStarted()) << "a path no loader can take needs no child";
}

// Damage that takes a process down in Wine's loader, each refused with the process unharmed.
TEST_F(Gate, RefusesDamageThatCrashesTheLoader) {
    std::vector<std::string> damaged = WriteKnownCrashers(folder_.Path());
    ASSERT_EQ(4u, damaged.size());
    for (const std::string& path : damaged) {
        for (reader::Depth depth : {reader::Depth::Facts, reader::Depth::Registration}) {
            LibraryDescription facts;
            HRESULT hr = reader::ReadLibrary(ToWide(path), depth, facts);
            EXPECT_TRUE(FAILED(hr)) << path << " gave " << Hex(hr);
            EXPECT_EQ("", ToAnsi(facts.name)) << path;
        }
    }
}

TEST_F(Gate, ABatchUsesOneChildAndGoesOnWithTheNextFileAfterACrash) {
    WriteFileBytes(folder_.File("cut.tlb"), ReadFileBytes(SystemFolderFile("stdole2.tlb")).substr(0, 6469));
    WriteFileBytes(folder_.File("text.tlb"), "not a library");
    std::vector<std::wstring> paths = {ToWide(shapes_), ToWide(folder_.File("cut.tlb")),
                                       ToWide(SystemFolderFile("stdole2.tlb")),
                                       ToWide(folder_.File("text.tlb"))};
    unsigned before = reader::ChildrenStarted();
    std::vector<reader::Answer> answers = reader::ReadLibraries(paths, reader::Depth::Registration);
    ASSERT_EQ(4u, answers.size());
    EXPECT_EQ(Hex(S_OK), Hex(answers[0].result));
    EXPECT_EQ("CorvaneShapes", ToAnsi(answers[0].description.name));
    EXPECT_EQ(Hex(reader::kDamaged), Hex(answers[1].result));
    EXPECT_EQ(Hex(S_OK), Hex(answers[2].result));
    EXPECT_EQ("stdole", ToAnsi(answers[2].description.name));
    EXPECT_EQ(Hex(TYPE_E_CANTLOADLIBRARY), Hex(answers[3].result));
    EXPECT_EQ(before + 2, reader::ChildrenStarted()) << "one child, and one more after the crash";
}

TEST_F(Gate, RemembersAnswersUntilTheFileChangesAndLetsARegistrationReadServeFacts) {
    std::wstring path = ToWide(shapes_);
    LibraryDescription facts;
    struct Step {
        reader::Depth depth;
        unsigned newChildren;
    } steps[] = {{reader::Depth::Facts, 1},
                 {reader::Depth::Facts, 0},
                 {reader::Depth::Registration, 1},
                 {reader::Depth::Registration, 0},
                 {reader::Depth::Facts, 0}};
    for (const Step& step : steps) {
        unsigned before = reader::ChildrenStarted();
        ASSERT_EQ(S_OK, reader::ReadLibrary(path, step.depth, facts));
        EXPECT_EQ(before + step.newChildren, reader::ChildrenStarted())
            << "reading at depth " << static_cast<int>(step.depth);
    }

    // Another library in the same file: a new size and write time, so a new child and new facts.
    LibraryRecipe replacement;
    replacement.name = "Replacement";
    ASSERT_EQ(S_OK, MakeTypeLib(shapes_, replacement));
    unsigned before = reader::ChildrenStarted();
    ASSERT_EQ(S_OK, reader::ReadLibrary(path, reader::Depth::Facts, facts));
    EXPECT_EQ(before + 1, reader::ChildrenStarted());
    EXPECT_EQ("Replacement", ToAnsi(facts.name));
    DeleteTypeLibKey(replacement.guid);
}

TEST_F(Gate, EndsAChildThatDoesNotAnswerInTime) {
    reader::SetTimeLimitForTests(1);
    LibraryDescription facts;
    HRESULT hr =
        reader::ReadLibrary(ToWide(SystemFolderFile("mshtml.tlb")), reader::Depth::Registration, facts);
    EXPECT_EQ(Hex(reader::kTimedOut), Hex(hr));
    reader::SetTimeLimitForTests(0);
    unsigned before = reader::ChildrenStarted();
    EXPECT_EQ(S_OK, reader::ReadLibrary(ToWide(SystemFolderFile("mshtml.tlb")), reader::Depth::Facts, facts));
    EXPECT_EQ(before + 1, reader::ChildrenStarted()) << "a time-out is not remembered";
}

// The parent trusts only a complete answer: any record cut short, lengthened or altered in its
// frame is refused.
TEST(GateRecords, OnlyACompleteAnswerIsAccepted) {
    LibraryDescription facts;
    facts.name = L"Name";
    facts.documentation = L"Documentation";
    facts.hasDocumentation = true;
    facts.major = 65535;
    facts.typeInfoCount = 7;
    std::string whole = reader::EncodeAnswer(S_FALSE, facts);
    HRESULT result = E_FAIL;
    LibraryDescription read;
    ASSERT_TRUE(reader::DecodeAnswer(whole, result, read));
    EXPECT_EQ(S_FALSE, result);
    EXPECT_EQ("Documentation", ToAnsi(read.documentation));
    EXPECT_EQ(65535, read.major);
    EXPECT_TRUE(read.hasDocumentation);

    for (size_t length = 0; length < whole.size(); ++length)
        EXPECT_FALSE(reader::DecodeAnswer(whole.substr(0, length), result, read)) << "cut to " << length;
    std::string longer = whole + "xxxx";
    EXPECT_FALSE(reader::DecodeAnswer(longer, result, read)) << "bytes after the end marker";
    for (size_t at : {size_t{0}, size_t{4}, whole.size() - 1}) {
        std::string altered = whole;
        altered[at] = static_cast<char>(altered[at] ^ 0x5A);
        EXPECT_FALSE(reader::DecodeAnswer(altered, result, read)) << "byte " << at << " altered";
    }
    std::string request = reader::EncodeRequest(reader::Request::Facts, L"C:\\a.tlb");
    EXPECT_FALSE(reader::DecodeAnswer(request, result, read)) << "a request is no answer";
}

} // namespace
