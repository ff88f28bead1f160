#include "reader/reader.h"

#include <map>
#include <new>

#include "common/owners.h"
#include "common/paths.h"
#include "common/systemdll.h"
#include "common/text.h"
#include "reader/protocol.h"
#include "reader/sandbox.h"

namespace reader {

namespace {

using Pipe = FileHandle;

constexpr wchar_t kReaderProgram[] = L"corvane-reader.exe";

// The time limit for one answer. Under Wine here the largest real library at hand, the 1.2 MB
// mshtml.tlb, loads in about 0.2 s and is walked for registration in about 0.3 s more, and a
// busy machine (two cores shared by several builds) has been seen to stretch such times
// threefold and more. A good library refused for slowness would be a wrong answer, while a file
// that makes the loader spin only costs the user a wait; so the limit keeps a wide margin over
// the slowest good read: 10 s, and 5 s more per MiB of file for the rare libraries of several
// MiB. Damaged files that crash the loader only late, by allocating until memory runs out (a
// stdole32.tlb cut to 5,592 bytes), end within a second or two, since the child leaves the
// loader little address space; they are refused as damaged, not as too slow.
constexpr DWORD kBaseTimeLimit = 10000;
constexpr DWORD kTimeLimitPerMiB = 5000;
// How long a child that has ended (or been told to) may take to close its end of the pipe or
// to leave, before it is ended by force.
constexpr DWORD kGrace = 2000;
// The pipe's buffers hold a whole request or answer of ordinary size in one go.
constexpr DWORD kPipeBuffer = 64 * 1024;
// A window's thread that waits for a child looks at its queue at least this often: Windows
// calls a window hung when its thread has not done so for 5 s.
constexpr DWORD kQueueInterval = 1000;

SRWLOCK g_answersLock = SRWLOCK_INIT;
LONG g_childrenStarted = 0;
LONG g_pipeNumber = 0;
volatile DWORD g_testTimeLimit = 0;
// The component's reader that this module's reads go to, holding one reference; null while this
// module reads with its own state. A plain pointer, so that no destructor releases it after COM
// is gone at the end of the process.
SRWLOCK g_sharedLock = SRWLOCK_INIT;
ICorvaneReader* g_shared = nullptr;

DWORD TimeLimit(uint64_t fileSize) {
    if (g_testTimeLimit != 0)
        return g_testTimeLimit;
    uint64_t mib = fileSize >> 20;
    return kBaseTimeLimit + static_cast<DWORD>(mib < 100 ? mib : 100) * kTimeLimitPerMiB;
}

// The file the loader will read, found as the loader finds it (SearchPath, so a bare name is
// looked for where the caller's process would look), with the "\<number>" that names a TYPELIB
// resource of a DLL when the path has one, and its size and last-write time.
struct Target {
    std::wstring file;
    std::wstring resource; // "" or "\<number>"
    WIN32_FILE_ATTRIBUTE_DATA data{};
};

bool Locate(const std::wstring& path, Target& target) {
    if (!SearchFile(path, target.file)) {
        // "lib.dll\2": a resource number 1..65535 after the file.
        std::wstring file;
        int number = 0;
        if (!SplitResourceIndex(path, file, number) || number == 0 || number > 0xFFFF ||
            !SearchFile(file, target.file))
            return false;
        target.resource = L"\\" + path.substr(file.size() + 1);
    }
    return GetFileAttributesExW(target.file.c_str(), GetFileExInfoStandard, &target.data) != 0;
}

uint64_t FileSize(const Target& target) {
    return static_cast<uint64_t>(target.data.nFileSizeHigh) << 32 | target.data.nFileSizeLow;
}

// ---- Answers remembered for the run ----------------------------------------------------------

struct Remembered {
    uint64_t size;
    FILETIME written;
    Depth depth;
    Answer answer;
};

std::map<std::wstring, Remembered>& Answers() {
    static std::map<std::wstring, Remembered> answers;
    return answers;
}

bool Recall(const Target& target, Depth depth, Answer& answer) {
    SharedLock lock(g_answersLock);
    auto entry = Answers().find(target.file + target.resource);
    if (entry == Answers().end())
        return false;
    const Remembered& remembered = entry->second;
    // A registration read is a facts read and more, so it also answers a facts request.
    bool found = remembered.size == FileSize(target) &&
                 CompareFileTime(&remembered.written, &target.data.ftLastWriteTime) == 0 &&
                 (remembered.depth == depth || remembered.depth == Depth::Registration);
    if (found)
        answer = remembered.answer;
    return found;
}

void Remember(const Target& target, Depth depth, const Answer& answer) {
    // A time-out may come from a busy moment of the machine, and a missing reader may be put
    // back: neither says anything lasting about the file.
    if (answer.result == kTimedOut || answer.result == kNoReader)
        return;
    ExclusiveLock lock(g_answersLock);
    Answers()[target.file + target.resource] =
        Remembered{FileSize(target), target.data.ftLastWriteTime, depth, answer};
}

// ---- Waiting on a window's thread -----------------------------------------------------------

// The window functions the wait needs, looked up rather than imported: the component and the
// console program import no user32, and a thread can have windows only where user32 is loaded.
struct WindowCalls {
    decltype(&EnumThreadWindows) enumThreadWindows;
    decltype(&MsgWaitForMultipleObjectsEx) msgWait;
    decltype(&PeekMessageW) peekMessage;
    decltype(&DispatchMessageW) dispatchMessage;
};

const WindowCalls& User32() {
    static const WindowCalls calls = {
        SystemFunctionOf<decltype(&EnumThreadWindows)>("user32.dll", "EnumThreadWindows"),
        SystemFunctionOf<decltype(&MsgWaitForMultipleObjectsEx)>("user32.dll", "MsgWaitForMultipleObjectsEx"),
        SystemFunctionOf<decltype(&PeekMessageW)>("user32.dll", "PeekMessageW"),
        SystemFunctionOf<decltype(&DispatchMessageW)>("user32.dll", "DispatchMessageW")};
    return calls;
}

BOOL CALLBACK NoteWindow(HWND, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return FALSE;
}

// Whether the calling thread owns a top-level window: the window's thread, not the console's.
bool ThreadHasWindows(const WindowCalls& user) {
    bool found = false;
    if (user.enumThreadWindows && user.msgWait && user.peekMessage && user.dispatchMessage)
        user.enumThreadWindows(GetCurrentThreadId(), NoteWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

// Waits until one of the two handles is signalled or the deadline passes, as
// WaitForMultipleObjects does. On a thread with windows it also lets them repaint meanwhile:
// PeekMessage delivers the messages other threads send, and only paint messages are taken from
// the queue, so that input, timers and posted commands stay queued and no second command can
// start during the wait; the thread looks at its queue at least every kQueueInterval, so that
// Windows never marks its windows "Not responding".
DWORD WaitFor(HANDLE (&handles)[2], ULONGLONG deadline) {
    const WindowCalls& user = User32();
    bool windows = ThreadHasWindows(user);
    for (;;) {
        ULONGLONG now = GetTickCount64();
        DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        if (!windows)
            return WaitForMultipleObjects(2, handles, FALSE, left);
        MSG message;
        while (GetTickCount64() < deadline &&
               user.peekMessage(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE | PM_QS_PAINT))
            user.dispatchMessage(&message);
        DWORD slice = left < kQueueInterval ? left : kQueueInterval;
        DWORD which = user.msgWait(2, handles, slice, QS_PAINT | QS_SENDMESSAGE, 0);
        if (which != WAIT_OBJECT_0 + 2 && (which != WAIT_TIMEOUT || slice == left))
            return which;
    }
}

// ---- The child ---------------------------------------------------------------------------

// corvane-reader.exe in the folder of the module that holds this code: the component finds the
// one beside CorvaneTLInfo.dll, the programs the one beside themselves. "" when it is not there.
std::wstring ReaderProgram() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&ReaderProgram), &self))
        return std::wstring();
    std::wstring module(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(self, &module[0], static_cast<DWORD>(module.size()));
        if (length == 0)
            return std::wstring();
        if (length < module.size()) {
            module.resize(length);
            break;
        }
        module.resize(module.size() * 2);
    }
    std::wstring program = module.substr(0, module.find_last_of(L'\\') + 1) + kReaderProgram;
    DWORD attributes = GetFileAttributesW(program.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::wstring();
    return program;
}

class Child {
  public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    // Only into a child that is not running: a spare taken over by a read.
    Child(Child&&) = default;
    Child& operator=(Child&&) = default;
    ~Child() { End(false); }

