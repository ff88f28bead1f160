#include "reader/sandbox.h"

#include <iterator>
#include <vector>

#include "common/token.h"

namespace reader {

namespace {

// Held while a child is started, so that no other child of ours, started at the same moment on
// another thread, inherits this one's pipe where the system ignores the handle list.
SRWLOCK g_startLock = SRWLOCK_INIT;

// Lets the child inherit exactly one handle.
class InheritOnly {
  public:
    explicit InheritOnly(HANDLE handle) : handle_(handle) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_);
        if (size == 0 || size > sizeof buffer_ || !InitializeProcThreadAttributeList(list, 1, 0, &size))
            return;
        if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &handle_, sizeof handle_,
                                       nullptr, nullptr)) {
            DeleteProcThreadAttributeList(list);
            return;
        }
        list_ = list;
    }
    InheritOnly(const InheritOnly&) = delete;
    InheritOnly& operator=(const InheritOnly&) = delete;
    ~InheritOnly() {
        if (list_)
            DeleteProcThreadAttributeList(list_);
    }
    // Null when the system has no handle lists; the start lock then keeps our own other
    // children from inheriting the handle.
    LPPROC_THREAD_ATTRIBUTE_LIST Get() const { return list_; }

  private:
    HANDLE handle_;
    // A list of one attribute takes a few dozen bytes.
    alignas(8) char buffer_[256];
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// This process's token with every privilege but the one a process needs to run (traversing
// folders) removed, the powerful groups it holds deny-only, at low integrity, so that the child
// may read what the user may read and write almost nothing. Null when the system refuses any
// step: the child then runs with this process's token.
KernelHandle RestrictedToken() {
    KernelHandle own;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY,
                          own.Put()))
        return KernelHandle();
    std::vector<BYTE> groupBytes = TokenInformation(own.Get(), TokenGroups);
    // Far more than the powerful groups there are; a token holds each group once.
    SID_AND_ATTRIBUTES denyOnly[16];
    DWORD denied = 0;
    if (!groupBytes.empty()) {
        const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(groupBytes.data());
        for (DWORD i = 0; i < groups->GroupCount && denied < std::size(denyOnly); ++i)
            if (IsPowerfulGroup(groups->Groups[i].Sid))
                denyOnly[denied++] = {groups->Groups[i].Sid, 0};
    }
    KernelHandle restricted;
    if (!CreateRestrictedToken(own.Get(), DISABLE_MAX_PRIVILEGE, denied, denied ? denyOnly : nullptr, 0,
                               nullptr, 0, nullptr, restricted.Put()))
        return KernelHandle();
    // S-1-16-4096, the low mandatory level.
    SID low = {SID_REVISION, 1, SECURITY_MANDATORY_LABEL_AUTHORITY, {SECURITY_MANDATORY_LOW_RID}};
    TOKEN_MANDATORY_LABEL label = {{&low, SE_GROUP_INTEGRITY}};
    if (!SetTokenInformation(restricted.Get(), TokenIntegrityLevel, &label,
                             sizeof label + GetLengthSid(&low)))
        return KernelHandle();
    return restricted;
}

// A job that ends its processes when its last handle closes, lets no process start another,
// lets none reach other processes' windows, user handles, clipboard, desktop or system
// settings, and ends a process that an exception would otherwise leave to an error report.
KernelHandle ConfiningJob() {
    KernelHandle job(CreateJobObjectW(nullptr, nullptr));
    if (!job)
        return job;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE |
                                              JOB_OBJECT_LIMIT_ACTIVE_PROCESS |
                                              JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
    limits.BasicLimitInformation.ActiveProcessLimit = 1;
    if (!SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits))
        return KernelHandle();
    // The UI limits are a further wall, not the one that ends the child: a system that refuses
    // them still gets the job.
    JOBOBJECT_BASIC_UI_RESTRICTIONS ui = {
        JOB_OBJECT_UILIMIT_HANDLES | JOB_OBJECT_UILIMIT_READCLIPBOARD | JOB_OBJECT_UILIMIT_WRITECLIPBOARD |
        JOB_OBJECT_UILIMIT_SYSTEMPARAMETERS | JOB_OBJECT_UILIMIT_DISPLAYSETTINGS |
        JOB_OBJECT_UILIMIT_GLOBALATOMS | JOB_OBJECT_UILIMIT_DESKTOP | JOB_OBJECT_UILIMIT_EXITWINDOWS};
    SetInformationJobObject(job.Get(), JobObjectBasicUIRestrictions, &ui, sizeof ui);
    return job;
}

} // namespace

bool StartSandboxed(const std::wstring& program, HANDLE end, SandboxedChild& child) {
    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof startup;
    // The child's standard input and output are its end of the pipe; no busy cursor while it
    // starts (it never shows a window).
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_FORCEOFFFEEDBACK;
    startup.StartupInfo.hStdInput = end;
    startup.StartupInfo.hStdOutput = end;
    std::wstring commandLine = L"\"" + program + L"\"";
    KernelHandle token = RestrictedToken();
    KernelHandle job = ConfiningJob();
    PROCESS_INFORMATION started = {};
    {
        ExclusiveLock lock(g_startLock);
        InheritOnly only(end);
        startup.lpAttributeList = only.Get();
        // Suspended until it is in its job, so that it runs no instruction outside it.
        DWORD flags = CREATE_NO_WINDOW | CREATE_SUSPENDED | (only.Get() ? EXTENDED_STARTUPINFO_PRESENT : 0);
        // A restricted form of this process's own token needs no privilege to be given to a child.
        bool restricted =
            token && CreateProcessAsUserW(token.Get(), program.c_str(), &commandLine[0], nullptr, nullptr,
                                          TRUE, flags, nullptr, nullptr, &startup.StartupInfo, &started);
        if (!restricted && !CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, flags,
                                           nullptr, nullptr, &startup.StartupInfo, &started))
            return false;
        child.confinement.restricted = restricted;
    }
    KernelHandle thread(started.hThread);
    child.process.Reset(started.hProcess);
    // Where the system refuses the job (an older Windows, where a process in a job of its own
    // cannot put a child into another), the child runs as before; its own watchdog still ends it
    // when an answer is overdue.
    child.confinement.job = job && AssignProcessToJobObject(job.Get(), started.hProcess);
    if (child.confinement.job)
        child.job = std::move(job);
    ResumeThread(thread.Get());
    return true;
}

} // namespace reader
