// The child: corvane-reader.exe found beside this module, started confined, asked one request at
// a time over its pipe within a time limit, and ended when it fails or the batch is over.
#include "reader/internal.h"

#include <cstring>
#include <utility>

#include "common/text.h"
#include "common/token.h"
#include "reader/sandbox.h"
#include "reader/testing.h"

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

LONG g_childrenStarted = 0;
LONG g_pipeNumber = 0;
volatile DWORD g_testTimeLimit = 0;

// What the most recent child got, and its pipe's name, written by whichever thread started it.
SRWLOCK g_lastLock = SRWLOCK_INIT;
std::optional<Confinement> g_lastConfinement;
std::wstring g_lastPipeName;

// Lets only this process's user open the pipe: one entry, granting every access to the user its
// token names. Not moved: the attributes point into the object.
class OwnerOnly {
  public:
    OwnerOnly() {
        KernelHandle token;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put()))
            return;
        user_ = TokenInformation(token.Get(), TokenUser);
        if (user_.empty())
            return;
        PSID sid = reinterpret_cast<const TOKEN_USER*>(user_.data())->User.Sid;
        DWORD size = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid);
        acl_.resize(size);
        auto* acl = reinterpret_cast<ACL*>(acl_.data());
        if (!InitializeAcl(acl, size, ACL_REVISION) ||
            !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) ||
            !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
            !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE))
            return;
        attributes_ = {sizeof attributes_, &descriptor_, FALSE};
        ready_ = true;
    }
    OwnerOnly(const OwnerOnly&) = delete;
    OwnerOnly& operator=(const OwnerOnly&) = delete;
    // Null when the user or the descriptor could not be made.
    SECURITY_ATTRIBUTES* Get() { return ready_ ? &attributes_ : nullptr; }

  private:
    std::vector<BYTE> user_;
    std::vector<BYTE> acl_;
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
    bool ready_ = false;
};

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

} // namespace

DWORD TimeLimit(uint64_t fileSize) {
    if (g_testTimeLimit != 0)
        return g_testTimeLimit;
    uint64_t mib = fileSize >> 20;
    return kBaseTimeLimit + static_cast<DWORD>(mib < 100 ? mib : 100) * kTimeLimitPerMiB;
}

void SetTimeLimitHere(DWORD milliseconds) {
    g_testTimeLimit = milliseconds;
}

unsigned ChildrenStartedHere() {
    return static_cast<unsigned>(InterlockedCompareExchange(&g_childrenStarted, 0, 0));
}

std::optional<Confinement> LastConfinementHere() {
    SharedLock lock(g_lastLock);
    return g_lastConfinement;
}

std::wstring LastPipeNameForTests() {
    SharedLock lock(g_lastLock);
    return g_lastPipeName;
}

HRESULT Child::Start() {
    std::wstring program = ReaderProgram();
    if (program.empty())
        return kNoReader;
    // Unique to this process and this child.
    std::wstring name = ToWide("\\\\.\\pipe\\corvane-reader-" + UpperHex(GetCurrentProcessId()) + "-" +
                               UpperHex(static_cast<unsigned long>(InterlockedIncrement(&g_pipeNumber))));
    // One instance, made by us and connected by us before the child starts: nobody else can
    // come between the two ends. Until then only this user, on this machine, may open it.
    OwnerOnly ownerOnly;
    if (!ownerOnly.Get())
        return kNoReader;
    Pipe pipe(CreateNamedPipeW(name.c_str(),
                               PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                               PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                               1, kPipeBuffer, kPipeBuffer, 0, ownerOnly.Get()));
    KernelHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!pipe || !event)
        return kNoReader;
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    Pipe childEnd(
        CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, &inheritable, OPEN_EXISTING, 0, nullptr));
    if (!childEnd)
        return kNoReader;

    SandboxedChild started;
    if (StartSandboxed(program, childEnd.Get(), started) != ERROR_SUCCESS)
        return kNoReader;
    InterlockedIncrement(&g_childrenStarted);
    {
        ExclusiveLock lock(g_lastLock);
        g_lastConfinement = started.confinement;
        g_lastPipeName = name;
    }
    process_ = std::move(started.process);
    job_ = std::move(started.job);
    confinement_ = started.confinement;
    pipe_ = std::move(pipe);
    event_ = std::move(event);
    return S_OK;
}

HRESULT Child::Ask(Request kind, const std::wstring& path, DWORD limit, LibraryDescription& description,
                   std::string* content) {
    std::string answer;
    Io io = Exchange(kind, path, limit, answer);
    HRESULT result = E_UNEXPECTED;
    if (io == Io::Done && DecodeAnswer(answer, result, description, content))
        return result;
    description = LibraryDescription();
    return Failed(io);
}

HRESULT Child::AskIdle(DWORD limit, std::wstring& token) {
    std::string answer;
    Io io = Exchange(Request::Nothing, std::wstring(), limit, answer);
    HRESULT result = E_UNEXPECTED;
    if (io == Io::Done && DecodeIdleAnswer(answer, result, token))
        return result;
    token.clear();
    return Failed(io);
}

Child::Io Child::Exchange(Request kind, const std::wstring& path, DWORD limit, std::string& answer) {
    ULONGLONG now = GetTickCount64();
    ULONGLONG deadline = now + limit;
    DWORD acknowledge = std::exchange(acknowledgeWithin_, 0);
    std::string request = EncodeRequest(kind, path, limit, acknowledge != 0);
    Io io = Transfer(true, &request[0], static_cast<DWORD>(request.size()), deadline);
    if (acknowledge != 0) {
        char taken[kAcknowledgementSize];
        if (io == Io::Done)
            io = Transfer(false, taken, sizeof taken, now + acknowledge);
        if (io != Io::Done || std::memcmp(taken, Acknowledgement(), sizeof taken) != 0)
            return Io::NotTaken;
    }
    char header[kRecordHeaderSize];
    if (io == Io::Done)
        io = Transfer(false, header, sizeof header, deadline);
    uint32_t length = io == Io::Done ? RecordLength(header, false) : 0;
    if (length == 0)
        return io == Io::Done ? Io::Died : io; // a header that is no answer's: the child is broken
    answer.assign(header, sizeof header);
    answer.resize(length);
    return Transfer(false, &answer[sizeof header], length - sizeof header, deadline);
}

HRESULT Child::Failed(Io io) {
    End(true);
    switch (io) {
    case Io::TimedOut:
        return kTimedOut;
    case Io::NotTaken:
        return kSpareLost;
    default:
        return kDamaged;
    }
}

void Child::End(bool force) {
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

Child::Io Child::Transfer(bool write, char* buffer, DWORD count, ULONGLONG deadline) {
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

Child::Io Child::Await(OVERLAPPED& overlapped, ULONGLONG deadline) {
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

} // namespace reader