    bool Running() const { return static_cast<bool>(process_); }

    // kNoReader when the program is missing or cannot be started.
    HRESULT Start() {
        std::wstring program = ReaderProgram();
        if (program.empty())
            return kNoReader;
        // Unique to this process and this child.
        std::wstring name = ToWide("\\\\.\\pipe\\corvane-reader-" + UpperHex(GetCurrentProcessId()) + "-" +
                                   UpperHex(static_cast<unsigned long>(InterlockedIncrement(&g_pipeNumber))));
        // One instance, made by us and connected by us before the child starts: nobody else can
        // come between the two ends.
        Pipe pipe(CreateNamedPipeW(
            name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, kPipeBuffer, kPipeBuffer, 0, nullptr));
        KernelHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!pipe || !event)
            return kNoReader;
        SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
        Pipe childEnd(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, &inheritable, OPEN_EXISTING,
                                  0, nullptr));
        if (!childEnd)
            return kNoReader;

        SandboxedChild started;
        if (!StartSandboxed(program, childEnd.Get(), started))
            return kNoReader;
        InterlockedIncrement(&g_childrenStarted);
        process_ = std::move(started.process);
        job_ = std::move(started.job);
        confinement_ = started.confinement;
        pipe_ = std::move(pipe);
        event_ = std::move(event);
        return S_OK;
    }

    // Sends one request and waits at most limit milliseconds for its answer. Gives the answer's
    // result, or kDamaged (the child died or answered something incomplete) or kTimedOut; in
    // those two cases the child has been ended.
    // With content, a content request's: the content's bytes, not yet decoded.
    HRESULT Ask(Request kind, const std::wstring& path, DWORD limit, LibraryDescription& description,
                std::string* content = nullptr) {
        ULONGLONG deadline = GetTickCount64() + limit;
        std::string request = EncodeRequest(kind, path, limit);
        Io io = Transfer(true, &request[0], static_cast<DWORD>(request.size()), deadline);
        char header[kRecordHeaderSize];
        if (io == Io::Done)
            io = Transfer(false, header, sizeof header, deadline);
        uint32_t length = io == Io::Done ? RecordLength(header, false) : 0;
        std::string answer;
        if (length != 0) {
            answer.assign(header, sizeof header);
            answer.resize(length);
            io = Transfer(false, &answer[sizeof header], length - sizeof header, deadline);
        }
        HRESULT result = E_UNEXPECTED;
        if (io == Io::Done && length != 0 && DecodeAnswer(answer, result, description, content))
            return result;
        End(true);
        description = LibraryDescription();
        return io == Io::TimedOut ? kTimedOut : kDamaged;
    }

    // Closes the pipe, which tells a waiting child that the batch is over, and makes sure the
    // child is gone: at once when force is set (it is hung or broken), else after kGrace.
    void End(bool force) {
        if (!process_)
            return;
        pipe_.Reset();
        if (force || WaitForSingleObject(process_.Get(), kGrace) != WAIT_OBJECT_0) {
            TerminateProcess(process_.Get(), ERROR_TIMEOUT);
            WaitForSingleObject(process_.Get(), kGrace);
        }
        process_.Reset();
        job_.Reset();
        event_.Reset();
    }

    const Confinement& Confined() const { return confinement_; }

  private:
    enum class Io { Done, Died, TimedOut };

    // Moves count bytes through the pipe, waiting for the child no later than deadline.
    Io Transfer(bool write, char* buffer, DWORD count, ULONGLONG deadline) {
        while (count > 0) {
            OVERLAPPED overlapped = {};
            overlapped.hEvent = event_.Get();
            BOOL done = write ? WriteFile(pipe_.Get(), buffer, count, nullptr, &overlapped)
                              : ReadFile(pipe_.Get(), buffer, count, nullptr, &overlapped);
            if (!done && GetLastError() != ERROR_IO_PENDING)
                return Io::Died; // a broken pipe: the child's end is closed
            Io io = Await(overlapped, deadline);
            if (io != Io::Done)
                return io;
            DWORD moved = 0;
            if (!GetOverlappedResult(pipe_.Get(), &overlapped, &moved, FALSE) || moved == 0)
                return Io::Died;
            buffer += moved;
            count -= moved;
        }
        return Io::Done;
    }

    Io Await(OVERLAPPED& overlapped, ULONGLONG deadline) {
        HANDLE handles[2] = {event_.Get(), process_.Get()};
        DWORD which = WaitFor(handles, deadline);
        if (which == WAIT_OBJECT_0)
            return Io::Done;
        // A child that ended may have written its answer first; with its end of the pipe
        // closed, the transfer now completes with that data or with a broken pipe.
        if (which == WAIT_OBJECT_0 + 1 && WaitForSingleObject(event_.Get(), kGrace) == WAIT_OBJECT_0)
            return Io::Done;
        // The transfer must be over before its OVERLAPPED and buffer go out of scope.
        DWORD moved = 0;
        CancelIoEx(pipe_.Get(), &overlapped);
        GetOverlappedResult(pipe_.Get(), &overlapped, &moved, TRUE);
        return which == WAIT_TIMEOUT ? Io::TimedOut : Io::Died;
    }

    Pipe pipe_;
    KernelHandle process_;
    KernelHandle job_;
    Confinement confinement_;
    KernelHandle event_;
};

