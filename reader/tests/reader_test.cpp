// Tests of the gate: good libraries read as the system's loader reads them, files without a
// library get the loader's own code, damage that crashes the loader is refused, a batch goes
// on after a crash, and remembered answers spare children until a file changes.
#include <windows.h>
#include <oleauto.h>
#include <tlhelp32.h>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/systemdll.h"
#include "common/owners.h"
#include "common/text.h"
#include "reader/content.h"
#include "reader/protocol.h"
#include "reader/reader.h"
#include "reader/sharedreader.h"
#include "reader/testing.h"
#include "reader/tests/damage.h"
#include "registration/classesroot.h"
#include "registration/registration.h"
#include "tests/support/driver.h"
#include "tests/support/fakecomponent.h"
#include "tests/support/testsupport.h"

namespace {

using namespace testsupport;
using namespace readertest;

// The system's loader, in this process, as the oracle for a file known not to crash it: what
// the reader answered must be what the loader says of the file.
void ExpectAsTheLoaderReads(const std::wstring& path, const LibraryDescription& got) {
    ComPtr<ITypeLib> library;
    ASSERT_EQ(S_OK, LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.Put()));
    LibraryAttributes attributes(library.Get());
    ASSERT_EQ(S_OK, library->GetLibAttr(attributes.Put()));
    Bstr name, documentation;
    ASSERT_EQ(S_OK, library->GetDocumentation(-1, name.Put(), documentation.Put(), nullptr, nullptr));
    EXPECT_EQ(ToAnsi(name.Get()), ToAnsi(got.name));
    EXPECT_EQ(ToAnsi(documentation.Get()), ToAnsi(got.documentation));
    EXPECT_EQ(documentation.Get() != nullptr, got.hasDocumentation);
    EXPECT_EQ(GuidText(attributes->guid), GuidText(got.guid));
    EXPECT_EQ(attributes->wMajorVerNum, got.major);
    EXPECT_EQ(attributes->wMinorVerNum, got.minor);
    EXPECT_EQ(attributes->lcid, got.lcid);
    EXPECT_EQ(attributes->syskind, got.syskind);
    EXPECT_EQ(attributes->wLibFlags, got.flags);
    EXPECT_EQ(library->GetTypeInfoCount(), got.typeInfoCount);
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
        for (reader::Depth depth : {reader::Depth::Facts, reader::Depth::Registration}) {
            LibraryDescription got;
            HRESULT hr = reader::ReadLibrary(ToWide(path), depth, got);
            EXPECT_EQ(S_OK, hr) << Hex(hr);
            ExpectAsTheLoaderReads(ToWide(path), got);
        }
    }
}

TEST_F(Gate, GivesTheLoadersOwnCodeForFilesWithoutALibraryAndRefusesImpossiblePaths) {
    WriteFileBytes(folder_.File("text.tlb"), "This is a text file, not a type library.\r\n");
    for (const std::string& path : {folder_.File("text.tlb"), folder_.File("missing.tlb"), folder_.Path()}) {
        ComPtr<ITypeLib> unused;
        HRESULT expected = LoadTypeLibEx(ToWide(path).c_str(), REGKIND_NONE, unused.Put());
        LibraryDescription facts;
        facts.name = L"untouched";
        HRESULT hr = reader::ReadLibrary(ToWide(path), reader::Depth::Facts, facts);
        EXPECT_TRUE(FAILED(expected)) << path;
        EXPECT_EQ(Hex(expected), Hex(hr)) << path;
        EXPECT_EQ("untouched", ToAnsi(facts.name)) << "facts are filled on success only";
    }

    // The longest full path a library loads from has MAX_PATH - 1 characters.
    std::string longest =
        folder_.File(std::string(MAX_PATH - 1 - folder_.Path().size() - 1 - 4, 'n') + ".tlb");
    ASSERT_EQ(S_OK, MakeTypeLib(longest, LibraryRecipe()));
    LibraryDescription facts;
    EXPECT_EQ(Hex(S_OK), Hex(reader::ReadLibrary(ToWide(longest), reader::Depth::Facts, facts)));
    unsigned before = reader::ChildrenStarted();
    std::wstring withNul = ToWide(shapes_) + L'\0' + L"x";
    EXPECT_EQ(Hex(E_INVALIDARG), Hex(reader::ReadLibrary(withNul, reader::Depth::Facts, facts)));
    EXPECT_EQ(Hex(E_INVALIDARG), Hex(reader::ReadLibrary(L"", reader::Depth::Facts, facts)));
    const HRESULT tooLong = HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    for (size_t length : {size_t(MAX_PATH), size_t(300), size_t(1039)}) {
        std::wstring path = ToWide(folder_.File(std::string(length - folder_.Path().size() - 1, 'x')));
        EXPECT_EQ(Hex(tooLong), Hex(reader::ReadLibrary(path, reader::Depth::Facts, facts))) << length;
    }
    // A short relative path is measured by the full path it names.
    CurrentFolderScope inFolder(folder_.Path());
    std::wstring relative(MAX_PATH - folder_.Path().size(), L'r');
    EXPECT_EQ(Hex(tooLong), Hex(reader::ReadLibrary(relative, reader::Depth::Facts, facts)));
    EXPECT_EQ(before, reader::ChildrenStarted()) << "a path no loader can take needs no child";
}

