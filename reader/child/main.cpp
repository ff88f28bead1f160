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
#include "reader/child/walk.h"
#include "reader/child/confinement.h"
#include "reader/protocol.h"

namespace {

using reader::Request;

// A crash must end this process at once and quietly: no error box, no debugger started (Wine
// starts one and prints "Unhandled ..." otherwise), no report. The parent only needs to see the
// process gone without an answer; the exit code names the exception for anyone looking.
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

void ReadDocumentation(ITypeInfo* info, MEMBERID member) {
    Bstr name, documentation, helpFile;
    DWORD context = 0;
    info->GetDocumentation(member, name.Put(), documentation.Put(), &context, helpFile.Put());
}

void WalkFunction(ITypeInfo* info, UINT index) {
    FunctionDescription function(info);
    if (FAILED(info->GetFuncDesc(index, function.Put())) || !function)
        return;
    // The function's name and one per parameter.
    BstrArray names(static_cast<size_t>(function->cParams > 0 ? function->cParams : 0) + 1);
    UINT count = 0;
    info->GetNames(function->memid, names.Data(), names.Size(), &count);
    ReadDocumentation(info, function->memid);
}

void WalkVariable(ITypeInfo* info, UINT index) {
    VariableDescription variable(info);
    if (SUCCEEDED(info->GetVarDesc(index, variable.Put())) && variable)
        ReadDocumentation(info, variable->memid);
}

// Reads what RegisterTypeLib reads of one type info: its attributes and documentation, its
// members, the types it implements, and for a dual interface its other half (walked as well
// when otherHalf is true). Failures of single calls are no concern here: registration meets
// them as errors in the parent; only a crash matters, and that ends this process.
void WalkTypeInfo(ITypeInfo* info, bool otherHalf) {
    TypeAttributes attributes(info);
    if (FAILED(info->GetTypeAttr(attributes.Put())) || !attributes)
        return;
    const TYPEATTR& type = *attributes.Get();
    ReadDocumentation(info, MEMBERID_NIL);
    for (UINT i = 0; i < type.cFuncs; ++i)
        WalkFunction(info, i);
    for (UINT i = 0; i < type.cVars; ++i)
        WalkVariable(info, i);
    for (UINT i = 0; i < type.cImplTypes; ++i) {
        INT implFlags = 0;
        HREFTYPE reference = 0;
        ComPtr<ITypeInfo> implemented;
        info->GetImplTypeFlags(i, &implFlags);
        if (FAILED(info->GetRefTypeOfImplType(i, &reference)) ||
            FAILED(info->GetRefTypeInfo(reference, implemented.Put())) || !implemented)
            continue;
        TypeAttributes implementedAttributes(implemented.Get());
        implemented->GetTypeAttr(implementedAttributes.Put());
        ReadDocumentation(implemented.Get(), MEMBERID_NIL);
    }
    HREFTYPE otherReference = 0;
    ComPtr<ITypeInfo> other;
    if (otherHalf && type.typekind == TKIND_DISPATCH && (type.wTypeFlags & TYPEFLAG_FDUAL) &&
        SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &otherReference)) &&
        SUCCEEDED(info->GetRefTypeInfo(otherReference, other.Put())) && other)
        WalkTypeInfo(other.Get(), false);
}

void WalkLibrary(ITypeLib* library, UINT count) {
    for (UINT i = 0; i < count; ++i) {
        TYPEKIND kind;
        library->GetTypeInfoType(i, &kind);
        Bstr name, documentation, helpFile;
        DWORD context = 0;
        library->GetDocumentation(static_cast<INT>(i), name.Put(), documentation.Put(), &context,
                                  helpFile.Put());
        ComPtr<ITypeInfo> info;
        if (SUCCEEDED(library->GetTypeInfo(i, info.Put())) && info)
            WalkTypeInfo(info.Get(), true);
    }
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
    description.resources = reader::LibraryResources(path);
    if (kind == Request::Registration)
        WalkLibrary(library.Get(), description.typeInfoCount);
    if (kind != Request::Content)
        return S_OK;
    reader::LibraryContent walked;
    hr = reader::WalkContent(library.Get(), description.guid, walked);
    if (FAILED(hr))
        return hr;
    content = reader::EncodeContent(walked);
    // Past the limit the parent would refuse the record: say so at once, without sending it.
    return content.size() > reader::kMaxContentSize ? reader::kDamaged : S_OK;
}

} // namespace

// Exit codes for the cases where the parent stopped talking; the parent never relies on them.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(EndAtOnce);
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
        if (!reader::DecodeRequest(record, kind, path, &limit))
            return 2;
        watchdog.Arm(limit);
        LibraryDescription description;
        std::string content;
        HRESULT hr = kind == Request::Nothing ? S_OK : Read(path, kind, description, content);
        if (FAILED(hr)) {
            description = LibraryDescription();
            content.clear();
        }
        // A request that reads nothing is answered with what this child may do, for the tests.
        if (kind == Request::Nothing)
            description.documentation = child::TokenReport();
        // Before the answer goes out: a parent that has it must never see this child end.
        watchdog.Disarm();
        if (!WriteAll(out,
                      reader::EncodeAnswer(hr, description, kind == Request::Content ? &content : nullptr)))
            return 3;
    }
}