// ---- The spare child ------------------------------------------------------------------------

// How long a spare has to answer the round trip that shows it still does: an idle child answers
// at once, so a spare that takes longer has stalled, and a new child is quicker.
constexpr DWORD kSpareCheck = 1000;

SRWLOCK g_spareLock = SRWLOCK_INIT;
bool g_sparesWanted = false;
Child* g_spare = nullptr; // the idle child, or null
// The thread that starts spares, off the threads that read, and the event that wakes it; they
// last from KeepSpare(true) to KeepSpare(false).
HANDLE g_spareKeeper = nullptr;
HANDLE g_spareWake = nullptr;

// A spare starts a moment after the wake rather than at once: the thread that woke the keeper
// still has its work to finish (a view to fill in, a library to register), and a process start
// competes with it for the system (under Wine, for its one server). Each wake starts the moment
// again; a read that comes first finds no spare and starts its own child.
constexpr DWORD kSpareDelay = 100;

DWORD WINAPI KeepSpares(void*) {
    DWORD wait = INFINITE;
    for (;;) {
        bool woken = WaitForSingleObject(g_spareWake, wait) == WAIT_OBJECT_0;
        {
            SharedLock lock(g_spareLock);
            if (!g_sparesWanted)
                return 0;
            if (g_spare) {
                wait = INFINITE;
                continue;
            }
        }
        if (woken) {
            wait = kSpareDelay;
            continue;
        }
        wait = INFINITE;
        Child* spare = new (std::nothrow) Child;
        if (spare && FAILED(spare->Start())) {
            delete spare;
            spare = nullptr;
        }
        {
            ExclusiveLock lock(g_spareLock);
            if (g_sparesWanted && !g_spare)
                spare = std::exchange(g_spare, spare);
        }
        delete spare; // not wanted (any more): its pipe closes and it leaves
    }
}

