// A TypeLib Information component that tests control: it records the operations the program
// calls, in order, answers with a given identity, and can fail at any one operation.
#pragma once

#include <string>
#include <vector>

#include "tlinfo/tlinfo.h"

namespace registration_tests {

#define FAKE_SLOT(n)                                                                                         \
    HRESULT STDMETHODCALLTYPE UnusedSlot##n() override {                                                     \
        return E_NOTIMPL;                                                                                    \
    }

// Counts references so that a test can see every one given back.
template <class Interface> class FakeUnknown : public Interface {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        *object = nullptr;
        if (iid == IID_IUnknown || iid == OwnIid()) {
            *object = this;
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&references));
    }
    ULONG STDMETHODCALLTYPE Release() override {
        return static_cast<ULONG>(InterlockedDecrement(&references));
    }
    virtual REFIID OwnIid() const = 0;
    LONG references = 1; // the test's own reference; the object lives on the test's stack
};

// The operations a fake was asked for, by slot number, in order.
using CallLog = std::vector<int>;
// The entry the call log uses for a release of the library object.
constexpr int kLibraryReleased = -1;

class FakeLibrary : public FakeUnknown<ITlInfoLibrary> {
  public:
    std::string guidText;
    short major = 1;
    short minor = 0;
    LCID locale = 0;
    int failingSlot = -1; // the operation that fails, if any
    HRESULT failure = E_FAIL;
    CallLog* log = nullptr;

    REFIID OwnIid() const override { return IID_ITlInfoLibrary; }
    ULONG STDMETHODCALLTYPE Release() override {
        if (log)
            log->push_back(kLibraryReleased);
        return FakeUnknown::Release();
    }
    HRESULT STDMETHODCALLTYPE Name(BSTR* name) override {
        *name = nullptr;
        return Answer(tlinfo_slot::Name);
    }
    HRESULT STDMETHODCALLTYPE GuidText(BSTR* guid) override {
        *guid = nullptr;
        HRESULT hr = Answer(tlinfo_slot::GuidText);
        if (SUCCEEDED(hr)) {
            std::wstring wide(guidText.begin(), guidText.end());
            *guid = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
        }
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Locale(LCID* lcid) override {
        HRESULT hr = Answer(tlinfo_slot::Locale);
        *lcid = SUCCEEDED(hr) ? locale : 0;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE MajorVersion(short* value) override {
        HRESULT hr = Answer(tlinfo_slot::MajorVersion);
        *value = SUCCEEDED(hr) ? major : 0;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE MinorVersion(short* value) override {
        HRESULT hr = Answer(tlinfo_slot::MinorVersion);
        *value = SUCCEEDED(hr) ? minor : 0;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE DescriptiveText(LONG, BSTR* text) override {
        *text = nullptr;
        return Answer(tlinfo_slot::DescriptiveText);
    }

    FAKE_SLOT(3)
    FAKE_SLOT(4)
    FAKE_SLOT(5)
    FAKE_SLOT(6)
    FAKE_SLOT(7)
    FAKE_SLOT(8)
    FAKE_SLOT(9) FAKE_SLOT(10) FAKE_SLOT(11) FAKE_SLOT(13) FAKE_SLOT(14) FAKE_SLOT(15) FAKE_SLOT(18)
        FAKE_SLOT(21) FAKE_SLOT(22) FAKE_SLOT(23) FAKE_SLOT(24) FAKE_SLOT(25) FAKE_SLOT(26) FAKE_SLOT(27)
            FAKE_SLOT(28) FAKE_SLOT(29) FAKE_SLOT(30) FAKE_SLOT(31) FAKE_SLOT(32) FAKE_SLOT(33) FAKE_SLOT(34)
                FAKE_SLOT(35) FAKE_SLOT(36) FAKE_SLOT(37) FAKE_SLOT(38) FAKE_SLOT(39) FAKE_SLOT(40)
                    FAKE_SLOT(41) FAKE_SLOT(42) FAKE_SLOT(43) FAKE_SLOT(44) FAKE_SLOT(45) FAKE_SLOT(46)
                        FAKE_SLOT(47) FAKE_SLOT(48) FAKE_SLOT(49) FAKE_SLOT(50) FAKE_SLOT(51) FAKE_SLOT(52)
                            FAKE_SLOT(53) FAKE_SLOT(54) FAKE_SLOT(55) FAKE_SLOT(56) FAKE_SLOT(57)
                                FAKE_SLOT(58) FAKE_SLOT(59) FAKE_SLOT(60) FAKE_SLOT(61) FAKE_SLOT(62)
                                    FAKE_SLOT(63) FAKE_SLOT(64) FAKE_SLOT(65) FAKE_SLOT(66) FAKE_SLOT(67)
                                        FAKE_SLOT(68) FAKE_SLOT(69) FAKE_SLOT(70) FAKE_SLOT(71) FAKE_SLOT(72)
                                            FAKE_SLOT(73) FAKE_SLOT(74) FAKE_SLOT(75) FAKE_SLOT(76)

                                                private : HRESULT Answer(int slot) {
        if (log)
            log->push_back(slot);
        return slot == failingSlot ? failure : S_OK;
    }
};

class FakeApplication : public FakeUnknown<ITlInfoApplication> {
  public:
    FakeLibrary library;
    CallLog log;
    std::wstring openedPath;

    FakeApplication() { library.log = &log; }
    REFIID OwnIid() const override { return IID_ITlInfoApplication; }
    HRESULT STDMETHODCALLTYPE OpenLibraryFile(BSTR path, ITlInfoLibrary** result) override {
        *result = nullptr;
        log.push_back(tlinfo_slot::OpenLibraryFile);
        openedPath.assign(path, SysStringLen(path));
        if (library.failingSlot == tlinfo_slot::OpenLibraryFile)
            return library.failure;
        library.AddRef();
        *result = &library;
        return S_OK;
    }

    FAKE_SLOT(3) FAKE_SLOT(4) FAKE_SLOT(5) FAKE_SLOT(6) FAKE_SLOT(7) FAKE_SLOT(8)
};

#undef FAKE_SLOT

} // namespace registration_tests
