// Corvane against type libraries nobody here wrote: every library in the prefix's system
// folder through the facts view of the real main window, and a registration round trip on a
// copy of a system library that leaves the prefix as it found it.
#include <gtest/gtest.h>
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "app/mainwindow.h"
#include "catalogue/typelibfacts.h"
#include "common/owners.h"
#include "common/text.h"
#include "registration/registration.h"
#include "tests/support/testsupport.h"
#include "tests/system/systemsupport.h"

using namespace systemtest;

namespace {

std::string SystemFolder() {
    char folder[MAX_PATH];
    UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    return std::string(folder, length);
}

std::string LowerExtension(const std::string& name) {
    size_t dot = name.find_last_of('.');
    std::string extension = dot == std::string::npos ? "" : name.substr(dot);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return extension;
}

struct Candidate {
    std::string path;
    bool isDll;
};

std::vector<Candidate> SystemFolderCandidates() {
    std::vector<Candidate> candidates;
    std::string folder = SystemFolder();
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return candidates;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        std::string extension = LowerExtension(found.cFileName);
        if (extension == ".tlb" || extension == ".olb" || extension == ".dll")
            candidates.push_back({folder + "\\" + found.cFileName, extension == ".dll"});
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(candidates.begin(), candidates.end(),
              [](const Candidate& a, const Candidate& b) { return a.path < b.path; });
    return candidates;
}

// The interfaces a library declares: registration writes Interface\{iid} for them and
// unregistration may remove it, so a round trip has to note and put back those keys too.
std::vector<std::string> InterfaceKeysOf(const std::string& path) {
    std::vector<std::string> keys;
    std::wstring widePath = ToWide(path);
    ComPtr<ITypeLib> library;
    if (FAILED(LoadTypeLibEx(widePath.c_str(), REGKIND_NONE, library.Put())))
        return keys;
    UINT count = library->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        TYPEKIND kind;
        if (FAILED(library->GetTypeInfoType(i, &kind)) || (kind != TKIND_INTERFACE && kind != TKIND_DISPATCH))
            continue;
        ComPtr<ITypeInfo> info;
        TYPEATTR* attributes = nullptr;
        if (FAILED(library->GetTypeInfo(i, info.Put())) || FAILED(info->GetTypeAttr(&attributes)))
            continue;
        keys.push_back("Interface\\" + testsupport::GuidAnsi(attributes->guid));
        info->ReleaseTypeAttr(attributes);
    }
    return keys;
}

// Puts the noted subtrees back on every way out of a test.
class RegistryRestorer {
  public:
    explicit RegistryRestorer(std::vector<RegistrySubtree> noted) : noted_(std::move(noted)) {}
    RegistryRestorer(const RegistryRestorer&) = delete;
    RegistryRestorer& operator=(const RegistryRestorer&) = delete;
    ~RegistryRestorer() {
        for (const RegistrySubtree& subtree : noted_)
            RestoreSubtree(subtree);
    }
    const std::vector<RegistrySubtree>& Noted() const { return noted_; }

  private:
    std::vector<RegistrySubtree> noted_;
};

} // namespace

TEST(RealLibraries, EveryLibraryInTheSystemFolderShowsTheFactsReadIndependently) {
    ComApartment apartment;
    ASSERT_HRESULT_SUCCEEDED(apartment.Result());
    std::vector<Candidate> candidates = SystemFolderCandidates();
    ASSERT_FALSE(candidates.empty()) << "nothing found in " << SystemFolder();

    int tried = 0, held = 0, matched = 0;
    auto started = std::chrono::steady_clock::now();
    bool ran = RunInsideMainWindow([&](HWND mainWindow) {
        for (const Candidate& candidate : candidates) {
            ++tried;
            OwnFacts own;
            bool holdsLibrary = ReadOwnFacts(candidate.path, own);
            // A .dll without a library is not shown; a .tlb or .olb that holds none must clear the view.
            if (!holdsLibrary && candidate.isDll)
                continue;
            held += holdsLibrary ? 1 : 0;
            ShownFacts expected = holdsLibrary ? own.Shown() : ShownFacts();
            MarkFactFieldsStale(mainWindow, !expected.registered);
            SHOWTYPELIBFACTS(candidate.path);
            ShownFacts shown = ReadShownFacts(mainWindow);
            if (shown == expected)
                ++matched;
            else
                ADD_FAILURE() << candidate.path << ": the window shows " << Describe(shown) << "; expected "
                              << Describe(expected);
        }
    });
    ASSERT_TRUE(ran) << "the main window never ran";
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("Real libraries: %d files tried, %d held a library, %d matched, in %.1f s\n", tried, held,
                matched, seconds);
    RecordProperty("tried", tried);
    RecordProperty("held", held);
    RecordProperty("matched", matched);
    // stdole2.tlb, stdole32.tlb and mshtml.tlb are in every prefix: a walk that finds fewer saw nothing real.
    EXPECT_GE(held, 3) << "libraries found";
}

TEST(RealLibraries, ACopyOfStdole32RegistersAndUnregistersAndThePrefixEndsAsItBegan) {
    ComApartment apartment;
    ASSERT_HRESULT_SUCCEEDED(apartment.Result());
    testsupport::TempFolder folder;
    std::string copy = folder.File("stdole32.tlb");
    ASSERT_TRUE(CopyFileA((SystemFolder() + "\\stdole32.tlb").c_str(), copy.c_str(), FALSE))
        << "copying stdole32.tlb failed with " << GetLastError();
    OwnFacts own;
    ASSERT_TRUE(ReadOwnFacts(copy, own)) << "no library loads from " << copy;

    // The prefix registers stdole32's identity itself: note what it wrote, to put it back after.
    std::vector<RegistrySubtree> noted{NoteSubtree("TypeLib\\" + own.guidText)};
    for (const std::string& key : InterfaceKeysOf(copy))
        noted.push_back(NoteSubtree(key));
    RegistryRestorer restorer(noted);
    std::string lcidKey = own.versionKey + "\\" + LowerHex(own.lcid) + "\\win32";

    bool ran = RunInsideMainWindow([&](HWND mainWindow) {
        ASSERT_EQ(CHANGEREGISTRATION(copy, 1, 0), 0) << "registering " << copy;
        std::string value;
        EXPECT_TRUE(ReadDefaultValue(own.versionKey, value))
            << own.versionKey << " missing after registering";
        EXPECT_EQ(value, own.description) << "default value of " << own.versionKey;
        EXPECT_TRUE(ReadDefaultValue(lcidKey, value)) << lcidKey << " missing after registering";
        EXPECT_EQ(value, copy) << "the registered file";
        SHOWTYPELIBFACTS(copy);
        EXPECT_TRUE(ReadShownFacts(mainWindow).registered) << Describe(ReadShownFacts(mainWindow));

        ASSERT_EQ(CHANGEREGISTRATION(copy, 0, 0), 0) << "unregistering " << copy;
        EXPECT_FALSE(ReadDefaultValue(own.versionKey, value)) << own.versionKey << " still there: " << value;
        SHOWTYPELIBFACTS(copy);
        EXPECT_FALSE(ReadShownFacts(mainWindow).registered) << Describe(ReadShownFacts(mainWindow));
    });
    ASSERT_TRUE(ran) << "the main window never ran";

    for (const RegistrySubtree& subtree : restorer.Noted())
        RestoreSubtree(subtree);
    for (const RegistrySubtree& subtree : restorer.Noted()) {
        RegistrySubtree now = NoteSubtree(subtree.key);
        EXPECT_TRUE(now == subtree) << "before:\n" << Describe(subtree) << "after:\n" << Describe(now);
    }
}
