#include "registration/registration.h"
// Placeholder until the registration engine is written.
int CHANGEREGISTRATION(std::string, int, int) { return -1; }