// Has the keeper start a spare, when one is wanted and none is there.
void ReplenishSpare() {
    SharedLock lock(g_spareLock);
    if (g_sparesWanted && !g_spare)
        SetEvent(g_spareWake);
}

// Hands the spare to child (which is not running) when there is one that still answers; its
// answer to the round trip goes to nothing.
bool TakeSpare(Child& child, LibraryDescription& nothing) {
    Child* spare = nullptr;
    {
        ExclusiveLock lock(g_spareLock);
        spare = std::exchange(g_spare, nullptr);
    }
    if (!spare)
        return false;
    child = std::move(*spare);
    delete spare;
    // A failed round trip has ended the spare.
    return SUCCEEDED(child.Ask(Request::Nothing, std::wstring(), kSpareCheck, nothing));
}

// Called from one thread at a time (the window's, or a test's).
void KeepSpareHere(bool keep) {
    Child* gone = nullptr;
    {
        ExclusiveLock lock(g_spareLock);
        if (keep && !g_spareKeeper) {
            if (!g_spareWake)
                g_spareWake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
            g_spareKeeper = g_spareWake ? CreateThread(nullptr, 0, KeepSpares, nullptr, 0, nullptr) : nullptr;
        }
        g_sparesWanted = keep && g_spareKeeper;
        if (!keep)
            gone = std::exchange(g_spare, nullptr);
    }
    delete gone;
    if (g_spareWake)
        SetEvent(g_spareWake);
    if (!keep && g_spareKeeper) {
        // The keeper leaves once it sees it, after the start it may be in.
        WaitForSingleObject(g_spareKeeper, INFINITE);
        CloseHandle(std::exchange(g_spareKeeper, nullptr));
        CloseHandle(std::exchange(g_spareWake, nullptr));
    }
}

