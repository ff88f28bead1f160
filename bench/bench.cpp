// Measures Corvane side by side with baselines of ours, in one run: start-up, the facts view on
// a large and a small library, a register-plus-unregister round trip, and corvane-cli list
// --broken over thousands of registrations. Each figure is the median of at least ten runs
// (list: of ten at most); Corvane and its baseline take turns, so a slow moment of the machine
// falls on both. Prints the ratios against their targets and the sizes of the binaries.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include "app/mainwindow.h"
#include "cli/cli.h"
#include "catalogue/typelibfacts.h"
#include "common/owners.h"
#include "common/systemdll.h"
#include "common/text.h"
#include "reader/reader.h"
#include "reader/testing.h"
#include "reader/tests/damage.h"
#include "registration/registration.h"
#include "tests/support/driver.h"
#include "tests/support/testsupport.h"
#include "tlinfo/tlinfo.h"

namespace {

INT_PTR CALLBACK QuietProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

// An invisible main window with its controls and no handling of its own, for the facts view.
HWND CreateFactsWindow() {
    std::vector<WORD> frame = MainWindowTemplate();
    HWND window = CreateDialogIndirectParamA(
        GetModuleHandleA(nullptr), reinterpret_cast<const DLGTEMPLATE*>(frame.data()), nullptr, QuietProc, 0);
    if (window)
        AddMainWindowControls(window);
    return window;
}

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::string Beside(const char* name) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\') + 1) + name;
}

struct Figure {
    const char* name;
    double corvane;
    double baseline;
    double target;
    bool valid;
};

void PrintFigure(const Figure& figure) {
    double ratio = figure.baseline > 0 ? figure.corvane / figure.baseline : 0;
    std::printf("%-12s %10.2f ms %10.2f ms %7.2f   <= %.2f   %s\n", figure.name, figure.corvane,
                figure.baseline, ratio, figure.target,
                !figure.valid ? "NOT MEASURED (Corvane did not do the work)"
                              : (ratio <= figure.target ? "met" : "MISSED"));
}

// How long the reader waits before it starts a spare (0.1 s) and the spare takes to start and
// settle here (about 0.1 s), with a wide margin.
constexpr DWORD kSpareSettles = 400;

// Runs every measurement runs times, taking turns (the first to go moves on by one each run,
// so no measurement always follows the same one), and gives the medians in the same order.

std::vector<double> TakingTurns(int runs, const std::vector<std::function<double()>>& measurements) {
    size_t count = measurements.size();
    std::vector<std::vector<double>> values(count);
    for (int run = 0; run < runs; ++run)
        for (size_t k = 0; k < count; ++k) {
            size_t which = (static_cast<size_t>(run) + k) % count;
            values[which].push_back(measurements[which]());
        }
    std::vector<double> medians;
    for (const std::vector<double>& each : values)
        medians.push_back(Median(each));
    return medians;
}

// A measurement of one call of work, in milliseconds; prepare runs first, untimed.
std::function<double()> Timed(std::function<void()> work, std::function<void()> prepare = nullptr) {
    return [work, prepare] {
        if (prepare)
            prepare();
        double started = Now();
        work();
        return Now() - started;
    };
}

// An informational line: a part of Corvane's work measured on its own, against the baseline.
void PrintPart(const char* name, double ms, double baseline) {
    std::printf("  %-40s %10.2f ms  (%.2f x baseline)\n", name, ms, baseline > 0 ? ms / baseline : 0);
}

// ---- start-up -------------------------------------------------------------------------------

struct WindowSearch {
    DWORD processId;
    bool needsControls;
    HWND found;
};

BOOL CALLBACK FindShownWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window))
        return TRUE;
    // Corvane's message boxes share the main window's caption and class; the check box tells them apart.
    if (search->needsControls && !GetDlgItem(window, IDC_REGISTERED))
        return TRUE;
    search->found = window;
    return FALSE;
}

