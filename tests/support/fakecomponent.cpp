#include "tests/support/fakecomponent.h"

#include "common/text.h"

namespace testsupport {

namespace {

#define FAKE_UNUSED(n)                                                                                       \
    HRESULT STDMETHODCALLTYPE UnusedSlot##n() override {                                                     \
        return E_NOTIMPL;                                                                                    \
    }

HRESULT Answer(BSTR* out, const std::string& text) {
    std::wstring wide = ToWide(text);
    *out = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    return S_OK;
}

class FakeLibrary final : public ITlInfoLibrary {
  public:
    explicit FakeLibrary(ComponentScript& script) : script_(script) { script_.libraryReferences = 1; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++script_.libraryReferences; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --script_.libraryReferences;
        if (left == 0) {
            script_.calls.push_back(kLibraryReleased);
            delete this;
        }
        return left;
    }
    // clang-format off
    FAKE_UNUSED(3) FAKE_UNUSED(4) FAKE_UNUSED(5) FAKE_UNUSED(6) FAKE_UNUSED(7) FAKE_UNUSED(8)
    FAKE_UNUSED(9) FAKE_UNUSED(10) FAKE_UNUSED(11) FAKE_UNUSED(13) FAKE_UNUSED(14) FAKE_UNUSED(15)
    FAKE_UNUSED(18) FAKE_UNUSED(21) FAKE_UNUSED(22) FAKE_UNUSED(23) FAKE_UNUSED(24) FAKE_UNUSED(25)
    FAKE_UNUSED(26) FAKE_UNUSED(27) FAKE_UNUSED(28) FAKE_UNUSED(29) FAKE_UNUSED(30) FAKE_UNUSED(31)
    FAKE_UNUSED(32) FAKE_UNUSED(33) FAKE_UNUSED(34) FAKE_UNUSED(35) FAKE_UNUSED(36) FAKE_UNUSED(37)
    FAKE_UNUSED(38) FAKE_UNUSED(39) FAKE_UNUSED(40) FAKE_UNUSED(41) FAKE_UNUSED(42) FAKE_UNUSED(43)
    FAKE_UNUSED(44) FAKE_UNUSED(45) FAKE_UNUSED(46) FAKE_UNUSED(47) FAKE_UNUSED(48) FAKE_UNUSED(49)
    FAKE_UNUSED(50) FAKE_UNUSED(51) FAKE_UNUSED(52) FAKE_UNUSED(53) FAKE_UNUSED(54) FAKE_UNUSED(55)
    FAKE_UNUSED(56) FAKE_UNUSED(57) FAKE_UNUSED(58) FAKE_UNUSED(59) FAKE_UNUSED(60) FAKE_UNUSED(61)
    FAKE_UNUSED(62) FAKE_UNUSED(63) FAKE_UNUSED(64) FAKE_UNUSED(65) FAKE_UNUSED(66) FAKE_UNUSED(67)
    FAKE_UNUSED(68) FAKE_UNUSED(69) FAKE_UNUSED(70) FAKE_UNUSED(71) FAKE_UNUSED(72) FAKE_UNUSED(73)
    FAKE_UNUSED(74) FAKE_UNUSED(75) FAKE_UNUSED(76)
        // clang-format on

        HRESULT STDMETHODCALLTYPE Name(BSTR* out) override {
        *out = nullptr;
        return script_.Call(tlinfo_slot::Name) ? script_.failure : Answer(out, script_.name);
    }
    HRESULT STDMETHODCALLTYPE GuidText(BSTR* out) override {
        *out = nullptr;
        int round = script_.Round(tlinfo_slot::GuidText);
        return script_.Call(tlinfo_slot::GuidText) ? script_.failure : Answer(out, script_.guid[round]);
    }
    HRESULT STDMETHODCALLTYPE Locale(LCID* out) override {
        *out = 0;
        if (script_.Call(tlinfo_slot::Locale))
            return script_.failure;
        *out = script_.locale;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE MajorVersion(short* out) override {
        return Version(tlinfo_slot::MajorVersion, script_.major, out);
    }
    HRESULT STDMETHODCALLTYPE MinorVersion(short* out) override {
        return Version(tlinfo_slot::MinorVersion, script_.minor, out);
    }
    HRESULT STDMETHODCALLTYPE DescriptiveText(LONG argument, BSTR* out) override {
        *out = nullptr;
        int round = script_.Round(tlinfo_slot::DescriptiveText);
        script_.descriptionArguments.push_back(argument);
        return script_.Call(tlinfo_slot::DescriptiveText) ? script_.failure
                                                          : Answer(out, script_.description[round]);
    }

  private:
    HRESULT Version(int slot, const short (&answers)[2], short* out) {
        *out = 0;
        int round = script_.Round(slot);
        if (script_.Call(slot))
            return script_.failure;
        *out = answers[round];
        return S_OK;
    }
    ComponentScript& script_;
};

#undef FAKE_UNUSED

} // namespace

HRESULT STDMETHODCALLTYPE FakeComponent::QueryInterface(REFIID, void** out) {
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE FakeComponent::OpenLibraryFile(BSTR path, ITlInfoLibrary** library) {
    *library = nullptr;
    script_.openedPath.assign(path, SysStringLen(path));
    if (script_.Call(tlinfo_slot::OpenLibraryFile))
        return script_.failure;
    if (!script_.nullLibrary)
        *library = new FakeLibrary(script_);
    return S_OK;
}

} // namespace testsupport
