#include "tests/support/testsupport.h"

#include <objbase.h>
#include <shlwapi.h>
#include <vector>

#include "common/owners.h"
#include "common/text.h"

namespace testsupport {

namespace {

void RemoveTree(const std::string& path) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string child = path + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(child.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

} // namespace

TempFolder::TempFolder() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    path_ = std::string(temp) + "corvane-test-" + GuidAnsi(NewGuid()).substr(1, 8);
    CreateDirectoryA(path_.c_str(), nullptr);
}

TempFolder::~TempFolder() {
    RemoveTree(path_);
}

std::string TempFolder::File(const std::string& name) const {
    return path_ + "\\" + name;
}

LibraryRecipe::LibraryRecipe() : guid(NewGuid()) {}

GUID NewGuid() {
    GUID guid;
    CoCreateGuid(&guid);
    return guid;
}

std::string GuidAnsi(const GUID& guid) {
    return ToAnsi(::GuidText(guid));
}

HRESULT MakeTypeLib(const std::string& path, const LibraryRecipe& recipe) {
    std::wstring widePath = ToWide(path);
    ComPtr<ICreateTypeLib2> creator;
    HRESULT hr = CreateTypeLib2(recipe.syskind, widePath.c_str(), creator.Put());
    if (FAILED(hr))
        return hr;
    std::wstring name = ToWide(recipe.name);
    std::wstring description = ToWide(recipe.description);
    if (FAILED(hr = creator->SetGuid(recipe.guid)))
        return hr;
    if (FAILED(hr = creator->SetName(const_cast<LPOLESTR>(name.c_str()))))
        return hr;
    // An empty description is a library without a documentation string: Wine's SetDocString
    // refuses an empty text (E_UNEXPECTED), and such a library reads back as empty anyway.
    if (!description.empty() && FAILED(hr = creator->SetDocString(const_cast<LPOLESTR>(description.c_str()))))
        return hr;
    if (FAILED(hr = creator->SetVersion(recipe.major, recipe.minor)))
        return hr;
    if (FAILED(hr = creator->SetLcid(recipe.lcid)))
        return hr;
    return creator->SaveAllChanges();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    FileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file)
        return;
    DWORD written = 0;
    WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::string ReadFileBytes(const std::string& path) {
    std::string bytes;
    FileHandle file(
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file)
        return bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    return bytes;
}

std::string BinaryFolder() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\'));
}

std::string BesideTests(const std::string& fileName) {
    return BinaryFolder() + "\\" + fileName;
}

bool KeyExists(HKEY root, const std::string& path) {
    RegKey key;
    return RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

void DeleteTypeLibKey(const GUID& guid) {
    std::string key = "TypeLib\\" + GuidAnsi(guid);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str());
}

CurrentFolderScope::CurrentFolderScope(const std::string& folder) {
    GetCurrentDirectoryA(MAX_PATH, saved_);
    SetCurrentDirectoryA(folder.c_str());
}

CurrentFolderScope::~CurrentFolderScope() {
    SetCurrentDirectoryA(saved_);
}

std::string Hex(unsigned long value) {
    return "0x" + UpperHex(value, 8);
}

} // namespace testsupport