// Milliseconds from process creation to its main window being visible; -1 when it never showed.
double StartUp(const std::string& program, bool needsControls, const std::string& arguments = "") {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string commandLine = "\"" + program + "\" " + arguments;
    double started = Now();
    if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return -1;
    KernelHandle processHandle(process.hProcess);
    KernelHandle threadHandle(process.hThread);
    WindowSearch search = {process.dwProcessId, needsControls, nullptr};
    double shown = -1;
    while (Now() - started < 30000) {
        EnumWindows(FindShownWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            shown = Now() - started;
            break;
        }
        if (WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0)
            break;
    }
    if (search.found)
        PostMessageA(search.found, WM_SYSCOMMAND, SC_CLOSE, 0);
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 10000);
    }
    return shown;
}

// ---- facts ----------------------------------------------------------------------------------

// The least work that gives the facts view's answer: one load, the attributes, the
// documentation, one registry read.
bool LeastFactsWork(const std::wstring& path) {
    ComPtr<ITypeLib> library;
    if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.Put())))
        return false;
    TLIBATTR* attributes = nullptr;
    if (FAILED(library->GetLibAttr(&attributes)))
        return false;
    std::string key =
        VersionKey(ToAnsi(GuidText(attributes->guid)), attributes->wMajorVerNum, attributes->wMinorVerNum);
    library->ReleaseTLibAttr(attributes);
    Bstr name, description;
    if (FAILED(library->GetDocumentation(-1, name.Put(), description.Put(), nullptr, nullptr)))
        return false;
    RegKey versionKey;
    char value[512];
    DWORD size = sizeof value;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, versionKey.Put()) == ERROR_SUCCESS)
        RegQueryValueExA(versionKey.Get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    return true;
}

// ---- types ----------------------------------------------------------------------------------

void WalkDocumentation(ITypeInfo* info, MEMBERID id) {
    Bstr name, documentation;
    info->GetDocumentation(id, name.Put(), documentation.Put(), nullptr, nullptr);
}

// The bare in-process walk that types --json stands on: the library loaded, and every type
// info, function (with its names), variable and documentation string read once.
bool BareWalk(const std::wstring& path) {
    ComPtr<ITypeLib> library;
    if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.Put())))
        return false;
    for (UINT i = 0, count = library->GetTypeInfoCount(); i < count; ++i) {
        ComPtr<ITypeInfo> info;
        if (FAILED(library->GetTypeInfo(i, info.Put())))
            continue;
        TypeAttributes type(info.Get());
        if (FAILED(info->GetTypeAttr(type.Put())))
            continue;
        WalkDocumentation(info.Get(), MEMBERID_NIL);
        for (UINT f = 0; f < type->cFuncs; ++f) {
            FunctionDescription function(info.Get());
            if (FAILED(info->GetFuncDesc(f, function.Put())))
                continue;
            BstrArray names(static_cast<size_t>(function->cParams) + 1);
            UINT named = 0;
            info->GetNames(function->memid, names.Data(), names.Size(), &named);
            WalkDocumentation(info.Get(), function->memid);
        }
        for (UINT v = 0; v < type->cVars; ++v) {
            VariableDescription variable(info.Get());
            if (SUCCEEDED(info->GetVarDesc(v, variable.Put())))
                WalkDocumentation(info.Get(), variable->memid);
        }
    }
    return true;
}

// ---- round trip -----------------------------------------------------------------------------

bool BareRoundTrip(const std::wstring& path, const GUID& guid) {
    ComPtr<ITypeLib> library;
    if (FAILED(LoadTypeLib(path.c_str(), library.Put())))
        return false;
    std::wstring fullPath = path;
    if (FAILED(RegisterTypeLib(library.Get(), &fullPath[0], nullptr)))
        return false;
    library.Reset();
    return SUCCEEDED(UnRegisterTypeLib(guid, 1, 0, 0, SYS_WIN32));
}

