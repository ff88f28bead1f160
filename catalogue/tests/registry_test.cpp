#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>
#include <vector>

#include "catalogue/registry.h"
#include "catalogue/tests/exeloader.h"
#include "common/owners.h"
#include "tests/support/testsupport.h"

using testsupport::BesideTests;
using testsupport::GuidAnsi;
using testsupport::NewGuid;

namespace {

// A private key under HKEY_CURRENT_USER\Software, wiped after each test.
class Sandbox : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = "Software\\CorvaneCatalogueTest" + GuidAnsi(NewGuid());
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  root_.Put(), nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        root_.Reset();
        RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
    }

    // Creates sub below the sandbox and sets one of its values (REG_SZ unless told otherwise).
    void Put(const std::string& sub, const std::string& name, const std::string& data, DWORD type = REG_SZ,
             bool terminate = true) {
        RegKey key;
        ASSERT_EQ(RegCreateKeyExA(root_.Get(), sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(),
                                  nullptr),
                  ERROR_SUCCESS)
            << sub;
        DWORD size = static_cast<DWORD>(data.size() + (terminate ? 1 : 0));
        ASSERT_EQ(RegSetValueExA(key.Get(), name.c_str(), 0, type,
                                 reinterpret_cast<const BYTE*>(data.c_str()), size),
                  ERROR_SUCCESS);
    }
    void MakeKey(const std::string& sub) {
        RegKey key;
        ASSERT_EQ(RegCreateKeyExA(root_.Get(), sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(),
                                  nullptr),
                  ERROR_SUCCESS)
            << sub;
    }
    bool Exists(const std::string& sub) {
        RegKey key;
        return RegOpenKeyExA(root_.Get(), sub.c_str(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
    }
    // The same key path seen from HKEY_CURRENT_USER, for the routines' root parameter.
    std::string Full(const std::string& sub) const { return path_ + "\\" + sub; }

    std::string path_;
    RegKey root_;
};

// A key path of exactly length bytes below the sandbox (components of at most 200 bytes).
std::string PathOfLength(const std::string& prefix, size_t length) {
    std::string path = prefix;
    while (path.size() < length) {
        size_t component = std::min<size_t>(200, length - path.size() - 1);
        path += "\\" + std::string(component, static_cast<char>('a' + path.size() % 26));
    }
    return path;
}

// Restricts a key to reading (for Everyone) while the object lives, then gives full access
// back so that the sandbox can be removed.
class ReadOnlyKey {
  public:
    ReadOnlyKey(HKEY parent, const std::string& sub) : parent_(parent), sub_(sub) {
        ok_ = Apply("D:P(A;;KR;;;WD)");
    }
    ~ReadOnlyKey() { Apply("D:P(A;;KA;;;WD)"); }
    bool Ok() const { return ok_; }
    // Whether the registry refuses full access now (Wine may not enforce key security).
    bool Enforced() const {
        RegKey key;
        return RegOpenKeyExA(parent_, sub_.c_str(), 0, KEY_ALL_ACCESS, key.Put()) == ERROR_ACCESS_DENIED;
    }

  private:
    bool Apply(const char* sddl) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                                  nullptr))
            return false;
        RegKey key;
        // The owner may always change the access list, even of a key it may not write.
        bool ok = RegOpenKeyExA(parent_, sub_.c_str(), 0, WRITE_DAC, key.Put()) == ERROR_SUCCESS &&
                  RegSetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
        LocalFree(descriptor);
        return ok;
    }
    HKEY parent_;
    std::string sub_;
    bool ok_;
};

// The value of the next registry handle: a freed slot is reused, so it climbs only when
// handles leak.
UINT_PTR NextKeyHandle() {
    RegKey key;
    RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, key.Put());
    return reinterpret_cast<UINT_PTR>(key.Get());
}

