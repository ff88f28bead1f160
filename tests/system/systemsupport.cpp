#include "tests/system/systemsupport.h"

#include <psapi.h>
#include <algorithm>
#include <cstdio>

#include "app/mainwindow.h"
#include "common/owners.h"
#include "common/text.h"
#include "reader/reader.h"

namespace systemtest {

namespace {

const std::function<void(HWND)>* g_work = nullptr;
bool g_workRan = false;

// Fires once inside the main window's modal run. A thread timer (no window) is dispatched by
// any message loop of the thread, so it needs nothing from the window's own handling.
void CALLBACK RunWorkOnce(HWND, UINT, UINT_PTR timerId, DWORD) {
    KillTimer(nullptr, timerId);
    HWND mainWindow = g_program.mainWindow;
    if (g_work && mainWindow && IsWindow(mainWindow)) {
        g_workRan = true;
        (*g_work)(mainWindow);
    }
    // The modal run ends when the window no longer exists.
    if (mainWindow && IsWindow(mainWindow))
        DestroyWindow(mainWindow);
}

std::string WindowText(HWND control) {
    int length = GetWindowTextLengthA(control);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    int copied = GetWindowTextA(control, &text[0], length + 1);
    text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
    return text;
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// Registry value data as text: a string value ends at its first NUL.
std::string StringData(const std::string& data) {
    return data.substr(0, data.find('\0'));
}

void NoteKey(HKEY key, const std::string& relative, std::vector<RegistryKeyCopy>& keys) {
    RegistryKeyCopy copy;
    copy.path = relative;
    DWORD valueCount = 0, maxName = 0, maxData = 0, subkeyCount = 0, maxSubkey = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeyCount, &maxSubkey, nullptr, &valueCount, &maxName,
                     &maxData, nullptr, nullptr);
    for (DWORD i = 0; i < valueCount; ++i) {
        std::string name(maxName + 2, '\0');
        std::string data(maxData + 2, '\0');
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataLength = static_cast<DWORD>(data.size());
        DWORD type = 0;
        if (RegEnumValueA(key, i, &name[0], &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]),
                          &dataLength) != ERROR_SUCCESS)
            continue;
        name.resize(nameLength);
        data.resize(dataLength);
        copy.values.push_back({name, type, data});
    }
    std::sort(copy.values.begin(), copy.values.end(),
              [](const RegistryValue& a, const RegistryValue& b) { return a.name < b.name; });
    keys.push_back(copy);
    std::vector<std::string> subkeys;
    for (DWORD i = 0; i < subkeyCount; ++i) {
        std::string name(maxSubkey + 2, '\0');
        DWORD nameLength = static_cast<DWORD>(name.size());
        if (RegEnumKeyExA(key, i, &name[0], &nameLength, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
            subkeys.push_back(name.substr(0, nameLength));
    }
    std::sort(subkeys.begin(), subkeys.end());
    for (const std::string& name : subkeys) {
        RegKey child;
        if (RegOpenKeyExA(key, name.c_str(), 0, KEY_READ, child.Put()) == ERROR_SUCCESS)
            NoteKey(child.Get(), relative.empty() ? name : relative + "\\" + name, keys);
    }
}

} // namespace

bool RunInsideMainWindow(const std::function<void(HWND)>& work) {
    g_work = &work;
    g_workRan = false;
    UINT_PTR timer = SetTimer(nullptr, 0, 10, RunWorkOnce);
    SHOWMAINWINDOW(nullptr);
    KillTimer(nullptr, timer);
    // What the program's end does after the modal run.
    reader::ShareReaderOf(nullptr);
    g_program.application.Reset();
    g_program.mainWindow = nullptr;
    g_work = nullptr;
    return g_workRan;
}

ShownFacts ReadShownFacts(HWND mainWindow) {
    ShownFacts shown;
    shown.nameLine = WindowText(GetDlgItem(mainWindow, IDC_NAME));
    shown.guidText = WindowText(GetDlgItem(mainWindow, IDC_GUID));
    shown.versionText = WindowText(GetDlgItem(mainWindow, IDC_VERSION));
    shown.registered = SendDlgItemMessageA(mainWindow, IDC_REGISTERED, BM_GETCHECK, 0, 0) == BST_CHECKED;
    return shown;
}

void MarkFactFieldsStale(HWND mainWindow, bool checked) {
    SetDlgItemTextA(mainWindow, IDC_NAME, "stale name");
    SetDlgItemTextA(mainWindow, IDC_GUID, "stale guid");
    SetDlgItemTextA(mainWindow, IDC_VERSION, "stale version");
    SendDlgItemMessageA(mainWindow, IDC_REGISTERED, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

std::string Describe(const ShownFacts& facts) {
    return "name line " + Quoted(facts.nameLine) + ", GUID " + Quoted(facts.guidText) + ", version " +
           Quoted(facts.versionText) + (facts.registered ? ", checked" : ", unchecked");
}

bool operator==(const ShownFacts& a, const ShownFacts& b) {
    return a.nameLine == b.nameLine && a.guidText == b.guidText && a.versionText == b.versionText &&
           a.registered == b.registered;
}

ShownFacts OwnFacts::Shown() const {
    ShownFacts shown;
    shown.nameLine = name + " (" + description + ")";
    shown.guidText = guidText;
    shown.versionText = std::to_string(major) + "." + std::to_string(minor);
    shown.registered = registered;
    return shown;
}

bool ReadOwnFacts(const std::string& path, OwnFacts& facts) {
    std::wstring widePath = ToWide(path);
    ComPtr<ITypeLib> library;
    if (FAILED(LoadTypeLibEx(widePath.c_str(), REGKIND_NONE, library.Put())) || !library)
        return false;
    Bstr name, description;
    if (FAILED(library->GetDocumentation(-1, name.Put(), description.Put(), nullptr, nullptr)))
        return false;
    TLIBATTR* attributes = nullptr;
    if (FAILED(library->GetLibAttr(&attributes)) || !attributes)
        return false;
    wchar_t guid[40];
    StringFromGUID2(attributes->guid, guid, 40);
    facts.major = attributes->wMajorVerNum;
    facts.minor = attributes->wMinorVerNum;
    facts.lcid = attributes->lcid;
    library->ReleaseTLibAttr(attributes);

    facts.name = ToAnsi(name.Get());
    // The descriptive text is what registration writes as the version key's default value: the
    // documentation string, or the library's name for a library that has none.
    facts.description = ToAnsi(description.Get() ? description.Get() : name.Get());
    facts.guidText = ToAnsi(std::wstring(guid));
    facts.versionKey =
        "TypeLib\\" + facts.guidText + "\\" + LowerHex(facts.major) + "." + LowerHex(facts.minor);
    std::string registeredText;
    facts.registered =
        ReadDefaultValue(facts.versionKey, registeredText) && registeredText == facts.description;
    return true;
}

bool ReadDefaultValue(const std::string& key, std::string& value) {
    value.clear();
    RegKey opened;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, opened.Put()) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    if (RegQueryValueExA(opened.Get(), nullptr, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS)
        return true;
    std::string data(size + 1, '\0');
    DWORD type = 0;
    if (RegQueryValueExA(opened.Get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size) ==
        ERROR_SUCCESS) {
        data.resize(size);
        value = StringData(data);
    }
    return true;
}

RegistrySubtree NoteSubtree(const std::string& key) {
    RegistrySubtree noted;
    noted.key = key;
    RegKey root;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, root.Put()) == ERROR_SUCCESS)
        NoteKey(root.Get(), "", noted.keys);
    return noted;
}

void RestoreSubtree(const RegistrySubtree& noted) {
    RegDeleteTreeA(HKEY_CLASSES_ROOT, noted.key.c_str());
    RegDeleteKeyA(HKEY_CLASSES_ROOT, noted.key.c_str());
    for (const RegistryKeyCopy& copy : noted.keys) {
        std::string path = copy.path.empty() ? noted.key : noted.key + "\\" + copy.path;
        RegKey created;
        if (RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            created.Put(), nullptr) != ERROR_SUCCESS)
            continue;
        for (const RegistryValue& value : copy.values)
            RegSetValueExA(created.Get(), value.name.empty() ? nullptr : value.name.c_str(), 0, value.type,
                           reinterpret_cast<const BYTE*>(value.data.data()),
                           static_cast<DWORD>(value.data.size()));
    }
}