// Damage that takes a process down in Wine's loader, each refused as damaged (the child's end
// noticed at once, not at the time limit) with the process unharmed.
TEST_F(Gate, RefusesDamageThatCrashesTheLoader) {
    std::vector<std::string> damaged = WriteKnownCrashers(folder_.Path());
    ASSERT_EQ(5u, damaged.size());
    for (const std::string& path : damaged) {
        for (reader::Depth depth : {reader::Depth::Facts, reader::Depth::Registration}) {
            LibraryDescription facts;
            HRESULT hr = reader::ReadLibrary(ToWide(path), depth, facts);
            EXPECT_EQ(Hex(reader::kDamaged), Hex(hr)) << path;
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

// The window's round trip on a new file: registering reads it at registration depth in the
// program, and unregistering has the component read its identity, and then reads it again for
// its system kind. With the program's reads handed to the component's reader, one child serves
// all three; a server that is not ours keeps the program on its own reader.
TEST_F(Gate, TheProgramAndTheComponentReadThroughOneReader) {
    ComApartment apartment;
    ComPtr<ITlInfoApplication> application;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_TlInfoApplication, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_ITlInfoApplication, application.PutVoid()));
    ComponentScript script;
    FakeComponent fake(script);
    EXPECT_FALSE(reader::ShareReaderOf(&fake));
    ASSERT_TRUE(reader::ShareReaderOf(application.Get()));
    struct Unshare {
        ~Unshare() { reader::ShareReaderOf(nullptr); }
    } unshare;
    LibraryRecipe recipe;
    std::string path = folder_.File("round-trip.tlb");
    ASSERT_EQ(S_OK, MakeTypeLib(path, recipe));

    unsigned before = reader::ChildrenStarted();
    EXPECT_EQ(Hex(S_OK), Hex(APPLYREGISTRATION(application.Get(), path, 1)));
    EXPECT_EQ(Hex(S_OK), Hex(APPLYREGISTRATION(application.Get(), path, 0)));
    LibraryDescription description;
    EXPECT_EQ(Hex(S_OK), Hex(reader::ReadLibrary(ToWide(path), reader::Depth::Facts, description)));
    EXPECT_EQ(before + 1, reader::ChildrenStarted());
    DeleteTypeLibKey(recipe.guid);
}

// A window of the reading thread that counts its paints and a posted message.
LONG g_paints = 0;
LONG g_posted = 0;

LRESULT CALLBACK CountingWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        ++g_paints;
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    g_posted += message == WM_APP;
    return DefWindowProcW(window, message, wParam, lParam);
}

struct Invalidation {
    HWND window;
    volatile LONG done;
};

DWORD WINAPI InvalidateUntilDone(void* parameter) {
    auto* invalidation = static_cast<Invalidation*>(parameter);
    while (!InterlockedCompareExchange(&invalidation->done, 0, 0)) {
        InvalidateRect(invalidation->window, nullptr, FALSE);
        Sleep(5);
    }
    return 0;
}

