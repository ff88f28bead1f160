// A look at a library file's layout before the system's loader reads it. Wine's loader stops
// the whole process (a breakpoint, no error code) when a library's tables point past the end
// of its data, which is what a truncated .tlb or a cut TYPELIB resource does; Windows' loader
// answers such a file with an error. Checking that the tables fit gives the error on both.
#include "tlinfo/component/component.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "common/owners.h"

#ifndef LOAD_LIBRARY_AS_IMAGE_RESOURCE
#define LOAD_LIBRARY_AS_IMAGE_RESOURCE 0x00000020
#endif

namespace tlinfo {

namespace {

// The compiled library format ("MSFT"): a fixed header, one 32-bit offset per type, one more
// when the help-DLL flag is set, then the directory of the 15 tables, each as offset, length
// and two reserved words. Offsets count from the start of the library's data; -1 is "absent".
constexpr uint32_t kHeaderSize = 0x54;
constexpr uint32_t kVarFlagsAt = 0x14;
constexpr uint32_t kTypeCountAt = 0x20;
constexpr uint32_t kHelpDllFlag = 0x100;
constexpr uint32_t kTableCount = 15;
constexpr uint32_t kTableEntrySize = 16;
constexpr uint32_t kDirectorySize = kTableCount * kTableEntrySize;
// The loader takes the first TYPELIB resource of a DLL when the path names no other.
constexpr WORD kFirstLibraryResource = 1;

int32_t ReadInt(const BYTE* at) {
    int32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

bool IsCompiledLibrary(const BYTE* start, uint64_t size) {
    return size >= 4 && std::memcmp(start, "MSFT", 4) == 0;
}

// Where the table directory starts, given the header; 0 when the header is not plausible.
uint64_t DirectoryOffset(const BYTE* header, uint64_t size) {
    int32_t types = ReadInt(header + kTypeCountAt);
    if (types < 0 || static_cast<uint64_t>(types) > size / 4)
        return 0;
    uint32_t flags = static_cast<uint32_t>(ReadInt(header + kVarFlagsAt));
    return kHeaderSize + static_cast<uint64_t>(types) * 4 + ((flags & kHelpDllFlag) ? 4 : 0);
}

// Every table the directory names lies inside the size bytes of the library.
bool TablesFit(const BYTE* directory, uint64_t size) {
    for (uint32_t i = 0; i < kTableCount; ++i) {
        int32_t offset = ReadInt(directory + i * kTableEntrySize);
        int32_t length = ReadInt(directory + i * kTableEntrySize + 4);
        if (offset == -1)
            continue;
        if (offset < 0 || length < 0 || static_cast<uint64_t>(offset) + static_cast<uint64_t>(length) > size)
            return false;
    }
    return true;
}

bool CompiledLibraryFits(const BYTE* data, uint64_t size) {
    if (size < kHeaderSize)
        return false;
    uint64_t directory = DirectoryOffset(data, size);
    if (directory == 0 || directory + kDirectorySize > size)
        return false;
    return TablesFit(data + directory, size);
}

bool ReadAt(HANDLE file, uint64_t offset, void* buffer, DWORD count) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    DWORD read = 0;
    return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) &&
           ReadFile(file, buffer, count, &read, nullptr) && read == count;
}

// A .tlb or .olb file: only the header and the directory are read, whatever the file's size.
HRESULT CheckCompiledFile(HANDLE file, uint64_t size) {
    BYTE header[kHeaderSize];
    if (size < kHeaderSize || !ReadAt(file, 0, header, kHeaderSize))
        return TYPE_E_CANTLOADLIBRARY;
    uint64_t directoryOffset = DirectoryOffset(header, size);
    BYTE directory[kDirectorySize];
    if (directoryOffset == 0 || directoryOffset + kDirectorySize > size ||
        !ReadAt(file, directoryOffset, directory, kDirectorySize))
        return TYPE_E_CANTLOADLIBRARY;
    return TablesFit(directory, size) ? S_OK : TYPE_E_CANTLOADLIBRARY;
}

// A DLL: its TYPELIB resource of that number, read from the image mapped as data (no code
// runs).
HRESULT CheckLibraryResource(const wchar_t* path, WORD number) {
    Module image(LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!image)
        image.Reset(LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!image)
        return S_OK; // not an image this check can read; the loader decides
    HRSRC resource = FindResourceW(image.Get(), MAKEINTRESOURCEW(number), L"TYPELIB");
    if (!resource)
        return S_OK;
    DWORD size = SizeofResource(image.Get(), resource);
    HGLOBAL loaded = LoadResource(image.Get(), resource);
    const BYTE* data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    if (!data)
        return S_OK;
    if (!IsCompiledLibrary(data, size))
        return S_OK;
    return CompiledLibraryFits(data, size) ? S_OK : TYPE_E_CANTLOADLIBRARY;
}

// The file the loader will read, found as SearchPath finds it, and the number of the
// resource it will take. A path may end in "\<number>" after the file name, naming another
// TYPELIB resource of a DLL. False when no such file exists.
bool FileToRead(const wchar_t* path, std::wstring& file, WORD& resource) {
    wchar_t found[MAX_PATH];
    DWORD length = SearchPathW(nullptr, path, nullptr, MAX_PATH, found, nullptr);
    if (length > 0 && length < MAX_PATH) {
        file = found;
        resource = kFirstLibraryResource;
        return true;
    }
    std::wstring whole = path;
    size_t separator = whole.find_last_of(L'\\');
    if (separator == std::wstring::npos || separator + 1 == whole.size() || whole.size() - separator > 6)
        return false;
    unsigned long number = 0;
    for (size_t i = separator + 1; i < whole.size(); ++i) {
        if (whole[i] < L'0' || whole[i] > L'9')
            return false;
        number = number * 10 + static_cast<unsigned long>(whole[i] - L'0');
    }
    if (number == 0 || number > 0xFFFF)
        return false;
    length = SearchPathW(nullptr, whole.substr(0, separator).c_str(), nullptr, MAX_PATH, found, nullptr);
    if (length == 0 || length >= MAX_PATH)
        return false;
    file = found;
    resource = static_cast<WORD>(number);
    return true;
}

} // namespace

HRESULT CheckLibraryFile(const wchar_t* path) {
    std::wstring name;
    WORD resource = kFirstLibraryResource;
    if (!FileToRead(path, name, resource))
        return S_OK; // no such file: the loader gives the error
    KernelHandle file(CreateFileW(name.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.Get() == INVALID_HANDLE_VALUE) {
        file.Detach();
        return S_OK; // a folder, or a file we may not read: the loader decides
    }
    LARGE_INTEGER size;
    BYTE signature[4];
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart < 4 || !ReadAt(file.Get(), 0, signature, 4))
        return S_OK;
    uint64_t fileSize = static_cast<uint64_t>(size.QuadPart);
    if (resource == kFirstLibraryResource && IsCompiledLibrary(signature, fileSize))
        return CheckCompiledFile(file.Get(), fileSize);
    if (std::memcmp(signature, "MZ", 2) == 0) {
        file.Reset();
        return CheckLibraryResource(name.c_str(), resource);
    }
    return S_OK;
}

} // namespace tlinfo
