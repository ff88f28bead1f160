// Damaged libraries, a few hundred, made from made libraries and a DLL holding one by damage
// chosen from a fixed start value: cut short, bytes changed, regions zeroed, header fields set
// to 0, -1, 0x7FFFFFFF or the file's size, and TYPELIB resources inside the DLL treated the same
// way. Each goes through the component (open, then the six questions) and, when the gate lets it
// through for registration, through the program's own registration engine, which loads and
// registers it in its own process; a subset also goes through corvane-cli info. None may crash or
// hang the program that reads it.
//
// The component's half runs in a child copy of this program, so that a crash shows as a file
// without its line and the run goes on after it. Wine prints its crash texts ("Unhandled ...",
// "client error ...") on the Unix side's standard error, which no Windows program can read; a
// process that dies after one never prints its line or its "done", and that is what is counted.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/owners.h"
#include "common/text.h"
#include "reader/reader.h"
#include "reader/tests/damage.h"
#include "registration/registration.h"
#include "tests/support/driver.h"
#include "tests/support/testsupport.h"
#include "tlinfo/tlinfo.h"

namespace {

using namespace testsupport;
using namespace readertest;

constexpr char kComponentChildMode[] = "--component-child";
// Where the child copies register (HKCU\<this>\<process id> stands in for HKEY_CLASSES_ROOT).
constexpr char kSandbox[] = "Software\\Corvane-fuzz";
constexpr unsigned kFixedStart = 12012;
constexpr int kPerKindOfLibrary = 12;
constexpr int kPerKindOfResource = 8;
// Every cli run after this many files.
constexpr size_t kCliEvery = 5;

// ---- Damage ------------------------------------------------------------------------------

enum class Kind { Cut, Byte, Bytes, Zeroed, HeaderField };
constexpr Kind kKinds[] = {Kind::Cut, Kind::Byte, Kind::Bytes, Kind::Zeroed, Kind::HeaderField};
const char* const kKindNames[] = {"cut", "byte", "bytes", "zeroed", "field"};

std::string Damage(const std::string& bytes, Kind kind, std::mt19937& random) {
    auto below = [&](size_t n) { return n == 0 ? size_t{0} : static_cast<size_t>(random() % n); };
    std::string damaged = bytes;
    switch (kind) {
    case Kind::Cut:
        damaged.resize(below(bytes.size()));
        break;
    case Kind::Byte:
        damaged[below(bytes.size())] = static_cast<char>(random());
        break;
    case Kind::Bytes:
        for (size_t n = 2 + below(15); n > 0; --n)
            damaged[below(bytes.size())] = static_cast<char>(random());
        break;
    case Kind::Zeroed: {
        size_t at = below(bytes.size());
        size_t length = std::min(bytes.size() - at, 4 + below(61));
        std::fill_n(damaged.begin() + static_cast<std::ptrdiff_t>(at), length, '\0');
        break;
    }
    case Kind::HeaderField: {
        std::vector<size_t> fields = HeaderFields(bytes);
        if (fields.empty())
            return Damage(bytes, Kind::Bytes, random);
        const uint32_t values[] = {0, 0xFFFFFFFF, 0x7FFFFFFF, static_cast<uint32_t>(bytes.size())};
        uint32_t value = values[below(4)];
        std::memcpy(&damaged[fields[below(fields.size())]], &value, sizeof value);
        break;
    }
    }
    return damaged;
}

BOOL CALLBACK FirstLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR found) {
    *reinterpret_cast<WORD*>(found) = language;
    return FALSE;
}

