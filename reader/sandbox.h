// How the gate starts its child so that the child has as little as possible to misuse and can
// never outlive the process that started it; private to the reader. A file crafted to exploit
// the system's type-library loader, rather than merely crash it, then gets a process that can
// do little: no privileges, no powerful groups, low integrity, no other process, no access to
// other processes' windows, and gone as soon as its parent is.
#pragma once

#include <windows.h>
#include <string>

#include "common/owners.h"
#include "reader/reader.h"

namespace reader {

struct SandboxedChild {
    KernelHandle process;
    // Closing it ends the child: the owner of this object is the only holder, so the child dies
    // with it, however its process ends.
    KernelHandle job;
    Confinement confinement;
};

// Starts program with end (a pipe end, inheritable) as its standard input and output and as the
// only handle it inherits. ERROR_SUCCESS, or the system's error when no process could be started
// with exactly that one handle, or it could not be let run (it is then ended): the start fails
// rather than give the child more than its pipe.
DWORD StartSandboxed(const std::wstring& program, HANDLE end, SandboxedChild& child);

// For the tests: the children started from now on are kept out of a job of their own as when
// their parent's job forbids nesting (Windows 7 refuses with ERROR_ACCESS_DENIED), which a
// system that allows nested jobs, Wine among them, never does.
void RefuseJobsHere(bool refuse);

} // namespace reader