// Unregistering works from the identity the file declares, read through the component: one
// more open of the file than the bare calls, which are handed the identity.
void IdentityRead(ITlInfoApplication* application, const std::string& path) {
    Bstr widePath = ToBstr(path);
    ComPtr<ITlInfoLibrary> library;
    if (FAILED(application->OpenLibraryFile(widePath.Get(), library.Put())) || !library)
        return;
    Bstr guid;
    short major = 0, minor = 0;
    LCID locale = 0;
    library->GuidText(guid.Put());
    library->MajorVersion(&major);
    library->MinorVersion(&minor);
    library->Locale(&locale);
}

// Moves the file's last-write time on by a second, so that no answer remembered for it applies.
void Touch(const std::string& path) {
    FileHandle file(CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr));
    FILETIME written;
    if (!file || !GetFileTime(file.Get(), nullptr, nullptr, &written))
        return;
    ULARGE_INTEGER time = {{written.dwLowDateTime, written.dwHighDateTime}};
    time.QuadPart += 10000000;
    written = {time.LowPart, time.HighPart};
    SetFileTime(file.Get(), nullptr, nullptr, &written);
}

constexpr char kRegisterMode[] = "--register";

// Registering in a child: this program started again to load and register the library, its
// exit code the result.
HRESULT RegisterInChild(const std::string& path) {
    driver::ChildRun run = driver::RunProgram(Beside("corvane_bench.exe"), {kRegisterMode, path}, "", 60000);
    return static_cast<HRESULT>(run.exitCode);
}

HRESULT RegisterHere(const std::string& path) {
    std::wstring wide = ToWide(path);
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLib(wide.c_str(), library.Put());
    return FAILED(hr) ? hr : RegisterTypeLib(library.Get(), &wide[0], nullptr);
}

// Writes count registrations of version 1.0 under private GUIDs, as registration writes them:
// the even ones name a small library of their own, the odd ones a file that is not there.
std::vector<GUID> WriteRegistrations(const testsupport::TempFolder& folder, int count) {
    std::vector<GUID> guids;
    std::string made = folder.File("listed.tlb");
    testsupport::MakeTypeLib(made, testsupport::LibraryRecipe());
    for (int i = 0; i < count; ++i) {
        GUID guid = testsupport::NewGuid();
        guids.push_back(guid);
        std::string file = folder.File("listed-" + std::to_string(i) + ".tlb");
        if (i % 2 == 0)
            CopyFileA(made.c_str(), file.c_str(), FALSE);
        std::string key = "TypeLib\\" + testsupport::GuidAnsi(guid) + "\\1.0";
        std::string description = "Listed library " + std::to_string(i);
        RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, description.c_str(),
                     static_cast<DWORD>(description.size()));
        RegSetValueA(HKEY_CLASSES_ROOT, (key + "\\0\\win32").c_str(), REG_SZ, file.c_str(),
                     static_cast<DWORD>(file.size()));
        RegSetValueA(HKEY_CLASSES_ROOT, (key + "\\FLAGS").c_str(), REG_SZ, "0", 1);
        RegSetValueA(HKEY_CLASSES_ROOT, (key + "\\HELPDIR").c_str(), REG_SZ, folder.Path().c_str(),
                     static_cast<DWORD>(folder.Path().size()));
    }
    return guids;
}

long long FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// What every group shares: the number of runs, the programs measured, and whether every target
// was met so far.
struct Bench {
    int runs;
    std::string corvane = Beside("Corvane.exe");
    std::string baseline = Beside("bench_baseline_window.exe");
    bool allMet = true;

    void Report(const Figure& figure) {
        PrintFigure(figure);
        allMet = allMet && figure.valid && figure.corvane <= figure.target * figure.baseline;
        std::fflush(stdout);
    }
};

// Before each timed step: the time for the next spare to start and settle, as it has while a user
// picks the next file.
void SpareReady() {
    Sleep(kSpareSettles);
}

