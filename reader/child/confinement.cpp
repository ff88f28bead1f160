#include "reader/child/confinement.h"

#include <vector>

#include "common/owners.h"
#include "common/text.h"
#include "common/token.h"

namespace child {

namespace {

// How much longer than its parent the child waits before it ends itself.
constexpr DWORD kOverdueMargin = 2000;

DWORD WINAPI EndWhenDue(void* watched) {
    HANDLE* handles = static_cast<HANDLE*>(watched);
    switch (WaitForMultipleObjects(handles[1] ? 2 : 1, handles, FALSE, INFINITE)) {
    case WAIT_OBJECT_0:
        TerminateProcess(GetCurrentProcess(), ERROR_TIMEOUT);
        break;
    case WAIT_OBJECT_0 + 1:
        TerminateProcess(GetCurrentProcess(), kReaderThreadLost);
        break;
    }
    return 0;
}

} // namespace

Watchdog::Watchdog() {
    HANDLE& timer = handles_[0];
    HANDLE& reading = handles_[1];
    timer = CreateWaitableTimerW(nullptr, TRUE, nullptr);
    if (!timer)
        return;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &reading, SYNCHRONIZE,
                         FALSE, 0))
        reading = nullptr; // the time limit alone
    HANDLE thread = CreateThread(nullptr, 0, EndWhenDue, handles_, 0, nullptr);
    if (thread)
        CloseHandle(thread);
}

void Watchdog::Arm(DWORD limit) {
    if (!handles_[0] || limit == 0)
        return;
    // Relative, in units of 100 ns.
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(limit + kOverdueMargin) * 10000;
    SetWaitableTimer(handles_[0], &due, 0, nullptr, nullptr, FALSE);
}

void Watchdog::Disarm() {
    if (handles_[0])
        CancelWaitableTimer(handles_[0]);
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
