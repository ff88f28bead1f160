// corvane-reader.exe: the throw-away process in which the gate has a library read. It answers
// requests from its standard input on its standard output, one complete record each, until the
// input ends. If the loader takes it down, the parent sees no complete answer and refuses the
// file; nothing the loader did here can touch the parent.
//
// A GUI-subsystem program, so that starting it from Corvane.exe or corvane-cli.exe never opens
// a console window; it creates no window either.
#include <windows.h>
#include <oleauto.h>
#include <string>
#include <vector>

#include "common/owners.h"
#include "reader/child/confinement.h"
#include "reader/child/contentwalk.h"
#include "reader/child/registrationwalk.h"
#include "reader/protocol.h"

namespace {

using reader::Request;

// A crash must end this process at once and quietly: no error box, no debugger started (Wine
// starts one and prints "Unhandled ..." otherwise), and no report: Windows Error Reporting is
// asked only when the top-level filter lets an exception pass, and this one never does. The
// parent only needs to see the process gone without an answer; the exit code names the
// exception for anyone looking.
LONG WINAPI EndAtOnce(EXCEPTION_POINTERS* exception) {
    TerminateProcess(GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

// Damaged counts can make the loader allocate memory until the address space is exhausted: a
// stdole32.tlb cut to 5,592 bytes grows this process by about 150 MB a second to 2 GB before it
// dies, 5 to 15 s. A real library needs a small part of that (the 1.2 MB mshtml.tlb, loaded and
// walked, under 20 MB), so the child keeps one contiguous free region of kRoom bytes for
// the loader and reserves the rest of its address space; such a file then dies within a
// second. Reserved pages cost no memory, only address space. Gaps smaller than kGap stay free
// for the system's own mappings: under Wine a 32-bit process's Unix side maps from the same
// address space (a thread's end maps libgcc_s), and with no gap left its threads cannot end
// ("libgcc_s.so.1 must be installed for pthread_exit to work").
constexpr SIZE_T kRoom = 256u << 20;
constexpr SIZE_T kGap = 4u << 20;

void LeaveOnlyRoomForTheLoader() {
    void* room = VirtualAlloc(nullptr, kRoom, MEM_RESERVE, PAGE_NOACCESS);
    if (!room)
        return;
    for (SIZE_T block = 256u << 20; block >= kGap; block /= 2)
        while (VirtualAlloc(nullptr, block, MEM_RESERVE, PAGE_NOACCESS))
            ;
    VirtualFree(room, 0, MEM_RELEASE);
}

bool ReadExactly(HANDLE from, char* buffer, DWORD count) {
    while (count > 0) {
        DWORD read = 0;
        if (!ReadFile(from, buffer, count, &read, nullptr) || read == 0)
            return false;
        buffer += read;
        count -= read;
    }
    return true;
}

bool WriteAll(HANDLE to, const std::string& bytes) {
    const char* at = bytes.data();
    DWORD left = static_cast<DWORD>(bytes.size());
    while (left > 0) {
        DWORD written = 0;
        if (!WriteFile(to, at, left, &written, nullptr) || written == 0)
            return false;
        at += written;
        left -= written;
    }
    return true;
}

bool ReadRecord(HANDLE from, std::string& record) {
    char header[reader::kRecordHeaderSize];
    if (!ReadExactly(from, header, sizeof header))
        return false;
    uint32_t length = reader::RecordLength(header, true);
    if (length == 0)
        return false;
    record.assign(header, sizeof header);
    record.resize(length);
    return ReadExactly(from, &record[sizeof header], length - sizeof header);
}

BOOL CALLBACK NoteResource(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found) {
    if (IS_INTRESOURCE(name))
        reinterpret_cast<std::vector<WORD>*>(found)->push_back(
            static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name)));
    return TRUE;
}

// The numbers of path's TYPELIB resources, in the file's order; nothing when path (without a
// trailing "\N") is no module. Resources named by text are left out: no path can name them.
std::vector<WORD> LibraryResources(const std::wstring& path) {
    std::vector<WORD> resources;
    std::wstring file = path;
    size_t slash = file.find_last_of(L'\\');
    if (slash != std::wstring::npos && slash + 1 < file.size() &&
        file.find_first_not_of(L"0123456789", slash + 1) == std::wstring::npos &&
        GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES)
        file.resize(slash);
    Module module(
        LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (module)
        EnumResourceNamesW(module.Get(), L"TYPELIB", NoteResource, reinterpret_cast<LONG_PTR>(&resources));
    return resources;
}

HRESULT Read(const std::wstring& path, Request kind, LibraryDescription& description, std::string& content) {
    // REGKIND_NONE: reading must never register the library.
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.Put());
    if (FAILED(hr))
        return hr;
    if (!library)
        return TYPE_E_CANTLOADLIBRARY;
    {
        LibraryAttributes attributes(library.Get());
        hr = library->GetLibAttr(attributes.Put());
        if (FAILED(hr))
            return hr;
        if (!attributes)
            return E_UNEXPECTED;
        description.guid = attributes->guid;
        description.major = attributes->wMajorVerNum;
        description.minor = attributes->wMinorVerNum;
        description.lcid = attributes->lcid;
        description.syskind = attributes->syskind;
        description.flags = attributes->wLibFlags;
    }
    Bstr name, documentation, helpFile;
    DWORD context = 0;
    hr = library->GetDocumentation(-1, name.Put(), documentation.Put(), &context, helpFile.Put());
    if (FAILED(hr))
        return hr;
    description.name.assign(name.Get() ? name.Get() : L"", name.Length());
    description.hasDocumentation = documentation.Get() != nullptr;
    description.documentation.assign(documentation.Get() ? documentation.Get() : L"", documentation.Length());
    description.typeInfoCount = library->GetTypeInfoCount();
    description.resources = LibraryResources(path);
    if (kind == Request::Registration)
        child::WalkForRegistration(library.Get(), description.typeInfoCount);
    if (kind != Request::Content)
        return S_OK;
    reader::LibraryContent walked;
    reader::WalkContent(library.Get(), description.guid, walked);
    content = reader::EncodeContent(walked);
    // Past the limit the parent would refuse the record: say so at once, without sending it.
    return content.size() > reader::kMaxContentSize ? reader::kDamaged : S_OK;
}

} // namespace

