// For the tests and the benchmark only: the number of children this process's reads have
// started, forgetting every remembered answer, and a time limit of their own (0 restores the
// program's). Each acts on this module's reader and on the component's reader that its reads go
// to (reader::ShareReaderOf), if any.
#pragma once

#include <windows.h>

namespace reader {

unsigned ChildrenStarted();
void ForgetAnswers();
void SetTimeLimitForTests(DWORD milliseconds);

} // namespace reader