// Start-up. One start of each first, so the first-ever load of their DLLs counts for neither.
void MeasureStartUp(Bench& bench) {
    const std::string& corvane = bench.corvane;
    const std::string& baseline = bench.baseline;
    StartUp(baseline, false);
    StartUp(corvane, true);
    bool startedAlways = true;
    Figure startUp = {"start-up", 0, 0, 1.2, true};
    std::vector<double> starts =
        TakingTurns(bench.runs, {[&] {
                                     double ms = StartUp(corvane, true);
                                     startedAlways = startedAlways && ms >= 0;
                                     return ms;
                                 },
                                 [&] { return StartUp(baseline, false); },
                                 [&] { return StartUp(baseline, false, "component"); },
                                 [&] { return StartUp(baseline, false, "controls"); },
                                 [&] { return StartUp(baseline, false, "imports"); },
                                 [&] { return StartUp(baseline, false, "imports controls component"); }});
    startUp.corvane = starts[0];
    startUp.baseline = starts[1];
    startUp.valid = startedAlways;
    bench.Report(startUp);
    PrintPart("baseline + component", starts[2], starts[1]);
    PrintPart("baseline + controls", starts[3], starts[1]);
    PrintPart("baseline + imports", starts[4], starts[1]);
    PrintPart("baseline + imports, controls, component", starts[5], starts[1]);
}

// Facts. Every file is read first by a throw-away child (the reader), and its answer is
// remembered for the run while the file is unchanged; each view here gets a file whose
// last-write time moved, so that it pays for the child every time. The floor is the least
// that design allows: the bare in-process read plus one child started and answered at once.
void MeasureFacts(Bench& bench, ITlInfoApplication* application, HWND factsWindow,
                  const testsupport::TempFolder& folder) {
    int runs = bench.runs;
    for (const char* name : {"mshtml.tlb", "stdole2.tlb"}) {
        std::string copy = folder.File(name);
        CopyFileA(SystemFolderFile(name).c_str(), copy.c_str(), FALSE);
        std::wstring wideCopy = ToWide(copy);
        ShowTypeLibFacts(factsWindow, application, copy);
        bool shown = GetWindowTextLengthA(GetDlgItem(factsWindow, IDC_NAME)) > 0;
        std::vector<double> views =
            TakingTurns(runs, {Timed([&] { ShowTypeLibFacts(factsWindow, application, copy); },
                                     [&] {
                                         Touch(copy);
                                         SpareReady();
                                     }),
                               Timed(
                                   [&] {
                                       LeastFactsWork(wideCopy);
                                       reader::AskIdleChild();
                                   },
                                   SpareReady),
                               Timed([&] { LeastFactsWork(wideCopy); }, SpareReady),
                               Timed([&] { ShowTypeLibFacts(factsWindow, application, copy); })});
        std::string figureName = std::string("facts ") + name;
        // A large file against the bare read alone; one that loads in a millisecond against the
        // bare read and one round trip to the idle spare.
        bool large = std::string(name) == "mshtml.tlb";
        bench.Report({figureName.c_str(), views[0], large ? views[2] : views[1], large ? 1.15 : 1.2, shown});
        PrintPart("against the bare read and a spare's answer", views[0], views[1]);
        PrintPart("against the bare in-process read alone", views[0], views[2]);
        PrintPart("the same file again (answer remembered)", views[3], views[2]);
    }
    double idleChild = Median([&] {
        std::vector<double> times;
        for (int run = 0; run < runs; ++run) {
            SpareReady();
            double started = Now();
            reader::AskIdleChild();
            times.push_back(Now() - started);
        }
        return times;
    }());
    std::printf("  %-40s %10.2f ms\n", "one round trip to the spare, which leaves", idleChild);
}

