// The spare: one idle child kept ready ahead of need by a thread of the reader's own, handed the
// next read, which it acknowledges at once to show that it still answers.
#include "reader/internal.h"

#include <optional>

namespace reader {

namespace {

// How long a spare has to acknowledge the request it is handed: an idle child does so at once,
// so a spare that takes longer has stalled, and a new child is quicker.
constexpr DWORD kSpareCheck = 1000;

SRWLOCK g_spareLock = SRWLOCK_INIT;
bool g_sparesWanted = false;
std::optional<Child> g_spare; // the idle child, or none
// The keeper is starting a spare: a read waits for it (woken through g_spareStarted) rather
// than start a second child beside it.
bool g_spareStarting = false;
CONDITION_VARIABLE g_spareStarted = CONDITION_VARIABLE_INIT;
// The thread that starts spares, off the threads that read, and the event that wakes it; they
// last from KeepSpare(true) to KeepSpare(false).
KernelHandle g_spareKeeper;
KernelHandle g_spareWake;

// A spare starts a moment after the wake rather than at once: the thread that woke the keeper
// still has its work to finish (a view to fill in, a library to register), and a process start
// competes with it for the system (under Wine, for its one server). Each wake starts the moment
// again; a read that comes first finds no spare and starts its own child.
constexpr DWORD kSpareDelay = 100;

DWORD WINAPI KeepSpares(void*) {
    DWORD wait = INFINITE;
    for (;;) {
        bool woken = WaitForSingleObject(g_spareWake.Get(), wait) == WAIT_OBJECT_0;
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
        {
            ExclusiveLock lock(g_spareLock);
            g_spareStarting = true;
        }
        std::optional<Child> spare(std::in_place);
        if (FAILED(spare->Start()))
            spare.reset();
        {
            ExclusiveLock lock(g_spareLock);
            if (g_sparesWanted && !g_spare) {
                g_spare = std::move(spare);
                spare.reset();
            }
            g_spareStarting = false;
        }
        WakeAllConditionVariable(&g_spareStarted);
        // A spare still here is not wanted (any more): its pipe closes and it leaves.
    }
}

} // namespace

void ReplenishSpare() {
    SharedLock lock(g_spareLock);
    if (g_sparesWanted && !g_spare)
        SetEvent(g_spareWake.Get());
}

bool TakeSpare(Child& child) {
    std::optional<Child> spare;
    {
        ExclusiveLock lock(g_spareLock);
        while (g_spareStarting && !g_spare)
            if (!SleepConditionVariableSRW(&g_spareStarted, &g_spareLock, kSpareCheck, 0))
                break;
        spare = std::exchange(g_spare, std::nullopt);
    }
    if (!spare)
        return false;
    child = std::move(*spare);
    child.AcknowledgeNext(kSpareCheck);
    return true;
}

void KeepSpareHere(bool keep) {
    std::optional<Child> gone;
    {
        ExclusiveLock lock(g_spareLock);
        if (keep && !g_spareKeeper) {
            if (!g_spareWake)
                g_spareWake.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
            if (g_spareWake)
                g_spareKeeper.Reset(CreateThread(nullptr, 0, KeepSpares, nullptr, 0, nullptr));
        }
        g_sparesWanted = keep && g_spareKeeper;
        if (!keep)
            gone = std::exchange(g_spare, std::nullopt);
    }
    gone.reset();
    if (g_spareWake)
        SetEvent(g_spareWake.Get());
    if (!keep && g_spareKeeper) {
        // The keeper leaves once it sees it, after the start it may be in.
        WaitForSingleObject(g_spareKeeper.Get(), INFINITE);
        g_spareKeeper.Reset();
        g_spareWake.Reset();
    }
}

} // namespace reader
