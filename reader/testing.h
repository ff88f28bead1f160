// For the tests and the benchmark only: the number of children this process's reads have
// started, forgetting every remembered answer, a time limit of their own (0 restores the
// program's), and children kept out of a job of their own as a parent's job that forbids nesting
// keeps them out (reader/sandbox.h). Each acts on this module's reader and on the component's
// reader that its reads go to (reader::ShareReaderOf), if any.
#pragma once

#include <windows.h>
#include <string>

namespace reader {

unsigned ChildrenStarted();
void ForgetAnswers();
void SetTimeLimitForTests(DWORD milliseconds);
void RefuseJobsForTests(bool refuse);

// The name of the pipe of the most recent child this module started ("" before the first).
std::wstring LastPipeNameForTests();

} // namespace reader