// The stack kept back for the filter above when the loader overflows the reading thread's stack:
// without it the system could not call the filter, and the thread would die without it.
constexpr ULONG kStackForTheFilter = 64 * 1024;

// Exit codes for the cases where the parent stopped talking; the parent never relies on them.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(EndAtOnce);
    ULONG guarantee = kStackForTheFilter;
    SetThreadStackGuarantee(&guarantee);
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    child::Watchdog watchdog;
    // Before the first request rather than in it: a spare child has done it while it waited.
    LeaveOnlyRoomForTheLoader();
    for (;;) {
        std::string record;
        if (!ReadRecord(in, record))
            return 0; // the parent closed the pipe: the batch is over
        Request kind;
        std::wstring path;
        uint32_t limit = 0;
        bool acknowledge = false;
        if (!reader::DecodeRequest(record, kind, path, &limit, &acknowledge))
            return 2;
        if (acknowledge &&
            !WriteAll(out, std::string(reader::Acknowledgement(), reader::kAcknowledgementSize)))
            return 3;
        watchdog.Arm(limit);
        LibraryDescription description;
        std::string content;
        HRESULT hr = kind == Request::Nothing ? S_OK : Read(path, kind, description, content);
        if (FAILED(hr)) {
            description = LibraryDescription();
            content.clear();
        }
        // A request that reads nothing is answered with what this child may do, for the tests.
        std::wstring token = kind == Request::Nothing ? child::TokenReport() : std::wstring();
        // Before the answer goes out: a parent that has it must never see this child end.
        watchdog.Disarm();
        std::string answer =
            kind == Request::Nothing
                ? reader::EncodeIdleAnswer(hr, token)
                : reader::EncodeAnswer(hr, description, kind == Request::Content ? &content : nullptr);
        if (!WriteAll(out, answer))
            return 3;
    }
}