TEST_F(Gate, AWindowsThreadRepaintsWhileAChildReadsAndLeavesPostedMessagesQueued) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = CountingWindow;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"CorvaneReaderTestWindow";
    RegisterClassW(&windowClass);
    OwnedWindow window(CreateWindowW(windowClass.lpszClassName, L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                     200, 100, nullptr, nullptr, windowClass.hInstance, nullptr));
    ASSERT_TRUE(window);
    UpdateWindow(window.Get());
    g_paints = g_posted = 0;
    PostMessageW(window.Get(), WM_APP, 0, 0);
    Invalidation invalidation = {window.Get(), 0};
    KernelHandle invalidator(CreateThread(nullptr, 0, InvalidateUntilDone, &invalidation, 0, nullptr));
    ASSERT_TRUE(invalidator);

    // Several hundred milliseconds in the child; the other thread invalidates the window every 5 ms.
    LibraryDescription description;
    HRESULT hr =
        reader::ReadLibrary(ToWide(SystemFolderFile("mshtml.tlb")), reader::Depth::Registration, description);
    InterlockedExchange(&invalidation.done, 1);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(invalidator.Get(), 10000));
    EXPECT_EQ(Hex(S_OK), Hex(hr));
    EXPECT_GE(g_paints, 2) << "paints while the child read";
    EXPECT_EQ(0, g_posted) << "the posted message was dispatched during the wait";
    MSG message;
    EXPECT_TRUE(PeekMessageW(&message, window.Get(), WM_APP, WM_APP, PM_REMOVE)) << "it is no longer queued";
}

