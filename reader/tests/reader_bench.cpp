// Measures the gate (never run by ctest): a child that does nothing and answers at once, the bare
// in-process load of mshtml.tlb and stdole2.tlb, and the gate's facts read of each; then two
// ways to register a library: registering in a child, or walking it in the gate's child and
// then loading and registering it in this process. Each figure is the median of the runs (at
// least ten); the measurements take turns, so a slow moment of the machine falls on all.
#include <windows.h>
#include <oleauto.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "common/systemdll.h"
#include "common/owners.h"
#include "common/text.h"
#include "reader/reader.h"
#include "reader/tests/damage.h"
#include "tests/support/testsupport.h"

namespace {

constexpr char kRegisterMode[] = "--register";

double Now() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

HRESULT BareFacts(const std::wstring& path) {
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.Put());
    if (FAILED(hr))
        return hr;
    TLIBATTR* attributes = nullptr;
    if (FAILED(hr = library->GetLibAttr(&attributes)))
        return hr;
    library->ReleaseTLibAttr(attributes);
    Bstr name, documentation;
    return library->GetDocumentation(-1, name.Put(), documentation.Put(), nullptr, nullptr);
}

HRESULT RegisterHere(const std::wstring& path) {
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLib(path.c_str(), library.Put());
    if (FAILED(hr))
        return hr;
    std::wstring full = path;
    return RegisterTypeLib(library.Get(), &full[0], nullptr);
}

// Registering in a child: this program started again to load and register the library, its
// exit code the result.
HRESULT RegisterInChild(const std::string& path) {
    std::string commandLine =
        "\"" + testsupport::BesideTests("reader_bench.exe") + "\" " + kRegisterMode + " \"" + path + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &started))
        return HRESULT_FROM_WIN32(GetLastError());
    KernelHandle process(started.hProcess), thread(started.hThread);
    WaitForSingleObject(process.Get(), INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.Get(), &code);
    return static_cast<HRESULT>(code);
}

struct Measure {
    Measure(const char* name, std::function<HRESULT()> work, std::function<void()> after)
        : name(name), work(std::move(work)), after(std::move(after)) {}
    const char* name;
    std::function<HRESULT()> work;
    std::function<void()> after; // untimed clean-up
    std::vector<double> times;
    HRESULT result = S_OK;
};

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == kRegisterMode) {
        ComApartment apartment;
        return static_cast<int>(RegisterHere(ToWide(argv[2])));
    }
    int runs = argc > 1 ? std::max(10, std::atoi(argv[1])) : 15;
    ComApartment apartment;
    testsupport::TempFolder folder;
    GUID guid = testsupport::NewGuid();
    std::string shapes = folder.File("shapes.tlb");
    if (FAILED(testsupport::MakeTypeLibWithInterfaces(shapes, guid)))
        return 1;
    std::wstring mshtml = ToWide(SystemFolderFile("mshtml.tlb")),
                 stdole2 = ToWide(SystemFolderFile("stdole2.tlb"));
    auto unregister = [guid] { UnRegisterTypeLib(guid, 1, 2, 0, SYS_WIN32); };
    auto facts = [](const std::wstring& path) {
        return [path] {
            reader::ForgetAnswers();
            reader::LibraryFacts read;
            return reader::ReadLibrary(path, reader::Depth::Facts, read);
        };
    };
    std::vector<Measure> measures = {
        {"child started, idle request answered", [] { return reader::AskIdleChild(); }, nullptr},
        {"bare LoadTypeLibEx + facts, mshtml.tlb", [&] { return BareFacts(mshtml); }, nullptr},
        {"gate facts read, mshtml.tlb", facts(mshtml), nullptr},
        {"bare LoadTypeLibEx + facts, stdole2.tlb", [&] { return BareFacts(stdole2); }, nullptr},
        {"gate facts read, stdole2.tlb", facts(stdole2), nullptr},
        {"register in a child (made library)", [&] { return RegisterInChild(shapes); }, unregister},
        {"gate registration walk + register here (made library)",
         [&] {
             reader::ForgetAnswers();
             reader::LibraryFacts read;
             HRESULT hr = reader::ReadLibrary(ToWide(shapes), reader::Depth::Registration, read);
             return FAILED(hr) ? hr : RegisterHere(ToWide(shapes));
         },
         unregister},
        {"register here, no gate (made library)", [&] { return RegisterHere(ToWide(shapes)); }, unregister},
        {"gate registration walk, mshtml.tlb",
         [&] {
             reader::ForgetAnswers();
             reader::LibraryFacts read;
             return reader::ReadLibrary(mshtml, reader::Depth::Registration, read);
         },
         nullptr},
    };
    for (int run = 0; run < runs; ++run)
        for (size_t k = 0; k < measures.size(); ++k) {
            Measure& measure = measures[(static_cast<size_t>(run) + k) % measures.size()];
            double start = Now();
            HRESULT hr = measure.work();
            measure.times.push_back(Now() - start);
            if (FAILED(hr))
                measure.result = hr;
            if (measure.after)
                measure.after();
        }
    testsupport::DeleteTypeLibKey(guid);

    std::printf("median of %d runs\n", runs);
    for (const Measure& measure : measures)
        std::printf("%-56s %9.2f ms%s\n", measure.name, Median(measure.times),
                    FAILED(measure.result) ? "  (FAILED)" : "");
    double floorTime = Median(measures[0].times);
    for (size_t bare : {size_t{1}, size_t{3}}) {
        double load = Median(measures[bare].times), gate = Median(measures[bare + 1].times);
        std::printf("%s: gate / (bare + idle child) %.2f (target <= 1.1), gate / bare %.2f\n",
                    bare == 1 ? "mshtml.tlb" : "stdole2.tlb", gate / (load + floorTime), gate / load);
    }
    return 0;
}
