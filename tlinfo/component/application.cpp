// The application object: the entry point a client creates by class id, which opens library
// files and hands back their information objects.
#include "tlinfo/component/component.h"

namespace tlinfo {

namespace {

class Application final : public ComObject<Application, ITlInfoApplication> {
  public:
    static const IID& InterfaceId() { return IID_ITlInfoApplication; }

    TLINFO_NOT_IMPLEMENTED(3)
    TLINFO_NOT_IMPLEMENTED(4)
    TLINFO_NOT_IMPLEMENTED(5)
    TLINFO_NOT_IMPLEMENTED(6)
    TLINFO_NOT_IMPLEMENTED(7)
    TLINFO_NOT_IMPLEMENTED(8)

    HRESULT STDMETHODCALLTYPE OpenLibraryFile(BSTR path, ITlInfoLibrary** library) override {
        return Guarded([&] { return OpenLibrary(path, library); });
    }
};

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