// ---- This module's own state -------------------------------------------------------------

std::vector<Answer> ReadHere(const std::vector<std::wstring>& paths, Depth depth) {
    std::vector<Answer> answers;
    answers.reserve(paths.size());
    Child child;
    for (const std::wstring& path : paths) {
        Answer answer{RefusePath(path), LibraryDescription()};
        Target target;
        bool located = SUCCEEDED(answer.result) && Locate(path, target);
        if (FAILED(answer.result) || (located && Recall(target, depth, answer))) {
            answers.push_back(std::move(answer));
            continue;
        }
        LibraryDescription nothing;
        if (!child.Running() && !TakeSpare(child, nothing))
            answer.result = child.Start();
        if (SUCCEEDED(answer.result)) {
            // The child is handed the file found here, so that it reads the very file this
            // process would; a path not found goes as given, for the loader's own error.
            Request request = depth == Depth::Registration ? Request::Registration : Request::Facts;
            std::wstring given = located ? target.file + target.resource : path;
            answer.result =
                child.Ask(request, given, TimeLimit(located ? FileSize(target) : 0), answer.description);
        }
        if (located)
            Remember(target, depth, answer);
        answers.push_back(std::move(answer));
    }
    ReplenishSpare();
    return answers;
}

unsigned ChildrenStartedHere() {
    return static_cast<unsigned>(InterlockedCompareExchange(&g_childrenStarted, 0, 0));
}

void ForgetAnswersHere() {
    ExclusiveLock lock(g_answersLock);
    Answers().clear();
}

// ---- The component's reader ----------------------------------------------------------------

ComPtr<ICorvaneReader> Shared() {
    SharedLock lock(g_sharedLock);
    if (g_shared)
        g_shared->AddRef();
    return ComPtr<ICorvaneReader>::Attach(g_shared);
}

Request RequestOf(Depth depth) {
    return depth == Depth::Registration ? Request::Registration : Request::Facts;
}

// Has the shared reader read the files; false when it could not answer for every one of them.
bool ReadThere(ICorvaneReader* shared, const std::vector<std::wstring>& paths, Depth depth,
               std::vector<Answer>& answers) {
    std::string requests;
    for (const std::wstring& path : paths)
        requests += EncodeRequest(RequestOf(depth), path);
    Bstr sent(SysAllocStringByteLen(requests.data(), static_cast<UINT>(requests.size())));
    Bstr received;
    std::vector<std::string> records;
    if (!sent.Get() || FAILED(shared->ReadLibraries(sent.Get(), received.Put())) || !received.Get() ||
        !SplitRecords(
            std::string(reinterpret_cast<const char*>(received.Get()), SysStringByteLen(received.Get())),
            false, records) ||
        records.size() != paths.size())
        return false;
    answers.assign(records.size(), Answer{E_UNEXPECTED, LibraryDescription()});
    for (size_t i = 0; i < records.size(); ++i)
        if (!DecodeAnswer(records[i], answers[i].result, answers[i].description))
            return false;
    return true;
}

} // namespace

HRESULT RefusePath(const std::wstring& path) {
    if (path.empty() || path.find(L'\0') != std::wstring::npos)
        return E_INVALIDARG;
    std::wstring full;
    if (path.size() >= MAX_PATH || FAILED(FullPath(path, full)) || full.size() >= MAX_PATH)
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    return S_OK;
}

std::vector<Answer> ReadLibraries(const std::vector<std::wstring>& paths, Depth depth) {
    std::vector<Answer> answers;
    ComPtr<ICorvaneReader> shared = Shared();
    if (shared && ReadThere(shared.Get(), paths, depth, answers))
        return answers;
    return ReadHere(paths, depth);
}

HRESULT ReadLibrary(const std::wstring& path, Depth depth, LibraryDescription& description) {
    Answer answer = std::move(ReadLibraries({path}, depth).front());
    if (SUCCEEDED(answer.result))
        description = std::move(answer.description);
    return answer.result;
}

