// What the parts of the registry model share, private to catalogue/: files as the loader finds
// them, and the TypeLib keys read for reading only.
#pragma once

#include <windows.h>
#include <string>

#include "catalogue/catalogue.h"
#include "common/owners.h"

namespace catalogue_detail {

enum class Kind { Missing, File, Folder };
Kind KindOf(const std::wstring& path);
// Splits "file\N" into the file and N when a file of that name exists.
bool SplitExistingResourceIndex(const std::wstring& path, std::wstring& file, int& index);

RegKey OpenForReading(HKEY parent, const std::wstring& path);
RegKey OpenBranch(Scope scope);
// Fills a Registration from an open version key.
void ReadVersionKey(HKEY versionKey, Registration& registration, const FileLocation* file);
// path under scope's root key, opened for reading in view.
RegKey OpenInView(Scope scope, const std::wstring& path, View view);

} // namespace catalogue_detail