// Register plus unregister of a library of our own, under a GUID nobody else uses: with the
// file unchanged (the reader's answers remembered), and just written (a child each time).
void MeasureTrips(Bench& bench, ITlInfoApplication* application, const testsupport::TempFolder& folder) {
    int runs = bench.runs;
    std::string library = folder.File("corvane-bench.tlb");
    std::wstring wideLibrary = ToWide(library);
    GUID guid = testsupport::NewGuid();
    testsupport::LibraryRecipe recipe;
    recipe.guid = guid;
    testsupport::MakeTypeLib(library, recipe);
    auto roundTripOnce = [&] {
        return ChangeRegistration(application, library, 1, 0) == 0 &&
               ChangeRegistration(application, library, 0, 0) == 0;
    };
    unsigned childrenBefore = reader::ChildrenStarted();
    bool roundTripsWorked = roundTripOnce();
    unsigned firstTripChildren = reader::ChildrenStarted() - childrenBefore;
    BareRoundTrip(wideLibrary, guid);
    std::vector<double> trips =
        TakingTurns(runs, {Timed([&] { roundTripOnce(); }), Timed([&] { BareRoundTrip(wideLibrary, guid); }),
                           Timed([&] { roundTripOnce(); },
                                 [&] {
                                     Touch(library);
                                     SpareReady();
                                 }),
                           Timed([&] {
                               BareRoundTrip(wideLibrary, guid);
                               IdentityRead(application, library);
                           }),
                           Timed(
                               [&] {
                                   BareRoundTrip(wideLibrary, guid);
                                   reader::AskIdleChild();
                               },
                               SpareReady)});
    bench.Report({"round trip", trips[0], trips[1], 1.2, roundTripsWorked});
    bench.Report({"trip, new file", trips[2], trips[4], 1.25, roundTripsWorked});
    PrintPart("bare + identity read", trips[3], trips[1]);
    PrintPart("round trip, file just written", trips[2], trips[1]);
    std::printf("  %-40s %10u\n", "children of the first round trip", firstTripChildren);
    testsupport::DeleteTypeLibKey(guid);

    // Registering where the reader's child survived the file: in that child, or back here.
    std::string shapes = folder.File("shapes.tlb");
    GUID shapesGuid = testsupport::NewGuid();
    testsupport::MakeTypeLibWithInterfaces(shapes, shapesGuid);
    auto unregisterShapes = [&] { UnRegisterTypeLib(shapesGuid, 1, 2, 0, SYS_WIN32); };
    std::vector<double> ways = TakingTurns(runs, {[&] {
                                                      double started = Now();
                                                      RegisterInChild(shapes);
                                                      double took = Now() - started;
                                                      unregisterShapes();
                                                      return took;
                                                  },
                                                  [&] {
                                                      Touch(shapes);
                                                      double started = Now();
                                                      RegisterLibraryFile(ToWide(shapes));
                                                      double took = Now() - started;
                                                      unregisterShapes();
                                                      return took;
                                                  }});
    std::printf("  %-40s %10.2f ms\n", "register in a child of its own", ways[0]);
    std::printf("  %-40s %10.2f ms\n", "child walks, then register here", ways[1]);
    testsupport::DeleteTypeLibKey(shapesGuid);
}

