// The contract between Corvane and the TypeLib Information component.
//
// Both the program and our own in-process server include this header, so the class id,
// the interface id and the position of every method in the method tables are written
// down exactly once. The program calls the component by slot: slot 0 to 2 are IUnknown,
// and the operations it uses sit at fixed positions further down. The slots in between
// exist only to keep those positions; the program never calls them.
#pragma once

#include <windows.h>
#include <oleauto.h>

// The application class in its registry form, the one place its text is written: the build
// reads it from here for the installer and the release scripts.
#define TLINFO_APPLICATION_CLSID_TEXT "{8B21775E-717D-11CE-AB5B-D41203C10000}"
#define TLINFO_WIDE2(text) L##text
#define TLINFO_WIDE(text) TLINFO_WIDE2(text)
// HKEY_CLASSES_ROOT\CLSID\{class}: where a server for the class is registered.
#define TLINFO_APPLICATION_CLASS_KEY "CLSID\\" TLINFO_APPLICATION_CLSID_TEXT

// The application class, the same id as a value.
constexpr CLSID CLSID_TlInfoApplication = {
    0x8B21775E, 0x717D, 0x11CE, {0xAB, 0x5B, 0xD4, 0x12, 0x03, 0xC1, 0x00, 0x00}};

// The interface the program asks the class for.
constexpr IID IID_ITlInfoApplication = {
    0x8B21775D, 0x717D, 0x11CE, {0xAB, 0x5B, 0xD4, 0x12, 0x03, 0xC1, 0x00, 0x00}};

// The library-information object is used as the open operation returns it, never through
// QueryInterface; this id is our server's own name for that interface.
// {5C0A3E61-4B8F-4E0B-9D3A-6F2C1B7E9A41}
constexpr IID IID_ITlInfoLibrary = {
    0x5C0A3E61, 0x4B8F, 0x4E0B, {0x9D, 0x3A, 0x6F, 0x2C, 0x1B, 0x7E, 0x9A, 0x41}};

// A placeholder method that keeps the following operations at their slots.
#define TLINFO_UNUSED_SLOT(n) virtual HRESULT STDMETHODCALLTYPE UnusedSlot##n() = 0

// The application object: one per program run.
struct ITlInfoApplication : public IUnknown {
    TLINFO_UNUSED_SLOT(3);
    TLINFO_UNUSED_SLOT(4);
    TLINFO_UNUSED_SLOT(5);
    TLINFO_UNUSED_SLOT(6);
    TLINFO_UNUSED_SLOT(7);
    TLINFO_UNUSED_SLOT(8);
    // Slot 9: opens a type-library file (.tlb, .olb, or a .dll holding a library) and hands
    // back a library-information object for it.
    virtual HRESULT STDMETHODCALLTYPE OpenLibraryFile(BSTR path, struct ITlInfoLibrary** library) = 0;
};

