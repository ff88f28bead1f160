#include "registration/backup.h"

#include <algorithm>
#include <iterator>

#include "common/owners.h"
#include "common/paths.h"
#include "common/text.h"

namespace {

// Interface and CLSID are the redirected keys; the 64-bit regedit reaches their 32-bit view
// through Wow6432Node.
std::wstring NameInFile(View view, const std::wstring& path) {
    bool redirected = IsInterfaceKey(path) || PathWithin(path, kClassName);
    return view == View::Bits32 && redirected && RegistryViews().size() > 1 ? L"Wow6432Node\\" + path : path;
}

std::wstring TwoDigits(WORD value) {
    return DecimalText(value / 10) + DecimalText(value % 10);
}

} // namespace

HRESULT RegistryBackup::Record(Scope scope, View view, const std::wstring& path) {
    std::wstring name = NameInFile(view, path);
    std::wstring fullName = BranchKeyName(scope) + L"\\" + name;
    if (recorded_.count(fullName))
        return S_OK;
    // The view is chosen where the redirected key itself is opened; keys below it are its own.
    size_t split = path.find(L'\\');
    RegKey top;
    LSTATUS status =
        RegOpenKeyExW(BranchRoot(scope), (std::wstring(kClassesKey) + L"\\" + path.substr(0, split)).c_str(),
                      0, KEY_READ | ViewAccess(view), top.Put());
    RegistryTree read;
    if (status == ERROR_SUCCESS)
        status = ReadRegistryTree(
            top.Get(), split == std::wstring::npos ? std::wstring() : path.substr(split + 1), read);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        return HRESULT_FROM_WIN32(status);
    RegistryTree& tree = TreeOf(scope);
    RegistryKeyEntry deletion;
    deletion.path = name;
    deletion.remove = true;
    tree.push_back(std::move(deletion));
    const size_t below = split == std::wstring::npos ? 0 : path.size() - split - 1;
    for (RegistryKeyEntry& entry : read) {
        entry.path = name + entry.path.substr(below);
        tree.push_back(std::move(entry));
    }
    recorded_.insert(fullName);
    names_.push_back(std::move(fullName));
    return S_OK;
}

std::string RegistryBackup::FileBytes() const {
    std::wstring text = RegFileText(machine_, BranchKeyName(Scope::Machine));
    if (!user_.empty()) {
        // One header: the user's keys follow the machine's.
        std::wstring user = RegFileText(user_, BranchKeyName(Scope::User));
        text.erase(text.size() - 2); // the machine's closing blank line
        text += user.substr(user.find(L"\r\n") + 2);
    }
    return RegFileBytes(text);
}

std::wstring DefaultBackupPath() {
    wchar_t folder[MAX_PATH + 1];
    DWORD length = GetTempPathW(static_cast<DWORD>(std::size(folder)), folder);
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::wstring name = L"corvane-backup-" + DecimalText(now.wYear) + TwoDigits(now.wMonth) +
                        TwoDigits(now.wDay) + L"-" + TwoDigits(now.wHour) + TwoDigits(now.wMinute) +
                        TwoDigits(now.wSecond) + L"-" + DecimalText(GetCurrentProcessId()) + L".reg";
    return (length && length <= MAX_PATH ? std::wstring(folder, length) : std::wstring()) + name;
}
