// Paths as type-library services take them: made absolute, and "file\N" naming the type-library
// resource N inside a .dll or .exe, as the registry itself writes such a path.
#pragma once

#include <windows.h>
#include <string>

// The full path of path, resolved against the current folder. Fails with the system's error.
HRESULT FullPath(const std::string& path, std::string& full);
HRESULT FullPath(const std::wstring& path, std::wstring& full);

// The file name is found as the system's loaders find it (SearchPath: the program's folder, the
// current folder, the system folders, then PATH; a name with a folder is taken as it is), as a
// full path. False when there is no such file.
bool SearchFile(const std::wstring& name, std::wstring& found);

// Splits "file\N" (or "file/N") into the file and N, when N is 1 to 5 decimal digits after the
// last separator and the file part is not empty. Whether the file exists is the caller's
// question: a file may itself be named with digits.
template <class Char>
bool SplitResourceIndex(const std::basic_string<Char>& path, std::basic_string<Char>& file, int& index) {
    size_t separator = path.find_last_of(std::basic_string<Char>{Char('\\'), Char('/')});
    if (separator == std::basic_string<Char>::npos || separator == 0 || separator + 1 >= path.size() ||
        path.size() - separator > 6)
        return false;
    int number = 0;
    for (size_t i = separator + 1; i < path.size(); ++i) {
        if (path[i] < Char('0') || path[i] > Char('9'))
            return false;
        number = number * 10 + (path[i] - Char('0'));
    }
    file = path.substr(0, separator);
    index = number;
    return true;
}

// Whether path is base itself or lies below it ("base\..."), compared without regard to case as
// Windows compares paths and registry key names; base's trailing backslashes do not count, and
// an empty base holds nothing. With rest, what follows "base\" ("" for base itself).
bool PathWithin(const std::wstring& path, const std::wstring& base, std::wstring* rest = nullptr);