bool operator==(const RegistrySubtree& a, const RegistrySubtree& b) {
    if (a.key != b.key || a.keys.size() != b.keys.size())
        return false;
    for (size_t i = 0; i < a.keys.size(); ++i) {
        const RegistryKeyCopy& x = a.keys[i];
        const RegistryKeyCopy& y = b.keys[i];
        if (x.path != y.path || x.values.size() != y.values.size())
            return false;
        for (size_t j = 0; j < x.values.size(); ++j)
            if (x.values[j].name != y.values[j].name || x.values[j].type != y.values[j].type ||
                x.values[j].data != y.values[j].data)
                return false;
    }
    return true;
}

std::string Describe(const RegistrySubtree& subtree) {
    if (subtree.keys.empty())
        return "HKCR\\" + subtree.key + " (absent)\n";
    std::string text;
    for (const RegistryKeyCopy& copy : subtree.keys) {
        text += "HKCR\\" + subtree.key + (copy.path.empty() ? "" : "\\" + copy.path) + "\n";
        for (const RegistryValue& value : copy.values)
            text += "  " + (value.name.empty() ? std::string("@") : Quoted(value.name)) + " type " +
                    std::to_string(value.type) + " = " +
                    (value.type == REG_SZ || value.type == REG_EXPAND_SZ
                         ? Quoted(StringData(value.data))
                         : std::to_string(value.data.size()) + " bytes") +
                    "\n";
    }
    return text;
}

Watermark TakeWatermark() {
    // More objects than a program of this size ever frees at once, well below the per-process
    // limit of 10,000 GDI objects.
    constexpr long kProbes = 4096;
    Watermark mark;
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    mark.gdiObject = reinterpret_cast<UINT_PTR>(brush) & 0xFFFF;
    DeleteObject(brush);
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    mark.kernelHandle = reinterpret_cast<UINT_PTR>(event);
    CloseHandle(event);

    std::vector<HBRUSH> brushes;
    std::vector<HANDLE> events;
    long highestGdi = 0, highestKernel = 0;
    for (long i = 0; i < kProbes; ++i) {
        brushes.push_back(CreateSolidBrush(RGB(1, 2, 3)));
        highestGdi =
            std::max(highestGdi, static_cast<long>(reinterpret_cast<UINT_PTR>(brushes.back()) & 0xFFFF));
        events.push_back(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        // Kernel handles are multiples of four.
        highestKernel =
            std::max(highestKernel, static_cast<long>(reinterpret_cast<UINT_PTR>(events.back()) / 4));
    }
    for (HBRUSH each : brushes)
        DeleteObject(each);
    for (HANDLE each : events)
        CloseHandle(each);
    mark.gdiInUse = highestGdi - kProbes;
    mark.kernelInUse = highestKernel - kProbes;

    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        mark.workingSet = counters.WorkingSetSize;
    return mark;
}

} // namespace systemtest