// The TYPELIB resource 1 of a DLL, and a copy of the DLL with other bytes in its place.
std::string LibraryResource(const std::string& dll, WORD& language) {
    Module image(LoadLibraryExA(dll.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    HRSRC resource = image ? FindResourceA(image.Get(), MAKEINTRESOURCEA(1), "TYPELIB") : nullptr;
    HGLOBAL loaded = resource ? LoadResource(image.Get(), resource) : nullptr;
    const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (!data)
        return std::string();
    language = 0;
    EnumResourceLanguagesA(image.Get(), "TYPELIB", MAKEINTRESOURCEA(1), FirstLanguage,
                           reinterpret_cast<LONG_PTR>(&language));
    return std::string(data, SizeofResource(image.Get(), resource));
}

bool WriteDllWithLibrary(const std::string& dll, WORD language, const std::string& target,
                         const std::string& library) {
    if (!CopyFileA(dll.c_str(), target.c_str(), FALSE))
        return false;
    HANDLE update = BeginUpdateResourceA(target.c_str(), FALSE);
    if (!update)
        return false;
    BOOL updated = UpdateResourceA(update, "TYPELIB", MAKEINTRESOURCEA(1), language,
                                   const_cast<char*>(library.data()), static_cast<DWORD>(library.size()));
    return EndUpdateResourceA(update, !updated) && updated;
}

// Writes every damaged file into folder and gives their paths.
std::vector<std::string> MakeDamagedFiles(const TempFolder& folder) {
    std::vector<std::string> files;
    LibraryRecipe plain;
    std::string plainPath = folder.File("plain.tlb"), shapesPath = folder.File("shapes.tlb");
    if (FAILED(MakeTypeLib(plainPath, plain)) || FAILED(MakeTypeLibWithInterfaces(shapesPath, NewGuid())))
        return files;
    std::string embeddedDll = BesideTests("tlinfo_embeddedlib.dll");
    WORD language = 0;
    struct Source {
        const char* name;
        std::string bytes;
        int count;
        bool inDll;
    } sources[] = {{"plain", ReadFileBytes(plainPath), kPerKindOfLibrary, false},
                   {"shapes", ReadFileBytes(shapesPath), kPerKindOfLibrary, false},
                   {"embedded", LibraryResource(embeddedDll, language), kPerKindOfResource, true},
                   {"shapes", ReadFileBytes(shapesPath), kPerKindOfResource, true}};
    std::mt19937 random(kFixedStart);
    for (const Source& source : sources) {
        if (source.bytes.empty())
            return std::vector<std::string>();
        for (size_t kind = 0; kind < std::size(kKinds); ++kind)
            for (int i = 0; i < source.count; ++i) {
                std::string damaged = Damage(source.bytes, kKinds[kind], random);
                std::string path = folder.File(std::string(source.name) + "-" + kKindNames[kind] + "-" +
                                               std::to_string(i) + (source.inDll ? ".dll" : ".tlb"));
                if (source.inDll) {
                    if (!WriteDllWithLibrary(embeddedDll, language, path, damaged))
                        return std::vector<std::string>();
                } else {
                    WriteFileBytes(path, damaged);
                }
                files.push_back(path);
            }
    }
    return files;
}

// ---- Child processes -----------------------------------------------------------------------

// Every child run ends within this: far above the gate's own limit of 10 s per file, so only a
// hang of ours reaches it.
constexpr DWORD kRunLimit = 120000;

struct Counts {
    size_t files = 0;
    size_t read = 0;
    size_t refused = 0;
    size_t registered = 0;
    size_t crashes = 0;
    size_t hangs = 0;
    std::vector<std::string> failures;
};

void NoteFailure(Counts& counts, bool hung, const std::string& file, std::string output) {
    ++(hung ? counts.hangs : counts.crashes);
    std::string tail = output.size() > 300 ? output.substr(output.size() - 300) : output;
    counts.failures.push_back(std::string(hung ? "hang" : "crash") + " on " + file +
                              "; last output: " + tail);
}

// The component's half: the child copy of this program reads the files from the list in order and
// prints "<index> <open result> <registration result>" after each; a run that ends before
// "done" ended on the file after the last line, and the next run starts after that file.
Counts ThroughTheComponent(const std::vector<std::string>& files, const std::string& list) {
    Counts counts;
    counts.files = files.size();
    size_t next = 0;
    while (next < files.size()) {
        driver::ChildRun run =
            driver::RunProgram(BesideTests("reader_fuzz_tests.exe"),
                               {kComponentChildMode, list, std::to_string(next)}, "", kRunLimit);
        std::istringstream lines(run.out);
        std::string line;
        bool done = false;
        while (std::getline(lines, line)) {
            size_t index = 0;
            unsigned long opened = 0, registered = 0;
            if (line.rfind("done", 0) == 0)
                done = true;
            else if (std::sscanf(line.c_str(), "%zu %lx %lx", &index, &opened, &registered) == 3) {
                next = index + 1;
                ++(static_cast<HRESULT>(opened) == S_OK ? counts.read : counts.refused);
                counts.registered += static_cast<HRESULT>(registered) == S_OK ? 1 : 0;
            }
        }
        if (done)
            break;
        NoteFailure(counts, run.timedOut, files[next], run.out + run.err);
        ++next;
    }
    return counts;
}

// corvane-cli info on every kCliEvery-th file: a read prints the facts and exits 0, a refusal
// prints one line and exits 2; anything else (another exit code, or an exit without its output,
// as Wine's "client error" deaths end with 0) is a crash.
Counts ThroughCorvaneCli(const std::vector<std::string>& files) {
    Counts counts;
    for (size_t i = 0; i < files.size(); i += kCliEvery) {
        ++counts.files;
        driver::ChildRun run =
            driver::RunProgram(BesideTests("corvane-cli.exe"), {"info", files[i]}, "", kRunLimit);
        if (!run.timedOut && run.exitCode == 0 && run.out.find("GUID:") != std::string::npos)
            ++counts.read;
        else if (!run.timedOut && run.exitCode == 2 && !run.err.empty())
            ++counts.refused;
        else
            NoteFailure(counts, run.timedOut, files[i],
                        run.out + run.err + " (exit code " + std::to_string(run.exitCode) + ")");
    }
    return counts;
}

void Report(const char* half, const Counts& counts) {
    std::printf("%s: %zu files, %zu read, %zu refused, %zu registered in-process, %zu crashes, %zu hangs\n",
                half, counts.files, counts.read, counts.refused, counts.registered, counts.crashes,
                counts.hangs);
    for (const std::string& failure : counts.failures)
        ADD_FAILURE() << half << ": " << failure;
}

TEST(DamagedLibraries, NeverCrashOrHangTheComponentRegistrationOrCorvaneCli) {
    TempFolder folder;
    std::vector<std::string> files = MakeDamagedFiles(folder);
    ASSERT_EQ(200u, files.size()) << "making the damaged files failed";
    std::string list = folder.File("files.txt");
    std::string listed;
    for (const std::string& file : files)
        listed += file + "\n";
    WriteFileBytes(list, listed);

    Counts component = ThroughTheComponent(files, list);
    // A child copy that crashed left its registrations behind.
    RegDeleteTreeA(HKEY_CURRENT_USER, kSandbox);
    Report("component", component);
    EXPECT_EQ(files.size(), component.read + component.refused + component.crashes + component.hangs);
    Report("corvane-cli info", ThroughCorvaneCli(files));
}

// ---- The child copy: component, then registration in this process ------------------------

// The six questions the window asks of an opened library.
HRESULT OpenAndAsk(ITlInfoApplication* application, const std::string& path) {
    Bstr widePath = ToBstr(path);
    ComPtr<ITlInfoLibrary> library;
    HRESULT hr = application->OpenLibraryFile(widePath.Get(), library.Put());
    if (FAILED(hr))
        return hr;
    Bstr text, name, guid;
    short major = 0, minor = 0;
    LCID lcid = 0;
    library->DescriptiveText(0, text.Put());
    library->Name(name.Put());
    library->GuidText(guid.Put());
    library->MajorVersion(&major);
    library->MinorVersion(&minor);
    library->Locale(&lcid);
    return S_OK;
}

// Registration through the program's engine, which lets the gate read the file first, then
// unregistration of the identity the gate read. HKEY_CLASSES_ROOT points at a sandbox key.
HRESULT RegisterAndUnregister(const std::string& path, const LibraryDescription& facts) {
    HRESULT hr = RegisterLibraryFile(ToWide(path));
    if (FAILED(hr))
        return hr;
    return UnregisterLibrary(facts.Identity());
}

int RunComponentChild(const std::string& list, size_t first) {
    ComApartment apartment;
    ComPtr<ITlInfoApplication> application;
    if (FAILED(CoCreateInstance(CLSID_TlInfoApplication, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ITlInfoApplication, application.PutVoid())))
        return 3;
    std::vector<std::string> files;
    std::istringstream lines(ReadFileBytes(list));
    for (std::string line; std::getline(lines, line);)
        files.push_back(line);
    std::vector<std::wstring> rest;
    for (size_t i = first; i < files.size(); ++i)
        rest.push_back(ToWide(files[i]));
    std::vector<reader::Answer> answers = reader::ReadLibraries(rest, reader::Depth::Registration);

    std::string sandboxName = std::string(kSandbox) + "\\" + std::to_string(GetCurrentProcessId());
    RegKey sandbox;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, sandboxName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        sandbox.Put(), nullptr) != ERROR_SUCCESS ||
        RegOverridePredefKey(HKEY_CLASSES_ROOT, sandbox.Get()) != ERROR_SUCCESS)
        return 4;
    for (size_t i = first; i < files.size(); ++i) {
        HRESULT opened = OpenAndAsk(application.Get(), files[i]);
        HRESULT registered = answers[i - first].result;
        if (SUCCEEDED(registered))
            registered = RegisterAndUnregister(files[i], answers[i - first].description);
        std::printf("%zu %08lx %08lx\n", i, static_cast<unsigned long>(opened),
                    static_cast<unsigned long>(registered));
        std::fflush(stdout);
    }
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    sandbox.Reset();
    RegDeleteTreeA(HKEY_CURRENT_USER, kSandbox);
    std::printf("done\n");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == kComponentChildMode)
        return RunComponentChild(argv[2], std::stoul(argv[3]));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
