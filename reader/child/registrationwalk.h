// The registration walk of the reader's child: every type info read as RegisterTypeLib reads
// it, so that a library that survives the walk here can then be registered in the parent.
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace child {

// Reads the count type infos of library, with their members, the types they implement and the
// other half of each dual interface. Failures of single calls are no concern here; only a crash
// matters, and that ends this process.
void WalkForRegistration(ITypeLib* library, UINT count);

} // namespace child
