// A TypeLib Information component that tests control: it answers from a script, records the
// operations asked of it by slot in order (and the library object's release), and fails where
// the script says.
#pragma once

#include <string>
#include <vector>

#include "tlinfo/tlinfo.h"

namespace testsupport {

// The entry the call log uses for the library object's last release.
constexpr int kLibraryReleased = -1;

// What the fake answers and what it saw. The GUID, the versions and the description have two
// answers each: the first time one is asked, and every later time.
struct ComponentScript {
    std::string name = "Shapes";
    std::string description[2] = {"Shapes Library", "Shapes Library"};
    std::string guid[2];
    short major[2] = {1, 1};
    short minor[2] = {0, 0};
    LCID locale = 0;

    int failAt = -1;      // the position in the call log whose operation fails
    int failingSlot = -1; // or the operation that fails whenever it is asked
    HRESULT failure = TYPE_E_CANTLOADLIBRARY;
    bool nullLibrary = false; // the open succeeds but hands back no object

    std::vector<int> calls; // the slots asked, in order, and kLibraryReleased
    std::vector<LONG> descriptionArguments;
    std::wstring openedPath;
    LONG libraryReferences = 0; // references the library object holds now

    void SetGuid(const std::string& text) { guid[0] = guid[1] = text; }
    void SetDescription(const std::string& text) { description[0] = description[1] = text; }
    void SetVersion(short majorVersion, short minorVersion) {
        major[0] = major[1] = majorVersion;
        minor[0] = minor[1] = minorVersion;
    }
    // Records a call; true when it is the one that fails.
    bool Call(int slot) {
        calls.push_back(slot);
        return slot == failingSlot || static_cast<int>(calls.size()) - 1 == failAt;
    }
    // 0 the first time slot is asked, 1 afterwards.
    int Round(int slot) const {
        int asked = 0;
        for (int call : calls)
            asked += call == slot;
        return asked == 0 ? 0 : 1;
    }
};

// The application object; it lives on the test's stack and hands out library objects that
// delete themselves when their last reference goes.
class FakeComponent final : public ITlInfoApplication {
  public:
    explicit FakeComponent(ComponentScript& script) : script_(script) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE UnusedSlot3() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnusedSlot4() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnusedSlot5() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnusedSlot6() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnusedSlot7() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnusedSlot8() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OpenLibraryFile(BSTR path, ITlInfoLibrary** library) override;

  private:
    ComponentScript& script_;
};

} // namespace testsupport