// A reader of this module's own that tries to open the file for writing each time its child has
// read it: between the child's walk and the load.
struct RewritingReader final : reader::OwnReader {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE ReadLibraries(BSTR requests, BSTR* answers) override {
        HRESULT hr = OwnReader::ReadLibraries(requests, answers);
        FileHandle writer(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
        errors.push_back(writer ? ERROR_SUCCESS : GetLastError());
        return hr;
    }
    std::wstring path;
    std::vector<DWORD> errors;
};

// The two ways a file is loaded here to be registered: as the window's engine registers it, and
// as the console's export captures what registering writes.
const std::pair<const char*, std::function<HRESULT(const std::wstring&)>> kLoadingWays[] = {
    {"register", [](const std::wstring& path) { return RegisterLibraryFile(path); }},
    {"capture",
     [](const std::wstring& path) {
         RegistryTree tree;
         return CaptureRegistration(path, tree);
     }},
};

TEST_F(Gate, AFileBeingLoadedCannotBeRewrittenBetweenTheChildsWalkAndTheLoad) {
    for (const auto& way : kLoadingWays) {
        SCOPED_TRACE(way.first);
        LibraryRecipe recipe;
        RewritingReader rewriter;
        rewriter.path = ToWide(folder_.File(std::string(way.first) + ".tlb"));
        ASSERT_EQ(S_OK, MakeTypeLib(ToAnsi(rewriter.path), recipe));
        ASSERT_TRUE(reader::ShareReaderOf(&rewriter));
        HRESULT hr = way.second(rewriter.path);
        reader::ShareReaderOf(nullptr);
        EXPECT_EQ(Hex(S_OK), Hex(hr));
        // The capture holds the file once for its whole length, and registering inside it reads again.
        EXPECT_EQ(std::vector<DWORD>(rewriter.errors.size(), ERROR_SHARING_VIOLATION), rewriter.errors);
        EXPECT_FALSE(rewriter.errors.empty());
        FileHandle writer(CreateFileW(rewriter.path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
        EXPECT_TRUE(writer) << "the file is no longer held";
        // Open for writing elsewhere (a handle stands for another program's): refused, no child.
        unsigned children = reader::ChildrenStarted();
        EXPECT_EQ(Hex(HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)), Hex(way.second(rewriter.path)));
        EXPECT_EQ(children, reader::ChildrenStarted());
        DeleteTypeLibKey(recipe.guid);
    }
}

// The swap: a library read, registered and unregistered (each answered by one remembered
// registration read), then rewritten in place with a damaged library of the same size and its
// last-write time put back. Loading it again has a child walk the new bytes, which crash it: the
// damage is refused, never loaded here (it would take this process down).
TEST_F(Gate, ALibraryRewrittenWithItsSizeAndTimeKeptIsWalkedAgainBeforeItIsLoaded) {
    for (const auto& way : kLoadingWays) {
        SCOPED_TRACE(way.first);
        std::string path = folder_.File(std::string(way.first) + ".tlb");
        GUID guid = NewGuid();
        ASSERT_EQ(S_OK, MakeTypeLibWithInterfaces(path, guid));
        std::wstring wide = ToWide(path);
        LibraryDescription read;
        ASSERT_EQ(S_OK, reader::ReadLibrary(wide, reader::Depth::Registration, read));
        unsigned children = reader::ChildrenStarted();
        ASSERT_EQ(Hex(S_OK), Hex(RegisterLibraryFile(wide)));
        ASSERT_EQ(Hex(S_OK), Hex(UnregisterLibrary(read.Identity())));
        EXPECT_EQ(children, reader::ChildrenStarted()) << "the same bytes are walked once";

        std::string bytes = ReadFileBytes(path);
        size_t count = FunctionCountOffset(bytes, 0);
        ASSERT_NE(0u, count);
        bytes[count] = static_cast<char>(244);
        WIN32_FILE_ATTRIBUTE_DATA before{};
        ASSERT_TRUE(GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &before));
        WriteFileBytes(path, bytes);
        FileHandle file(CreateFileW(wide.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(SetFileTime(file.Get(), nullptr, nullptr, &before.ftLastWriteTime));
        file.Reset();

        children = reader::ChildrenStarted();
        EXPECT_EQ(S_OK, reader::ReadLibrary(wide, reader::Depth::Facts, read))
            << "size and time kept: recalled";
        EXPECT_EQ(Hex(reader::kDamaged), Hex(way.second(wide)));
        EXPECT_EQ(children + 1, reader::ChildrenStarted());
        DeleteTypeLibKey(guid);
    }
}

// What the launch got, recorded for every limit, and the child's own view of its token. A
// missing limit fails the test. Wine enforces the job's kill-on-close and the deny-only
// Administrators; it accepts and ignores the removed privileges and the low label, which the
// record therefore reports as got and the child's token report does not show (printed only).
TEST_F(Gate, TheChildRunsInAJobWithARestrictedTokenAtLowIntegrity) {
    reader::Confinement confinement;
    std::wstring token;
    ASSERT_EQ(Hex(S_OK), Hex(reader::AskIdleChild(&confinement, &token)));
    EXPECT_EQ("", ToAnsi(reader::MissingConfinement(confinement)));
    EXPECT_TRUE(reader::IsFullConfinement(*reader::LastConfinement()));
    std::string report = ToAnsi(token) + " ";
    EXPECT_NE(std::string::npos, report.find("administrators=deny-only")) << report;
    std::printf("note: the child's token here (Windows: privileges=1, integrity=4096): %s\n", report.c_str());
}

// A child that its parent's job keeps out of a job of its own (Wine allows nested jobs: the
// refusal is the one Windows 7 gives, made by the tests' hook) is recorded with what it went
// without, and the component's record wins over this module's while the reads go to it.
TEST_F(Gate, AChildKeptOutOfItsJobIsRecordedWithWhatItWentWithout) {
    ComApartment apartment;
    ComPtr<ITlInfoApplication> application;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_TlInfoApplication, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_ITlInfoApplication, application.PutVoid()));
    struct Restore {
        ~Restore() {
            reader::RefuseJobsForTests(false);
            reader::ShareReaderOf(nullptr);
        }
    } restore;
    ASSERT_EQ(S_OK, reader::AskIdleChild()); // this module's own child, in its job
    ASSERT_TRUE(reader::ShareReaderOf(application.Get()));
    reader::RefuseJobsForTests(true);
    LibraryDescription facts;
    ASSERT_EQ(S_OK, reader::ReadLibrary(ToWide(shapes_), reader::Depth::Facts, facts));
    std::optional<reader::Confinement> there = reader::LastConfinement();
    ASSERT_TRUE(there);
    EXPECT_EQ("corvane-cli: warning: the reader ran with less confinement than documented: no job (the "
              "parent's job forbids nesting)",
              ToAnsi(reader::ConfinementWarning(L"corvane-cli", *there)));
}

// ---- A child never outlives its parent, nor its time limit -------------------------------

// The one reader child of parentId, opened to wait for it and end it, once there is exactly one.
KernelHandle OnlyReaderChildOf(DWORD parentId) {
    std::vector<DWORD> children;
    driver::WaitUntil([&] {
        children.clear();
        FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof entry;
        for (BOOL more = snapshot && Process32FirstW(snapshot.Get(), &entry); more;
             more = Process32NextW(snapshot.Get(), &entry))
            if (entry.th32ParentProcessID == parentId &&
                lstrcmpiW(entry.szExeFile, L"corvane-reader.exe") == 0)
                children.push_back(entry.th32ProcessID);
        return children.size() == 1;
    });
    return KernelHandle(children.size() != 1
                            ? nullptr
                            : OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION,
                                          FALSE, children[0]));
}