// corvane-cli list --broken over 3,000 registrations, half of them naming files that are
// gone, the other half each its own small library, against reg query of the same keys.
void MeasureList(Bench& bench, const testsupport::TempFolder& folder) {
    int runs = bench.runs;
    std::string cli = Beside("corvane-cli.exe");
    std::string reg = SystemFolderFile("reg.exe");
    std::vector<GUID> listed = WriteRegistrations(folder, 3000);
    bool listedAll = driver::RunProgram(cli, {"list", "--broken"}, "", 600000).exitCode == 0;
    std::vector<double> lists = TakingTurns(
        std::min(runs, 10), {Timed([&] {
                                 driver::RunProgram(cli, {"list", "--broken"}, "", 600000);
                             }),
                             Timed([&] {
                                 driver::RunProgram(reg, {"query", "HKCR\\TypeLib", "/s"}, "", 600000);
                             })});
    bench.Report({"list --broken", lists[0], lists[1], 1.5, listedAll});
    // check --all over the same set, against reg query of the TypeLib and Interface branches in
    // every registry view.
    DWORD checked = driver::RunProgram(cli, {"check", "--all"}, "", 600000).exitCode;
    std::vector<std::vector<std::string>> queries = {{"query", "HKCR\\TypeLib", "/s"},
                                                     {"query", "HKCR\\Interface", "/s"}};
    if (RegistryViews().size() > 1)
        for (const char* branch : {"HKCR\\TypeLib", "HKCR\\Interface"})
            queries.push_back({"query", branch, "/s", "/reg:64"});
    std::vector<double> checks =
        TakingTurns(std::min(runs, 10), {Timed([&] {
                                             driver::RunProgram(cli, {"check", "--all"}, "", 600000);
                                         }),
                                         Timed([&] {
                                             for (const std::vector<std::string>& query : queries)
                                                 driver::RunProgram(reg, query, "", 600000);
                                         })});
    bench.Report({"check --all", checks[0], checks[1], 1.5, checked == 0 || checked == 3});
    for (const GUID& each : listed)
        testsupport::DeleteTypeLibKey(each);
}

// corvane-cli info of each damaged library that ends the reader's child (the known crashers),
// against corvane-cli info of a file that is not there, which its child refuses at once: a
// child that dies must be noticed as soon as it is gone, not at the time limit. The figure is
// the mean of the files; the slowest is shown as a part.
void MeasureDamaged(Bench& bench, const testsupport::TempFolder& folder) {
    std::string cli = Beside("corvane-cli.exe");
    std::vector<std::string> damaged = readertest::WriteKnownCrashers(folder.Path());
    bool refused = !damaged.empty();
    for (const std::string& file : damaged)
        refused = refused && driver::RunProgram(cli, {"info", file}, "", 600000).err.find("80070570") !=
                                 std::string::npos;
    std::vector<std::function<double()>> measurements;
    for (const std::string& file : damaged)
        measurements.push_back(Timed([&cli, file] { driver::RunProgram(cli, {"info", file}, "", 600000); }));
    std::string missing = folder.File("missing.tlb");
    measurements.push_back(Timed([&] { driver::RunProgram(cli, {"info", missing}, "", 600000); }));
    std::vector<double> times = TakingTurns(std::min(bench.runs, 10), measurements);
    double baseline = times.back();
    times.pop_back();
    double mean = times.empty() ? 0 : std::accumulate(times.begin(), times.end(), 0.0) / times.size();
    bench.Report({"damaged", mean, baseline, 4.0, refused});
    PrintPart("the slowest damaged file", times.empty() ? 0 : *std::max_element(times.begin(), times.end()),
              baseline);
}

// count libraries, each with a version 2.0 registered from a file of its own and a stale 1.0
// whose file is gone, with one Interface key naming it: what check --all --fix removes. The
// files are made once; WriteStale writes the registry's side again for each run.
struct StaleVersions {
    struct Library {
        GUID guid;
        std::string iid;
        std::string file;
    };
    std::vector<Library> libraries;

