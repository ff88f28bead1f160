// The library-information object: the facts of one library, as the reader's child read them
// when the library was opened. This process never parses the file itself: a damaged one can
// take down whatever process the loader reads it in, and here that would be the program's.
#include "tlinfo/component/component.h"

#include "common/text.h"
#include "reader/reader.h"

namespace tlinfo {

namespace {

// A text handed out as a new BSTR; a library without a name or documentation gives an empty
// text, never a null BSTR that callers would have to treat specially.
HRESULT NewText(const std::wstring& text, BSTR* out) {
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

class Library final : public ComObject<Library, ITlInfoLibrary> {
  public:
    explicit Library(LibraryDescription description) : description_(std::move(description)) {}

    static const IID& InterfaceId() { return IID_ITlInfoLibrary; }

    TLINFO_NOT_IMPLEMENTED(3)
    TLINFO_NOT_IMPLEMENTED(4)
    TLINFO_NOT_IMPLEMENTED(5)
    TLINFO_NOT_IMPLEMENTED(6)
    TLINFO_NOT_IMPLEMENTED(7)
    TLINFO_NOT_IMPLEMENTED(8)
    TLINFO_NOT_IMPLEMENTED(9)
    TLINFO_NOT_IMPLEMENTED(10)
    TLINFO_NOT_IMPLEMENTED(11)

    HRESULT STDMETHODCALLTYPE Name(BSTR* name) override {
        return Guarded([&] { return LibraryText(Text::Name, name); });
    }

    TLINFO_NOT_IMPLEMENTED(13)
    TLINFO_NOT_IMPLEMENTED(14)
    TLINFO_NOT_IMPLEMENTED(15)

    HRESULT STDMETHODCALLTYPE GuidText(BSTR* guid) override {
        return Guarded([&] {
            if (!guid)
                return E_POINTER;
            *guid = nullptr;
            return NewText(::GuidText(description_.guid), guid);
        });
    }
    HRESULT STDMETHODCALLTYPE Locale(LCID* lcid) override { return Attribute(lcid, description_.lcid); }

    TLINFO_NOT_IMPLEMENTED(18)

    // The versions are unsigned 16-bit numbers in the library; the interface hands them over
    // as signed ones, so 65535 arrives as -1 and a client converts it back.
    HRESULT STDMETHODCALLTYPE MajorVersion(short* major) override {
        return Attribute(major, static_cast<short>(description_.major));
    }
    HRESULT STDMETHODCALLTYPE MinorVersion(short* minor) override {
        return Attribute(minor, static_cast<short>(description_.minor));
    }

    TLINFO_NOT_IMPLEMENTED(21)
    TLINFO_NOT_IMPLEMENTED(22)
    TLINFO_NOT_IMPLEMENTED(23)
    TLINFO_NOT_IMPLEMENTED(24)
    TLINFO_NOT_IMPLEMENTED(25)
    TLINFO_NOT_IMPLEMENTED(26)
    TLINFO_NOT_IMPLEMENTED(27)
    TLINFO_NOT_IMPLEMENTED(28)
    TLINFO_NOT_IMPLEMENTED(29)
    TLINFO_NOT_IMPLEMENTED(30)
    TLINFO_NOT_IMPLEMENTED(31)
    TLINFO_NOT_IMPLEMENTED(32)
    TLINFO_NOT_IMPLEMENTED(33)
    TLINFO_NOT_IMPLEMENTED(34)
    TLINFO_NOT_IMPLEMENTED(35)
    TLINFO_NOT_IMPLEMENTED(36)
    TLINFO_NOT_IMPLEMENTED(37)
    TLINFO_NOT_IMPLEMENTED(38)
    TLINFO_NOT_IMPLEMENTED(39)
    TLINFO_NOT_IMPLEMENTED(40)
    TLINFO_NOT_IMPLEMENTED(41)
    TLINFO_NOT_IMPLEMENTED(42)
    TLINFO_NOT_IMPLEMENTED(43)
    TLINFO_NOT_IMPLEMENTED(44)
    TLINFO_NOT_IMPLEMENTED(45)
    TLINFO_NOT_IMPLEMENTED(46)
    TLINFO_NOT_IMPLEMENTED(47)
    TLINFO_NOT_IMPLEMENTED(48)
    TLINFO_NOT_IMPLEMENTED(49)
    TLINFO_NOT_IMPLEMENTED(50)
    TLINFO_NOT_IMPLEMENTED(51)
    TLINFO_NOT_IMPLEMENTED(52)
    TLINFO_NOT_IMPLEMENTED(53)
    TLINFO_NOT_IMPLEMENTED(54)
    TLINFO_NOT_IMPLEMENTED(55)
    TLINFO_NOT_IMPLEMENTED(56)
    TLINFO_NOT_IMPLEMENTED(57)
    TLINFO_NOT_IMPLEMENTED(58)
    TLINFO_NOT_IMPLEMENTED(59)
    TLINFO_NOT_IMPLEMENTED(60)
    TLINFO_NOT_IMPLEMENTED(61)
    TLINFO_NOT_IMPLEMENTED(62)
    TLINFO_NOT_IMPLEMENTED(63)
    TLINFO_NOT_IMPLEMENTED(64)
    TLINFO_NOT_IMPLEMENTED(65)
    TLINFO_NOT_IMPLEMENTED(66)
    TLINFO_NOT_IMPLEMENTED(67)
    TLINFO_NOT_IMPLEMENTED(68)
    TLINFO_NOT_IMPLEMENTED(69)
    TLINFO_NOT_IMPLEMENTED(70)
    TLINFO_NOT_IMPLEMENTED(71)
    TLINFO_NOT_IMPLEMENTED(72)
    TLINFO_NOT_IMPLEMENTED(73)
    TLINFO_NOT_IMPLEMENTED(74)
    TLINFO_NOT_IMPLEMENTED(75)
    TLINFO_NOT_IMPLEMENTED(76)

    // The reserved argument is always 0 from the program and means nothing to us; any value
    // gives the same text.
    HRESULT STDMETHODCALLTYPE DescriptiveText(LONG, BSTR* text) override {
        return Guarded([&] { return LibraryText(Text::Description, text); });
    }

  private:
    enum class Text { Name, Description };

    // The library's name, or its descriptive text: the text that type-library registration
    // writes as the default value of the library's version key, which clients compare with
    // it to tell whether the library is registered. Registration writes the documentation
    // string, and the library's name for a library that has none, so that is the text.
    HRESULT LibraryText(Text which, BSTR* out) {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        bool documented = which == Text::Description && description_.hasDocumentation;
        return NewText(documented ? description_.documentation : description_.name, out);
    }

    template <class T> HRESULT Attribute(T* out, T value) {
        if (!out)
            return E_POINTER;
        *out = value;
        return S_OK;
    }

    const LibraryDescription description_;
};

} // namespace

HRESULT OpenLibrary(BSTR path, ITlInfoLibrary** library) {
    if (!library)
        return E_POINTER;
    *library = nullptr;
    // The reader refuses, without a child, what reader::RefusePath refuses: an empty path, one
    // with a NUL inside and one too long for any loader. The path field takes any typed text.
    LibraryDescription description;
    HRESULT hr = reader::ReadLibrary(std::wstring(path ? path : L"", SysStringLen(path)),
                                     reader::Depth::Facts, description);
    if (FAILED(hr))
        return hr;
    Library* created = new (std::nothrow) Library(std::move(description));
    if (!created)
        return E_OUTOFMEMORY;
    *library = created;
    return S_OK;
}

} // namespace tlinfo
