#include "reader/child/confinement.h"

#include <vector>

#include "common/owners.h"
#include "common/text.h"
#include "common/token.h"

namespace child {

namespace {

// How much longer than its parent the child waits before it ends itself.
constexpr DWORD kOverdueMargin = 2000;

DWORD WINAPI EndWhenDue(void* timer) {
    if (WaitForSingleObject(timer, INFINITE) == WAIT_OBJECT_0)
        TerminateProcess(GetCurrentProcess(), ERROR_TIMEOUT);
    return 0;
}

} // namespace

Watchdog::Watchdog() {
    timer_ = CreateWaitableTimerW(nullptr, TRUE, nullptr);
    HANDLE thread = timer_ ? CreateThread(nullptr, 0, EndWhenDue, timer_, 0, nullptr) : nullptr;
    if (thread)
        CloseHandle(thread);
}

void Watchdog::Arm(DWORD limit) {
    if (!timer_ || limit == 0)
        return;
    // Relative, in units of 100 ns.
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(limit + kOverdueMargin) * 10000;
    SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE);
}

void Watchdog::Disarm() {
    if (timer_)
        CancelWaitableTimer(timer_);
}

std::wstring TokenReport() {
    KernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put()))
        return std::wstring();
    std::wstring report = L"privileges=";
    std::vector<BYTE> privileges = TokenInformation(token.Get(), TokenPrivileges);
    report += privileges.empty()
                  ? L"?"
                  : DecimalText(reinterpret_cast<const TOKEN_PRIVILEGES*>(privileges.data())->PrivilegeCount);

    const wchar_t* membership = L"absent";
    std::vector<BYTE> groupBytes = TokenInformation(token.Get(), TokenGroups);
    if (!groupBytes.empty()) {
        const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(groupBytes.data());
        for (DWORD i = 0; i < groups->GroupCount; ++i)
            if (IsAdministrators(groups->Groups[i].Sid))
                membership =
                    (groups->Groups[i].Attributes & SE_GROUP_USE_FOR_DENY_ONLY) ? L"deny-only" : L"enabled";
    }
    report += std::wstring(L" administrators=") + membership + L" integrity=";

    std::vector<BYTE> label = TokenInformation(token.Get(), TokenIntegrityLevel);
    PSID sid =
        label.empty() ? nullptr : reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(label.data())->Label.Sid;
    if (sid && IsValidSid(sid) && *GetSidSubAuthorityCount(sid) > 0)
        report += DecimalText(*GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1u));
    else
        report += L"none";
    return report;
}

} // namespace child
