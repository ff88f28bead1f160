// The application object: the entry point a client creates by class id, which opens library
// files and hands back their information objects.
#include "tlinfo/component/component.h"

namespace tlinfo {

namespace {

// Slots the program never calls; they exist to keep OpenLibraryFile at its position.
#define TLINFO_NOT_IMPLEMENTED(n)                                                                            \
    HRESULT STDMETHODCALLTYPE UnusedSlot##n() override {                                                     \
        return E_NOTIMPL;                                                                                    \
    }

class Application final : public ITlInfoApplication {
  public:
    Application() { ObjectCreated(); }
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_ITlInfoApplication))
            return E_NOINTERFACE;
        *ppv = static_cast<ITlInfoApplication*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete this;
        return left;
    }

    TLINFO_NOT_IMPLEMENTED(3)
    TLINFO_NOT_IMPLEMENTED(4)
    TLINFO_NOT_IMPLEMENTED(5)
    TLINFO_NOT_IMPLEMENTED(6)
    TLINFO_NOT_IMPLEMENTED(7)
    TLINFO_NOT_IMPLEMENTED(8)

    HRESULT STDMETHODCALLTYPE OpenLibraryFile(BSTR path, ITlInfoLibrary** library) override {
        return Guarded([&] { return OpenLibrary(path, library); });
    }

  private:
    ~Application() { ObjectDestroyed(); }

    LONG references_ = 1;
};

#undef TLINFO_NOT_IMPLEMENTED

} // namespace

HRESULT CreateApplication(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    Application* application = new (std::nothrow) Application();
    if (!application)
        return E_OUTOFMEMORY;
    HRESULT hr = application->QueryInterface(riid, ppv);
    application->Release();
    return hr;
}

} // namespace tlinfo
