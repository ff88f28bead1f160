// The one class factory of the server: it makes objects through the creation function of the
// class it was asked for, and counts as a live object itself while a client holds it.
#include "tlinfo/component/component.h"

namespace tlinfo {

namespace {

class ClassFactory final : public IClassFactory {
  public:
    explicit ClassFactory(CreateFunction create) : create_(create) { ObjectCreated(); }
    ClassFactory(const ClassFactory&) = delete;
    ClassFactory& operator=(const ClassFactory&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory))
            return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
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

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        return Guarded([&] { return create_(outer, riid, ppv); });
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        LockModule(lock != FALSE);
        return S_OK;
    }

  private:
    ~ClassFactory() { ObjectDestroyed(); }

    CreateFunction create_;
    LONG references_ = 1;
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