HRESULT AskOneChild(Request kind, const std::wstring& path, LibraryDescription& description,
                    std::string* content) {
    HRESULT hr = kind == Request::Nothing ? S_OK : RefusePath(path);
    Target target;
    bool located = SUCCEEDED(hr) && kind != Request::Nothing && Locate(path, target);
    Child child;
    if (SUCCEEDED(hr))
        hr = child.Start();
    if (FAILED(hr))
        return hr;
    return child.Ask(kind, located ? target.file + target.resource : path,
                     TimeLimit(located ? FileSize(target) : 0), description, content);
}

HRESULT AskIdleChild(Confinement* confinement, std::wstring* token) {
    Child child;
    LibraryDescription nothing;
    // With this module's spare, the round trip that takes it is the answer.
    HRESULT hr = TakeSpare(child, nothing) ? S_OK : child.Start();
    if (SUCCEEDED(hr) && confinement)
        *confinement = child.Confined();
    if (SUCCEEDED(hr) && nothing.documentation.empty())
        hr = child.Ask(Request::Nothing, std::wstring(), TimeLimit(0), nothing);
    if (token)
        *token = nothing.documentation;
    ReplenishSpare();
    return hr;
}

unsigned ChildrenStarted() {
    ULONG there = 0;
    if (ComPtr<ICorvaneReader> shared = Shared())
        shared->ChildrenStarted(&there);
    return ChildrenStartedHere() + there;
}

void ForgetAnswers() {
    ForgetAnswersHere();
    if (ComPtr<ICorvaneReader> shared = Shared())
        shared->ForgetAnswers();
}

void KeepSpare(bool keep) {
    if (ComPtr<ICorvaneReader> shared = Shared())
        shared->KeepSpare(keep);
    else
        KeepSpareHere(keep);
}

void SetTimeLimitForTests(DWORD milliseconds) {
    g_testTimeLimit = milliseconds;
    if (ComPtr<ICorvaneReader> shared = Shared())
        shared->SetTimeLimitForTests(milliseconds);
}

bool ShareReaderOf(IUnknown* application) {
    ComPtr<ICorvaneReader> shared;
    if (application && FAILED(application->QueryInterface(IID_ICorvaneReader, shared.PutVoid())))
        shared.Reset();
    bool sharing = static_cast<bool>(shared);
    ComPtr<ICorvaneReader> previous;
    {
        ExclusiveLock lock(g_sharedLock);
        *previous.Put() = std::exchange(g_shared, shared.Detach());
    }
    return sharing;
}

HRESULT STDMETHODCALLTYPE OwnReader::ReadLibraries(BSTR requests, BSTR* answers) {
    if (!answers)
        return E_POINTER;
    *answers = nullptr;
    try {
        std::vector<std::string> records;
        if (!SplitRecords(std::string(reinterpret_cast<const char*>(requests), SysStringByteLen(requests)),
                          true, records))
            return E_INVALIDARG;
        std::vector<std::wstring> paths(records.size());
        Request kind = Request::Nothing;
        for (size_t i = 0; i < records.size(); ++i) {
            Request each;
            if (!DecodeRequest(records[i], each, paths[i]) || each == Request::Nothing ||
                each == Request::Content || (i > 0 && each != kind))
                return E_INVALIDARG;
            kind = each;
        }
        std::string bytes;
        for (const Answer& answer :
             ReadHere(paths, kind == Request::Registration ? Depth::Registration : Depth::Facts))
            bytes += EncodeAnswer(answer.result, answer.description);
        *answers = SysAllocStringByteLen(bytes.data(), static_cast<UINT>(bytes.size()));
        return *answers ? S_OK : E_OUTOFMEMORY;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED; // nothing may be thrown across the interface
    }
}

HRESULT STDMETHODCALLTYPE OwnReader::ChildrenStarted(ULONG* count) {
    if (!count)
        return E_POINTER;
    *count = ChildrenStartedHere();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE OwnReader::ForgetAnswers() {
    ForgetAnswersHere();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE OwnReader::SetTimeLimitForTests(ULONG milliseconds) {
    g_testTimeLimit = milliseconds;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE OwnReader::KeepSpare(BOOL keep) {
    KeepSpareHere(keep != FALSE);
    return S_OK;
}

} // namespace reader