// Records the registry calls that the routines make: both this program's import slots and those
// of the loaded Corvane.exe are pointed at these stand-ins, which call the real functions.
namespace recorder {

struct Call {
    std::string function;
    std::string text; // key path or value name
    REGSAM access = 0;
    HKEY key = nullptr; // the key opened or closed
    LSTATUS status = 0;
};

bool on = false;
std::vector<Call>& Calls() {
    static std::vector<Call> calls;
    return calls;
}

template <class F> F Real(const char* name) {
    return reinterpret_cast<F>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("advapi32.dll"), name)));
}

LSTATUS WINAPI Open(HKEY root, LPCSTR sub, DWORD options, REGSAM access, PHKEY out) {
    static auto real = Real<decltype(&RegOpenKeyExA)>("RegOpenKeyExA");
    LSTATUS status = real(root, sub, options, access, out);
    if (on)
        Calls().push_back({"open", sub ? sub : "", access, status == 0 ? *out : nullptr, status});
    return status;
}
LSTATUS WINAPI Query(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
    static auto real = Real<decltype(&RegQueryValueExA)>("RegQueryValueExA");
    LSTATUS status = real(key, name, reserved, type, data, size);
    if (on)
        Calls().push_back({"query", name ? name : "", 0, key, status});
    return status;
}
LSTATUS WINAPI Delete(HKEY root, LPCSTR sub) {
    static auto real = Real<decltype(&RegDeleteKeyA)>("RegDeleteKeyA");
    LSTATUS status = real(root, sub);
    if (on)
        Calls().push_back({"delete", sub ? sub : "", 0, root, status});
    return status;
}
LSTATUS WINAPI Close(HKEY key) {
    static auto real = Real<decltype(&RegCloseKey)>("RegCloseKey");
    LSTATUS status = real(key);
    if (on)
        Calls().push_back({"close", "", 0, key, status});
    return status;
}

void Redirect(HMODULE module) {
    RedirectImport(module, "RegOpenKeyExA", reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&Open)));
    RedirectImport(module, "RegQueryValueExA", reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&Query)));
    RedirectImport(module, "RegDeleteKeyA", reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&Delete)));
    RedirectImport(module, "RegCloseKey", reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&Close)));
}

// Records the calls made while the object lives.
class Recording {
  public:
    Recording() {
        static bool redirected = false;
        if (!redirected)
            Redirect(GetModuleHandleA(nullptr));
        redirected = true;
        recorder::Calls().clear();
        on = true;
    }
    ~Recording() { on = false; }
    const std::vector<Call>& Calls() const { return recorder::Calls(); }
};

std::string Names(const std::vector<Call>& calls) {
    std::string names;
    for (const Call& call : calls)
        names += (names.empty() ? "" : " ") + call.function;
    return names;
}

} // namespace recorder

} // namespace

// ---- GETREGVALUE ----

using GetRegValue = Sandbox;

TEST_F(GetRegValue, StarAndEmptyNameBothReadTheDefaultValueWhileStarVariantsAreLiteralNames) {
    Put("k", "", "default text");
    Put("k", "**", "two stars");
    Put("k", "*x", "star x");
    HKEY root = HKEY_CURRENT_USER;
    EXPECT_EQ(GETREGVALUE(root, Full("k"), "*"), "default text");
    EXPECT_EQ(GETREGVALUE(root, Full("k"), ""), "default text");
    EXPECT_EQ(GETREGVALUE(root, Full("k"), "**"), "two stars");
    EXPECT_EQ(GETREGVALUE(root, Full("k"), "*x"), "star x");
    // A key the caller opened serves as root as well.
    EXPECT_EQ(GETREGVALUE(root_.Get(), "k", "*"), "default text");
}

TEST_F(GetRegValue, MissingKeyOrValueGivesEmptyTextAndOnlyAMissingKeyGivesNothingToReadRegValue) {
    Put("k", "present", "x");
    HKEY root = HKEY_CURRENT_USER;
    EXPECT_EQ(GETREGVALUE(root, Full("missing"), "*"), "");
    EXPECT_EQ(GETREGVALUE(root, Full("k"), "absent"), "");
    EXPECT_EQ(GETREGVALUE(root, Full("k"), "*"), "") << "the key has no default value";

    EXPECT_FALSE(ReadRegValue(root, Full("missing"), "").has_value());
    std::optional<std::string> noValue = ReadRegValue(root, Full("k"), "");
    ASSERT_TRUE(noValue.has_value()) << "the key exists";
    EXPECT_EQ(*noValue, "");
}

