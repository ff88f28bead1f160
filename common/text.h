// Conversions between the program's ANSI text (system code page) and the UTF-16 text that
// COM and OLE services take and give, and the hexadecimal texts the program shows and builds
// registry key names from.
#pragma once

#include <string>
#include "common/owners.h"

// ANSI to UTF-16 (CP_ACP, MB_PRECOMPOSED). The result holds exactly the converted characters.
std::wstring ToWide(const std::string& ansi);

// ANSI + one NUL to UTF-16: the result ends in one UTF-16 NUL that is part of its length,
// for services that need a zero-terminated string handed over as a byte buffer.
std::wstring ToWideTerminated(const std::string& ansi);

// ANSI to a newly allocated BSTR (no extra NUL inside the string).
Bstr ToBstr(const std::string& ansi);

// UTF-16 (a BSTR, by its length; null is the empty text) to ANSI (CP_ACP, no flags).
std::string ToAnsi(BSTR text);
std::string ToAnsi(const std::wstring& text);

// The value in hexadecimal without prefix, padded with zeros to at least minDigits digits:
// UpperHex(0x8002801C) is "8002801C", UpperHex(0x1F) "1F", UpperHex(5, 8) "00000005".
// Result codes are shown in upper case; registry key names use lower case.
std::string UpperHex(unsigned long value, int minDigits = 1);
std::string LowerHex(unsigned long value, int minDigits = 1);

// A number in decimal as UTF-16 text (std::to_wstring would bring the C runtime's wide printf,
// with its floating-point formatting, into every program).
std::wstring DecimalText(unsigned long long value);
std::string DecimalAnsi(unsigned long long value);

// UTF-16 to UTF-8 and back, without a byte-order mark; what cannot be converted becomes U+FFFD.
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

// A GUID in the braced upper-case form that registration writes key names in:
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
std::wstring GuidText(const GUID& guid);
// Reads a GUID in that form, braces optional, any letter case, and in no other form (the
// system's CLSIDFromString would also look up a class's name).
bool ParseGuid(const std::wstring& text, GUID& guid);

// Whether two texts are equal without regard to case, as the registry compares key names and
// the file system compares paths (ordinal, not by the user's locale).
bool EqualIgnoringCase(const std::wstring& a, const std::wstring& b);
// The order that goes with it, for maps keyed by such names.
struct LessIgnoringCase {
    bool operator()(const std::wstring& a, const std::wstring& b) const;
};

// A result code as the program shows it: eight upper-case hexadecimal digits, "8002801C".
std::wstring ResultCodeText(HRESULT code);
