// The child's own part in its confinement: it ends itself when an answer is overdue, and it can
// tell what rights its token gives it.
#pragma once

#include <windows.h>
#include <string>

namespace child {

// Ends this process when an answer takes longer than its parent waits for it, plus a margin: a
// parent that is stopped (hung, or held in a debugger) cannot end a child that spins, and
// nothing else would. The margin lets a parent that still runs see its own time-out first, so
// that it reports the file as too slow rather than as damaged.
//
// It also ends the process at once when the thread that made it (the one that reads) ends
// without ending the process: a loader fault the system cannot hand to an exception filter can
// take that thread alone (under Wine, "wine client error: ... Bad address"), and this thread
// would otherwise keep the process, and the parent's wait, alive until the time limit.
class Watchdog {
  public:
    Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;
    // limit 0: the parent waits without limit, and so does this.
    void Arm(DWORD limit);
    void Disarm();

  private:
    // Live as long as the process, as does the thread waiting on them.
    HANDLE handles_[2] = {nullptr, nullptr}; // the timer, the reading thread
};

// The exit code of a child whose reading thread ended while the process went on: the file is
// damaged (ERROR_FILE_CORRUPT, the error the parent refuses it with).
constexpr UINT kReaderThreadLost = ERROR_FILE_CORRUPT;

// What this process's token allows, as text for the answer to a request that reads nothing:
// "privileges=<count> administrators=<enabled|deny-only|absent> integrity=<RID|none>", numbers in
// decimal (low integrity is 4096).
std::wstring TokenReport();

} // namespace child
