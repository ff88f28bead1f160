#include "reader/sandbox.h"

#include <iterator>
#include <vector>

#include "common/text.h"
#include "common/token.h"

namespace reader {

namespace {

volatile LONG g_refuseJobs = 0;

// The calling thread's last error, never ERROR_SUCCESS for a step that failed.
DWORD LastError() {
    DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

// Lets the child inherit exactly one handle.
class InheritOnly {
  public:
    explicit InheritOnly(HANDLE handle) : handle_(handle) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_);
        if (size == 0 || size > sizeof buffer_ || !InitializeProcThreadAttributeList(list, 1, 0, &size)) {
            error_ = LastError();
            return;
        }
        if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &handle_, sizeof handle_,
                                       nullptr, nullptr)) {
            error_ = LastError();
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
    // Null when the list could not be made; Error() then says why.
    LPPROC_THREAD_ATTRIBUTE_LIST Get() const { return list_; }
    DWORD Error() const { return error_; }

  private:
    HANDLE handle_;
    // A list of one attribute takes a few dozen bytes.
    alignas(8) char buffer_[256];
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
    DWORD error_ = ERROR_SUCCESS;
};

struct ChildToken {
    KernelHandle handle;       // null when the system refused a restricted token
    bool denyOnly = false;     // the powerful groups were found and made deny-only
    bool lowIntegrity = false; // the low label was set
};

// This process's token with every privilege but the one a process needs to run (traversing
// folders) removed, the powerful groups it holds deny-only, at low integrity, so that the child
// may read what the user may read and write almost nothing. What the system refused is left
// out and said; with no restricted token at all, the child runs with this process's token.
ChildToken RestrictedToken() {
    ChildToken token;
    KernelHandle own;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY,
                          own.Put()))
        return token;
    std::vector<BYTE> groupBytes = TokenInformation(own.Get(), TokenGroups);
    // Far more than the powerful groups there are; a token holds each group once.
    SID_AND_ATTRIBUTES denyOnly[16];
    DWORD denied = 0;
    token.denyOnly = !groupBytes.empty();
    if (token.denyOnly) {
        const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(groupBytes.data());
        for (DWORD i = 0; i < groups->GroupCount && denied < std::size(denyOnly); ++i)
            if (IsPowerfulGroup(groups->Groups[i].Sid))
                denyOnly[denied++] = {groups->Groups[i].Sid, 0};
    }
    if (!CreateRestrictedToken(own.Get(), DISABLE_MAX_PRIVILEGE, denied, denied ? denyOnly : nullptr, 0,
                               nullptr, 0, nullptr, token.handle.Put()))
        return ChildToken();
    // S-1-16-4096, the low mandatory level.
    SID low = {SID_REVISION, 1, SECURITY_MANDATORY_LABEL_AUTHORITY, {SECURITY_MANDATORY_LOW_RID}};
    TOKEN_MANDATORY_LABEL label = {{&low, SE_GROUP_INTEGRITY}};
    token.lowIntegrity = SetTokenInformation(token.handle.Get(), TokenIntegrityLevel, &label,
                                             sizeof label + GetLengthSid(&low)) != FALSE;
    return token;
}

struct ChildJob {
    KernelHandle handle; // null when no job could be made
    bool killOnClose = false;
    bool oneProcess = false;
    bool uiLimits = false;
};

// A job that ends its processes when its last handle closes, lets no process start another,
// lets none reach other processes' windows, user handles, clipboard, desktop or system
// settings, and ends a process that an exception would otherwise leave to an error report.
// Each limit the system refuses is left out and said.
ChildJob ConfiningJob() {
    ChildJob job;
    job.handle.Reset(CreateJobObjectW(nullptr, nullptr));
    if (!job.handle)
        return job;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE |
                                              JOB_OBJECT_LIMIT_ACTIVE_PROCESS |
                                              JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
    limits.BasicLimitInformation.ActiveProcessLimit = 1;
    job.killOnClose = job.oneProcess =
        SetInformationJobObject(job.handle.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
    if (!job.oneProcess) {
        // Ending the child with its parent matters most: kept when only the count is refused.
        limits.BasicLimitInformation.LimitFlags &= ~JOB_OBJECT_LIMIT_ACTIVE_PROCESS;
        limits.BasicLimitInformation.ActiveProcessLimit = 0;
        job.killOnClose = SetInformationJobObject(job.handle.Get(), JobObjectExtendedLimitInformation,
                                                  &limits, sizeof limits);
    }
    JOBOBJECT_BASIC_UI_RESTRICTIONS ui = {
        JOB_OBJECT_UILIMIT_HANDLES | JOB_OBJECT_UILIMIT_READCLIPBOARD | JOB_OBJECT_UILIMIT_WRITECLIPBOARD |
        JOB_OBJECT_UILIMIT_SYSTEMPARAMETERS | JOB_OBJECT_UILIMIT_DISPLAYSETTINGS |
        JOB_OBJECT_UILIMIT_GLOBALATOMS | JOB_OBJECT_UILIMIT_DESKTOP | JOB_OBJECT_UILIMIT_EXITWINDOWS};
    job.uiLimits = SetInformationJobObject(job.handle.Get(), JobObjectBasicUIRestrictions, &ui, sizeof ui);
    return job;
}

// Puts the suspended child into job, and records what it got or why it got none.
void Confine(ChildJob& job, HANDLE process, Confinement& confinement) {
    if (!job.handle)
        return;
    if (InterlockedCompareExchange(&g_refuseJobs, 0, 0)) {
        confinement.jobError = ERROR_ACCESS_DENIED;
        confinement.inParentsJob = true;
        return;
    }
    if (!AssignProcessToJobObject(job.handle.Get(), process)) {
        confinement.jobError = LastError();
        BOOL inJob = FALSE;
        confinement.inParentsJob = IsProcessInJob(process, nullptr, &inJob) && inJob;
        return;
    }
    confinement.job = true;
    confinement.killOnClose = job.killOnClose;
    confinement.oneProcess = job.oneProcess;
    confinement.uiLimits = job.uiLimits;
}

} // namespace

