// The one class factory of the server: it makes objects through the creation function of the
// class it was asked for, and counts as a live object itself while a client holds it.
#include "tlinfo/component/component.h"

namespace tlinfo {

namespace {

class ClassFactory final : public ComObject<ClassFactory, IClassFactory> {
  public:
    explicit ClassFactory(CreateFunction create) : create_(create) {}

    static const IID& InterfaceId() { return IID_IClassFactory; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        return Guarded([&] { return create_(outer, riid, ppv); });
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        LockModule(lock != FALSE);
        return S_OK;
    }

  private:
    CreateFunction create_;
};

} // namespace

HRESULT CreateClassFactory(CreateFunction create, REFIID riid, void** ppv) {
    return Guarded([&] {
        ClassFactory* factory = new (std::nothrow) ClassFactory(create);
        if (!factory)
            return E_OUTOFMEMORY;
        // The query takes the caller's reference; dropping ours frees the factory on failure.
        HRESULT hr = factory->QueryInterface(riid, ppv);
        factory->Release();
        return hr;
    });
}

} // namespace tlinfo
