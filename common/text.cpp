#include "common/text.h"

namespace {

std::wstring Widen(const char* bytes, int length) {
    if (length == 0)
        return std::wstring();
    int needed = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, bytes, length, nullptr, 0);
    if (needed <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, bytes, length, &wide[0], needed);
    return wide;
}

std::string Narrow(const wchar_t* chars, int length) {
    if (length == 0)
        return std::string();
    int needed = WideCharToMultiByte(CP_ACP, 0, chars, length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return std::string();
    std::string ansi(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(CP_ACP, 0, chars, length, &ansi[0], needed, nullptr, nullptr);
    return ansi;
}

} // namespace

std::wstring ToWide(const std::string& ansi) {
    return Widen(ansi.data(), static_cast<int>(ansi.size()));
}

std::wstring ToWideTerminated(const std::string& ansi) {
    std::string terminated = ansi;
    terminated.push_back('\0');
    return Widen(terminated.data(), static_cast<int>(terminated.size()));
}

Bstr ToBstr(const std::string& ansi) {
    std::wstring wide = ToWide(ansi);
    return Bstr(SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size())));
}

std::string ToAnsi(BSTR text) {
    return Narrow(text, static_cast<int>(SysStringLen(text)));
}

std::string ToAnsi(const std::wstring& text) {
    return Narrow(text.data(), static_cast<int>(text.size()));
}

namespace {

std::string Hex(unsigned long value, int minDigits, const char* digits) {
    char text[8];
    int count = 0;
    do {
        text[count++] = digits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    std::string result(minDigits > count ? static_cast<size_t>(minDigits - count) : 0, '0');
    while (count > 0)
        result.push_back(text[--count]);
    return result;
}

} // namespace

std::string UpperHex(unsigned long value, int minDigits) {
    return Hex(value, minDigits, "0123456789ABCDEF");
}

std::string LowerHex(unsigned long value, int minDigits) {
    return Hex(value, minDigits, "0123456789abcdef");
}
