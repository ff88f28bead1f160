#include "catalogue/registry.h"
extern "C" LONG __stdcall DELREGKEY(const HKEY*, const char* const*) { return 0; }