DWORD StartSandboxed(const std::wstring& program, HANDLE end, SandboxedChild& child) {
    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof startup;
    // The child's standard input and output are its end of the pipe; no busy cursor while it
    // starts (it never shows a window).
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_FORCEOFFFEEDBACK;
    startup.StartupInfo.hStdInput = end;
    startup.StartupInfo.hStdOutput = end;
    // Every supported system has handle lists: without one the child would inherit every
    // inheritable handle of this process, another child's pipe among them.
    InheritOnly only(end);
    if (!only.Get())
        return only.Error();
    startup.lpAttributeList = only.Get();
    std::wstring commandLine = L"\"" + program + L"\"";
    ChildToken token = RestrictedToken();
    ChildJob job = ConfiningJob();
    // Suspended until it is in its job, so that it runs no instruction outside it.
    DWORD flags = CREATE_NO_WINDOW | CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT;
    PROCESS_INFORMATION started = {};
    // A restricted form of this process's own token needs no privilege to be given to a child.
    bool restricted = token.handle && CreateProcessAsUserW(token.handle.Get(), program.c_str(),
                                                           &commandLine[0], nullptr, nullptr, TRUE, flags,
                                                           nullptr, nullptr, &startup.StartupInfo, &started);
    if (!restricted && !CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, flags,
                                       nullptr, nullptr, &startup.StartupInfo, &started))
        return LastError();
    KernelHandle thread(started.hThread);
    KernelHandle process(started.hProcess);
    Confinement confinement;
    confinement.restrictedToken = restricted && token.denyOnly;
    confinement.lowIntegrity = restricted && token.lowIntegrity;
    // Where the system refuses the job (Windows 7, where a child of a process in a job that
    // forbids nesting cannot be put into another), the child runs without one, and says so; its
    // own watchdog still ends it when an answer is overdue.
    Confine(job, process.Get(), confinement);
    if (ResumeThread(thread.Get()) == static_cast<DWORD>(-1)) {
        DWORD error = LastError();
        TerminateProcess(process.Get(), ERROR_CANCELLED);
        WaitForSingleObject(process.Get(), INFINITE); // it never ran: it ends at once
        return error;
    }
    child.process = std::move(process);
    if (confinement.job)
        child.job = std::move(job.handle);
    child.confinement = confinement;
    return ERROR_SUCCESS;
}

void RefuseJobsHere(bool refuse) {
    InterlockedExchange(&g_refuseJobs, refuse ? 1 : 0);
}

bool IsFullConfinement(const Confinement& confinement) {
    return MissingConfinement(confinement).empty();
}

std::wstring MissingConfinement(const Confinement& confinement) {
    std::wstring missing;
    auto add = [&missing](bool got, const std::wstring& text) {
        if (!got)
            missing += (missing.empty() ? L"" : L", ") + text;
    };
    if (confinement.inParentsJob)
        add(confinement.job, L"no job (the parent's job forbids nesting)");
    else if (confinement.jobError != ERROR_SUCCESS)
        add(confinement.job, L"no job (error " + DecimalText(confinement.jobError) + L")");
    else
        add(confinement.job, L"no job (none could be made)");
    // Without a job its limits go with it, said once.
    if (confinement.job) {
        add(confinement.killOnClose, L"no kill-on-close");
        add(confinement.oneProcess, L"no one-process limit");
        add(confinement.uiLimits, L"no ui limits");
    }
    add(confinement.restrictedToken, L"no restricted token");
    add(confinement.lowIntegrity, L"no low integrity");
    return missing;
}

std::wstring ConfinementWarning(const std::wstring& program, const Confinement& confinement) {
    std::wstring missing = MissingConfinement(confinement);
    return missing.empty()
               ? missing
               : program + L": warning: the reader ran with less confinement than documented: " + missing;
}

} // namespace reader