    StaleVersions(const testsupport::TempFolder& folder, int count) {
        for (int i = 0; i < count; ++i) {
            testsupport::LibraryRecipe recipe;
            recipe.major = 2;
            Library library = {recipe.guid, testsupport::GuidAnsi(testsupport::NewGuid()),
                               folder.File("stale-" + std::to_string(i) + ".tlb")};
            testsupport::MakeTypeLib(library.file, recipe);
            libraries.push_back(library);
        }
    }
    ~StaleVersions() {
        for (const Library& library : libraries) {
            testsupport::DeleteTypeLibKey(library.guid);
            RegDeleteTreeA(HKEY_CLASSES_ROOT, ("Interface\\" + library.iid).c_str());
        }
    }
    void Write() const {
        auto set = [](const std::string& key, const std::string& value) {
            RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, value.c_str(),
                         static_cast<DWORD>(value.size()));
        };
        for (const Library& library : libraries) {
            std::string guid = testsupport::GuidAnsi(library.guid);
            std::string key = "TypeLib\\" + guid;
            set(key + "\\2.0", "Current library");
            set(key + "\\2.0\\0\\win32", library.file);
            set(key + "\\1.0", "Stale library");
            set(key + "\\1.0\\0\\win32", library.file + ".gone");
            std::string iid = "Interface\\" + library.iid;
            set(iid, "IStale");
            set(iid + "\\TypeLib", guid);
            RegSetKeyValueA(HKEY_CLASSES_ROOT, (iid + "\\TypeLib").c_str(), "Version", REG_SZ, "1.0", 4);
            set(iid + "\\ProxyStubClsid32", "{00020424-0000-0000-C000-000000000046}");
        }
    }
};

// check --all --fix removing count stale versions, against check --all of the same registry;
// gives the time of the repair.
double MeasureRepairs(Bench& bench, const testsupport::TempFolder& folder, int count) {
    std::string cli = Beside("corvane-cli.exe");
    std::string backup = folder.File("repairs.reg");
    StaleVersions stale(folder, count);
    stale.Write();
    std::vector<std::string> fix = {"check", "--all", "--fix", "--backup", backup};
    bool fixed = driver::RunProgram(cli, fix, "", 600000).exitCode != 2 &&
                 driver::RunProgram(cli, {"check", "--all"}, "", 600000).exitCode != 2;
    for (const StaleVersions::Library& library : stale.libraries)
        fixed = fixed && !testsupport::KeyExists(HKEY_CLASSES_ROOT,
                                                 "TypeLib\\" + testsupport::GuidAnsi(library.guid) + "\\1.0");
    std::vector<double> times =
        TakingTurns(std::min(bench.runs, 5),
                    {Timed([&] { driver::RunProgram(cli, fix, "", 600000); }, [&] { stale.Write(); }),
                     Timed(
                         [&] {
                             driver::RunProgram(cli, {"check", "--all"}, "", 600000);
                         },
                         [&] { stale.Write(); })});
    std::string name = "check --fix " + std::to_string(count);
    bench.Report({name.c_str(), times[0], times[1], 3.0, fixed});
    return fixed ? times[0] : 0;
}

// types --json of mshtml.tlb, the console's whole work but the console itself (cli::Run:
// the child's walk, its record, the document), against the floor of its design: the bare
// walk of the same library here plus one child started and answered. The whole program,
// its start and its 10 MB of output through a pipe included, is shown as a part. Without
// spares, as in corvane-cli, which starts its child when it needs one.
void MeasureTypes(Bench& bench, const testsupport::TempFolder& folder) {
    std::string cli = Beside("corvane-cli.exe");
    std::string typesFile = folder.File("mshtml.tlb");
    CopyFileA(SystemFolderFile("mshtml.tlb").c_str(), typesFile.c_str(), TRUE); // unless facts did
    std::vector<std::wstring> typesArgs = {L"types", ToWide(typesFile), L"--json"};
    bool typed = cli::Run(typesArgs).exitCode == 0 && BareWalk(ToWide(typesFile));
    std::vector<double> types =
        TakingTurns(bench.runs, {Timed([&] { cli::Run(typesArgs); }), Timed([&] {
                                     BareWalk(ToWide(typesFile));
                                     reader::AskIdleChild();
                                 }),
                                 Timed([&] {
                                     driver::RunProgram(cli, {"types", typesFile, "--json"}, "", 600000);
                                 })});
    bench.Report({"types --json", types[0], types[1], 1.5, typed});
    PrintPart("corvane-cli.exe types --json, started", types[2], types[1]);
}

