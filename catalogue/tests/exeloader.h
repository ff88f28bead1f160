// Test-only helpers on loaded images: loading an executable as a library the way Windows does it,
// and redirecting an image's imports to recording stand-ins.
#pragma once

#include <windows.h>
#include <string>

#include "common/owners.h"

// LoadLibrary on an .exe, followed by the two loader steps that Windows performs and Wine 8
// skips for executables: applying the base relocations and binding the import table. Start-up
// code is not run, as on Windows. Returns an empty module and sets error on failure.
Module LoadExecutableAsLibrary(const std::string& path, std::string& error);

// Points every import slot of module that imports function by name at replacement, so that a
// test sees the calls the image makes. Returns the number of slots changed.
int RedirectImport(HMODULE module, const char* function, FARPROC replacement);
