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
// only handle it inherits. False when no process could be started at all.
bool StartSandboxed(const std::wstring& program, HANDLE end, SandboxedChild& child);

} // namespace reader
