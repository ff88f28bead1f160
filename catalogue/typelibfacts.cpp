#include "catalogue/typelibfacts.h"
// Placeholder until the facts view is written.
void ShowTypeLibFacts(HWND, ITlInfoApplication*, std::string) {}
void SHOWTYPELIBFACTS(std::string) {}