TEST_F(GetRegValue, NonTextValuesGiveTheirRawBytesUpToTheFirstZero) {
    DWORD number = 0x00434241; // little-endian bytes 'A' 'B' 'C' 0
    RegKey key;
    ASSERT_EQ(RegCreateKeyExA(root_.Get(), "k", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(), nullptr),
              0);
    ASSERT_EQ(RegSetValueExA(key.Get(), "n", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), sizeof number),
              0);
    const BYTE binary[] = {'h', 'i', 0, 'x'};
    ASSERT_EQ(RegSetValueExA(key.Get(), "b", 0, REG_BINARY, binary, sizeof binary), 0);
    EXPECT_EQ(GETREGVALUE(HKEY_CURRENT_USER, Full("k"), "n"), "ABC");
    EXPECT_EQ(GETREGVALUE(HKEY_CURRENT_USER, Full("k"), "b"), "hi");
}

TEST_F(GetRegValue, ValuesBeyondTheBufferAreReadWhole) {
    std::string longText(300, 'L');
    longText[299] = 'E';
    Put("k", "", longText);
    std::string exact(256, 'x'); // fills the buffer exactly, stored without a terminator
    Put("k", "exact", exact, REG_BINARY, false);
    std::string result = GETREGVALUE(HKEY_CURRENT_USER, Full("k"), "*");
    EXPECT_EQ(result.size(), 300u) << result;
    EXPECT_EQ(result, longText);
    EXPECT_EQ(GETREGVALUE(HKEY_CURRENT_USER, Full("k"), "exact"), exact);
}

TEST_F(GetRegValue, OpensForReadingOnlyWithThePathCutAt299BytesAndClosesTheKey) {
    Put("k", "", "text");
    std::string path = PathOfLength(Full("k"), 299);
    {
        recorder::Recording recording;
        GETREGVALUE(HKEY_CURRENT_USER, path + "zzz", "*");
        ASSERT_EQ(recorder::Names(recording.Calls()), "open") << "a key that does not open is not queried";
        EXPECT_EQ(recording.Calls()[0].text, path) << "the key path reaches the registry cut to 299 bytes";
        // The cut path names a key that does not exist: Windows answers ERROR_FILE_NOT_FOUND.
        // Wine's ANSI registry functions refuse any key path longer than 260 bytes with
        // ERROR_MORE_DATA (234) before looking, so here the cut is read from the call itself.
        LSTATUS status = recording.Calls()[0].status;
        EXPECT_TRUE(status == ERROR_FILE_NOT_FOUND || status == ERROR_MORE_DATA) << status;
    }
    recorder::Recording recording;
    EXPECT_EQ(GETREGVALUE(HKEY_CURRENT_USER, Full("k"), "*"), "text");
    const std::vector<recorder::Call>& calls = recording.Calls();
    ASSERT_EQ(recorder::Names(calls), "open query close");
    EXPECT_EQ(calls[0].access, static_cast<REGSAM>(KEY_READ))
        << "read access only, so users who may not write under the key still read it; got " << std::hex
        << calls[0].access;
    EXPECT_EQ(calls[1].text, "") << "\"*\" reaches the registry as the empty name";
    EXPECT_EQ(calls[2].key, calls[0].key);
}

TEST_F(GetRegValue, ValueNameIsCutAt255Bytes) {
    std::string name(255, 'n');
    Put("k", name, "named");
    EXPECT_EQ(GETREGVALUE(HKEY_CURRENT_USER, Full("k"), name + "zzz"), "named");
    EXPECT_EQ(GETREGVALUE(HKEY_CURRENT_USER, Full("k"), name.substr(0, 254) + "zzz"), "")
        << "a different name within the first 255 bytes is not the same value";
}

