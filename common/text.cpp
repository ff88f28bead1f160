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

std::string ToUtf8(const std::wstring& text) {
    if (text.empty())
        return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr);
    if (size <= 0)
        return std::string();
    std::string utf8(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], size, nullptr,
                        nullptr);
    return utf8;
}

std::wstring FromUtf8(const std::string& text) {
    if (text.empty())
        return std::wstring();
    int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (size <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], size);
    return wide;
}

std::wstring GuidText(const GUID& guid) {
    // 38 characters and the terminating NUL.
    wchar_t text[39];
    if (StringFromGUID2(guid, text, 39) == 0)
        return std::wstring();
    return text;
}

bool ParseGuid(const std::wstring& text, GUID& guid) {
    std::wstring braced = text.size() == 36 ? L"{" + text + L"}" : text;
    if (braced.size() != 38 || braced.front() != L'{' || braced.back() != L'}')
        return false;
    for (size_t i = 1; i < 37; ++i) {
        wchar_t c = braced[i];
        bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        bool hex = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
        if (dash ? c != L'-' : !hex)
            return false;
    }
    return CLSIDFromString(braced.c_str(), &guid) == NOERROR;
}

namespace {

template <class Char> std::basic_string<Char> Decimal(unsigned long long value) {
    Char digits[20];
    int count = 0;
    do {
        digits[count++] = static_cast<Char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    std::basic_string<Char> text;
    while (count > 0)
        text.push_back(digits[--count]);
    return text;
}

} // namespace

std::wstring DecimalText(unsigned long long value) {
    return Decimal<wchar_t>(value);
}

std::string DecimalAnsi(unsigned long long value) {
    return Decimal<char>(value);
}

bool EqualIgnoringCase(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

bool LessIgnoringCase::operator()(const std::wstring& a, const std::wstring& b) const {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_LESS_THAN;
}

std::wstring ResultCodeText(HRESULT code) {
    return ToWide(UpperHex(static_cast<unsigned long>(code), 8));
}
