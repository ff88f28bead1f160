// Measures Corvane side by side with baselines of ours, in one run: start-up, the facts view
// on a large library, and a register-plus-unregister round trip. Each figure is the median of
// at least ten runs; Corvane and its baseline take turns, so a slow moment of the machine
// falls on both. Prints the ratios against their targets and the sizes of the binaries.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "common/systemdll.h"
#include "app/mainwindow.h"
#include "catalogue/typelibfacts.h"
#include "common/owners.h"
#include "common/text.h"
#include "registration/registration.h"
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
    wchar_t guid[40];
    StringFromGUID2(attributes->guid, guid, 40);
    char key[96];
    std::snprintf(key, sizeof key, "TypeLib\\%ls\\%x.%x", guid, attributes->wMajorVerNum,
                  attributes->wMinorVerNum);
    library->ReleaseTLibAttr(attributes);
    Bstr name, description;
    if (FAILED(library->GetDocumentation(-1, name.Put(), description.Put(), nullptr, nullptr)))
        return false;
    RegKey versionKey;
    char value[512];
    DWORD size = sizeof value;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key, 0, KEY_READ, versionKey.Put()) == ERROR_SUCCESS)
        RegQueryValueExA(versionKey.Get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    return true;
}

// ---- round trip -----------------------------------------------------------------------------

HRESULT MakeLibrary(const std::wstring& path, const GUID& guid) {
    ComPtr<ICreateTypeLib2> creator;
    HRESULT hr = CreateTypeLib2(SYS_WIN32, path.c_str(), creator.Put());
    if (FAILED(hr))
        return hr;
    wchar_t name[] = L"BenchLib";
    wchar_t description[] = L"Bench Library";
    if (FAILED(hr = creator->SetGuid(guid)) || FAILED(hr = creator->SetName(name)) ||
        FAILED(hr = creator->SetDocString(description)) || FAILED(hr = creator->SetVersion(1, 0)) ||
        FAILED(hr = creator->SetLcid(0)))
        return hr;
    return creator->SaveAllChanges();
}

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

long long FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

} // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::max(10, std::atoi(argv[1])) : 15;
    ComApartment apartment;
    std::printf("Each figure: median of %d runs, Corvane and its baseline taking turns.\n\n", runs);
    std::printf("%-12s %13s %13s %7s   %-7s\n", "figure", "Corvane", "baseline", "ratio", "target");
    bool allMet = true;
    auto report = [&](const Figure& figure) {
        PrintFigure(figure);
        allMet = allMet && figure.valid && figure.corvane <= figure.target * figure.baseline;
        std::fflush(stdout);
    };

    // Start-up. One start of each first, so the first-ever load of their DLLs counts for neither.
    std::string corvane = Beside("Corvane.exe");
    std::string baseline = Beside("bench_baseline_window.exe");
    StartUp(baseline, false);
    StartUp(corvane, true);
    bool startedAlways = true;
    Figure startUp = {"start-up", 0, 0, 1.2, true};
    std::vector<double> starts =
        TakingTurns(runs, {[&] {
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
    report(startUp);
    PrintPart("baseline + component", starts[2], starts[1]);
    PrintPart("baseline + controls", starts[3], starts[1]);
    PrintPart("baseline + imports", starts[4], starts[1]);
    PrintPart("baseline + imports, controls, component", starts[5], starts[1]);

    // Facts of mshtml.tlb, the largest library of the prefix. Several views per run, so a run
    // is long against the clock's resolution.
    constexpr int kViewsPerRun = 5;
    std::string mshtml = SystemFolderFile("mshtml.tlb");
    std::wstring wideMshtml = ToWide(mshtml);
    ComPtr<ITlInfoApplication> application;
    CoCreateInstance(CLSID_TlInfoApplication, nullptr, CLSCTX_INPROC_SERVER, IID_ITlInfoApplication,
                     application.PutVoid());
    OwnedWindow factsWindow(CreateFactsWindow());
    ShowTypeLibFacts(factsWindow.Get(), application.Get(), mshtml);
    LeastFactsWork(wideMshtml);
    Figure facts = {"facts", 0, 0, 1.1, GetWindowTextLengthA(GetDlgItem(factsWindow.Get(), IDC_NAME)) > 0};
    std::vector<double> views =
        TakingTurns(runs, {[&] {
                               double started = Now();
                               for (int i = 0; i < kViewsPerRun; ++i)
                                   ShowTypeLibFacts(factsWindow.Get(), application.Get(), mshtml);
                               return (Now() - started) / kViewsPerRun;
                           },
                           [&] {
                               double started = Now();
                               for (int i = 0; i < kViewsPerRun; ++i)
                                   LeastFactsWork(wideMshtml);
                               return (Now() - started) / kViewsPerRun;
                           }});
    facts.corvane = views[0];
    facts.baseline = views[1];
    report(facts);

    // Register plus unregister of a library of our own, under a GUID nobody else uses.
    constexpr int kRoundTripsPerRun = 10;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    GUID guid;
    CoCreateGuid(&guid);
    std::string library = std::string(temp) + "corvane-bench.tlb";
    std::wstring wideLibrary = ToWide(library);
    MakeLibrary(wideLibrary, guid);
    auto roundTripOnce = [&] {
        return ChangeRegistration(application.Get(), library, 1, 0) == 0 &&
               ChangeRegistration(application.Get(), library, 0, 0) == 0;
    };
    bool roundTripsWorked = roundTripOnce();
    BareRoundTrip(wideLibrary, guid);
    Figure roundTrip = {"round trip", 0, 0, 1.1, roundTripsWorked};
    auto timed = [&](const std::function<void()>& once) {
        return [&, once] {
            double started = Now();
            for (int i = 0; i < kRoundTripsPerRun; ++i)
                once();
            return (Now() - started) / kRoundTripsPerRun;
        };
    };
    std::vector<double> trips = TakingTurns(
        runs, {timed([&] { roundTripOnce(); }), timed([&] { BareRoundTrip(wideLibrary, guid); }), timed([&] {
                   BareRoundTrip(wideLibrary, guid);
                   IdentityRead(application.Get(), library);
               }),
               timed([&] { IdentityRead(application.Get(), library); })});
    roundTrip.corvane = trips[0];
    roundTrip.baseline = trips[1];
    report(roundTrip);
    PrintPart("bare + identity read", trips[2], trips[1]);
    PrintPart("identity read alone", trips[3], trips[1]);
    wchar_t guidText[40];
    StringFromGUID2(guid, guidText, 40);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, (std::wstring(L"TypeLib\\") + guidText).c_str());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, (std::wstring(L"TypeLib\\") + guidText).c_str());
    DeleteFileA(library.c_str());

    std::printf(
        "\nsizes: Corvane.exe %lld bytes, CorvaneTLInfo.dll %lld bytes, baseline program %lld bytes\n",
        FileSize(corvane), FileSize(Beside("CorvaneTLInfo.dll")), FileSize(baseline));
    std::printf("mshtml.tlb: %lld bytes\n", FileSize(mshtml));
    std::printf("%s\n", allMet ? "All targets met." : "Some target missed or not measured.");
    return 0;
}
