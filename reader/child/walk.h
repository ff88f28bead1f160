// What the reader's child reads beyond a library's facts: the TYPELIB resources of a module
// file, and a library's whole content.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <string>
#include <vector>

#include "reader/content.h"

namespace reader {

// The numbers of path's TYPELIB resources, in the file's order; nothing when path (without a
// trailing "\N") is no module. Resources named by text are left out: no path can name them.
std::vector<WORD> LibraryResources(const std::wstring& path);

// Walks every type info of library (whose own GUID is own) into content.
HRESULT WalkContent(ITypeLib* library, const GUID& own, LibraryContent& content);

} // namespace reader
