#include <gtest/gtest.h>
#include "common/text.h"

TEST(Text, AnsiTextInCodePage1252SurvivesTheRoundTripThroughUtf16) {
    // Wine prefixes use code page 1252; e-acute is 0xE9 there and U+00E9 in UTF-16.
    std::string ansi = "Caf\xE9 \x80 library";
    std::wstring wide = ToWide(ansi);
    ASSERT_EQ(wide.size(), ansi.size());
    EXPECT_EQ(wide[3], L'\x00E9');
    EXPECT_EQ(wide[5], L'\x20AC') << "0x80 is the euro sign in code page 1252";
    Bstr bstr = ToBstr(ansi);
    EXPECT_EQ(bstr.Length(), ansi.size());
    EXPECT_EQ(ToAnsi(bstr.Get()), ansi);
}

TEST(Text, TerminatedConversionEndsInExactlyOneUtf16Nul) {
    std::wstring wide = ToWideTerminated("ab");
    ASSERT_EQ(wide.size(), 3u);
    EXPECT_EQ(wide[2], L'\0');
    EXPECT_EQ(ToWideTerminated(""), std::wstring(1, L'\0'));
}

TEST(Text, EmptyAndNullTextsConvertToEmpty) {
    EXPECT_EQ(ToAnsi(static_cast<BSTR>(nullptr)), "");
    EXPECT_EQ(ToWide(""), L"");
}

TEST(Text, HexadecimalHasNoPrefixAndPadsOnlyToTheWidthAsked) {
    struct Case {
        unsigned long value;
        int width;
        const char* upper;
        const char* lower;
    } cases[] = {{0, 1, "0", "0"},
                 {0x1F, 1, "1F", "1f"},
                 {0xABCD, 1, "ABCD", "abcd"},
                 {0x80029C4A, 1, "80029C4A", "80029c4a"},
                 {0xFFFFFFFF, 1, "FFFFFFFF", "ffffffff"},
                 {5, 8, "00000005", "00000005"},
                 {0x80004005, 8, "80004005", "80004005"}};
    for (const Case& c : cases) {
        EXPECT_EQ(UpperHex(c.value, c.width), c.upper) << c.value;
        EXPECT_EQ(LowerHex(c.value, c.width), c.lower) << c.value;
    }
}

TEST(Text, GuidsReadOnlyInTheFormRegistrationWritesThemAndBackInUpperCase) {
    GUID guid{};
    ASSERT_TRUE(ParseGuid(L"{00020430-0000-0000-c000-000000000046}", guid));
    EXPECT_EQ(GuidText(guid), L"{00020430-0000-0000-C000-000000000046}");
    EXPECT_TRUE(ParseGuid(L"00020430-0000-0000-C000-000000000046", guid)) << "braces are optional";
    for (const wchar_t* bad :
         {L"", L"Scripting.Dictionary", L"{00020430-0000-0000-C000-00000000004G}",
          L"{00020430+0000-0000-C000-000000000046}", L"{00020430-0000-0000-C000-000000000046"})
        EXPECT_FALSE(ParseGuid(bad, guid)) << ToAnsi(std::wstring(bad));
    EXPECT_EQ(FromUtf8(ToUtf8(L"\x5e93 caf\x00e9")), L"\x5e93 caf\x00e9");
    EXPECT_EQ(ToUtf8(L"\x5e93"), "\xe5\xba\x93");
}