// Stops every thread of the process: it stays alive, and does nothing, as a hung parent does.
void Stop(DWORD processId) {
    FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = snapshot && Thread32First(snapshot.Get(), &entry); more;
         more = Thread32Next(snapshot.Get(), &entry))
        if (entry.th32OwnerProcessID == processId)
            SuspendThread(KernelHandle(OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID)).Get());
}

// corvane-cli reading a file that makes the loader spin is ended or stopped (hung): its child goes
// with it, or ends itself after the cli's limit (10 s) and its own margin (2 s), never before.
TEST(ChildLifetime, AChildEndsWithItsParentOrWhenItsAnswerIsOverdue) {
    reader::Confinement confinement;
    ASSERT_EQ(S_OK, reader::AskIdleChild(&confinement));
    ASSERT_TRUE(confinement.job) << ToAnsi(reader::MissingConfinement(confinement));
    TempFolder folder;
    std::string spinner = WriteSpinner(folder.Path());
    ASSERT_FALSE(spinner.empty());
    // Whether the parent is ended, and the earliest and latest end of the child after that.
    const struct {
        bool ended;
        DWORD earliest, latest;
    } cases[] = {{true, 0, 2500}, {false, 9000, 14000}};
    for (const auto& how : cases) {
        SCOPED_TRACE(how.ended ? "parent ended" : "parent stopped");
        driver::Process cli = driver::Start("info \"" + spinner + "\"", BesideTests("corvane-cli.exe"));
        ASSERT_TRUE(cli);
        KernelHandle child = OnlyReaderChildOf(cli.Id());
        ASSERT_TRUE(child);
        ASSERT_EQ(DWORD(WAIT_TIMEOUT), WaitForSingleObject(child.Get(), 1000)) << "the file does not spin";
        ULONGLONG from = GetTickCount64();
        if (how.ended)
            cli.Kill();
        else
            Stop(cli.Id());
        DWORD waited = WaitForSingleObject(child.Get(), how.latest);
        ULONGLONG after = GetTickCount64() - from;
        TerminateProcess(child.Get(), 1); // whatever the outcome, no spinner stays behind
        EXPECT_EQ(DWORD(WAIT_OBJECT_0), waited) << "still running after " << after << " ms";
        EXPECT_GE(after, how.earliest);
    }
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

// The largest block allocated while g_watch is set (operator new below).
bool g_watch = false;
size_t g_largest = 0;

// Real answers (a made library's, stdole2.tlb's) damaged: cut, numbers at the limits, bytes no
// UTF-8 holds, a second encoding of 0; each refused or the encoding of what it decodes to, none
// sizing a block beyond 64 times its bytes. Texts and kinds no renderer may get are refused.
TEST(GateRecords, DamagedAnswersAreRefusedWithinTheirOwnBytes) {
    using namespace std::string_literals;
    TempFolder folder;
    ASSERT_EQ(S_OK, MakeTypeLibWithInterfaces(folder.File("made.tlb"), NewGuid()));
    reader::LibraryContent stdole, got;
    for (const std::string& path : {folder.File("made.tlb"), SystemFolderFile("stdole2.tlb")}) {
        SCOPED_TRACE(path);
        LibraryDescription facts;
        std::string content, inside;
        ASSERT_EQ(S_OK, reader::AskOneChild(reader::Request::Content, ToWide(path), facts, &content));
        ASSERT_TRUE(reader::DecodeContent(content.data(), content.size(), stdole));
        auto check = [&](const std::string& answer, const std::string* bytes, bool mustRefuse) {
            HRESULT result;
            LibraryDescription read;
            g_largest = 0, g_watch = true;
            bool accepted = reader::DecodeAnswer(answer, result, read, &inside) &&
                            reader::DecodeContent(inside.data(), inside.size(), got);
            g_watch = false;
            ASSERT_LE(g_largest, 64 * answer.size() + 1024) << answer.size();
            ASSERT_FALSE(accepted && (mustRefuse || (bytes && reader::EncodeContent(got) != *bytes)));
        };
        for (size_t length = 0; length < content.size(); ++length) {
            std::string cut = content.substr(0, length);
            check(reader::EncodeAnswer(S_OK, facts, &cut), &cut, true);
        }
        for (size_t at = 0; at < content.size(); ++at)
            for (std::string with : {"\xFF\xFF\xFF\xFF\x0F"s, "\xFF\xFF\xFF\x7F"s, "\xFF"s, "\x80\0"s}) {
                std::string damaged = content.substr(0, at) + with + content.substr(at + 1);
                check(reader::EncodeAnswer(S_OK, facts, &damaged), &damaged, false);
            }
        std::string answer = reader::EncodeAnswer(S_OK, facts, &content);
        for (size_t at = reader::kRecordHeaderSize; at + 8 + content.size() <= answer.size(); ++at)
            check(std::string(answer).replace(at, 4, "\xFF\xFF\0\0", 4), nullptr, false);
    }
    reader::MemberContent* function = nullptr;
    for (reader::TypeContent& type : stdole.types)
        for (reader::MemberContent& member : type.members)
            function = member.isFunction ? &member : function;
    ASSERT_TRUE(function);
    reader::LibraryContent good = stdole;
    const std::function<void()> damages[] = {
        [&] { stdole.helpFile = "\xC3("; },        // a lead byte alone
        [&] { stdole.helpFile = "\xED\xA0\x80"; }, // a surrogate
        [&] { stdole.types[0].kind = TKIND_MAX; },
        [&] { function->invokeKind = INVOKE_PROPERTYPUTREF + 1; },
        [&] { function->callingConvention = CC_MAX; },
    };
    for (size_t i = 0; i < std::size(damages); ++i) {
        damages[i]();
        std::string bytes = reader::EncodeContent(stdole);
        EXPECT_FALSE(reader::DecodeContent(bytes.data(), bytes.size(), got)) << "damage " << i;
        stdole = good;
    }
}

// A spare child is ready before it is needed, reads the next file and leaves, and a new spare
// follows; one that died or stalled while it waited is replaced by a new child for the read.
TEST_F(Gate, ASpareReadsTheNextFileAndOneThatDiedOrStalledIsReplaced) {
    reader::KeepSpare(true);
    enum class Spoil { Nothing, End, Stop };
    for (Spoil spoil : {Spoil::Nothing, Spoil::End, Spoil::Stop}) {
        SCOPED_TRACE(static_cast<int>(spoil));
        reader::ForgetAnswers();
        KernelHandle spare = OnlyReaderChildOf(GetCurrentProcessId());
        ASSERT_TRUE(spare) << "no spare, or more than one";
        if (spoil == Spoil::End)
            TerminateProcess(spare.Get(), 1);
        else if (spoil == Spoil::Stop)
            Stop(GetProcessId(spare.Get()));
        LibraryDescription facts;
        EXPECT_EQ(Hex(S_OK), Hex(reader::ReadLibrary(ToWide(shapes_), reader::Depth::Facts, facts)));
        EXPECT_EQ(DWORD(WAIT_OBJECT_0), WaitForSingleObject(spare.Get(), 0)) << "the spare is still there";
    }
    EXPECT_TRUE(OnlyReaderChildOf(GetCurrentProcessId())) << "no new spare after the last read";
    // Its pipe has one instance, connected by this process before the child started, and only
    // this user on this machine may open it: nobody but the child gets it.
    FileHandle other(CreateFileW(reader::LastPipeNameForTests().c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                 nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(DWORD(ERROR_PIPE_BUSY), other ? DWORD(ERROR_SUCCESS) : GetLastError());
    reader::KeepSpare(false);
}

} // namespace

// Counts, for the test of damaged answers, the largest block allocated. Never inlined, so that
// the compiler sees no free() of a block from operator new.
__attribute__((noinline)) void* operator new(size_t size) {
    if (g_watch && size > g_largest)
        g_largest = size;
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}
__attribute__((noinline)) void operator delete(void* block) noexcept {
    std::free(block);
}
__attribute__((noinline)) void operator delete(void* block, size_t) noexcept {
    std::free(block);
}
