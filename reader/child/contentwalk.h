// The content walk of the reader's child: a library's whole content, for a content request.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <string>
#include <vector>

#include "reader/content.h"

namespace reader {

// Walks every type info of library (whose own GUID is own) into content.
void WalkContent(ITypeLib* library, const GUID& own, LibraryContent& content);

} // namespace reader
