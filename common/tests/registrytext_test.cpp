#include <gtest/gtest.h>

#include "common/owners.h"
#include "common/registrytext.h"

namespace {

// A key of its own under HKEY_CURRENT_USER, removed again when the test ends.
class SandboxKey : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  key_.Put(), nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        key_.Reset();
        RegDeleteTreeA(HKEY_CURRENT_USER, kPath);
    }
    void Set(const char* name, DWORD type, const std::string& bytes) {
        ASSERT_EQ(RegSetValueExA(key_.Get(), name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                 static_cast<DWORD>(bytes.size())),
                  ERROR_SUCCESS);
    }
    static constexpr char kPath[] = "Software\\CorvaneTests\\RegistryText";
    RegKey key_;
};

} // namespace

TEST_F(SandboxKey, TextIsReadWholeUpToItsFirstNulAndExpandedWhereItsTypeSaysSo) {
    std::string longText(5000, 'x');
    Set("long", REG_SZ, longText + '\0');
    Set("bare", REG_SZ, "no terminator");
    Set("early", REG_SZ, std::string("first\0second\0", 13));
    Set("expand", REG_EXPAND_SZ, std::string("%SystemRoot%\\x\0", 15));
    Set("number", REG_DWORD, std::string(4, '\1'));

    EXPECT_EQ(ReadRegistryText(key_.Get(), "long"), longText);
    EXPECT_EQ(ReadRegistryText(key_.Get(), "bare"), "no terminator");
    EXPECT_EQ(ReadRegistryText(key_.Get(), "early"), "first");
    char root[MAX_PATH];
    ASSERT_GT(GetEnvironmentVariableA("SystemRoot", root, MAX_PATH), 0u);
    EXPECT_EQ(ReadRegistryText(key_.Get(), "expand"), std::string(root) + "\\x");
    EXPECT_EQ(ReadRegistryText(key_.Get(), "number"), std::nullopt) << "not text";
    EXPECT_EQ(ReadRegistryText(key_.Get(), "missing"), std::nullopt);
    EXPECT_EQ(
        ReadRegistryText(HKEY_CURRENT_USER, std::wstring(L"Software\\CorvaneTests\\RegistryText"), L"bare"),
        L"no terminator");
    EXPECT_EQ(ReadRegistryText(HKEY_CURRENT_USER, std::string("Software\\CorvaneTests\\Missing"), "bare"),
              std::nullopt);
}
