#include "catalogue/registry.h"
// Placeholder until the registry routines are written.
std::string GETREGVALUE(const HKEY&, std::string, std::string) { return std::string(); }
extern "C" LONG __stdcall DELREGKEY(const HKEY*, const char* const*) { return 0; }