TEST_F(GetRegValue, EveryKeyItOpensIsClosed) {
    Put("k", "", "text");
    UINT_PTR before = NextKeyHandle();
    for (int i = 0; i < 300; ++i) {
        GETREGVALUE(HKEY_CURRENT_USER, Full("k"), "*");
        GETREGVALUE(HKEY_CURRENT_USER, Full("missing"), "*");
        Put("k", "", std::string(400, 'v')); // the long-value path as well
        GETREGVALUE(HKEY_CURRENT_USER, Full("k"), "");
    }
    EXPECT_EQ(NextKeyHandle(), before) << "the next handle value moved: keys were left open";
}

TEST_F(GetRegValue, ReadsAKeyThatMayNotBeWritten) {
    Put("k", "", "readable");
    ReadOnlyKey readOnly(root_.Get(), "k");
    ASSERT_TRUE(readOnly.Ok());
    if (!readOnly.Enforced())
        GTEST_SKIP() << "this Wine grants full access to a key whose access list allows only reading, "
                        "so the difference between read and full access cannot be shown here";
    EXPECT_EQ(GETREGVALUE(HKEY_CURRENT_USER, Full("k"), "*"), "readable");
}

// ---- DELREGKEY, called from this process after loading Corvane.exe as a library ----

using DelRegKeyFunction = LONG(__stdcall*)(const HKEY*, const char* const*);

class DelRegKey : public Sandbox {
  protected:
    static void SetUpTestSuite() {
        program_ = new Module(LoadExecutableAsLibrary(BesideTests("Corvane.exe"), *loadError_));
        if (*program_)
            recorder::Redirect(program_->Get());
    }
    static void TearDownTestSuite() {
        delete program_;
        program_ = nullptr;
    }
    void SetUp() override {
        Sandbox::SetUp();
        ASSERT_TRUE(program_ && *program_) << *loadError_;
        FARPROC found = GetProcAddress(program_->Get(), "DELREGKEY");
        call_ = reinterpret_cast<DelRegKeyFunction>(reinterpret_cast<void*>(found));
        ASSERT_NE(call_, nullptr);
    }

    LONG Delete(HKEY root, const std::string& path) {
        Bstr handle(SysAllocStringByteLen(path.data(), static_cast<UINT>(path.size())));
        const char* text = reinterpret_cast<const char*>(handle.Get());
        return call_(&root, &text);
    }

    static Module* program_;
    static std::string* loadError_;
    DelRegKeyFunction call_ = nullptr;
};
Module* DelRegKey::program_ = nullptr;
std::string* DelRegKey::loadError_ = new std::string;

// Programs that load Corvane.exe take the routine by name or as ordinal 1: both are this one.
TEST_F(DelRegKey, IsExportedByNameAndAsOrdinal1) {
    FARPROC byOrdinal = GetProcAddress(program_->Get(), MAKEINTRESOURCEA(1));
    EXPECT_EQ(reinterpret_cast<void*>(byOrdinal), reinterpret_cast<void*>(call_));
}

TEST_F(DelRegKey, DeletesAKeyWhileHoldingItOpenAndCountsAMissingOneAsDeleted) {
    MakeKey("victim");
    {
        recorder::Recording recording;
        EXPECT_EQ(Delete(HKEY_CURRENT_USER, Full("victim")), 0);
        const std::vector<recorder::Call>& calls = recording.Calls();
        ASSERT_EQ(recorder::Names(calls), "open delete close");
        EXPECT_EQ(calls[0].access, static_cast<REGSAM>(KEY_ALL_ACCESS)) << std::hex << calls[0].access;
        EXPECT_EQ(calls[0].text, Full("victim"));
        EXPECT_EQ(calls[1].text, Full("victim"));
        EXPECT_EQ(calls[1].key, HKEY_CURRENT_USER) << "deleted by its path under the root";
        EXPECT_EQ(calls[2].key, calls[0].key);
    }
    EXPECT_FALSE(Exists("victim"));
    EXPECT_EQ(Delete(HKEY_CURRENT_USER, Full("victim")), 0) << "a missing key gives 0 as well";
    MakeKey("other");
    EXPECT_EQ(Delete(root_.Get(), "other"), 0) << "a key the caller opened serves as root";
    EXPECT_FALSE(Exists("other"));
}