// The library-information object: the facts of one opened library.
struct ITlInfoLibrary : public IUnknown {
    TLINFO_UNUSED_SLOT(3);
    TLINFO_UNUSED_SLOT(4);
    TLINFO_UNUSED_SLOT(5);
    TLINFO_UNUSED_SLOT(6);
    TLINFO_UNUSED_SLOT(7);
    TLINFO_UNUSED_SLOT(8);
    TLINFO_UNUSED_SLOT(9);
    TLINFO_UNUSED_SLOT(10);
    TLINFO_UNUSED_SLOT(11);
    // Slot 12: the library's name.
    virtual HRESULT STDMETHODCALLTYPE Name(BSTR* name) = 0;
    TLINFO_UNUSED_SLOT(13);
    TLINFO_UNUSED_SLOT(14);
    TLINFO_UNUSED_SLOT(15);
    // Slot 16: the GUID in braced registry form, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
    virtual HRESULT STDMETHODCALLTYPE GuidText(BSTR* guid) = 0;
    // Slot 17: the locale the library declares.
    virtual HRESULT STDMETHODCALLTYPE Locale(LCID* lcid) = 0;
    TLINFO_UNUSED_SLOT(18);
    // Slots 19 and 20: the version numbers, handed over as 16-bit signed values.
    virtual HRESULT STDMETHODCALLTYPE MajorVersion(short* major) = 0;
    virtual HRESULT STDMETHODCALLTYPE MinorVersion(short* minor) = 0;
    TLINFO_UNUSED_SLOT(21);
    TLINFO_UNUSED_SLOT(22);
    TLINFO_UNUSED_SLOT(23);
    TLINFO_UNUSED_SLOT(24);
    TLINFO_UNUSED_SLOT(25);
    TLINFO_UNUSED_SLOT(26);
    TLINFO_UNUSED_SLOT(27);
    TLINFO_UNUSED_SLOT(28);
    TLINFO_UNUSED_SLOT(29);
    TLINFO_UNUSED_SLOT(30);
    TLINFO_UNUSED_SLOT(31);
    TLINFO_UNUSED_SLOT(32);
    TLINFO_UNUSED_SLOT(33);
    TLINFO_UNUSED_SLOT(34);
    TLINFO_UNUSED_SLOT(35);
    TLINFO_UNUSED_SLOT(36);
    TLINFO_UNUSED_SLOT(37);
    TLINFO_UNUSED_SLOT(38);
    TLINFO_UNUSED_SLOT(39);
    TLINFO_UNUSED_SLOT(40);
    TLINFO_UNUSED_SLOT(41);
    TLINFO_UNUSED_SLOT(42);
    TLINFO_UNUSED_SLOT(43);
    TLINFO_UNUSED_SLOT(44);
    TLINFO_UNUSED_SLOT(45);
    TLINFO_UNUSED_SLOT(46);
    TLINFO_UNUSED_SLOT(47);
    TLINFO_UNUSED_SLOT(48);
    TLINFO_UNUSED_SLOT(49);
    TLINFO_UNUSED_SLOT(50);
    TLINFO_UNUSED_SLOT(51);
    TLINFO_UNUSED_SLOT(52);
    TLINFO_UNUSED_SLOT(53);
    TLINFO_UNUSED_SLOT(54);
    TLINFO_UNUSED_SLOT(55);
    TLINFO_UNUSED_SLOT(56);
    TLINFO_UNUSED_SLOT(57);
    TLINFO_UNUSED_SLOT(58);
    TLINFO_UNUSED_SLOT(59);
    TLINFO_UNUSED_SLOT(60);
    TLINFO_UNUSED_SLOT(61);
    TLINFO_UNUSED_SLOT(62);
    TLINFO_UNUSED_SLOT(63);
    TLINFO_UNUSED_SLOT(64);
    TLINFO_UNUSED_SLOT(65);
    TLINFO_UNUSED_SLOT(66);
    TLINFO_UNUSED_SLOT(67);
    TLINFO_UNUSED_SLOT(68);
    TLINFO_UNUSED_SLOT(69);
    TLINFO_UNUSED_SLOT(70);
    TLINFO_UNUSED_SLOT(71);
    TLINFO_UNUSED_SLOT(72);
    TLINFO_UNUSED_SLOT(73);
    TLINFO_UNUSED_SLOT(74);
    TLINFO_UNUSED_SLOT(75);
    TLINFO_UNUSED_SLOT(76);
    // Slot 77: the library's descriptive text (its documentation string). The program
    // always passes 0 as the first argument.
    virtual HRESULT STDMETHODCALLTYPE DescriptiveText(LONG reserved, BSTR* text) = 0;
};

// The slot numbers the program relies on, for the tests that check the tables' layout.
namespace tlinfo_slot {
constexpr int OpenLibraryFile = 9;
constexpr int Name = 12;
constexpr int GuidText = 16;
constexpr int Locale = 17;
constexpr int MajorVersion = 19;
constexpr int MinorVersion = 20;
constexpr int DescriptiveText = 77;
} // namespace tlinfo_slot