// diff of mshtml.tlb against a copy of itself (cli::Run: both files read whole through the
// child, then compared), against one types --json of it: the comparison must cost less than
// the second read saves rendering, so at most twice that.
void MeasureDiff(Bench& bench, const testsupport::TempFolder& folder) {
    std::string original = folder.File("mshtml.tlb"), copy = folder.File("mshtml-copy.tlb");
    CopyFileA(SystemFolderFile("mshtml.tlb").c_str(), original.c_str(), TRUE); // unless facts did
    CopyFileA(original.c_str(), copy.c_str(), TRUE);
    std::vector<std::wstring> diffArgs = {L"diff", ToWide(original), ToWide(copy)};
    std::vector<std::wstring> typesArgs = {L"types", ToWide(original), L"--json"};
    bool same = cli::Run(diffArgs).exitCode == 0;
    std::vector<double> diff =
        TakingTurns(bench.runs, {Timed([&] { cli::Run(diffArgs); }), Timed([&] { cli::Run(typesArgs); })});
    bench.Report({"diff", diff[0], diff[1], 2.0, same});
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == kRegisterMode) {
        ComApartment apartment;
        return static_cast<int>(RegisterHere(argv[2]));
    }
    int runs = argc > 1 ? std::max(10, std::atoi(argv[1])) : 15;
    // A second argument names the groups to measure ("start-up facts trips list damaged repairs
    // types"); all of them without it.
    const char* only = argc > 2 ? argv[2] : nullptr;
    auto wanted = [only](const char* group) { return !only || std::strstr(only, group); };
    ComApartment apartment;
    std::printf("Each figure: median of %d runs, Corvane and its baseline taking turns.\n\n", runs);
    std::printf("%-12s %13s %13s %7s   %-7s\n", "figure", "Corvane", "baseline", "ratio", "target");
    Bench bench{runs};
    if (wanted("start-up"))
        MeasureStartUp(bench);

    ComPtr<ITlInfoApplication> application;
    CoCreateInstance(CLSID_TlInfoApplication, nullptr, CLSCTX_INPROC_SERVER, IID_ITlInfoApplication,
                     application.PutVoid());
    // As the window does: its reads go to the component's reader, which keeps a spare child
    // ready once the window shows. This module keeps one too, for the floors that take one.
    reader::KeepSpare(true);
    reader::ShareReaderOf(application.Get());
    reader::KeepSpare(true);
    OwnedWindow factsWindow(CreateFactsWindow());
    // One folder for the run: types reuses the copy of mshtml.tlb that facts made.
    testsupport::TempFolder folder;
    if (wanted("facts"))
        MeasureFacts(bench, application.Get(), factsWindow.Get(), folder);
    if (wanted("trips"))
        MeasureTrips(bench, application.Get(), folder);
    if (wanted("list"))
        MeasureList(bench, folder);
    if (wanted("damaged"))
        MeasureDamaged(bench, folder);
    if (wanted("repairs")) {
        // Linear: 1,000 removals take at most 4 times as long as 300.
        double few = MeasureRepairs(bench, folder, 300);
        double many = MeasureRepairs(bench, folder, 1000);
        bench.Report({"fix 1000 / 300", many, few, 4.0, few > 0 && many > 0});
    }

    // The console's work has no spares: its child starts when it needs one.
    reader::KeepSpare(false);
    reader::ShareReaderOf(nullptr);
    reader::KeepSpare(false);
    if (wanted("types"))
        MeasureTypes(bench, folder);
    if (wanted("diff"))
        MeasureDiff(bench, folder);

    std::printf(
        "\nsizes: Corvane.exe %lld bytes, CorvaneTLInfo.dll %lld bytes, baseline program %lld bytes\n",
        FileSize(bench.corvane), FileSize(Beside("CorvaneTLInfo.dll")), FileSize(bench.baseline));
    std::printf("mshtml.tlb: %lld bytes\n", FileSize(SystemFolderFile("mshtml.tlb")));
    std::printf("%s\n", bench.allMet ? "All targets met." : "Some target missed or not measured.");
    return 0;
}