TEST_F(DelRegKey, ReadsTheKeyPathByItsCountedLengthAndLeavesItUnchanged) {
    MakeKey("victim");
    // A counted string whose bytes go on past its length of 6: only "victim" is the path.
    struct {
        DWORD length;
        char bytes[9];
    } counted = {6, {'v', 'i', 'c', 't', 'i', 'm', 'z', 'z', 'z'}};
    const char* text = counted.bytes;
    HKEY root = root_.Get();
    EXPECT_EQ(call_(&root, &text), 0);
    EXPECT_FALSE(Exists("victim"));
    EXPECT_EQ(counted.length, 6u);
    EXPECT_EQ(std::string(counted.bytes, 9), "victimzzz");
    EXPECT_EQ(text, counted.bytes);
}

TEST_F(DelRegKey, CutsTheKeyPathAt254Bytes) {
    std::string sub = PathOfLength("x", 254);
    ASSERT_EQ(sub.size(), 254u);
    MakeKey(sub);
    {
        recorder::Recording recording;
        EXPECT_EQ(Delete(root_.Get(), sub + "zzz"), 0);
        ASSERT_EQ(recorder::Names(recording.Calls()), "open delete close");
        EXPECT_EQ(recording.Calls()[1].text, sub);
    }
    EXPECT_FALSE(Exists(sub)) << "the first 254 bytes name the key that goes";
}

TEST_F(DelRegKey, NullStringHandleIsTheEmptyPathNamingTheRootKeyItself) {
    MakeKey("leaf");
    RegKey leaf;
    ASSERT_EQ(RegOpenKeyExA(root_.Get(), "leaf", 0, KEY_ALL_ACCESS, leaf.Put()), ERROR_SUCCESS);
    HKEY root = leaf.Get();
    const char* nullHandle = nullptr;
    // The registry deletes the key that the root handle names when the path is empty.
    EXPECT_EQ(call_(&root, &nullHandle), 0);
    EXPECT_FALSE(Exists("leaf"));
}

TEST_F(DelRegKey, ReportsARefusedDeleteAndARefusedOpen) {
    MakeKey("parent\\child");
    LONG status = Delete(root_.Get(), "parent");
    EXPECT_EQ(status, ERROR_ACCESS_DENIED) << "a key with subkeys cannot be deleted, got " << status;
    EXPECT_TRUE(Exists("parent\\child"));

    const char* text = nullptr;
    EXPECT_EQ(call_(nullptr, &text), ERROR_INVALID_PARAMETER) << "no root at all";

    MakeKey("guarded");
    ReadOnlyKey readOnly(root_.Get(), "guarded");
    ASSERT_TRUE(readOnly.Ok());
    if (!readOnly.Enforced())
        GTEST_SKIP() << "this Wine grants full access to a key whose access list allows only reading, "
                        "so a refused open cannot be produced here";
    status = Delete(root_.Get(), "guarded");
    EXPECT_EQ(status, ERROR_ACCESS_DENIED) << "a refused open must not read as success, got " << status;
    EXPECT_TRUE(Exists("guarded"));
}

TEST_F(DelRegKey, EveryKeyItOpensIsClosed) {
    UINT_PTR before = NextKeyHandle();
    for (int i = 0; i < 200; ++i) {
        MakeKey("victim");
        Delete(root_.Get(), "victim");
        Delete(root_.Get(), "missing");
    }
    EXPECT_EQ(NextKeyHandle(), before) << "the next handle value moved: keys were left open";
}
