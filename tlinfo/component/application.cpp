// The application object: the entry point a client creates by class id, which opens library
// files and hands back their information objects. It also answers for this module's reader
// (ICorvaneReader, and ICorvaneReaderTesting for the tests), so that a program that loaded it
// reads every file through that one reader.
#include "tlinfo/component/component.h"

#include "reader/sharedreader.h"

namespace tlinfo {

namespace {

class Application final : public ComObject<Application, ITlInfoApplication>,
                          public reader::OwnReader,
                          public reader::OwnReaderTesting {
  public:
    static const IID& InterfaceId() { return IID_ITlInfoApplication; }

    // IUnknown for every interface; the reader's are more answers of the same object.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv && IsEqualIID(riid, IID_ICorvaneReader))
            *ppv = static_cast<ICorvaneReader*>(this);
        else if (ppv && IsEqualIID(riid, IID_ICorvaneReaderTesting))
            *ppv = static_cast<ICorvaneReaderTesting*>(this);
        else
            return ComObject::QueryInterface(riid, ppv);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ComObject::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return ComObject::Release(); }

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
