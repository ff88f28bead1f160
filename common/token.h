// Reading access tokens: what the reader's launch restricts and what its child reports.
#pragma once

#include <windows.h>
#include <vector>

// The information of kind that token holds, in a buffer of the size the system asks for; empty
// when it cannot be read.
std::vector<BYTE> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind);

// Whether sid names one of the built-in groups whose members may change the system or read
// what others may not: Administrators, Power Users, and the account, server, print, backup and
// network configuration operators (S-1-5-32-544 and the like).
bool IsPowerfulGroup(PSID sid);
// Administrators alone (S-1-5-32-544).
bool IsAdministrators(PSID sid);
