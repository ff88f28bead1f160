#include "registration/registration.h"
// Placeholder until the file chooser is written.
void CHOOSETYPELIBFILE(HWND) {}
